#include "tools/kmarc/SetupArchives.h"

#include "pe/PeImage.h"
#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/ToolError.h"

#include <algorithm>
#include <utility>

bool LooksLikeExecutable(const unsigned char* bytes, uint64_t size)
{
    return size >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}

int SetupArchiveIndex(const std::string& name)
{
    for (int i = 0; i < kSetupArchiveCount; ++i) {
        if (name == kSetupArchiveNames[i])
            return i;
    }
    return -1;
}

std::vector<SetupArchive> ReadSetupArchives(const std::filesystem::path& path, std::vector<unsigned char> bytes)
{
    ResourceTree tree;
    try {
        tree = ReadResources(PeImage(std::move(bytes)));
    } catch (const PeError& error) {
        throw ToolError{ kExitDamaged, DisplayPath(path) + ": not a sound setup executable: " + error.what() };
    }
    std::vector<SetupArchive> archives;
    auto type = tree.Types().find(ResourceId::Named(kArchiveResourceType));
    if (type == tree.Types().end())
        return archives;
    for (const auto& name : type->second) {
        for (const auto& language : name.second)
            archives.push_back({ name.first.Display(), language.first, language.second.bytes });
    }
    // The launcher's order first; names it does not know after them, as the directory
    // sorts them.
    std::stable_sort(archives.begin(), archives.end(), [](const SetupArchive& a, const SetupArchive& b) {
        unsigned ia = static_cast<unsigned>(SetupArchiveIndex(a.name));
        unsigned ib = static_cast<unsigned>(SetupArchiveIndex(b.name));
        return ia < ib;
    });
    return archives;
}
