// The command line the launcher hands to its setup program:
//   KMSetup SetupProgram=ZIZeduz Wnd=Normal Server=None Wnd=Maximized
//   ResourceFile="<launcher>" CleanUp="<script>" <the launcher's own arguments>
#ifndef DEMO_SETUP_COMMAND_LINE_H
#define DEMO_SETUP_COMMAND_LINE_H

#include <string>
#include <utility>
#include <vector>

struct SetupCommandLine {
    // Every token up to and including CleanUp, in order, split at its first '='; a
    // token without '=' (KMSetup) has an empty value. Quotes are removed from values.
    std::vector<std::pair<std::string, std::string>> settings;
    std::string resourceFile;
    std::string cleanUp;
    // Everything after the blank that follows CleanUp's value, unchanged; empty when
    // the launcher got no arguments.
    std::string passedArguments;
};

// Returns the arguments part of a full process command line: the program name skipped
// the way Windows splits it (quoted or up to the first blank or tab), then the blanks
// and tabs after it.
const char* SkipProgramName(const char* commandLine);

// Parses the arguments part. Keys are compared without regard to case. Returns false
// when a quote is not closed before CleanUp's value ends, or when ResourceFile or
// CleanUp is missing or empty; out is then incomplete.
bool ParseSetupCommandLine(const char* arguments, SetupCommandLine& out);

#endif
