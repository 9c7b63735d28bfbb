// The layout of a setup executable: what the launcher, kmarc, the setup program and the
// benchmarks agree on. Nothing else spells these names (bench/benchlib.py reads them
// from this file).
#ifndef ARCHIVE_SETUPLAYOUT_H
#define ARCHIVE_SETUPLAYOUT_H

#include <cstdint>

// The archives a setup executable carries as resources, in the order the launcher
// unpacks them. The first kUnpackedArchiveCount go into the setup folder; the others
// stay inside the executable, and the setup program installs them from there.
inline constexpr int kSetupArchiveCount = 8;
inline constexpr int kUnpackedArchiveCount = 6;
inline constexpr const char* kSetupArchiveNames[kSetupArchiveCount] = {
    "BASE", "SETUPBASE", "SETUPPHOTO", "PHOTOEDITION", "KMIMAGE", "KMVERSION", "APPBASE", "PHOTOUNINST",
};

// The resource type of every archive, as the resource directory stores it (the system
// looks resource names up in capitals), and the language every archive is stored
// under: German (Germany).
inline constexpr char kArchiveResourceType[] = "KMARC";
inline constexpr uint16_t kArchiveLanguage = 1031;

// The two programs the unpacked archives must deliver at the top of the setup folder:
// the setup program the launcher starts, and the waiting program its cleanup script
// runs.
inline constexpr char kSetupProgram[] = "Zephrun.exe";
inline constexpr char kWaitingProgram[] = "lingerx.exe";
// The archive (an index into kSetupArchiveNames) whose folder those programs belong in.
inline constexpr int kSetupProgramArchive = 1;

#endif // ARCHIVE_SETUPLAYOUT_H
