#include "tools/kmarc/HelpText.h"

#include "archive/SetupLayout.h"

#include <cstring>
#include <map>
#include <utility>

const char kOverviewHelp[] =
    "Usage: kmarc COMMAND [OPTIONS] ARGUMENTS\n"
    "       kmarc help COMMAND        (or kmarc COMMAND --help): the command's options\n"
    "\n"
    "Builds and checks the archives that the setup launcher carries.\n"
    "\n"
    "Commands:\n"
    "  pack ARCHIVE DIR      pack every file below DIR into ARCHIVE\n"
    "  list ARCHIVE          one line per entry: size, compressed size, name\n"
    "  verify ARCHIVE        inflate every entry and check it and its name\n"
    "  extract ARCHIVE DIR   write the entries' files below DIR\n"
    "  embed LAUNCHER PAYLOAD -o SETUP\n"
    "                        write SETUP, a copy of the launcher that carries the\n"
    "                        archives packed from the folders of PAYLOAD\n"
    "  help [COMMAND]        this help, or the help of COMMAND\n"
    "\n"
    "list, verify and extract also take a setup executable: list shows each archive\n"
    "it carries (name, language, size, entry count) with its entries, verify checks\n"
    "them all, extract writes each one below DIR in a folder of its name.\n"
    "\n"
    "Options of every command:\n"
    "  --codepage N          the code page the archive stores names in: 1252 (the\n"
    "                        default; English, French, German, Italian), 874 or 1250\n"
    "                        to 1258. The setup launcher reads names in the ANSI code\n"
    "                        page of the machine it runs on, so pack for that one.\n"
    "  -q, --quiet           no progress, notes or warnings on stderr; errors are\n"
    "                        still reported, and the exit status is the same\n"
    "  -h, --help            show this help (after a command: the command's) and exit\n"
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
    "Empty folders: an archive holds files only, so a folder with no file below it\n"
    "is left out with a warning (the setup will not create it), and embed refuses an\n"
    "archive folder with no file at all (leave the folder out instead).\n"
    "\n"
    "Identical files: files of one archive that hold the same bytes are compressed\n"
    "once, and all their entries name that one stream.\n"
    "\n"
    "Checks first: pack and embed check every name, link and size of every folder\n"
    "they pack, and report all faults at once, before anything is compressed.\n"
    "\n"
    "Processors and progress: pack and embed compress the files on every processor\n"
    "(-j N, --jobs N: on N; at levels 10 to 12 a thread with no file left, or whose\n"
    "file waits for an earlier one, helps with the 4 MiB chunks of the large ones;\n"
    "the bytes written are the same whatever N is) and report\n"
    "on stderr the files and megabytes done of the total: a line redrawn in place on\n"
    "a terminal, otherwise (a log, a pipe, CI) a plain line about once a second and\n"
    "one at the end. Names are shown in the terminal's encoding.\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  the archive, or an entry in it, is damaged, or the file is not an archive;\n"
    "     verify also for a name that pack would refuse\n"
    "  2  the command line is wrong (also an unsupported code page, or embed's -o\n"
    "     naming one of its inputs)\n"
    "  3  a file or folder could not be read or written\n"
    "  4  a file cannot go into an archive, or the icon file or splash picture is\n"
    "     not usable; the message names it and says why\n"
    "  5  embed: the launcher is not a 32-bit executable, not the setup launcher,\n"
    "     truncated, damaged, signed or has data appended; nothing was written\n";

