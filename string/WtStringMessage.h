// Message formatting of WtString for the module's own code paths.
#ifndef WTSTRING_MESSAGE_H
#define WTSTRING_MESSAGE_H

#include "string/WtString.h"

#include <cstdarg>

// What WtString::FormatMessageA does, for an argument list that a variadic caller has
// already started: formats by the Windows message rules and assigns the result to
// target. Throws WtFormatMessageError when the system formats nothing; target keeps
// its text then. args is used, not ended.
void FormatMessageFromList(WtString& target, const char* format, va_list* args);

#endif
