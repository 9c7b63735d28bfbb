#include "launcher/CleanupScript.h"

#include <io.h>
#include <string.h>
#include <windows.h>

namespace {

// Characters that would split a bare path into several words or commands, redirect
// output, or start a variable reference.
const char kBatchSpecialCharacters[] = " &|<>^();,=%!";

const int kAccessRead = 4;

// text in the OEM code page, when it comes back unchanged from there.
bool ToExactOem(const char* text, WtString& oem)
{
    oem = text;
    oem.CharToOemA();
    WtString back = oem;
    back.OemToCharA();
    return back == text;
}

// Where the part of path before the last backslash ahead of end stops; 0 when there is
// none, so the whole path is tried as it is and then given up.
int LastSeparatorBefore(const char* path, int end)
{
    while (--end > 0)
        if (path[end] == '\\')
            return end;
    return 0;
}

} // namespace

WtString QuoteBatchPath(const char* path)
{
    if (!strpbrk(path, kBatchSpecialCharacters))
        return WtString(path);
    WtString quoted('"', 1);
    for (const char* p = path; *p; ++p) {
        // A percent sign stays a variable reference inside quotes; only doubling makes it literal.
        if (*p == '%')
            quoted += '%';
        quoted += *p;
    }
    quoted += '"';
    return quoted;
}

WtString OemScriptPath(const char* path)
{
    WtString oem;
    if (ToExactOem(path, oem))
        return oem;
    // Short names are made of characters that every code page holds, but only what
    // exists has one; the setup folder's own name and the entries' names need none.
    const WtString whole(path);
    for (int cut = whole.GetLength(); cut > 0; cut = LastSeparatorBefore(whole, cut)) {
        WtString rest;
        if (!ToExactOem(static_cast<const char*>(whole) + cut, rest))
            continue;
        char shortPart[MAX_PATH];
        const DWORD length = GetShortPathNameA(whole.Left(cut), shortPart, MAX_PATH);
        WtString shortOem;
        if (length > 0 && length < MAX_PATH && ToExactOem(shortPart, shortOem))
            return shortOem + rest;
    }
    return WtString();
}

WtString ScriptOpening(const char* setupFolder)
{
    WtString opening;
    WtString waitingProgram = WtString(setupFolder) + "lingerx";
    if (_access(waitingProgram + ".exe", kAccessRead) == 0) {
        opening = "cd \\\r\n";
    } else {
        // Guards a setup folder with a blank or a cmd.exe metacharacter in its path, and
        // one that cmd.exe would misread in the OEM code page. Without an exact form the
        // path goes in as the system delivered it.
        WtString oemProgram = OemScriptPath(waitingProgram);
        if (oemProgram.IsEmpty())
            oemProgram = waitingProgram;
        // The name stays without an extension, which cmd.exe completes through PATHEXT in
        // the setup folder alone (the path has a folder): a lingerx.com or lingerx.bat
        // there runs first. Only the payload can put one there: an elevated run's folder
        // lets only Administrators add to it and cannot be renamed or replaced, and a run
        // without elevation runs the script with the user's own rights. So the line
        // keeps the form that setup programs and packagers know.
        opening.Format("cd \\\r\n%s %%1\r\n", static_cast<const char*>(QuoteBatchPath(oemProgram)));
    }
    return opening;
}

namespace {

WtString PathLine(const char* command, const char* path)
{
    const WtString oemPath = OemScriptPath(path);
    WtString line;
    // Guards against deleting another file, one whose name cmd.exe would read instead.
    if (oemPath.IsEmpty())
        return line;
    // Guards against a blank in the path making del remove other files.
    line.Format("%s %s\r\n", command, static_cast<const char*>(QuoteBatchPath(oemPath)));
    return line;
}

} // namespace

WtString ScriptDeletionLine(const char* path)
{
    return PathLine("del", path);
}

WtString ScriptRemovalLine(const char* path)
{
    return PathLine("rmdir", path);
}

void WriteScriptLine(WtWriter& script, const WtString& line)
{
    script.Write(static_cast<const char*>(line), static_cast<std::uint32_t>(line.GetLength()));
}
