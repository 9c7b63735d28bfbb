#include "launcher/CleanupScript.h"

#include <io.h>
#include <string.h>

namespace {

// Characters that would split a bare path into several words or commands, redirect
// output, or start a variable reference.
const char kBatchSpecialCharacters[] = " &|<>^();,=%!";

const int kAccessRead = 4;

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

WtString ScriptOpening(const char* setupFolder)
{
    WtString opening;
    WtString waitingProgram = WtString(setupFolder) + "lingerx";
    if (_access(waitingProgram + ".exe", kAccessRead) == 0)
        opening = "cd \\\r\n";
    else
        // Guards a setup folder with a blank or a cmd.exe metacharacter in its path.
        opening.Format("cd \\\r\n%s %%1\r\n", static_cast<const char*>(QuoteBatchPath(waitingProgram)));
    return opening;
}

WtString ScriptDeletionLine(const char* path)
{
    WtString line;
    // Guards against a blank in the path making del remove other files.
    line.Format("del %s\r\n", static_cast<const char*>(QuoteBatchPath(path)));
    return line;
}

WtString ScriptRemovalLine(const char* path)
{
    WtString line;
    line.Format("rmdir %s\r\n", static_cast<const char*>(QuoteBatchPath(path)));
    return line;
}

void WriteScriptLine(WtWriter& script, const WtString& line)
{
    script.Write(static_cast<const char*>(line), static_cast<std::uint32_t>(line.GetLength()));
}
