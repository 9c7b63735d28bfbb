// How much room the current user has on a drive.
#ifndef LAUNCHER_DISKFREE_H
#define LAUNCHER_DISKFREE_H

#include <windows.h>

// The kernel's 64-bit free-space query, as it is looked up at run time.
typedef BOOL(WINAPI* DiskFreeSpaceExFunction)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                              PULARGE_INTEGER);

// Free bytes that the current user may still use on drive (for example "C:"); a disk
// quota is respected. 0 when the query fails. Uses GetDiskFreeSpaceExA when the kernel
// has it, otherwise the cluster counts of GetDiskFreeSpaceA.
double GetDiskFreeBytes(const char* drive);

// The same with the 64-bit query given explicitly; null takes the cluster-count route
// that kernels without it need.
double GetDiskFreeBytesUsing(const char* drive, DiskFreeSpaceExFunction freeSpaceEx);

// Bytes in the free clusters, computed in floating point so that no product of the
// three 32-bit counts can overflow.
double FreeClusterBytes(DWORD sectorsPerCluster, DWORD bytesPerSector, DWORD freeClusters);

#endif // LAUNCHER_DISKFREE_H
