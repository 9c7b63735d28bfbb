#include "tools/kmarc/NameRules.h"

#include "archive/EntryName.h"

#include <cstdio>
#include <algorithm>
#include <map>

namespace {

const size_t kMaxNameLength = 255;  // the length byte of a directory entry
// Windows' ANSI folder creation takes paths of fewer than MAX_PATH - 12 characters, room
// being kept for a file name of 8.3 form.
const size_t kMaxAnsiFolderPathLength = 247;

std::string Character(const CodePage& codePage, char c)
{
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
        char text[32];
        std::snprintf(text, sizeof text, "control character 0x%02X", byte);
        return text;
    }
    return "'" + codePage.Display(std::string(1, c)) + "'";
}

} // namespace

std::string NameProblem(const std::string& name, const CodePage& codePage)
{
    size_t undefined = codePage.FindUndefined(name);
    if (undefined != std::string::npos) {
        char text[96];
        std::snprintf(text, sizeof text, "byte 0x%02X is no character in code page %u",
                      static_cast<unsigned char>(name[undefined]), codePage.Number());
        return text;
    }
    if (name.size() > kMaxNameLength)
        return "name has " + std::to_string(name.size()) + " bytes; an archive holds names of at most 255";
    uint32_t where = 0;
    EntryNameFault fault = CheckEntryName(name.data(), static_cast<uint32_t>(name.size()), kTypicalSetupFolderLength,
                                          kMaxAnsiPathLength, &where);
    std::string component = name.substr(where, name.find('\\', where) - where);
    switch (fault) {
    case EntryNameFault::None: {
        size_t folder = name.rfind('\\');
        if (folder != std::string::npos && kTypicalSetupFolderLength + folder > kMaxAnsiFolderPathLength)
            return "folder path '" + codePage.Display(name.substr(0, folder)) + "' has " + std::to_string(folder) +
                   " bytes, too long: below a temporary folder of about 100 bytes and KMGSetup<n>\\ it would pass " +
                   "the " + std::to_string(kMaxAnsiFolderPathLength) + " characters of a folder Windows can create " +
                   "(folder paths of up to " + std::to_string(kMaxAnsiFolderPathLength - kTypicalSetupFolderLength) +
                   " bytes fit)";
        return std::string();
    }
    case EntryNameFault::TooLong:
        return "name has " + std::to_string(name.size()) + " bytes, too long: below a temporary folder of about 100 " +
               "bytes and KMGSetup<n>\\ its output path would pass the " + std::to_string(kMaxAnsiPathLength) +
               " characters Windows can create (names of up to " +
               std::to_string(kMaxAnsiPathLength - kTypicalSetupFolderLength) + " bytes fit)";
    case EntryNameFault::ForbiddenCharacter:
        for (char c : component) {
            if (IsForbiddenNameCharacter(static_cast<unsigned char>(c)))
                return "name has " + Character(codePage, c) + ", which Windows does not allow in file names";
        }
        break;
    case EntryNameFault::TrailingDotOrBlank:
        return "'" + codePage.Display(component) + "' ends in a " + (component.back() == '.' ? "dot" : "blank") +
               ", which Windows drops from file names";
    case EntryNameFault::DeviceName:
        return "'" + codePage.Display(component) + "' names a Windows device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, " +
               "COM or LPT with a digit), whose data never reaches a file";
    default:
        break;
    }
    return DescribeEntryNameFault(fault);
}

namespace {

// Every pair that clashes: two files first, in the order of their second name, then a
// file and a folder of its name, in the order of the folders' names.
std::vector<std::pair<size_t, size_t>> CaseTwins(const std::vector<std::string>& names, const CodePage& codePage)
{
    // A file also clashes with a folder of its name in another entry: Windows could
    // not create both.
    std::vector<std::pair<size_t, size_t>> twins;
    std::map<std::string, size_t> files;
    std::map<std::string, size_t> folders;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string folded = codePage.Fold(names[i]);
        auto inserted = files.emplace(folded, i);
        if (!inserted.second)
            twins.push_back({ inserted.first->second, i });
        for (size_t end = folded.find('\\'); end != std::string::npos; end = folded.find('\\', end + 1))
            folders.emplace(folded.substr(0, end), i);
    }
    for (const auto& folder : folders) {
        auto file = files.find(folder.first);
        if (file != files.end())
            twins.push_back({ std::min(file->second, folder.second), std::max(file->second, folder.second) });
    }
    return twins;
}

} // namespace

std::pair<size_t, size_t> FindCaseTwins(const std::vector<std::string>& names, const CodePage& codePage)
{
    std::vector<std::pair<size_t, size_t>> twins = CaseTwins(names, codePage);
    return twins.empty() ? std::pair<size_t, size_t>(0, 0) : twins.front();
}

std::vector<std::pair<size_t, size_t>> FindAllCaseTwins(const std::vector<std::string>& names,
                                                        const CodePage& codePage)
{
    std::vector<std::pair<size_t, size_t>> twins = CaseTwins(names, codePage);
    std::sort(twins.begin(), twins.end(),
              [](const std::pair<size_t, size_t>& a, const std::pair<size_t, size_t>& b) { return a.second < b.second; });
    return twins;
}
