// kmarc: builds, lists, checks and unpacks the setup launcher's archives.
#include "stream/WtStream.h"
#include "tools/kmarc/CodePage.h"
#include "tools/kmarc/Commands.h"
#include "tools/kmarc/Embed.h"
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

const char kHelp[] =
    "Usage: kmarc COMMAND [OPTIONS] ARGUMENTS\n"
    "\n"
    "Builds and checks the archives that the setup launcher carries.\n"
    "\n"
    "Commands:\n"
    "  pack ARCHIVE DIR      pack every file below DIR into ARCHIVE; names are the\n"
    "                        paths relative to DIR with backslashes, in byte order\n"
    "  list ARCHIVE          one line per entry: size, compressed size, name\n"
    "  verify ARCHIVE        inflate every entry and check it against its sizes, and\n"
    "                        check every name by the rules pack follows\n"
    "  extract ARCHIVE DIR   write the entries' files below DIR; a run that fails\n"
    "                        takes away every file and folder it created\n"
    "  embed LAUNCHER PAYLOAD -o SETUP\n"
    "                        pack each archive folder of PAYLOAD (BASE, SETUPBASE,\n"
    "                        SETUPPHOTO, PHOTOEDITION, KMIMAGE, KMVERSION, APPBASE,\n"
    "                        PHOTOUNINST) as pack does and write SETUP, a copy of the\n"
    "                        launcher that carries exactly those archives; SETUPBASE\n"
    "                        must hold Zephrun.exe and lingerx.exe\n"
    "\n"
    "list, verify and extract also take a setup executable: list shows each archive\n"
    "it carries (name, language, size, entry count) with its entries, verify checks\n"
    "them all, extract writes each one below DIR in a folder of its name.\n"
    "\n"
    "Options of pack:\n"
    "  --level N             compression level, 0 (store) to 9 (smallest); without\n"
    "                        it zlib's default level is used\n"
    "  --add-missing FILE    also pack FILE at the top level under its own name,\n"
    "                        unless DIR has a top-level file or folder of that name\n"
    "                        (compared without regard to case); may be repeated\n"
    "  --depfile FILE        write a Ninja/Make depfile: ARCHIVE depends on every\n"
    "                        file and every folder that pack read, so adding,\n"
    "                        removing or renaming a file makes it out of date. A path\n"
    "                        Ninja cannot read in a depfile (one with & ' ; ^ or `)\n"
    "                        is named through a symbolic link FILE.links/N to it;\n"
    "                        where no link can be made (Windows), by FILE.unlisted,\n"
    "                        which never exists, so ARCHIVE is then repacked on\n"
    "                        every build (with a note on stderr)\n"
    "\n"
    "Options of embed:\n"
    "  -o, --output SETUP    the setup executable to write\n"
    "  --level N             as for pack\n"
    "  --strip-signature     remove the launcher's signature instead of refusing a\n"
    "                        signed launcher; sign the setup after embedding\n"
    "  --version-info KEY=VALUE\n"
    "                        a text of the version resource the file's properties\n"
    "                        show; KEY is ProductName, ProductVersion, FileVersion,\n"
    "                        CompanyName, FileDescription or LegalCopyright; the two\n"
    "                        versions are up to four numbers (2.5.0.1); may be repeated\n"
    "  --icon FILE.ico       the program's icon (icon group 101) from an icon file\n"
    "\n"
    "Options of every command:\n"
    "  --codepage N          the code page the archive stores names in: 1252 (the\n"
    "                        default; English, French, German, Italian), 874 or 1250\n"
    "                        to 1258. The setup launcher reads names in the ANSI code\n"
    "                        page of the machine it runs on, so pack for that one.\n"
    "  -h, --help            show this help and exit\n"
    "  --version             show the version and exit\n"
    "\n"
    "Names: pack converts the host's names (UTF-8 on Linux, Unicode on Windows) to the\n"
    "code page and refuses, naming the file and the reason:\n"
    "  - a character the code page cannot hold exactly;\n"
    "  - a control character or one of < > : \" / | ? * (not allowed by Windows);\n"
    "  - a file or folder name ending in a dot or a blank;\n"
    "  - a Windows device name: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0 to COM9,\n"
    "    LPT0 to LPT9 and COM/LPT with a superscript 1, 2 or 3, also with an\n"
    "    extension or blanks before the dot (\"NUL .txt\");\n"
    "  - a name longer than 145 bytes, or a folder path in it longer than 133 bytes:\n"
    "    below a temporary folder of about 100 bytes and the launcher's KMGSetup<n>\\\n"
    "    the path would pass the 259 characters of a file, or the 247 of a folder,\n"
    "    that Windows can create;\n"
    "  - two names that differ only in case, or a file named like a folder apart\n"
    "    from case (Windows takes them for one).\n"
    "list and extract convert names back from the code page.\n"
    "\n"
    "Sizes: a file of more than 4 GiB - 1 byte, or an archive that would grow past\n"
    "that, is refused; sizes are checked before a file is read, and each file is\n"
    "packed as a stream, so memory does not grow with file size.\n"
    "\n"
    "Symbolic links: a link to a file inside DIR is packed as that file; any other\n"
    "link (to a folder, outside DIR, to nothing, a loop) is refused by name, as are\n"
    "devices, pipes and sockets.\n"
    "\n"
    "Time stamps: every entry's three time stamps hold its file's last write time,\n"
    "or SOURCE_DATE_EPOCH when that is set and earlier, so packing the same files\n"
    "gives the same bytes.\n"
    "\n"
    "Progress is shown on stderr when it is a terminal.\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  the archive, or an entry in it, is damaged, or the file is not an archive;\n"
    "     verify also for a name that pack would refuse\n"
    "  2  the command line is wrong (also an unsupported code page)\n"
    "  3  a file or folder could not be read or written\n"
    "  4  a file cannot go into an archive, or the icon file is not usable; the\n"
    "     message names it and says why\n"
    "  5  embed: the launcher is not a 32-bit executable, not the setup launcher,\n"
    "     truncated, damaged or signed; nothing was written\n";

