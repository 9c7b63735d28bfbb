// The six archive resources that the launcher unpacks, located and checked before any
// of them is written out.
#ifndef LAUNCHER_PAYLOADARCHIVES_H
#define LAUNCHER_PAYLOADARCHIVES_H

#include "archive/ArchiveReader.h"
#include "archive/SetupLayout.h"

#include <windows.h>

// The archives unpacked into the setup folder: the first of kSetupArchiveNames. The
// other two are read by the setup program straight from this file.
const int kPayloadArchiveCount = kUnpackedArchiveCount;

struct PayloadArchive {
    const char* name;           // one of kSetupArchiveNames
    const unsigned char* base;  // the locked resource, or null when it is absent
    DWORD size;                 // bytes of the resource; 0 when absent
};

// Finds, loads and locks each archive of module in the order of unpacking. An archive
// that cannot be found, loaded or locked is left with a null base and is skipped by
// everyone after this; that is not a failure.
void LocatePayloadArchives(HMODULE module, PayloadArchive (&archives)[kPayloadArchiveCount]);

// Checks the directories of all present archives for names that will be appended to a
// folder of folderLength characters (trailing backslash included). Returns the first
// damaged archive, or null when every present archive is sound.
const PayloadArchive* FindDamagedArchive(const PayloadArchive (&archives)[kPayloadArchiveCount],
                                         DWORD folderLength);

#endif // LAUNCHER_PAYLOADARCHIVES_H
