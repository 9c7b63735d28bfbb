#include "launcher/RunOutput.h"

#include "launcher/LauncherTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class RunOutputTest : public ::testing::Test {
protected:
    RunOutputTest() : scratch("run-output"), setup(scratch.Path() + "KMGSetup0\\") {}

    // Makes the entry's folders as the extractor does and writes the file.
    void Unpack(const std::string& name)
    {
        std::string path = setup + name;
        output.AddFile(path.c_str());
        MakeDirectoryPath(path.substr(0, path.rfind('\\')).c_str(), &output.Folders());
        ASSERT_TRUE(WriteTextFile(path, name));
    }

    ScratchFolder scratch;
    const std::string setup;
    RunOutput output;
};

TEST_F(RunOutputTest, RemovesFilesFoldersAndTheScript)
{
    const std::string script = scratch.Path() + "0.bat";
    ASSERT_TRUE(WriteTextFile(script, "cd \\\r\n"));
    const std::string neighbour = scratch.Path() + "KMGSetup0.txt";
    ASSERT_TRUE(WriteTextFile(neighbour, "not the run's"));
    Unpack("Readme.txt");
    Unpack("Docs\\Eng\\Guide.txt");
    Unpack("Docs\\Ger\\Handbuch.txt");
    Unpack("Readme.txt");
    ASSERT_EQ(output.Folders().GetCount(), 4);

    output.RemoveAll(script.c_str());

    EXPECT_FALSE(FolderExists(setup));
    EXPECT_FALSE(FileExists(script));
    EXPECT_TRUE(FileExists(neighbour));
}

TEST_F(RunOutputTest, AFileRecordedButNeverWrittenDoesNotStopTheRest)
{
    Unpack("Data\\intro.dat");
    output.AddFile((setup + "Data\\never-opened.dat").c_str());

    output.RemoveAll("");

    EXPECT_FALSE(FolderExists(setup));
}

TEST_F(RunOutputTest, FoldersHoldingSomethingElseStay)
{
    Unpack("Docs\\Eng\\Guide.txt");
    Unpack("Data\\intro.dat");
    const std::string foreign = setup + "Docs\\Eng\\notes.txt";
    ASSERT_TRUE(WriteTextFile(foreign, "put there by someone else"));

    output.RemoveAll(nullptr);

    EXPECT_TRUE(FileExists(foreign));
    EXPECT_FALSE(FileExists(setup + "Docs\\Eng\\Guide.txt"));
    EXPECT_FALSE(FolderExists(setup + "Data"));
}

} // namespace
