// The dependency file that `kmarc pack --depfile` writes for Ninja (and Make): the
// archive as its one target, every file and folder that pack read as prerequisites.
#ifndef KMARC_DEPFILE_H
#define KMARC_DEPFILE_H

#include <string>
#include <vector>

// Spells path so that Ninja's depfile parser reads it back unchanged: a blank becomes
// "\ " (with the backslashes before it doubled), '#' and ':' get a backslash, '$'
// becomes "$$". Returns false, leaving escaped alone, when no spelling exists: Ninja
// ends a name at '&', ''', ';', '^', '`', a control character or a backslash that
// ends the name, and drops the colon that ends one.
bool EscapeForDepfile(const std::string& path, std::string& escaped);

// The depfile text: "target: \" and one prerequisite per line. Each of target and
// prerequisites must already be escaped.
std::string FormatDepfile(const std::string& target, const std::vector<std::string>& prerequisites);

#endif
