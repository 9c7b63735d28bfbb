// For the tests of OutputFile: writes "<path>.part" through an OutputFile, says "ready"
// on stdout and waits for a line on stdin. "commit" commits; anything else, or the end
// of input, ends the run without committing. An interrupt may come while it waits.
#include "tools/kmarc/OutputFile.h"
#include "tools/kmarc/ToolError.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: output_file_probe PATH\n");
        return 2;
    }
    try {
        OutputFile file(argv[1]);
        const char text[] = "partial contents";
        file.Append(text, std::strlen(text));
        std::printf("ready\n");
        std::fflush(stdout);
        std::string line;
        if (std::getline(std::cin, line) && line == "commit") {
            file.Commit();
            return 0;
        }
        return 1;
    } catch (const ToolError& error) {
        std::fprintf(stderr, "%s\n", error.message.c_str());
        return error.exitCode;
    }
}
