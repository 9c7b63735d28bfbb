// kmarc embed, and list, verify and extract of the setup it writes, run as a packager
// would, on a launcher-like image made in memory.
#include "pe/IconResource.h"
#include "pe/PeTestSupport.h"
#include "pe/PeWriter.h"
#include "tools/kmarc/Depfile.h"
#include "tools/kmarc/Embed.h"
#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/KmarcTestSupport.h"
#include "tools/kmarc/ToolError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const uint16_t kGerman = 1031;

std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string Text(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

class EmbedTest : public KmarcWorkTest {
protected:
    void SetUp() override
    {
        KmarcWorkTest::SetUp();
        ResourceTree resources = LauncherResources();
        // An archive the launcher had before, which the payload does not carry.
        resources.Set(ResourceId::Named("KMARC"), ResourceId::Named("KMVERSION"), kGerman, { Pattern(50, 9), 0 });
        launcherBytes = BuildTestImage(LauncherLikeImage(resources));
        WriteFile(work / "launcher.exe", Text(launcherBytes));
        WriteFile(work / "payload" / "BASE" / "Readme.txt", "read me\r\n");
        WriteFile(work / "payload" / "BASE" / "Data" / "a.dat", std::string(5000, 'a'));
        WriteFile(work / "payload" / "SETUPBASE" / "Zephrun.exe", "setup program");
        WriteFile(work / "payload" / "SETUPBASE" / "lingerx.exe", "waiting program");
        WriteFile(work / "payload" / "APPBASE" / "Docs" / "Ger" / "Handbuch.txt", "Handbuch");
    }

    std::string Embed(const std::string& extra = std::string())
    {
        return "embed " + extra + Quote(work / "launcher.exe") + " " + Quote(work / "payload") + " -o " + SetupPath();
    }
    std::string SetupPath() const { return Quote(work / "setup.exe"); }

    std::vector<uint8_t> launcherBytes;
};

TEST_F(EmbedTest, TheSetupCarriesExactlyThePayloadAndEveryOtherResourceAsItWas)
{
    ASSERT_EQ(0, Kmarc(work, Embed())) << ReadFile(work / "stderr.txt");
    EXPECT_NE(std::string::npos, ReadFile(work / "stdout.txt").find("archives the launcher carries: BASE SETUPBASE APPBASE"));
    EXPECT_FALSE(fs::exists(work / "setup.exe.part"));

    PeImage launcher(launcherBytes);
    PeImage setup(Bytes(ReadFile(work / "setup.exe")));
    ResourceTree before = ReadResources(launcher);
    ResourceTree after = ReadResources(setup);
    ResourceId kmarc = ResourceId::Named("KMARC");
    for (const auto& type : before.Types()) {
        if (type.first == kmarc)
            continue;
        for (const auto& name : type.second)
            for (const auto& language : name.second) {
                const ResourceData* kept = after.Find(type.first, name.first, language.first);
                ASSERT_NE(nullptr, kept) << type.first.Display() << "/" << name.first.Display();
                EXPECT_EQ(language.second.bytes, kept->bytes);
            }
    }
    const ResourceNames& archives = after.Types().at(kmarc);
    ASSERT_EQ(3u, archives.size());
    for (const char* name : { "BASE", "SETUPBASE", "APPBASE" }) {
        ASSERT_TRUE(archives.count(ResourceId::Named(name))) << name;
        EXPECT_EQ(1u, archives.at(ResourceId::Named(name)).count(kGerman)) << name;
    }
    // The archive is what pack makes of the folder.
    ASSERT_EQ(0, Kmarc(work, "pack " + Quote(work / "base.kma") + " " + Quote(work / "payload" / "BASE")));
    EXPECT_EQ(Bytes(ReadFile(work / "base.kma")), after.Find(kmarc, ResourceId::Named("BASE"), kGerman)->bytes);

    // The same inputs give the same bytes.
    std::string first = ReadFile(work / "setup.exe");
    ASSERT_EQ(0, Kmarc(work, Embed()));
    EXPECT_TRUE(first == ReadFile(work / "setup.exe"));

    ASSERT_EQ(0, Kmarc(work, "list " + SetupPath())) << ReadFile(work / "stderr.txt");
    std::string list = ReadFile(work / "stdout.txt");
    EXPECT_NE(std::string::npos, list.find("archive BASE, language 1031, ")) << list;
    EXPECT_NE(std::string::npos, list.find(" bytes, 2 entries")) << list;
    EXPECT_NE(std::string::npos, list.find("Docs\\Ger\\Handbuch.txt")) << list;
    EXPECT_LT(list.find("archive SETUPBASE"), list.find("archive APPBASE")) << list;

    ASSERT_EQ(0, Kmarc(work, "verify " + SetupPath())) << ReadFile(work / "stderr.txt");
    std::string verify = ReadFile(work / "stdout.txt");
    EXPECT_NE(std::string::npos, verify.find(":SETUPBASE: 2 entries, all sound")) << verify;
    EXPECT_NE(std::string::npos, verify.find("no PHOTOUNINST archive")) << verify;

    ASSERT_EQ(0, Kmarc(work, "extract " + SetupPath() + " " + Quote(work / "out"))) << ReadFile(work / "stderr.txt");
    EXPECT_EQ(Snapshot(work / "payload"), Snapshot(work / "out"));
}

TEST_F(EmbedTest, ADamagedArchiveInASetupIsNamedAndNothingIsExtracted)
{
    ASSERT_EQ(0, Kmarc(work, Embed()));
    PeImage setup(Bytes(ReadFile(work / "setup.exe")));
    ResourceTree tree = ReadResources(setup);
    ResourceId kmarc = ResourceId::Named("KMARC");
    ResourceData cut = *tree.Find(kmarc, ResourceId::Named("APPBASE"), kGerman);
    cut.bytes.resize(cut.bytes.size() - 3);
    tree.Set(kmarc, ResourceId::Named("APPBASE"), kGerman, cut);
    WriteFile(work / "setup.exe", Text(WithResources(setup, tree)));

    EXPECT_EQ(1, Kmarc(work, "verify " + SetupPath()));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("setup.exe:APPBASE: damaged archive"));
    EXPECT_EQ(1, Kmarc(work, "extract " + SetupPath() + " " + Quote(work / "out")));
    EXPECT_FALSE(fs::exists(work / "out"));
}

