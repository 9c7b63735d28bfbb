// kmarc's command line as scripts and packagers meet it: the help of each command,
// --quiet and the warnings it silences.
#include "archive/SetupLayout.h"
#include "pe/PeTestSupport.h"
#include "splash/DibFormat.h"
#include "splash/DibTestSupport.h"
#include "tools/kmarc/JsonText.h"
#include "tools/kmarc/KmarcTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <cctype>
#include <cstdlib>
#include <string>

namespace fs = std::filesystem;

namespace {

size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class CliTest : public KmarcWorkTest {
protected:
    void SetUp() override
    {
        KmarcWorkTest::SetUp();
        std::vector<uint8_t> launcher = BuildTestImage(LauncherLikeImage(LauncherResources()));
        WriteFile(work / "launcher.exe", std::string(launcher.begin(), launcher.end()));
        WriteFile(work / "payload" / "BASE" / "Readme.txt", "read me\r\n");
        WriteFile(work / "payload" / "SETUPBASE" / "Zephrun.exe", "setup program");
        WriteFile(work / "payload" / "SETUPBASE" / "lingerx.exe", "waiting program");
    }

    std::string Embed(const std::string& extra = std::string())
    {
        return "embed " + extra + Quote(work / "launcher.exe") + " " + Quote(work / "payload") + " -o " +
               Quote(work / "setup.exe");
    }

    std::string Out() { return ReadFile(work / "stdout.txt"); }
    std::string Err() { return ReadFile(work / "stderr.txt"); }
};

TEST_F(CliTest, EachCommandHasItsOwnHelpBothWays)
{
    ASSERT_EQ(0, Kmarc(work, "--help"));
    std::string overview = Out();
    for (const char* command : { "pack ARCHIVE DIR", "list ARCHIVE", "verify ARCHIVE", "extract ARCHIVE DIR",
                                 "embed LAUNCHER PAYLOAD -o SETUP", "help [COMMAND]" })
        EXPECT_NE(std::string::npos, overview.find(command)) << command;
    EXPECT_NE(std::string::npos, overview.find("Exit status:"));

    // Each command's help names its own options and not another command's.
    const struct {
        const char* command;
        const char* own;
        const char* foreign;
    } cases[] = {
        { "pack", "--add-missing FILE", "--strip-signature" },
        { "embed", "--version-info KEY=VALUE", "--json" },
        { "list", "Usage: kmarc list", "--level" },
        { "verify", "Usage: kmarc verify", "--icon" },
        { "extract", "Usage: kmarc extract", "--add-missing" },
    };
    for (const auto& c : cases) {
        ASSERT_EQ(0, Kmarc(work, std::string(c.command) + " --help")) << c.command;
        std::string help = Out();
        EXPECT_NE(std::string::npos, help.find(c.own)) << c.command << ":\n" << help;
        EXPECT_EQ(std::string::npos, help.find(c.foreign)) << c.command << ":\n" << help;
        EXPECT_NE(help, overview) << c.command;
        ASSERT_EQ(0, Kmarc(work, std::string("help ") + c.command)) << c.command;
        EXPECT_EQ(help, Out()) << c.command;
        ASSERT_EQ(0, Kmarc(work, std::string("-h ") + c.command)) << c.command;
        EXPECT_EQ(help, Out()) << c.command;
    }
    // embed's help names the archive folders and the programs as the setup layout has them.
    ASSERT_EQ(0, Kmarc(work, "embed --help"));
    std::string embed = Out();
    std::string archives;
    for (const char* name : kSetupArchiveNames)
        archives += (archives.empty() ? "" : " ") + std::string(name);
    EXPECT_NE(std::string::npos, embed.find("  " + archives)) << embed;
    EXPECT_NE(std::string::npos, embed.find(std::string(kSetupArchiveNames[kSetupProgramArchive]) + " must hold " +
                                            kSetupProgram + " and " + kWaitingProgram))
        << embed;
    EXPECT_EQ(std::string::npos, embed.find('@')) << embed;
    ASSERT_EQ(0, Kmarc(work, "help"));
    EXPECT_EQ(overview, Out());

    EXPECT_EQ(2, Kmarc(work, "help unpack"));
    EXPECT_NE(std::string::npos, Err().find("unknown command 'unpack'"));
    EXPECT_EQ(2, Kmarc(work, "unpack --help"));
    EXPECT_EQ(2, Kmarc(work, "help pack list"));
}

TEST_F(CliTest, EmbedWithoutVersionInfoWarnsOnceUnlessQuiet)
{
    const std::string warning = "warning: no --version-info";
    ASSERT_EQ(0, Kmarc(work, Embed())) << Err();
    EXPECT_EQ(1u, Count(Err(), warning)) << Err();
    EXPECT_TRUE(fs::exists(work / "setup.exe"));

    ASSERT_EQ(0, Kmarc(work, Embed("--version-info ProductName=Photo "))) << Err();
    EXPECT_EQ(0u, Count(Err(), warning)) << Err();

    // A setup made from it keeps that version resource: nothing to warn of.
    fs::rename(work / "setup.exe", work / "launcher.exe");
    ASSERT_EQ(0, Kmarc(work, Embed())) << Err();
    EXPECT_EQ(0u, Count(Err(), warning)) << Err();

    // --quiet silences the warning but not the result, nor an error.
    std::vector<uint8_t> bare = BuildTestImage(LauncherLikeImage(LauncherResources()));
    WriteFile(work / "launcher.exe", std::string(bare.begin(), bare.end()));
    for (const char* quiet : { "--quiet ", "-q " }) {
        ASSERT_EQ(0, Kmarc(work, Embed(quiet))) << Err();
        EXPECT_EQ("", Err()) << quiet;
        EXPECT_NE(std::string::npos, Out().find("archives the launcher carries: BASE SETUPBASE")) << quiet;
    }
    fs::remove(work / "payload" / "SETUPBASE" / "lingerx.exe");
    EXPECT_EQ(4, Kmarc(work, Embed("--quiet ")));
    EXPECT_NE(std::string::npos, Err().find("no lingerx.exe in")) << Err();
    EXPECT_EQ(std::string::npos, Err().find(warning)) << Err();
}

#ifdef KMARC_SOURCE_DIR
// The man page covers what the help offers: every option of every command and every
// exit status (the kit's README carries the man page's text). roff writes a hyphen
// as \-.
TEST_F(CliTest, TheManualPageCoversEveryOptionAndExitStatus)
{
    std::string help;
    for (const char* arguments : { "--help", "help pack", "help list", "help verify", "help extract", "help embed" }) {
        ASSERT_EQ(0, Kmarc(work, arguments));
        help += Out();
    }
    std::string manual = ReadFile(fs::path(KMARC_SOURCE_DIR) / "kmarc.1");
    ASSERT_FALSE(manual.empty());
    std::string plain;
    for (size_t i = 0; i < manual.size(); ++i) {
        if (manual.compare(i, 2, "\\-") == 0)
            ++i;
        plain += manual[i];
    }
    std::set<std::string> options;
    for (size_t at = help.find('-'); at != std::string::npos; at = help.find('-', at + 1)) {
        bool starts = at == 0 || std::string(" ,/(").find(help[at - 1]) != std::string::npos;
        size_t end = help.find_first_not_of("-abcdefghijklmnopqrstuvwxyz", at);
        std::string option = help.substr(at, end - at);
        if (!starts || option.find_first_not_of('-') == std::string::npos || option.size() < 2 ||
            !std::islower(static_cast<unsigned char>(option[option[1] == '-' ? 2 : 1])))
            continue;
        if (!options.insert(option).second)
            continue;
        // Bounded by a character no option holds, so that --version does not pass for
        // --version-info.
        bool inManual = false;
        for (size_t found = plain.find(option); found != std::string::npos && !inManual;
             found = plain.find(option, found + 1)) {
            char after = found + option.size() < plain.size() ? plain[found + option.size()] : ' ';
            inManual = !std::islower(static_cast<unsigned char>(after)) && after != '-';
        }
        EXPECT_TRUE(inManual) << option << " is not in kmarc.1";
    }
    EXPECT_GE(options.size(), 16u);
    size_t status = plain.find(".SH EXIT STATUS");
    ASSERT_NE(std::string::npos, status);
    for (int code = 0; code <= 5; ++code)
        EXPECT_NE(std::string::npos, plain.find(".B " + std::to_string(code) + "\n", status)) << code;

    // groff reads it without a warning, where groff is.
    if (std::system("command -v groff >/dev/null") == 0) {
        std::string command = "groff -man -Tutf8 -ww -z " + Quote(fs::path(KMARC_SOURCE_DIR) / "kmarc.1") + " 2>" +
                              Quote(work / "groff.txt");
        EXPECT_EQ(0, std::system(command.c_str()));
        EXPECT_EQ("", ReadFile(work / "groff.txt"));
    }
}
#endif

TEST(JsonText, TimesAndStringsAsJsonWantsThem)
{
    const struct {
        uint32_t seconds;
        const char* text;
    } times[] = {
        { 0, "1970-01-01T00:00:00Z" },
        { 951782400, "2000-02-29T00:00:00Z" },
        { 951868799, "2000-02-29T23:59:59Z" },
        { 1700000000, "2023-11-14T22:13:20Z" },
        { 4107542399u, "2100-02-28T23:59:59Z" },
        { 4107542400u, "2100-03-01T00:00:00Z" },
        { 4294967295u, "2106-02-07T06:28:15Z" },
    };
    for (const auto& t : times)
        EXPECT_EQ(t.text, IsoUtcTime(t.seconds)) << t.seconds;
    EXPECT_EQ("\"a\\\\b \\\"c\\\" \\u0001\\u001F \xC3\x9C\"", JsonString("a\\b \"c\" \x01\x1F \xC3\x9C"));
}

#ifndef _WIN32
// list --json read back by Python's JSON reader, as a script would: one line per archive
// and per entry with every field.
TEST_F(CliTest, ListJsonIsReadByAJsonReader)
{
    WriteFile(work / "payload" / "APPBASE" / "Docs" / "\xC3\x9C" "bersicht & Notes; 100%.txt", std::string(300, 'u'));
    WriteFile(work / "payload" / "APPBASE" / "a.bin", "");
    // Identical files: their entries share one stream, and so one offset.
    WriteFile(work / "payload" / "APPBASE" / "Docs" / "copy.txt", std::string(300, 'u'));
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    ASSERT_EQ(0, Kmarc(work, Embed("--quiet ")));
    ASSERT_EQ(0, Kmarc(work, "--quiet pack " + Quote(work / "app.kma") + " " + Quote(work / "payload" / "APPBASE")));
    unsetenv("SOURCE_DATE_EPOCH");
    WriteFile(work / "read.py",
              "import json, sys\n"
              "d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
              "out = [d['file']]\n"
              "for a in d['archives']:\n"
              "    out.append('%s %s %d %d' % (a['archive'], a['language'], a['size'], len(a['entries'])))\n"
              "    for e in a['entries']:\n"
              "        out.append('  %s|%d|%d|%s|@%d' % (e['entry'], e['size'], e['compressedSize'], e['time'], e['offset']))\n"
              "open(sys.argv[2], 'w', encoding='utf-8').write('\\n'.join(out) + '\\n')\n");
    auto read = [&](const std::string& target) {
        EXPECT_EQ(0, Kmarc(work, "list --json " + target));
        fs::copy_file(work / "stdout.txt", work / "list.json", fs::copy_options::overwrite_existing);
        std::string command = "python3 " + Quote(work / "read.py") + " " + Quote(work / "list.json") + " " +
                              Quote(work / "read.txt");
        EXPECT_EQ(0, std::system(command.c_str())) << ReadFile(work / "list.json");
        return ReadFile(work / "read.txt");
    };

    std::string setup = read(Quote(work / "setup.exe"));
    EXPECT_EQ(0u, setup.find((work / "setup.exe").string() + "\n")) << setup;
    EXPECT_NE(std::string::npos, setup.find("\nBASE 1031 ")) << setup;
    EXPECT_NE(std::string::npos, setup.find("\n  Readme.txt|9|")) << setup;
    EXPECT_NE(std::string::npos, setup.find(" 2\n  Zephrun.exe|13|")) << setup;
    EXPECT_NE(std::string::npos, setup.find("\nAPPBASE 1031 ")) << setup;
    EXPECT_NE(std::string::npos, setup.find("\n  Docs\\\xC3\x9C" "bersicht & Notes; 100%.txt|300|")) << setup;
    EXPECT_NE(std::string::npos, setup.find("\n  a.bin|0|")) << setup;
    EXPECT_EQ(6u, Count(setup, "|2023-11-14T22:13:20Z|@")) << setup;

    // The sizes are those the plain listing gives.
    ASSERT_EQ(0, Kmarc(work, "list " + Quote(work / "app.kma")));
    std::string plain = Out();
    std::string archive = read(Quote(work / "app.kma"));
    EXPECT_NE(std::string::npos, archive.find("\nNone None " + std::to_string(fs::file_size(work / "app.kma")) +
                                              " 3\n")) << archive;
    size_t compressed = plain.find("       300 ");
    ASSERT_NE(std::string::npos, compressed) << plain;
    std::string compressedSize = plain.substr(compressed + 11, 10);
    compressedSize.erase(0, compressedSize.find_first_not_of(' '));
    EXPECT_NE(std::string::npos, archive.find("|300|" + compressedSize + "|")) << archive << plain;
    // In byte order Docs\copy.txt, Docs\Übersicht..., a.bin: the first stream begins at
    // offset 4 and the second entry names it too.
    auto offsetOf = [&archive](const std::string& name) {
        size_t line = archive.find("\n  " + name + "|");
        size_t at = archive.find("|@", line);
        return line == std::string::npos ? std::string() : archive.substr(at + 2, archive.find('\n', at) - at - 2);
    };
    EXPECT_EQ("4", offsetOf("Docs\\copy.txt")) << archive;
    EXPECT_EQ("4", offsetOf("Docs\\\xC3\x9C" "bersicht & Notes; 100%.txt")) << archive;
    EXPECT_EQ("17", offsetOf("a.bin")) << archive;

    // A damaged archive gives an error and no half document.
    std::string bytes = ReadFile(work / "app.kma");
    WriteFile(work / "app.kma", bytes.substr(0, bytes.size() - 5));
    EXPECT_EQ(1, Kmarc(work, "list --json " + Quote(work / "app.kma")));
    EXPECT_EQ("", Out());
    EXPECT_EQ(2, Kmarc(work, "verify --json " + Quote(work / "setup.exe")));
}
#endif

// A .bmp file of the bitmap: the file header, whose pixel offset is gap bytes further
// than right behind the colour table, then the bitmap with the gap before its pixels.
std::string BmpFile(const Bytes& header, const Bytes& table, const Bytes& pixels, uint32_t gap = 0)
{
    Bytes file = { 'B', 'M' };
    file.resize(14, 0);
    uint32_t offBits = uint32_t(14 + header.size() + table.size() + gap);
    Put32(file, 2, uint32_t(offBits + pixels.size()));
    Put32(file, 10, offBits);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), table.begin(), table.end());
    file.resize(file.size() + gap, 0);
    file.insert(file.end(), pixels.begin(), pixels.end());
    return std::string(file.begin(), file.end());
}

