// kmarc: builds, lists, checks and unpacks the setup launcher's archives.
#include "stream/WtStream.h"
#include "tools/kmarc/Commands.h"
#include "tools/kmarc/ToolError.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>
#include <string>
#include <vector>

namespace {

const char kHelp[] =
    "Usage: kmarc COMMAND [--level N] ARGUMENTS\n"
    "\n"
    "Builds and checks the archives that the setup launcher carries.\n"
    "\n"
    "Commands:\n"
    "  pack ARCHIVE DIR      pack every file below DIR into ARCHIVE; names are the\n"
    "                        paths relative to DIR with backslashes, in byte order\n"
    "  list ARCHIVE          one line per entry: size, compressed size, name\n"
    "  verify ARCHIVE        inflate every entry and check it against its sizes\n"
    "  extract ARCHIVE DIR   write the entries' files below DIR\n"
    "\n"
    "Options:\n"
    "  --level N             compression level for pack, 0 (store) to 9 (smallest);\n"
    "                        without it zlib's default level is used\n"
    "  -h, --help            show this help and exit\n"
    "  --version             show the version and exit\n"
    "\n"
    "Progress is shown on stderr when it is a terminal.\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  the archive, or an entry in it, is damaged\n"
    "  2  the command line is wrong\n"
    "  3  a file or folder could not be read or written\n"
    "  4  a file cannot go into an archive (name not allowed, names that differ only\n"
    "     in case, archive larger than 4 GiB)\n";

const int kLowestLevel = 0;
const int kHighestLevel = 9;

struct CommandLine {
    std::string command;
    std::vector<std::string> arguments;
    int level = kDefaultLevel;
    bool levelGiven = false;
    bool help = false;
    bool version = false;
};

[[noreturn]] void ThrowUsage(const std::string& message)
{
    throw ToolError{ kExitUsage, message + " (try 'kmarc --help')" };
}

int ParseLevel(const std::string& text)
{
    if (text.size() == 1 && text[0] >= '0' + kLowestLevel && text[0] <= '0' + kHighestLevel)
        return text[0] - '0';
    ThrowUsage("level must be a number from 0 to 9, not '" + text + "'");
}

CommandLine ParseCommandLine(int argc, char** argv)
{
    CommandLine line;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--") {
                optionsEnded = true;
            } else if (arg == "-h" || arg == "--help") {
                line.help = true;
            } else if (arg == "--version") {
                line.version = true;
            } else if (arg == "--level") {
                if (++i == argc)
                    ThrowUsage("--level needs a number");
                line.level = ParseLevel(argv[i]);
                line.levelGiven = true;
            } else if (arg.compare(0, 8, "--level=") == 0) {
                line.level = ParseLevel(arg.substr(8));
                line.levelGiven = true;
            } else {
                ThrowUsage("unknown option '" + arg + "'");
            }
        } else if (line.command.empty()) {
            line.command = arg;
        } else {
            line.arguments.push_back(arg);
        }
    }
    return line;
}

void ExpectArguments(const CommandLine& line, size_t count, const char* usage)
{
    if (line.arguments.size() != count)
        ThrowUsage(std::string("usage: kmarc ") + usage);
    if (line.levelGiven && line.command != "pack")
        ThrowUsage("--level applies to pack only");
}

void Run(const CommandLine& line)
{
    const std::vector<std::string>& args = line.arguments;
    if (line.command == "pack") {
        ExpectArguments(line, 2, "pack [--level N] ARCHIVE DIR");
        PackArchive(args[0], args[1], line.level);
    } else if (line.command == "list") {
        ExpectArguments(line, 1, "list ARCHIVE");
        ListArchive(args[0], std::cout);
    } else if (line.command == "verify") {
        ExpectArguments(line, 1, "verify ARCHIVE");
        VerifyArchive(args[0], std::cout);
    } else if (line.command == "extract") {
        ExpectArguments(line, 2, "extract ARCHIVE DIR");
        ExtractArchive(args[0], args[1]);
    } else if (line.command.empty()) {
        ThrowUsage("no command given");
    } else {
        ThrowUsage("unknown command '" + line.command + "'");
    }
}

int Fail(ExitCode code, const std::string& message)
{
    std::cout.flush();
    std::cerr << "kmarc: " << message << std::endl;
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        CommandLine line = ParseCommandLine(argc, argv);
        if (line.help) {
            std::cout << kHelp;
            return kExitSuccess;
        }
        if (line.version) {
            std::cout << "kmarc " KMARC_VERSION "\n";
            return kExitSuccess;
        }
        Run(line);
        std::cout.flush();
        return std::cout ? kExitSuccess : Fail(kExitFileSystem, "cannot write to standard output");
    } catch (const ToolError& error) {
        return Fail(error.exitCode, error.message);
    } catch (const std::filesystem::filesystem_error& error) {
        return Fail(kExitFileSystem, error.what());
    } catch (const WtStreamException& error) {
        return Fail(kExitFileSystem, "zlib failed (code " + std::to_string(error.code) + ")");
    } catch (const std::bad_alloc&) {
        return Fail(kExitFileSystem, "out of memory");
    }
}
