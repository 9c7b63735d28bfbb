// OutputFile: the ".part" beside the output is created only when nothing has its name,
// never written through a link, renamed over the output on success and gone after a
// failure or an interrupt.
#include "tools/kmarc/OutputFile.h"
#include "tools/kmarc/KmarcTestSupport.h"
#include "tools/kmarc/ToolError.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

class OutputFileTest : public KmarcWorkTest {
protected:
    fs::path Output() const { return work / "out.bin"; }
    fs::path Partial() const { return work / "out.bin.part"; }

    // The message of the ToolError that creating an OutputFile for Output() throws.
    std::string RefusalMessage()
    {
        try {
            OutputFile file(Output());
        } catch (const ToolError& error) {
            EXPECT_EQ(kExitFileSystem, error.exitCode);
            return error.message;
        }
        ADD_FAILURE() << "the output was created";
        return std::string();
    }
};

TEST_F(OutputFileTest, CommitRenamesTheWrittenBytesOverTheOutput)
{
    WriteFile(Output(), "the old contents, longer than the new");
    {
        OutputFile file(Output());
        EXPECT_TRUE(fs::exists(Partial()));
        file.Append("0000-body", 9);
        // Larger than the buffer: goes straight to the file after what is buffered.
        std::string large(3u << 20, 'x');
        file.Append(large.data(), large.size());
        file.Append("-end", 4);
        file.WriteAt(0, "1234", 4);
        EXPECT_EQ(9u + large.size() + 4u, file.Size());
        EXPECT_THROW(file.WriteAt(file.Size() - 2, "abc", 3), ToolError);
        file.Commit();
    }
    std::string contents = ReadFile(Output());
    ASSERT_EQ(9u + (3u << 20) + 4u, contents.size());
    EXPECT_EQ("1234-body", contents.substr(0, 9));
    EXPECT_EQ("x-end", contents.substr(contents.size() - 5));
    EXPECT_FALSE(fs::exists(Partial()));
}

TEST_F(OutputFileTest, AnOutputNotCommittedLeavesTheOldFileAndNoPart)
{
    WriteFile(Output(), "old");
    {
        OutputFile file(Output());
        file.Append("new", 3);
    }
    EXPECT_EQ("old", ReadFile(Output()));
    EXPECT_FALSE(fs::exists(Partial()));

    // WriteWholeFile over a folder that cannot take it names the .part and leaves nothing.
    fs::path missing = work / "no" / "such" / "file.txt";
    try {
        WriteWholeFile(missing, { 'a' });
        ADD_FAILURE() << "written into a missing folder";
    } catch (const ToolError& error) {
        EXPECT_NE(std::string::npos, error.message.find("file.txt.part: cannot create")) << error.message;
    }
}

// A .part that is already there is refused and left as it is: a planted file would
// otherwise be written, and the remains of a killed run may be someone's evidence.
TEST_F(OutputFileTest, AnExistingPartIsRefusedAndLeftAlone)
{
    WriteFile(Partial(), "someone else's");
    std::string message = RefusalMessage();
    EXPECT_NE(std::string::npos, message.find("out.bin.part: already exists")) << message;
    EXPECT_NE(std::string::npos, message.find("remove it and run again")) << message;
    EXPECT_EQ("someone else's", ReadFile(Partial()));
    EXPECT_FALSE(fs::exists(Output()));
}

#ifndef _WIN32
// Links planted in a shared output folder: one under the .part name is never followed
// (whether its target exists or not), and one under the output name is replaced by the
// output, not written through.
TEST_F(OutputFileTest, LinksInTheOutputFolderAreNeverFollowed)
{
    fs::path victim = work / "victim.txt";
    WriteFile(victim, "precious");
    fs::create_symlink(victim, Partial());
    EXPECT_NE(std::string::npos, RefusalMessage().find("already exists"));
    EXPECT_EQ("precious", ReadFile(victim));

    fs::remove(Partial());
    fs::path nowhere = work / "created-through-a-link.txt";
    fs::create_symlink(nowhere, Partial());
    EXPECT_NE(std::string::npos, RefusalMessage().find("already exists"));
    EXPECT_FALSE(fs::exists(nowhere));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(Partial())));

    fs::remove(Partial());
    fs::create_symlink(victim, Output());
    WriteWholeFile(Output(), { 'n', 'e', 'w' });
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(Output())));
    EXPECT_EQ("new", ReadFile(Output()));
    EXPECT_EQ("precious", ReadFile(victim));
}
#endif

