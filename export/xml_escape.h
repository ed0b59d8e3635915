#pragma once
// Escaping of the free texts that vessels transmit before they enter XML.
// Each XmlEscape* operation replaces in place every occurrence of its one
// character by the entity and returns a copy of the result; an inserted
// entity is never searched again. Applied in the order Amp, Lt, Gt, Apos,
// Quot, every ampersand of the input is escaped exactly once.

#include <string>
#include <string_view>

std::string XmlEscapeAmp(std::string& s);   // & -> &amp;
std::string XmlEscapeLt(std::string& s);    // < -> &lt;
std::string XmlEscapeGt(std::string& s);    // > -> &gt;
std::string XmlEscapeApos(std::string& s);  // ' -> &apos;
std::string XmlEscapeQuot(std::string& s);  // " -> &quot;

// Replaces in place every occurrence of `search` (not empty) by `replace`,
// resuming after each inserted replacement; returns a copy of the result.
std::string StrReplace(std::string& s, const char* search, const char* replace);

// Appends `text` with all five escapes applied in their fixed order, in one
// pass (the result equals that of the five operations above).
void AppendXmlEscaped(std::string& out, std::string_view text);