namespace {

// Every command's help ends with the pointer to what all of them share.
#define KMARC_COMMON_OPTIONS                                                             \
    "\n"                                                                               \
    "Options of every command: --codepage N, -q/--quiet, -h/--help, --version.\n"      \
    "kmarc --help has them, the rules for names, sizes and links, and the exit status.\n"

const char kPackHelp[] =
    "Usage: kmarc pack [--level N | --fast] [-j N] [--add-missing FILE]...\n"
    "                  [--depfile FILE] ARCHIVE DIR\n"
    "\n"
    "Packs every file below DIR into ARCHIVE. Entry names are the paths relative to\n"
    "DIR with backslashes, in byte order. ARCHIVE is replaced only when everything\n"
    "went well.\n"
    "\n"
    "Options:\n"
    "  --level N             compression level: 0 (store) to 9 are zlib's levels,\n"
    "                        with zlib's very bytes; 10 to 12 search far harder for\n"
    "                        the same format, several times slower; 12, the default,\n"
    "                        writes the smallest archives. Files above 4 MiB are\n"
    "                        compressed in 4 MiB chunks at levels 10 to 12\n"
    "  --fast                level 1: quick packing for test builds\n"
    "  -j, --jobs N          compress N files at once (default, and 0: one per\n"
    "                        processor); the archive is the same bytes for every N\n"
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
    "                        every build (with a note on stderr)\n" KMARC_COMMON_OPTIONS;

const char kListHelp[] =
    "Usage: kmarc list [--json] ARCHIVE\n"
    "       kmarc list [--json] SETUP.exe\n"
    "\n"
    "One line per entry: uncompressed size, compressed size, name. For a setup\n"
    "executable, a line per archive it carries (name, language, size in bytes, entry\n"
    "count) before its entries.\n"
    "\n"
    "Options:\n"
    "  --json                one JSON document (UTF-8) for scripts instead:\n"
    "                        {\"file\": PATH, \"archives\": [{\"archive\": NAME,\n"
    "                        \"language\": N, \"size\": BYTES, \"entries\": [{\"entry\":\n"
    "                        NAME, \"size\": BYTES, \"compressedSize\": BYTES,\n"
    "                        \"offset\": BYTES, \"time\": \"2026-12-09T01:51:26Z\"},\n"
    "                        ...]}, ...]}; an archive file gives one archive whose\n"
    "                        name and language are null; offset is where the\n"
    "                        entry's stream begins in the archive (entries of\n"
    "                        identical files share one); time is the entry's last\n"
    "                        write time in UTC\n" KMARC_COMMON_OPTIONS;

const char kVerifyHelp[] =
    "Usage: kmarc verify ARCHIVE\n"
    "       kmarc verify SETUP.exe\n"
    "\n"
    "Inflates every entry and checks it against its recorded sizes, and checks every\n"
    "name by the rules pack follows. Each fault is reported on stderr, a summary on\n"
    "stdout. For a setup executable every archive it carries is checked, and an\n"
    "archive it lacks or one stored under another language is named.\n" KMARC_COMMON_OPTIONS;

const char kExtractHelp[] =
    "Usage: kmarc extract ARCHIVE DIR\n"
    "       kmarc extract SETUP.exe DIR\n"
    "\n"
    "Writes the entries' files below DIR, names converted from the code page. For a\n"
    "setup executable each archive goes into a folder of its name below DIR. A\n"
    "damaged archive is refused before anything is written; a run that fails takes\n"
    "away every file and folder it created.\n" KMARC_COMMON_OPTIONS;

const char kEmbedHelp[] =
    "Usage: kmarc embed [--level N | --fast] [-j N] [--strip-signature]\n"
    "                   [--version-info KEY=VALUE]... [--icon FILE.ico]\n"
    "                   [--splash FILE.bmp] [--add-missing FILE]... [--depfile FILE]\n"
    "                   LAUNCHER PAYLOAD -o SETUP\n"
    "\n"
    "Packs each archive folder of PAYLOAD as pack does and writes SETUP, a copy of\n"
    "the launcher that carries exactly those archives; every other resource stays as\n"
    "it was. The archive folders, in the order the launcher unpacks them:\n"
    "  @ARCHIVES@\n"
    "@HOME@ must hold @SETUP@ and @WAITING@.\n"
    "SETUP appears under its name only when it is complete, and the same inputs give\n"
    "the same bytes.\n"
    "\n"
    "Options:\n"
    "  -o, --output SETUP    the setup executable to write\n"
    "  --level N, --fast     compression level, as for pack\n"
    "  -j, --jobs N          compress N files at once, as for pack\n"
    "  --strip-signature     remove the launcher's signature instead of refusing a\n"
    "                        signed launcher; sign the setup after embedding\n"
    "  --version-info KEY=VALUE\n"
    "                        a text of the version resource the file's properties\n"
    "                        show; KEY is ProductName, ProductVersion, FileVersion,\n"
    "                        CompanyName, FileDescription or LegalCopyright; the two\n"
    "                        versions are up to four numbers (2.5.0.1); may be\n"
    "                        repeated. Without it the setup keeps the launcher's\n"
    "                        blank properties, and embed warns once.\n"
    "  --icon FILE.ico       the program's icon (icon group 101) from an icon file\n"
    "  --splash FILE.bmp     the splash picture (bitmap 134) from a Windows bitmap,\n"
    "                        shown unscaled while the setup unpacks: 1, 4, 8, 16, 24\n"
    "                        or 32 bits per pixel, uncompressed, RLE8 (8 bits) or\n"
    "                        bit fields (16, 32 bits), a plain 40-byte header, every\n"
    "                        pixel's colour in the colour table; anything else is\n"
    "                        refused with the reason (exit status 4)\n"
    "  --add-missing FILE    also pack FILE into @HOME@ under its own name,\n"
    "                        unless a folder the launcher unpacks has a top-level\n"
    "                        file or folder of that name (compared without regard\n"
    "                        to case); may be repeated\n"
    "  --depfile FILE        write a Ninja/Make depfile: SETUP depends on the\n"
    "                        launcher, PAYLOAD and every file and folder below it\n"
    "                        that embed read, and the files given to the options,\n"
    "                        as for pack\n"
    "\n"
    "Refused, with exit status 5 and nothing written: a launcher that is not a 32-bit\n"
    "executable, not the setup launcher, truncated, damaged, signed, or one with data\n"
    "appended behind the executable. Refused with exit status 2: -o naming the\n"
    "launcher, the icon or the splash picture (by file identity: any spelling or\n"
    "hard link of it), or a path inside PAYLOAD.\n" KMARC_COMMON_OPTIONS;

const char kHelpHelp[] =
    "Usage: kmarc help [COMMAND]\n"
    "\n"
    "Shows the help of COMMAND (pack, list, verify, extract, embed), or without one\n"
    "the overview that kmarc --help shows.\n";

#undef KMARC_COMMON_OPTIONS

const struct {
    const char* command;
    const char* help;
} kCommandHelps[] = {
    { "pack", kPackHelp },       { "list", kListHelp },   { "verify", kVerifyHelp },
    { "extract", kExtractHelp }, { "embed", kEmbedHelp }, { "help", kHelpHelp },
};

} // namespace

const char* CommandHelp(const std::string& command)
{
    // Each text once, with the setup layout's names where it says @ARCHIVES@ (all of
    // them), @HOME@ (the setup programs' archive), @SETUP@ and @WAITING@ (the programs).
    static std::map<std::string, std::string> filled;
    for (const auto& entry : kCommandHelps) {
        if (command != entry.command)
            continue;
        std::string& text = filled[command];
        if (text.empty()) {
            std::string archives;
            for (const char* name : kSetupArchiveNames)
                archives += (archives.empty() ? "" : " ") + std::string(name);
            text = entry.help;
            for (const auto& name : { std::make_pair("@ARCHIVES@", archives),
                                      std::make_pair("@HOME@", std::string(kSetupArchiveNames[kSetupProgramArchive])),
                                      std::make_pair("@SETUP@", std::string(kSetupProgram)),
                                      std::make_pair("@WAITING@", std::string(kWaitingProgram)) }) {
                for (size_t at = text.find(name.first); at != std::string::npos; at = text.find(name.first, at))
                    text.replace(at, std::strlen(name.first), name.second);
            }
        }
        return text.c_str();
    }
    return nullptr;
}
