// The rules an entry name has to follow before kmarc packs it or calls an archive
// sound: the launcher's own entry-name check, an output path that fits below a typical
// temporary folder, characters of the archive's code page, and no two names that
// Windows would take for one.
#ifndef KMARC_NAME_RULES_H
#define KMARC_NAME_RULES_H

#include "tools/kmarc/CodePage.h"

#include <string>
#include <vector>

// Why name (archive bytes) breaks the rules, or an empty string when it follows them.
std::string NameProblem(const std::string& name, const CodePage& codePage);

// Indexes of two names that are equal apart from case, or of a name that is, apart
// from case, a folder of another, as a pair (first < second); {0, 0} when none clash.
std::pair<size_t, size_t> FindCaseTwins(const std::vector<std::string>& names, const CodePage& codePage);

// Every such clash, each pair once, in the order of the second index.
std::vector<std::pair<size_t, size_t>> FindAllCaseTwins(const std::vector<std::string>& names,
                                                        const CodePage& codePage);

#endif
