#include "launcher/RunOutput.h"

#include "launcher/LauncherTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(RunOutput, RemovesWhatTheRunWroteAndNothingElse)
{
    ScratchFolder scratch("run-output");
    const std::string setup = scratch.Path() + "KMGSetup0\\";
    const std::string script = scratch.Path() + "0.bat";
    ASSERT_TRUE(WriteTextFile(script, "cd \\\r\n"));
    RunOutput output;
    for (const char* name : { "Docs\\Eng\\Guide.txt", "Data\\intro.dat" }) {
        std::string path = setup + name;
        output.AddFile(path.c_str());
        MakeDirectoryPath(path.substr(0, path.rfind('\\')).c_str(), &output.Folders());
        ASSERT_TRUE(WriteTextFile(path, name));
    }
    // Recorded, but the failure came before the file was opened.
    output.AddFile((setup + "Data\\never-opened.dat").c_str());
    const std::string foreign = setup + "Docs\\Eng\\notes.txt";
    ASSERT_TRUE(WriteTextFile(foreign, "put there by someone else"));

    output.RemoveAll(script.c_str());

    EXPECT_FALSE(FileExists(script));
    EXPECT_FALSE(FileExists(setup + "Docs\\Eng\\Guide.txt"));
    EXPECT_FALSE(FolderExists(setup + "Data"));
    // A folder that still holds something that is not the run's stays, with its parents.
    EXPECT_TRUE(FileExists(foreign));
}

} // namespace
