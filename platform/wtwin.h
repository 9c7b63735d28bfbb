// The Windows primitives that portable code calls.
//
// On Windows this is <windows.h> and nothing else. In the host build it declares
// small stand-ins with the same names and contracts, so that the string class,
// the stream core and the archive code compile and run unchanged on a POSIX host.
// Add a declaration here only when portable code needs it.
#ifndef WTWIN_H
#define WTWIN_H

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else

#include <cstdarg>
#include <cstdint>

// ---- Basic types, sized as on 32-bit Windows ------------------------------------

typedef int32_t LONG;
typedef uint32_t DWORD;
typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef char CHAR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef const void* LPCVOID;
typedef void* HLOCAL;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// ---- Interlocked counters (sequentially consistent, like the real ones) ---------

// Returns the incremented value.
LONG InterlockedIncrement(LONG volatile* addend);
// Returns the decremented value.
LONG InterlockedDecrement(LONG volatile* addend);

// ---- Strings --------------------------------------------------------------------

// Length of a zero-terminated text; 0 for a null pointer.
int lstrlenA(LPCSTR text);

// Convert between the ANSI page (Windows-1252) and the OEM page (850), in place
// when source and target are the same. Characters without an equivalent become
// '?'. Both return TRUE, or FALSE when either pointer is null.
BOOL CharToOemA(LPCSTR source, LPSTR target);
BOOL OemToCharA(LPCSTR source, LPSTR target);

// ---- Message formatting -----------------------------------------------------------

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_FROM_STRING 0x00000400

// Supports only FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER with a
// va_list: inserts %1..%99, each optionally typed as %n!printf-type! (integer,
// character and text types; default !s!), and the escapes %0 %% %n %. %! %t %r and
// "% ". Inserts take the arguments in order of their numbers, one pointer-sized
// argument each. On success *(char**)buffer receives a block to be freed with
// LocalFree and the result is its length; on failure, or when the result is
// empty, it returns 0 and stores a null pointer.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                     LPSTR buffer, DWORD size, va_list* arguments);

// Frees a block from FormatMessageA; returns null.
HLOCAL LocalFree(HLOCAL block);

#endif // _WIN32

#endif // WTWIN_H
