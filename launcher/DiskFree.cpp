#include "launcher/DiskFree.h"

double FreeClusterBytes(DWORD sectorsPerCluster, DWORD bytesPerSector, DWORD freeClusters)
{
    return static_cast<double>(sectorsPerCluster) * static_cast<double>(bytesPerSector) *
           static_cast<double>(freeClusters);
}

double GetDiskFreeBytesUsing(const char* drive, DiskFreeSpaceExFunction freeSpaceEx)
{
    if (freeSpaceEx) {
        // Preset, so that a failing call reads as no room at all.
        ULARGE_INTEGER availableToCaller;
        availableToCaller.QuadPart = 0;
        ULARGE_INTEGER totalBytes;
        freeSpaceEx(drive, &availableToCaller, &totalBytes, nullptr);
        return static_cast<double>(static_cast<LONGLONG>(availableToCaller.QuadPart));
    }

    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (!GetDiskFreeSpaceA(drive, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &totalClusters))
        return 0.0;
    return FreeClusterBytes(sectorsPerCluster, bytesPerSector, freeClusters);
}

double GetDiskFreeBytes(const char* drive)
{
    // Looked up rather than imported, so that the program still loads on kernels
    // that predate the 64-bit query.
    DiskFreeSpaceExFunction freeSpaceEx = nullptr;
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll"))
        freeSpaceEx = reinterpret_cast<DiskFreeSpaceExFunction>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetDiskFreeSpaceExA")));
    return GetDiskFreeBytesUsing(drive, freeSpaceEx);
}