Bytes Header(const DibSpec& spec)
{
    return MakeDib(spec, {}, {});
}

TEST_F(CliTest, SplashReplacesThePictureOnlyWithOneTheSplashCanShow)
{
    Bytes pixels(12 * 3 * 2, 0);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<unsigned char>(i * 7);
    std::string picture = BmpFile(Header({ 12, 2, 24, kDibRgb, 0, 0 }), {}, pixels);
    WriteFile(work / "vendor.bmp", picture);
    ASSERT_EQ(0, Kmarc(work, Embed("--splash " + Quote(work / "vendor.bmp") + " "))) << Err();
    std::string setup = ReadFile(work / "setup.exe");
    ResourceTree tree = ReadResources(PeImage(std::vector<uint8_t>(setup.begin(), setup.end())));
    const ResourceNames& bitmaps = tree.Types().at(ResourceId(kResourceTypeBitmap));
    ASSERT_EQ(1u, bitmaps.at(ResourceId(134)).size());
    // Under the language of the launcher's own picture, the file without its header.
    const ResourceData* splash = tree.Find(kResourceTypeBitmap, 134, 0x0409);
    ASSERT_NE(nullptr, splash);
    EXPECT_EQ(picture.substr(14), std::string(splash->bytes.begin(), splash->bytes.end()));
    // Everything else of the launcher is there as before.
    EXPECT_TRUE(tree.Has(kResourceTypeDialog, 103));
    EXPECT_TRUE(tree.Has(kResourceTypeManifest, 1));

    Bytes greys(16, 0);
    for (size_t i = 0; i < greys.size(); ++i)
        greys[i] = i % 4 == 3 ? 0 : static_cast<unsigned char>(i / 4 * 60);
    Bytes v5 = Header({ 2, 1, 32, kDibBitfields, 0, 0 });
    Put32(v5, 0, 124);
    v5.resize(124, 0);
    Put32(v5, 40, 0xFF0000);
    Put32(v5, 44, 0xFF00);
    Put32(v5, 48, 0xFF);
    const struct {
        const char* what;
        std::string file;
        const char* reason;
    } refusals[] = {
        { "a PNG", "\x89PNG\r\n\x1a\n" + std::string(60, '\0'), "not a BMP file" },
        { "an empty file", "", "not a BMP file" },
        { "an OS/2 bitmap", BmpFile({ 12, 0, 0, 0, 2, 0, 1, 0, 1, 0, 24, 0 }, {}, Bytes(8)), "no bitmap header" },
        { "RLE4", BmpFile(Header({ 4, 1, 4, kDibRle4, 4, 4 }), greys, { 4, 0x12, 0, 1 }), "RLE4 at 4 bits" },
        { "an index past its palette", BmpFile(Header({ 4, 1, 8, kDibRgb, 0, 4 }), greys, { 0, 1, 2, 4 }),
          "has colour 4, but the colour table holds 4 colours" },
        { "a gap before the pixels", BmpFile(Header({ 12, 2, 24, kDibRgb, 0, 0 }), {}, pixels, 2),
          "its pixels start at byte 56, not right behind the colour table at byte 54" },
        { "masks inside a large header", BmpFile(v5, {}, Bytes(8, 0x40)),
          "its pixels start at byte 138, not right behind the colour masks at byte 150" },
        { "pixels cut short", BmpFile(Header({ 12, 2, 24, kDibRgb, 0, 0 }), {}, Bytes(40)), "do not lie inside" },
    };
    for (const auto& c : refusals) {
        fs::remove(work / "setup.exe");
        WriteFile(work / "vendor.bmp", c.file);
        EXPECT_EQ(4, Kmarc(work, Embed("--splash " + Quote(work / "vendor.bmp") + " "))) << c.what;
        EXPECT_NE(std::string::npos, Err().find("vendor.bmp: the splash cannot show this picture: ")) << Err();
        EXPECT_NE(std::string::npos, Err().find(c.reason)) << c.what << ": " << Err();
        EXPECT_FALSE(fs::exists(work / "setup.exe")) << c.what;
    }
    EXPECT_EQ(3, Kmarc(work, Embed("--splash " + Quote(work / "missing.bmp") + " ")));
    EXPECT_NE(std::string::npos, Err().find("missing.bmp")) << Err();
    EXPECT_EQ(2, Kmarc(work, "list --splash " + Quote(work / "vendor.bmp") + " " + Quote(work / "launcher.exe")));
    EXPECT_EQ(2, Kmarc(work, "embed --splash " + Quote(work / "vendor.bmp") + " " + Quote(work / "launcher.exe") +
                                 " " + Quote(work / "payload") + " -o " + Quote(work / "vendor.bmp")));
    EXPECT_NE(std::string::npos, Err().find("is the splash picture")) << Err();
}