// Each refusal names the reason, ends with the documented code and writes nothing.
TEST_F(EmbedTest, RefusesWhatItCannotEmbedIntoAndWritesNothing)
{
    std::vector<uint8_t> signedBytes = launcherBytes;
    {
        PeImage image(launcherBytes);
        uint32_t at = static_cast<uint32_t>(signedBytes.size());
        std::vector<uint8_t> table = Pattern(256, 1);
        signedBytes.insert(signedBytes.end(), table.begin(), table.end());
        size_t directory = image.OptionalHeaderOffset() + kOptionalDataDirectories + 8 * kPeDirSecurity;
        PutU32(signedBytes, directory, at);
        PutU32(signedBytes, directory + 4, 256);
    }
    ResourceTree noDialog = LauncherResources();
    noDialog.Remove(kResourceTypeDialog, 103);
    noDialog.Remove(kResourceTypeManifest, 1);
    std::vector<uint8_t> pe64 = launcherBytes;
    PutU16(pe64, PeImage(launcherBytes).OptionalHeaderOffset(), 0x020B);

    const struct {
        const char* what;
        std::function<void()> prepare;
        int exitCode;
        const char* message;
    } cases[] = {
        { "a text file", [&] { WriteFile(work / "launcher.exe", "not a program"); }, 5, "not a 32-bit Windows executable" },
        { "a 64-bit executable", [&] { WriteFile(work / "launcher.exe", Text(pe64)); }, 5, "64-bit" },
        { "a truncated launcher",
          [&] { WriteFile(work / "launcher.exe", Text(launcherBytes).substr(0, launcherBytes.size() / 2)); }, 5,
          "truncated" },
        { "another program",
          [&] { WriteFile(work / "launcher.exe", Text(BuildTestImage(LauncherLikeImage(noDialog)))); }, 5,
          "not the setup launcher (it has no dialog 103, manifest)" },
        { "a signed launcher", [&] { WriteFile(work / "launcher.exe", Text(signedBytes)); }, 5, "sign after embedding" },
        { "a misspelled archive folder",
          [&] { fs::rename(work / "payload" / "APPBASE", work / "payload" / "AppBase_"); }, 4,
          "holds 'AppBase_', which is not an archive folder and would not be shipped" },
        { "files beside the archive folders",
          [&] {
              WriteFile(work / "payload" / "notes.txt", "");
              WriteFile(work / "payload" / "Docs" / "a.txt", "");
          },
          4, "holds 'Docs', 'notes.txt', which are not archive folders" },
        { "an archive folder that is a file", [&] { WriteFile(work / "payload" / "KMIMAGE", "x"); }, 4,
          "is a file; each archive is packed from a folder of that name" },
        { "no setup program",
          [&] { fs::remove(work / "payload" / "SETUPBASE" / "Zephrun.exe"); }, 4, "no Zephrun.exe in" },
        { "no waiting program",
          [&] { fs::remove(work / "payload" / "SETUPBASE" / "lingerx.exe"); }, 4, "no lingerx.exe in" },
        { "a folder named like the setup program",
          [&] {
              fs::remove(work / "payload" / "SETUPBASE" / "Zephrun.exe");
              WriteFile(work / "payload" / "BASE" / "ZEPHRUN.EXE" / "x", "");
          },
          4, "is a folder; the launcher runs Zephrun.exe as a program" },
        { "a missing launcher", [&] { fs::remove(work / "launcher.exe"); }, 3, "launcher.exe" },
    };
    for (const auto& c : cases) {
        SetUp();
        c.prepare();
        EXPECT_EQ(c.exitCode, Kmarc(work, Embed())) << c.what;
        std::string error = ReadFile(work / "stderr.txt");
        EXPECT_NE(std::string::npos, error.find(c.message)) << c.what << ": " << error;
        EXPECT_FALSE(fs::exists(work / "setup.exe")) << c.what;
        EXPECT_FALSE(fs::exists(work / "setup.exe.part")) << c.what;
    }
}