const int kLowestLevel = 0;
const int kHighestLevel = 9;

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

unsigned ParseCodePage(const std::string& text)
{
    if (!text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos)
        return static_cast<unsigned>(std::stoul(text));
    ThrowUsage("code page must be a number such as 1252, not '" + text + "'");
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
            } else if (TakeValue("--codepage", arg, argc, argv, i, value)) {
                line.pack.codepage = ParseCodePage(value);
            } else if (TakeValue("--level", arg, argc, argv, i, value)) {
                line.pack.level = ParseLevel(value);
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
            } else if (arg == "--strip-signature") {
                line.stripSignature = true;
            } else if (TakeValue("--version-info", arg, argc, argv, i, value)) {
                line.versionInfo.push_back(value);
            } else if (TakeValue("--icon", arg, argc, argv, i, value)) {
                if (value.empty())
                    ThrowUsage("--icon needs an icon file");
                line.icon = value;
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
    if (line.packOptionGiven && line.command != "pack")
        ThrowUsage("--add-missing and --depfile apply to pack only");
    if (line.levelGiven && line.command != "pack" && line.command != "embed")
        ThrowUsage("--level applies to pack and embed only");
    bool embedOptionGiven =
        !line.output.empty() || line.stripSignature || !line.versionInfo.empty() || !line.icon.empty();
    if (embedOptionGiven && line.command != "embed")
        ThrowUsage("-o, --strip-signature, --version-info and --icon apply to embed only");
}

void Run(const CommandLine& line)
{
    const std::vector<std::string>& args = line.arguments;
    if (line.command == "pack") {
        ExpectArguments(line, 2, "pack [--level N] [--add-missing FILE]... [--depfile FILE] ARCHIVE DIR");
        PackArchive(args[0], args[1], line.pack);
    } else if (line.command == "list") {
        ExpectArguments(line, 1, "list ARCHIVE");
        ListArchive(args[0], line.pack.codepage, std::cout);
    } else if (line.command == "verify") {
        ExpectArguments(line, 1, "verify ARCHIVE");
        VerifyArchive(args[0], line.pack.codepage, std::cout);
    } else if (line.command == "extract") {
        ExpectArguments(line, 2, "extract ARCHIVE DIR");
        ExtractArchive(args[0], args[1], line.pack.codepage);
    } else if (line.command == "embed") {
        ExpectArguments(line, 2,
                        "embed [--level N] [--strip-signature] [--version-info KEY=VALUE]... [--icon FILE.ico] "
                        "LAUNCHER PAYLOAD -o SETUP");
        if (line.output.empty())
            ThrowUsage("embed needs the setup executable to write: -o SETUP");
        EmbedOptions options;
        options.launcher = args[0];
        options.payload = args[1];
        options.output = line.output;
        options.pack.level = line.pack.level;
        options.pack.codepage = line.pack.codepage;
        options.stripSignature = line.stripSignature;
        options.versionInfo = line.versionInfo;
        options.icon = line.icon;
        EmbedPayload(options, std::cout);
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
