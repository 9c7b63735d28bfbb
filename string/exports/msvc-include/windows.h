// The part of <windows.h> that the string class's header needs, for compiling its
// declarations for the MSVC target without a Windows SDK.
#pragma once
typedef long LONG;