// What the build embeds with: the stand-ins added where the payload has no program of
// that name, and a depfile that names everything read.
TEST_F(EmbedTest, AddMissingGoesIntoSetupBaseUnlessAnUnpackedFolderHasTheNameAndTheDepfileNamesTheInputs)
{
    fs::remove(work / "payload" / "SETUPBASE" / "Zephrun.exe");
    fs::remove(work / "payload" / "SETUPBASE" / "lingerx.exe");
    WriteFile(work / "payload" / "BASE" / "LingerX.EXE", "the vendor's waiting program");
    WriteFile(work / "stand-ins" / "Zephrun.exe", "stand-in setup program");
    WriteFile(work / "stand-ins" / "lingerx.exe", "stand-in waiting program");
    std::string options = "--add-missing " + Quote(work / "stand-ins" / "Zephrun.exe") + " --add-missing " +
                          Quote(work / "stand-ins" / "lingerx.exe") + " --depfile " + Quote(work / "setup.d") + " ";
    ASSERT_EQ(0, Kmarc(work, Embed(options))) << ReadFile(work / "stderr.txt");
    ASSERT_EQ(0, Kmarc(work, "extract " + SetupPath() + " " + Quote(work / "out"))) << ReadFile(work / "stderr.txt");
    std::map<std::string, std::string> out = Snapshot(work / "out");
    EXPECT_EQ("stand-in setup program", out["SETUPBASE/Zephrun.exe"]);
    // The payload's own waiting program is unpacked; a stand-in beside it would replace it.
    EXPECT_EQ(0u, out.count("SETUPBASE/lingerx.exe"));
    EXPECT_EQ("the vendor's waiting program", out["BASE/LingerX.EXE"]);

    std::string depfile = ReadFile(work / "setup.d");
    auto spelled = [](const fs::path& path) {
        std::string escaped;
        EXPECT_TRUE(EscapeForDepfile(DepfileName(path), escaped)) << path;
        return escaped;
    };
    EXPECT_EQ(0u, depfile.find(spelled(work / "setup.exe") + ":")) << depfile;
    // One prerequisite per line after the target's.
    std::set<std::string> prerequisites;
    std::istringstream lines(depfile.substr(depfile.find('\n') + 1));
    for (std::string line; std::getline(lines, line);)
        prerequisites.insert(line.substr(2, line.size() - 2 - (line.back() == '\\' ? 2 : 0)));
    for (const fs::path& input : { work / "launcher.exe", work / "payload", work / "payload" / "APPBASE" / "Docs" / "Ger",
                                   work / "payload" / "BASE" / "Data" / "a.dat", work / "stand-ins" / "Zephrun.exe",
                                   work / "stand-ins" / "lingerx.exe" })
        EXPECT_EQ(1u, prerequisites.count(spelled(input))) << input << "\n" << depfile;

    // With no SETUPBASE folder there is nothing to add to.
    fs::remove_all(work / "payload" / "SETUPBASE");
    fs::remove(work / "setup.exe");
    EXPECT_EQ(2, Kmarc(work, Embed(options)));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("has no SETUPBASE folder to add to"));
    EXPECT_FALSE(fs::exists(work / "setup.exe"));
}