// Bytes behind the executable would travel into every setup unseen; the launcher's own
// symbol table and a removed signature's padding are no such bytes.
TEST_F(CliTest, ALauncherWithDataAppendedIsRefused)
{
    std::vector<uint8_t> launcher = BuildTestImage(LauncherLikeImage(LauncherResources()));
    std::string plain(launcher.begin(), launcher.end());
    const struct {
        const char* what;
        std::string bytes;
        const char* message;
    } cases[] = {
        { "a zip behind the symbols", plain + "PK\x03\x04" + std::string(100, 'z'),
          "104 bytes follow the end of the executable (at offset 0x" },
        { "one byte", plain + "x", "1 byte follows" },
        { "eight zeros", plain + std::string(8, '\0'), "8 bytes follow" },
    };
    for (const auto& c : cases) {
        WriteFile(work / "launcher.exe", c.bytes);
        EXPECT_EQ(5, Kmarc(work, Embed())) << c.what;
        EXPECT_NE(std::string::npos, Err().find(c.message)) << c.what << ": " << Err();
        EXPECT_NE(std::string::npos, Err().find("nothing written")) << c.what << ": " << Err();
        EXPECT_FALSE(fs::exists(work / "setup.exe")) << c.what;
    }
    char offset[32];
    std::snprintf(offset, sizeof offset, "(at offset 0x%zX)", plain.size());
    WriteFile(work / "launcher.exe", plain + "junk");
    EXPECT_EQ(5, Kmarc(work, Embed()));
    EXPECT_NE(std::string::npos, Err().find(offset)) << Err();

    // Fewer than eight zeros are the padding a certificate table leaves behind.
    WriteFile(work / "launcher.exe", plain + std::string(4, '\0'));
    EXPECT_EQ(0, Kmarc(work, Embed())) << Err();
}

