// kmarc: builds, lists, checks and unpacks the setup launcher's archives.
#include "stream/WtStream.h"
#include "tools/kmarc/CodePage.h"
#include "tools/kmarc/Commands.h"
#include "tools/kmarc/Embed.h"
#include "tools/kmarc/HelpText.h"
#include "tools/kmarc/Pack.h"
#include "tools/kmarc/ToolError.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>
#include <string>
#include <vector>

namespace {

const int kLowestLevel = 0;
const int kHighestLevel = kMaxDeflateLevel;
const int kFastLevel = 1;

struct CommandLine {
    std::string command;
    std::vector<std::string> arguments;
    PackOptions pack;
    bool packOptionGiven = false;
    bool levelGiven = false;
    std::string output;
    bool stripSignature = false;
    std::vector<std::string> versionInfo;
    std::string icon;
    std::string splash;
    bool json = false;
    bool help = false;
    bool version = false;
};

const char kHelpCommand[] = "help";

[[noreturn]] void ThrowUsage(const std::string& message)
{
    throw ToolError{ kExitUsage, message + " (try 'kmarc --help')" };
}

int ParseLevel(const std::string& text)
{
    if (!text.empty() && text.size() <= 2 && text.find_first_not_of("0123456789") == std::string::npos) {
        int level = std::stoi(text);
        if (level >= kLowestLevel && level <= kHighestLevel)
            return level;
    }
    ThrowUsage("level must be a number from 0 to 12, not '" + text + "'");
}

unsigned ParseCodePage(const std::string& text)
{
    if (!text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos)
        return static_cast<unsigned>(std::stoul(text));
    ThrowUsage("code page must be a number such as 1252, not '" + text + "'");
}

// -j N: files compressed at once; 0 stands for one per processor.
unsigned ParseJobs(const std::string& text)
{
    const unsigned kMaxJobs = 1024;
    if (!text.empty() && text.size() <= 4 && text.find_first_not_of("0123456789") == std::string::npos &&
        std::stoul(text) <= kMaxJobs)
        return static_cast<unsigned>(std::stoul(text));
    ThrowUsage("-j takes the number of files compressed at once, 0 to 1024 (0: one per processor), not '" + text + "'");
}

// The value of an option given as "--name VALUE" or "--name=VALUE"; false when arg is
// not that option.
bool TakeValue(const std::string& name, const std::string& arg, int argc, char** argv, int& i, std::string& value)
{
    if (arg == name) {
        if (++i == argc)
            ThrowUsage(name + " needs a value");
        value = argv[i];
        return true;
    }
    if (arg.compare(0, name.size() + 1, name + "=") == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

CommandLine ParseCommandLine(int argc, char** argv)
{
    CommandLine line;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--") {
                optionsEnded = true;
            } else if (arg == "-h" || arg == "--help") {
                line.help = true;
            } else if (arg == "--version") {
                line.version = true;
            } else if (arg == "-q" || arg == "--quiet") {
                line.pack.quiet = true;
            } else if (arg == "-j" || TakeValue("--jobs", arg, argc, argv, i, value)) {
                if (arg == "-j" && ++i < argc)
                    value = argv[i];
                line.pack.jobs = ParseJobs(value);
            } else if (arg.compare(0, 2, "-j") == 0 && arg.size() > 2) {
                line.pack.jobs = ParseJobs(arg.substr(2));
            } else if (TakeValue("--codepage", arg, argc, argv, i, value)) {
                line.pack.codepage = ParseCodePage(value);
            } else if (TakeValue("--level", arg, argc, argv, i, value)) {
                line.pack.level = ParseLevel(value);
                line.levelGiven = true;
            } else if (arg == "--fast") {
                line.pack.level = kFastLevel;
                line.levelGiven = true;
            } else if (TakeValue("--add-missing", arg, argc, argv, i, value)) {
                if (value.empty())
                    ThrowUsage("--add-missing needs a file");
                line.pack.addMissing.push_back(value);
                line.packOptionGiven = true;
            } else if (TakeValue("--depfile", arg, argc, argv, i, value)) {
                if (value.empty())
                    ThrowUsage("--depfile needs a file");
                line.pack.depfile = value;
                line.packOptionGiven = true;
            } else if (arg == "-o" || TakeValue("--output", arg, argc, argv, i, value)) {
                if (arg == "-o" && ++i < argc)
                    value = argv[i];
                if (value.empty())
                    ThrowUsage("-o needs the setup executable to write");
                line.output = value;
            } else if (arg == "--json") {
                line.json = true;
            } else if (arg == "--strip-signature") {
                line.stripSignature = true;
            } else if (TakeValue("--version-info", arg, argc, argv, i, value)) {
                line.versionInfo.push_back(value);
            } else if (TakeValue("--icon", arg, argc, argv, i, value)) {
                if (value.empty())
                    ThrowUsage("--icon needs an icon file");
                line.icon = value;
            } else if (TakeValue("--splash", arg, argc, argv, i, value)) {
                if (value.empty())
                    ThrowUsage("--splash needs a .bmp file");
                line.splash = value;
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
    if (line.packOptionGiven && line.command != "pack" && line.command != "embed")
        ThrowUsage("--add-missing and --depfile apply to pack and embed only");
    if (line.levelGiven && line.command != "pack" && line.command != "embed")
        ThrowUsage("--level and --fast apply to pack and embed only");
    bool embedOptionGiven =
        !line.output.empty() || line.stripSignature || !line.versionInfo.empty() || !line.icon.empty() ||
                            !line.splash.empty();
    if (line.json && line.command != "list")
        ThrowUsage("--json applies to list only");
    if (embedOptionGiven && line.command != "embed")
        ThrowUsage("-o, --strip-signature, --version-info, --icon and --splash apply to embed only");
}

ReadOptions ReadOptionsOf(const CommandLine& line)
{
    ReadOptions options;
    options.codepage = line.pack.codepage;
    options.quiet = line.pack.quiet;
    options.json = line.json;
    return options;
}

// The help of the command line's command (the overview without one); a name that is no
// command is a usage error.
const char* HelpOf(const std::string& command)
{
    if (command.empty())
        return kOverviewHelp;
    const char* help = CommandHelp(command);
    if (help == nullptr)
        ThrowUsage("unknown command '" + command + "'");
    return help;
}

void Run(const CommandLine& line)
{
    const std::vector<std::string>& args = line.arguments;
    if (line.command == "pack") {
        ExpectArguments(line, 2, "pack [--level N | --fast] [--add-missing FILE]... [--depfile FILE] ARCHIVE DIR");
        PackArchive(args[0], args[1], line.pack);
    } else if (line.command == "list") {
        ExpectArguments(line, 1, "list [--json] ARCHIVE");
        ListArchive(args[0], ReadOptionsOf(line), std::cout);
    } else if (line.command == "verify") {
        ExpectArguments(line, 1, "verify ARCHIVE");
        VerifyArchive(args[0], ReadOptionsOf(line), std::cout);
    } else if (line.command == "extract") {
        ExpectArguments(line, 2, "extract ARCHIVE DIR");
        ExtractArchive(args[0], args[1], ReadOptionsOf(line));
    } else if (line.command == "embed") {
        ExpectArguments(line, 2,
                        "embed [--level N | --fast] [--strip-signature] [--version-info KEY=VALUE]... "
                        "[--icon FILE.ico] [--splash FILE.bmp] [--add-missing FILE]... [--depfile FILE] "
                        "LAUNCHER PAYLOAD -o SETUP");
        if (line.output.empty())
            ThrowUsage("embed needs the setup executable to write: -o SETUP");
        EmbedOptions options;
        options.launcher = args[0];
        options.payload = args[1];
        options.output = line.output;
        options.pack.level = line.pack.level;
        options.pack.codepage = line.pack.codepage;
        options.pack.quiet = line.pack.quiet;
        options.pack.jobs = line.pack.jobs;
        options.pack.addMissing = line.pack.addMissing;
        options.pack.depfile = line.pack.depfile;
        options.stripSignature = line.stripSignature;
        options.versionInfo = line.versionInfo;
        options.icon = line.icon;
        options.splash = line.splash;
        EmbedPayload(options, std::cout);
    } else if (line.command == kHelpCommand) {
        if (args.size() > 1)
            ThrowUsage("usage: kmarc help [COMMAND]");
        std::cout << HelpOf(args.empty() ? std::string() : args[0]);
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
            std::cout << HelpOf(line.command);
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