// The writer embed uses, for archives that are packed already: they go in as given.
TEST_F(EmbedTest, EmbedArchivesPutsTheBytesInAsGiven)
{
    EmbedArchives(work / "launcher.exe", { { "BASE", Pattern(700, 3) }, { "PHOTOUNINST", Pattern(9, 4) } },
                  work / "setup.exe");
    ResourceTree tree = ReadResources(PeImage(Bytes(ReadFile(work / "setup.exe"))));
    ResourceId kmarc = ResourceId::Named("KMARC");
    EXPECT_EQ(2u, tree.Types().at(kmarc).size());
    EXPECT_EQ(Pattern(700, 3), tree.Find(kmarc, ResourceId::Named("BASE"), kGerman)->bytes);
    EXPECT_EQ(Pattern(9, 4), tree.Find(kmarc, ResourceId::Named("PHOTOUNINST"), kGerman)->bytes);
    EXPECT_TRUE(tree.Has(kResourceTypeDialog, 103));
    EXPECT_THROW(EmbedArchives(work / "missing.exe", {}, work / "other.exe"), ToolError);
    EXPECT_FALSE(fs::exists(work / "other.exe"));
}

TEST_F(EmbedTest, StripSignatureRemovesTheCertificateTable)
{
    PeImage image(launcherBytes);
    std::vector<uint8_t> signedBytes = launcherBytes;
    // A signature sits behind the symbol table at the end of the file.
    uint32_t at = static_cast<uint32_t>(signedBytes.size());
    signedBytes.resize(at + 512, 0x5A);
    size_t directory = image.OptionalHeaderOffset() + kOptionalDataDirectories + 8 * kPeDirSecurity;
    PutU32(signedBytes, directory, at);
    PutU32(signedBytes, directory + 4, 512);
    WriteFile(work / "launcher.exe", Text(signedBytes));

    ASSERT_EQ(0, Kmarc(work, Embed("--strip-signature "))) << ReadFile(work / "stderr.txt");
    PeImage setup(Bytes(ReadFile(work / "setup.exe")));
    EXPECT_FALSE(setup.HasCertificate());
    EXPECT_EQ(0u, setup.Directory(kPeDirSecurity).address);
    // Nothing of the signature is left behind the symbol table.
    EXPECT_EQ(std::string::npos, ReadFile(work / "setup.exe").find(std::string(64, 0x5A)));
    // Embedding into the plain launcher gives the same setup.
    WriteFile(work / "launcher.exe", Text(launcherBytes));
    std::string stripped = ReadFile(work / "setup.exe");
    ASSERT_EQ(0, Kmarc(work, Embed()));
    EXPECT_TRUE(stripped == ReadFile(work / "setup.exe"));
}

} // namespace

