// File paths, the working directory and the environment.

#include "net/Utility.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {
// A text with a NUL can't be handed to the C calls: they would see a
// shorter name.
bool hasNul(const std::string& s) { return s.find('\0') != std::string::npos; }
}  // namespace

std::string Utility::GetEnv(const std::string& name) {
    // A name with a NUL would look up a shorter, different variable.
    if (hasNul(name)) return std::string();
    const char* value = getenv(name.c_str());
    return value ? value : std::string();
}

int Utility::SetEnv(const std::string& name, const std::string& value) {
    // Refused rather than truncated: a NUL would set a different variable or value.
    if (hasNul(name) || hasNul(value)) {
        errno = EINVAL;
        return -1;
    }
    return setenv(name.c_str(), value.c_str(), 1);
}

Utility::Path::Path(const std::string& text) {
    std::string t(text);
    for (char& c : t)
        if (c == '\\') c = '/';
    struct stat st;
    // A text with a NUL can't name a file: stat would see a shorter path.
    if (!hasNul(t) && stat(t.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        m_dir = t;
        return;
    }
    const size_t slash = t.rfind('/');
    if (slash != std::string::npos) {
        m_dir = t.substr(0, slash + 1);
        m_file = t.substr(slash + 1);
    } else {
        m_file = t;
    }
    const size_t dot = m_file.rfind('.');
    if (dot != std::string::npos) m_ext = m_file.substr(dot + 1);
}

Utility::Path Utility::CurrentDirectory() {
    std::vector<char> buf(32000);
    if (getcwd(buf.data(), buf.size()) == nullptr) return Path(".");
    return Path(buf.data());
}

bool Utility::ChangeDirectory(const Path& path) {
    const std::string& dir = path.Directory();
    if (hasNul(dir)) return false;
    return chdir(dir.c_str()) == 0;
}
