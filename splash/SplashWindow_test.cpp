#include "splash/Splash.h"

#include "launcher/LaunchState.h"
#include "launcher/Messages.h"
#include "splash/SplashIds.h"
#include "splash/SplashTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

// Bounds on the pump: enough for every pending message, so a loop that needs more
// has lost its message.
const int kMaxPumpSteps = 100000;
const int kMaxScreenReads = 1000;
const WORD kDialogType = 5;

class SplashWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_hInstance = GetModuleHandleA(nullptr);
        g_bSplashLoop = 1;
        g_bLaunchWait = 1;
        g_bLaunched = 0;
    }

    void TearDown() override
    {
        g_bLaunched = 0;
        if (window_ && IsWindow(window_))
            DestroyWindow(window_);
        if (g_hSplashPalette)
            DeleteObject(g_hSplashPalette);
        g_hSplashPalette = nullptr;
        g_pSplashDib = nullptr;
    }

    // The launcher's first loop; false when the pump ran out of steps first.
    static bool PumpUntilPainted()
    {
        for (int i = 0; i < kMaxPumpSteps && g_bSplashLoop; ++i)
            PumpOneMessage();
        return g_bSplashLoop == 0;
    }

    void CreateAndPaint()
    {
        window_ = CreateSplashWindow();
        ASSERT_NE(nullptr, window_);
        ASSERT_TRUE(PumpUntilPainted());
        palette_ = g_hSplashPalette;
        dib_ = g_pSplashDib;
    }

    // Nothing the launcher or the user could notice has changed since CreateAndPaint.
    void ExpectUnchanged(const char* after)
    {
        EXPECT_EQ(1, g_bLaunchWait) << after;
        EXPECT_EQ(palette_, g_hSplashPalette) << after;
        EXPECT_EQ(DWORD(OBJ_PAL), GetObjectType(palette_)) << after;
        EXPECT_EQ(dib_, g_pSplashDib) << after;
        EXPECT_TRUE(IsWindowVisible(window_)) << after;
    }

    HWND window_ = nullptr;
    HPALETTE palette_ = nullptr;
    BITMAPINFOHEADER* dib_ = nullptr;
};