namespace {

// An .ico file with one 16-pixel 32-bit image of the given byte.
std::string IconFileBytes(uint8_t fill)
{
    std::vector<uint8_t> file;
    AppendU16(file, 0);
    AppendU16(file, 1);
    AppendU16(file, 1);
    file.insert(file.end(), { 16, 16, 0, 0 });
    AppendU16(file, 1);
    AppendU16(file, 32);
    AppendU32(file, 300);
    AppendU32(file, 22);
    file.resize(file.size() + 300, fill);
    return Text(file);
}

bool HoldsText(const std::vector<uint8_t>& bytes, const std::u16string& text)
{
    std::vector<uint8_t> wide;
    for (char16_t unit : text)
        AppendU16(wide, static_cast<uint16_t>(unit));
    return std::search(bytes.begin(), bytes.end(), wide.begin(), wide.end()) != bytes.end();
}

TEST_F(EmbedTest, VersionInfoAndIconGoIntoTheSetup)
{
    WriteFile(work / "new.ico", IconFileBytes(0x77));
    ASSERT_EQ(0, Kmarc(work, Embed("--version-info ProductName=\"Kalmora Photo\" --version-info fileversion=2.5.0.1 "
                                   "--version-info \"LegalCopyright=(c) 2026 Kalmora\" --icon " +
                                   Quote(work / "new.ico") + " ")))
        << ReadFile(work / "stderr.txt");
    ResourceTree tree = ReadResources(PeImage(Bytes(ReadFile(work / "setup.exe"))));
    const ResourceData* version = tree.Find(kResourceTypeVersion, 1, 0x0409);
    ASSERT_NE(nullptr, version);
    EXPECT_TRUE(HoldsText(version->bytes, u"Kalmora Photo"));
    EXPECT_TRUE(HoldsText(version->bytes, u"2.5.0.1"));
    EXPECT_TRUE(HoldsText(version->bytes, u"(c) 2026 Kalmora"));
    const ResourceData* group = tree.Find(kResourceTypeIconGroup, 101, 0);
    ASSERT_NE(nullptr, group);
    std::vector<uint16_t> members = IconGroupMembers(group->bytes);
    ASSERT_EQ(1u, members.size());
    EXPECT_EQ(std::vector<uint8_t>(300, 0x77), tree.Find(kResourceTypeIcon, members[0], 0)->bytes);
    // The archives are there as without the options.
    EXPECT_TRUE(tree.Has(ResourceId::Named("KMARC"), ResourceId::Named("SETUPBASE")));

    const struct {
        std::string options;
        int exitCode;
        const char* message;
    } refusals[] = {
        { "--version-info Product=X ", 2, "unknown key" },
        { "--version-info ProductName ", 2, "not KEY=VALUE" },
        { "--version-info FileVersion=2.5beta ", 2, "up to four numbers" },
        { "--version-info ProductVersion=1.2.3.4.5 ", 2, "up to four numbers" },
        { "--version-info CompanyName=A --version-info companyname=B ", 2, "given twice" },
        { "--icon " + Quote(work / "launcher.exe") + " ", 4, "not a usable icon file" },
        { "--icon " + Quote(work / "missing.ico") + " ", 3, "missing.ico" },
        { "--icon " + Quote(work / "shared.ico") + " ", 4, "icon image 1 and icon image 2 overlap" },
    };
    // Two directory entries that name the same bytes.
    std::vector<uint8_t> shared = Bytes(IconFileBytes(0x55));
    shared[4] = 2;
    std::vector<uint8_t> second(shared.begin() + 6, shared.begin() + 22);
    PutU32(second, 12, 6 + 2 * 16);
    PutU32(shared, 6 + 12, 6 + 2 * 16);
    shared.insert(shared.begin() + 22, second.begin(), second.end());
    WriteFile(work / "shared.ico", Text(shared));
    for (const auto& c : refusals) {
        fs::remove(work / "setup.exe");
        EXPECT_EQ(c.exitCode, Kmarc(work, Embed(c.options))) << c.options;
        EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find(c.message))
            << c.options << ": " << ReadFile(work / "stderr.txt");
        EXPECT_FALSE(fs::exists(work / "setup.exe")) << c.options;
    }
}

