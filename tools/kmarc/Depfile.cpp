#include "tools/kmarc/Depfile.h"

#include <cstring>

namespace {

// Characters that end a name in Ninja's depfile parser unless a backslash precedes them
// (and then the backslash stays part of the name).
bool EndsNinjaName(unsigned char c)
{
    return c < 0x20 || c == 0x7F || std::strchr("&';^`", c) != nullptr;
}

} // namespace

bool EscapeForDepfile(const std::string& path, std::string& escaped)
{
    if (path.empty() || path.back() == ':' || path.back() == '\\')
        return false;
    std::string out;
    size_t backslashes = 0;  // length of the run of backslashes just copied
    for (char c : path) {
        if (c == '\0' || c == '\n' || c == '\r')
            return false;
        if (c == ' ') {
            // 2N+1 backslashes and a blank read back as N backslashes and a blank.
            out.append(backslashes, '\\');
            out += "\\ ";
        } else if (c == '#' || c == ':') {
            // A run of backslashes before '#' or ':' loses one backslash.
            out += '\\';
            out += c;
        } else if (backslashes > 0) {
            // Any other character after a backslash is read as it stands.
            out += c;
        } else if (c == '$') {
            out += "$$";
        } else if (EndsNinjaName(static_cast<unsigned char>(c))) {
            return false;
        } else {
            out += c;
        }
        backslashes = c == '\\' ? backslashes + 1 : 0;
    }
    escaped.swap(out);
    return true;
}

std::string FormatDepfile(const std::string& target, const std::vector<std::string>& prerequisites)
{
    std::string text = target + ":";
    for (const std::string& prerequisite : prerequisites)
        text += " \\\n  " + prerequisite;
    text += "\n";
    return text;
}