fs::path ProbePath()
{
#ifdef _WIN32
    return KmarcPath().parent_path() / "output_file_probe.exe";
#else
    return KmarcPath().parent_path() / "output_file_probe";
#endif
}

#ifndef _WIN32
// The probe, started with its stdin and stdout on pipes.
class Probe {
public:
    explicit Probe(const fs::path& output)
    {
        int in[2];
        int out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string program = ProbePath().string();
        std::string argument = output.string();
        char* argv[] = { &program[0], &argument[0], nullptr };
        if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
    }
    ~Probe()
    {
        close(m_in);
        close(m_out);
        if (m_pid > 0)
            Wait();
    }

    // Everything the probe writes up to its first line break.
    std::string FirstLine()
    {
        std::string line;
        char c;
        while (read(m_out, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    void Signal(int signal) { kill(m_pid, signal); }
    int Wait()
    {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }
    bool Started() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
};

TEST_F(OutputFileTest, AnInterruptRemovesThePart)
{
    for (int signal : { SIGINT, SIGTERM, SIGHUP }) {
        WriteFile(Output(), "old");
        Probe probe(Output());
        ASSERT_TRUE(probe.Started());
        ASSERT_EQ("ready", probe.FirstLine());
        EXPECT_TRUE(fs::exists(Partial()));
        probe.Signal(signal);
        int status = probe.Wait();
        // The run still ends by the signal, as a shell or build tool expects.
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << strsignal(signal) << " " << status;
        EXPECT_FALSE(fs::exists(Partial())) << strsignal(signal);
        EXPECT_EQ("old", ReadFile(Output())) << strsignal(signal);
    }
}
#else
// Ctrl-C on the console the probe runs in: this test attaches to that console and
// sends the event to every process on it, as a keyboard would.
TEST_F(OutputFileTest, AnInterruptRemovesThePart)
{
    WriteFile(Output(), "old");
    SECURITY_ATTRIBUTES inherit = { sizeof inherit, nullptr, TRUE };
    HANDLE outRead = nullptr;
    HANDLE outWrite = nullptr;
    HANDLE inRead = nullptr;
    HANDLE inWrite = nullptr;
    ASSERT_TRUE(CreatePipe(&outRead, &outWrite, &inherit, 0) && CreatePipe(&inRead, &inWrite, &inherit, 0));
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    std::wstring command = L"\"" + ProbePath().wstring() + L"\" \"" + Output().wstring() + L"\"";
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                               &startup, &process));
    CloseHandle(outWrite);
    CloseHandle(inRead);
    std::string line;
    char c;
    DWORD got = 0;
    while (ReadFile(outRead, &c, 1, &got, nullptr) && got == 1 && c != '\n')
        line += c;
    EXPECT_EQ("ready", line.substr(0, 5));
    EXPECT_TRUE(fs::exists(Partial()));

    FreeConsole();
    EXPECT_TRUE(AttachConsole(process.dwProcessId)) << GetLastError();
    SetConsoleCtrlHandler(nullptr, TRUE);  // this test ignores the event it sends
    EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
    bool ended = WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
    FreeConsole();
    SetConsoleCtrlHandler(nullptr, FALSE);
    if (!ended)
        TerminateProcess(process.hProcess, 1);
    EXPECT_TRUE(ended);
    CloseHandle(inWrite);
    CloseHandle(outRead);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_FALSE(fs::exists(Partial()));
    EXPECT_EQ("old", ReadFile(Output()));
}
#endif

} // namespace
