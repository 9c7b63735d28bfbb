#include "launcher/PayloadArchives.h"

void LocatePayloadArchives(HMODULE module, PayloadArchive (&archives)[kPayloadArchiveCount])
{
    for (int i = 0; i < kPayloadArchiveCount; ++i) {
        PayloadArchive& archive = archives[i];
        archive.name = kSetupArchiveNames[i];
        archive.base = nullptr;
        archive.size = 0;
        HRSRC found = FindResourceA(module, archive.name, kArchiveResourceType);
        if (!found)
            continue;
        HGLOBAL loaded = LoadResource(module, found);
        if (!loaded)
            continue;
        // Locked resources stay mapped until the process ends; they are never released.
        archive.base = static_cast<const unsigned char*>(LockResource(loaded));
        if (archive.base)
            archive.size = SizeofResource(module, found);
    }
}

const PayloadArchive* FindDamagedArchive(const PayloadArchive (&archives)[kPayloadArchiveCount],
                                         DWORD folderLength)
{
    // Every directory is judged before the first file is written, so that a damaged
    // executable leaves nothing behind at all.
    for (const PayloadArchive& archive : archives) {
        if (!archive.base)
            continue;
        ArchiveReader reader(archive.base, archive.size, folderLength);
        if (reader.GetFault() != ArchiveFault::None)
            return &archive;
    }
    return nullptr;
}
