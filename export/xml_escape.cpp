#include "export/xml_escape.h"

#include <cstring>

namespace {

std::string replaceChar(std::string& s, char c, const char* entity) {
    const size_t length = std::strlen(entity);
    for (size_t at = s.find(c); at != std::string::npos; at = s.find(c, at + length)) {
        s.replace(at, 1, entity, length);
    }
    return s;
}

}  // namespace

std::string XmlEscapeAmp(std::string& s) { return replaceChar(s, '&', "&amp;"); }
std::string XmlEscapeLt(std::string& s) { return replaceChar(s, '<', "&lt;"); }
std::string XmlEscapeGt(std::string& s) { return replaceChar(s, '>', "&gt;"); }
std::string XmlEscapeApos(std::string& s) { return replaceChar(s, '\'', "&apos;"); }
std::string XmlEscapeQuot(std::string& s) { return replaceChar(s, '"', "&quot;"); }

std::string StrReplace(std::string& s, const char* search, const char* replace) {
    const size_t searchLength = std::strlen(search);
    const size_t replaceLength = std::strlen(replace);
    if (searchLength == 0) return s;  // nothing to find
    for (size_t at = s.find(search, 0, searchLength); at != std::string::npos;
         at = s.find(search, at + replaceLength, searchLength)) {
        s.replace(at, searchLength, replace, replaceLength);
    }
    return s;
}

void AppendXmlEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '\'': out += "&apos;"; break;
            case '"': out += "&quot;"; break;
            default: out += c; break;
        }
    }
}