// Writing the setup over an input loses it: the launcher, the icon, a payload file.
TEST_F(CliTest, OutputNamingAnInputIsRefusedWhateverItsSpelling)
{
    WriteFile(work / "icon.ico", "icon");
    fs::create_directories(work / "sub");
    std::error_code noLink;
    fs::create_hard_link(work / "launcher.exe", work / "linked.exe", noLink);
    const std::string launcher = ReadFile(work / "launcher.exe");
    const auto payload = Snapshot(work / "payload");
    const std::string inputs = Quote(work / "launcher.exe") + " " + Quote(work / "payload");

    const struct {
        std::string output;
        const char* message;
    } cases[] = {
        { Quote(work / "launcher.exe"), "is the launcher" },
        { Quote(work / "sub" / ".." / "launcher.exe"), "is the launcher" },
        { Quote(work / "icon.ico") + " --icon " + Quote(work / "icon.ico"), "is the icon file" },
        { Quote(work / "payload" / "BASE" / "Readme.txt"), "lies inside the payload folder" },
        { Quote(work / "payload" / "BASE" / "new" / "setup.exe"), "lies inside the payload folder" },
        { Quote(work / "payload" / "setup.exe"), "lies inside the payload folder" },
        { Quote(work / "payload"), "lies inside the payload folder" },
        { Quote(work / "sub" / ".." / "payload" / "SETUPBASE" / "Zephrun.exe"), "lies inside the payload folder" },
#ifdef _WIN32
        { Quote(work / "LAUNCHER.EXE"), "is the launcher" },
        { Quote(work / "PAYLOAD" / "base" / "setup.exe"), "lies inside the payload folder" },
#endif
    };
    for (const auto& c : cases) {
        EXPECT_EQ(2, Kmarc(work, "embed " + inputs + " -o " + c.output)) << c.output;
        EXPECT_NE(std::string::npos, Err().find(c.message)) << c.output << ": " << Err();
        EXPECT_TRUE(launcher == ReadFile(work / "launcher.exe")) << c.output;
        EXPECT_EQ(payload, Snapshot(work / "payload")) << c.output;
    }
    if (!noLink) {
        EXPECT_EQ(2, Kmarc(work, "embed " + inputs + " -o " + Quote(work / "linked.exe")));
        EXPECT_NE(std::string::npos, Err().find("is the launcher")) << Err();
    }
#ifndef _WIN32
    fs::create_symlink(work / "payload", work / "alias");
    EXPECT_EQ(2, Kmarc(work, "embed " + inputs + " -o " + Quote(work / "alias" / "APPBASE" / "x.exe")));
    EXPECT_NE(std::string::npos, Err().find("lies inside the payload folder")) << Err();
#endif
    // A name beside the inputs is fine.
    EXPECT_EQ(0, Kmarc(work, "embed " + inputs + " -o " + Quote(work / "sub" / "setup.exe"))) << Err();
}

} // namespace
