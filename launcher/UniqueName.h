// Names in the temporary directory that nothing uses yet.
#ifndef LAUNCHER_UNIQUENAME_H
#define LAUNCHER_UNIQUENAME_H

#include "string/WtString.h"

#include <functional>

// Attempts made before MakeUniqueName gives up.
const int kUniqueNameAttempts = 1000;

// pattern is a full path with exactly one %d and no other conversion (a literal percent
// sign written as %%). Returns the first candidate that names no file or folder: the
// pattern filled with 0, then with pseudo-random numbers from 0 to 32767, drawn from one
// sequence seeded with the millisecond count at the first call in the process. Returns
// the empty string when all kUniqueNameAttempts candidates exist.
WtString MakeUniqueName(WtString pattern);

// MakeUniqueName's search, where a candidate that the probe finds free is handed to
// create, which makes the file or folder only if nothing of that name exists and reports
// whether it did. A probe cannot reserve a name: between it and the creation something
// else may take the name, or something the probe does not see (a link that points
// nowhere) may hold it; that thing is left alone and the next number is drawn. The
// kUniqueNameAttempts attempts count probes and creations alike. Returns the name made;
// otherwise the empty string, with lastRefused the last name that create refused, or
// empty when every candidate already existed.
WtString ClaimUniqueName(const WtString& pattern, const std::function<bool(const WtString&)>& create,
                         WtString& lastRefused);

// text with every percent sign doubled, so that it passes through Format unchanged as
// part of a pattern.
WtString EscapeForFormat(const char* text);

#endif // LAUNCHER_UNIQUENAME_H