TEST_F(SplashWindowTest, IsCentredAndSizedToThePictureWithAOnePixelFrame)
{
    window_ = CreateSplashWindow();
    ASSERT_NE(nullptr, window_);
    EXPECT_EQ(1, g_bSplashLoop) << "nothing is painted before the first loop";
    RECT outer;
    RECT client;
    GetWindowRect(window_, &outer);
    GetClientRect(window_, &client);
    EXPECT_EQ(480, client.right);
    EXPECT_EQ(350, client.bottom);
    EXPECT_EQ(482, outer.right - outer.left);
    EXPECT_EQ(352, outer.bottom - outer.top);
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ((screenWidth - 482) / 2, outer.left); // 271 on a 1024 by 768 screen
    EXPECT_EQ((screenHeight - 352) / 2, outer.top); // 208
    EXPECT_EQ(0, GetWindowLongA(window_, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_NE(0u, GetClassLongA(window_, GCL_HICON));
}

TEST_F(SplashWindowTest, EveryPaintEndsTheFirstLoopAndTheScreenShowsThePicture)
{
    CreateAndPaint();
    g_bSplashLoop = 1;
    InvalidateRect(window_, nullptr, FALSE);
    EXPECT_TRUE(PumpUntilPainted());

    // Windows of other programs on a shared display must not cover it.
    SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    POINT origin = {0, 0};
    ClientToScreen(window_, &origin);
    const POINT points[] = {{0, 0}, {479, 0}, {0, 349}, {479, 349}, {240, 175}, {74, 65}, {150, 100}, {30, 320}};
    HDC screen = GetDC(nullptr);
    auto mismatches = [&] {
        int count = 0;
        for (const POINT& p : points)
            count += GetPixel(screen, origin.x + p.x, origin.y + p.y) != TrueColourDibPixel(g_pSplashDib, p.x, p.y);
        return count;
    };
    // Painted pixels reach the display when the pump finds the queue empty, and the
    // screen is read over another connection, so the first reads may come too early.
    for (int i = 0; i < kMaxScreenReads && mismatches() != 0; ++i)
        PumpOneMessage();
    EXPECT_EQ(0, mismatches());
    ReleaseDC(nullptr, screen);
}

TEST_F(SplashWindowTest, FocusLossEndsTheWaitOnlyAfterTheLaunch)
{
    CreateAndPaint();
    EXPECT_EQ(TRUE, SplashDialogProc(window_, WM_KILLFOCUS, 0, 0));
    ExpectUnchanged("focus lost before the launch");

    // As after the launch: the focused splash is destroyed and so loses the focus.
    SetFocus(window_);
    ASSERT_EQ(window_, GetFocus());
    g_bLaunched = 1;
    DestroyWindow(window_);
    EXPECT_EQ(0, g_bLaunchWait);
    EXPECT_EQ(nullptr, g_hSplashPalette);
    EXPECT_EQ(0u, GetObjectType(palette_));
    EXPECT_EQ(dib_, g_pSplashDib) << "only the cancel command releases the picture";
}

TEST_F(SplashWindowTest, OnlyTheBareCancelCommandActs)
{
    CreateAndPaint();
    for (WPARAM command : {MAKEWPARAM(IDCANCEL, 1), MAKEWPARAM(IDCANCEL, 0x8000), WPARAM(IDOK), WPARAM(0)}) {
        EXPECT_EQ(TRUE, SplashDialogProc(window_, WM_COMMAND, command, 0)) << command;
        ExpectUnchanged("a command other than IDCANCEL");
    }
    for (UINT message : {UINT(WM_USER), UINT(WM_TIMER), UINT(WM_KEYDOWN), UINT(WM_SYSCOMMAND)})
        EXPECT_EQ(FALSE, SplashDialogProc(window_, message, 0, 0)) << message;

    EXPECT_EQ(TRUE, SplashDialogProc(window_, WM_COMMAND, IDCANCEL, 0));
    EXPECT_EQ(0, g_bLaunchWait);
    EXPECT_EQ(nullptr, g_hSplashPalette);
    EXPECT_EQ(0u, GetObjectType(palette_));
    EXPECT_EQ(nullptr, g_pSplashDib);
    // A paint after the cancel draws nothing and still ends the first loop.
    g_bSplashLoop = 1;
    EXPECT_EQ(TRUE, SplashDialogProc(window_, WM_PAINT, 0, 0));
    EXPECT_EQ(0, g_bSplashLoop);
}

TEST_F(SplashWindowTest, CloseAnsweredNoKeepsEverything)
{
    CreateAndPaint();
    HHOOK hook = AnswerNextMessageBox(IDNO);
    // Through the dialog manager, whose own close handling (a cancel) must not run.
    SendMessageA(window_, WM_CLOSE, 0, 0);
    UnhookWindowsHookEx(hook);
    ASSERT_TRUE(g_answeredBox.seen);
    EXPECT_EQ(GetMessageText(kMsgSetupTitle), g_answeredBox.caption);
    EXPECT_EQ(GetMessageText(kMsgConfirmCancel), g_answeredBox.text);
    ExpectUnchanged("No to the close confirmation");
}

TEST(SplashCloseConfirmation, YesEndsTheProcessWithZero)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, std::string(path).find_last_of('\\') + 1);
    for (const auto& c : {std::make_pair("yes", DWORD(0)), std::make_pair("no", DWORD(3))}) {
        std::string commandLine = "\"" + folder + "splash_close_child.exe\" " + c.first;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process));
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD exitCode = 0xFFFFFFFF;
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        EXPECT_EQ(c.second, exitCode) << c.first;
    }
}

TEST_F(SplashWindowTest, WithoutItsPictureTheSplashKeepsTheTemplateSizeAndPaintsNothing)
{
    ResourceModule module({{kDialogType, IDD_SPLASH, kGerman, {}}});
    ASSERT_NE(nullptr, module.Module());
    g_hInstance = module.Module();
    CreateAndPaint();
    EXPECT_EQ(nullptr, g_pSplashDib);
    EXPECT_EQ(nullptr, g_hSplashPalette);
    RECT templateSize = {0, 0, 323, 213};
    MapDialogRect(window_, &templateSize);
    RECT client;
    GetClientRect(window_, &client);
    EXPECT_EQ(templateSize.right, client.right);
    EXPECT_EQ(templateSize.bottom, client.bottom);
}

TEST_F(SplashWindowTest, WithoutItsDialogNeitherLoopRuns)
{
    ResourceModule module({});
    ASSERT_NE(nullptr, module.Module());
    g_hInstance = module.Module();
    EXPECT_EQ(nullptr, CreateSplashWindow());
    EXPECT_EQ(0, g_bSplashLoop);
    EXPECT_EQ(0, g_bLaunchWait);
}

} // namespace
