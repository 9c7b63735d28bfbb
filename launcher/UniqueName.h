// Names in the temporary directory that nothing uses yet.
#ifndef LAUNCHER_UNIQUENAME_H
#define LAUNCHER_UNIQUENAME_H

#include "string/WtString.h"

// Attempts made before MakeUniqueName gives up.
const int kUniqueNameAttempts = 1000;

// pattern is a full path with exactly one %d and no other conversion (a literal percent
// sign written as %%). Returns the first candidate that names no file or folder: the
// pattern filled with 0, then with pseudo-random numbers from 0 to 32767, drawn from one
// sequence seeded with the millisecond count at the first call in the process. Returns
// the empty string when all kUniqueNameAttempts candidates exist.
WtString MakeUniqueName(WtString pattern);

// text with every percent sign doubled, so that it passes through Format unchanged as
// part of a pattern.
WtString EscapeForFormat(const char* text);

#endif // LAUNCHER_UNIQUENAME_H