// Setup executables and launchers from anywhere: list, verify and embed refuse a
// resource directory that unfolds to more than the file holds (names shared by many
// entries), and keys listed twice, naming the fault, with no output and, on Linux, a
// peak memory far below what the directory asks for.
TEST_F(EmbedTest, HostileResourceDirectoriesAreRefusedByTheirFault)
{
    // 500 types x 1000 shared names of 30,000 characters: some 30 GB, unfolded.
    const std::vector<uint8_t> bomb = NameBombImage(500, 1000, 30000);
    RawResourceDirectory twice;
    {
        uint32_t root = twice.AddTable(0, 2);
        uint32_t languages = twice.AddTable(0, 1);
        twice.SetEntry(languages, 0, kGerman, twice.AddData(Pattern(8, 1)));
        uint32_t first = twice.AddTable(0, 1);
        twice.SetEntry(first, 0, 103, languages | kRawHighBit);
        uint32_t second = twice.AddTable(0, 1);
        twice.SetEntry(second, 0, 134, languages | kRawHighBit);
        twice.SetEntry(root, 0, kResourceTypeDialog, first | kRawHighBit);
        twice.SetEntry(root, 1, kResourceTypeDialog, second | kRawHighBit);
    }
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    } files[] = {
        { "name bomb", bomb, "the resource names would unfold to more than" },
        { "type listed twice", ImageWithDirectory(twice), "the root table lists type #5 twice" },
    };
    for (const auto& f : files) {
        WriteFile(work / "hostile.exe", Text(f.bytes));
        WriteFile(work / "launcher.exe", Text(f.bytes));
        const struct {
            std::string command;
            int exitCode;
        } runs[] = {
            { "list " + Quote(work / "hostile.exe"), 1 },
            { "verify " + Quote(work / "hostile.exe"), 1 },
            { Embed(), 5 },
        };
        for (const auto& run : runs) {
#ifdef _WIN32
            EXPECT_EQ(run.exitCode, Kmarc(work, run.command)) << f.what << ": " << run.command;
#else
            const uint64_t kMemoryCeiling = 100ull << 20;
            uint64_t peak = 0;
            EXPECT_EQ(run.exitCode, KmarcMeasured(work, run.command, peak)) << f.what << ": " << run.command;
            EXPECT_LT(peak, kMemoryCeiling) << f.what << ": " << run.command;
#endif
            std::string error = ReadFile(work / "stderr.txt");
            EXPECT_NE(std::string::npos, error.find(f.message)) << f.what << ": " << run.command << ": " << error;
            EXPECT_NE(std::string::npos, error.find(run.exitCode == 5 ? "launcher.exe" : "hostile.exe")) << error;
            EXPECT_FALSE(fs::exists(work / "setup.exe")) << f.what;
            EXPECT_FALSE(fs::exists(work / "setup.exe.part")) << f.what;
        }
    }
}

} // namespace

namespace {

// Faults in the first and in the last archive folder are listed together, before any
// archive is packed; an archive folder without a file is refused, not shipped empty.
TEST_F(EmbedTest, FaultsOfEveryArchiveFolderAreListedBeforeAnythingIsPacked)
{
    WriteFile(work / "payload" / "BASE" / "COM0", "device");
    WriteFile(work / "payload" / "PHOTOUNINST" / "Docs" / "lpt0.txt", "device");
    fs::create_directories(work / "payload" / "KMIMAGE" / "Nothing" / "Here");
    EXPECT_EQ(4, Kmarc(work, Embed()));
    std::string errors = ReadFile(work / "stderr.txt");
    for (const std::string& part : { std::string("COM0"), std::string("lpt0.txt"),
                                     (work / "payload" / "KMIMAGE").string() + ": no files to pack",
                                     std::string("3 problems; nothing was packed") })
        EXPECT_NE(std::string::npos, errors.find(part)) << part << " in:\n" << errors;
    EXPECT_EQ(std::string::npos, errors.find("packing")) << errors;
    for (const char* left : { "setup.exe", "setup.exe.part", "setup.exe.archives.part" })
        EXPECT_FALSE(fs::exists(work / left)) << left;
}

TEST_F(EmbedTest, ProgressCountsThePayloadInALogAndNotWithQuiet)
{
    fs::create_directories(work / "payload" / "APPBASE" / "Empty");
    ASSERT_EQ(0, Kmarc(work, Embed("--version-info ProductName=P "))) << ReadFile(work / "stderr.txt");
    std::string errors = ReadFile(work / "stderr.txt");
    // The five files of all archive folders together, counted as one run.
    EXPECT_NE(std::string::npos, errors.find("kmarc: packing 0/5 files")) << errors;
    EXPECT_NE(std::string::npos, errors.find("kmarc: packing 5/5 files, 0.0 of 0.0 MB (100%)")) << errors;
    EXPECT_NE(std::string::npos, errors.find("Empty: empty folder, left out")) << errors;

    ASSERT_EQ(0, Kmarc(work, "embed -q --version-info ProductName=P " + Quote(work / "launcher.exe") + " " +
                                 Quote(work / "payload") + " -o " + Quote(work / "quiet.exe")));
    EXPECT_EQ("", ReadFile(work / "stderr.txt"));
    EXPECT_EQ(ReadFile(work / "setup.exe"), ReadFile(work / "quiet.exe"));
}

} // namespace
