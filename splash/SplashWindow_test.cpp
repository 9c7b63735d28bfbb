#include "splash/Splash.h"

#include "launcher/LaunchState.h"
#include "launcher/Messages.h"
#include "splash/SplashIds.h"
#include "splash/testdata/MessageBoxAnswer.h"
#include "splash/testdata/SplashTestSupport.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace {

// Enough steps of the pump for every pending message; a loop that needs more has lost
// its message.
const int kMaxPumpSteps = 100000;
const int kMaxScreenReads = 1000;

const int kPictureWidth = 480;
const int kPictureHeight = 350;
const int kTemplateWidthDlu = 323;
const int kTemplateHeightDlu = 213;

std::string ProgramFolder()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

// A copy of this program that keeps only some of its resources, loaded as a data
// file so that the splash can read its resources from it.
class TrimmedModule
{
public:
    struct Kept
    {
        WORD type;
        WORD id;
        WORD language;
    };

    explicit TrimmedModule(std::initializer_list<Kept> kept)
    {
        char folder[MAX_PATH] = "";
        char self[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, folder);
        GetTempFileNameA(folder, "spl", 0, path_);
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        if (!CopyFileA(self, path_, FALSE))
            return;
        HANDLE update = BeginUpdateResourceA(path_, TRUE);
        if (!update)
            return;
        for (const Kept& k : kept) {
            HRSRC found = FindResourceExA(nullptr, MAKEINTRESOURCEA(k.type), MAKEINTRESOURCEA(k.id), k.language);
            void* data = found ? LockResource(LoadResource(nullptr, found)) : nullptr;
            if (data)
                UpdateResourceA(update, MAKEINTRESOURCEA(k.type), MAKEINTRESOURCEA(k.id), k.language, data,
                                SizeofResource(nullptr, found));
        }
        if (EndUpdateResourceA(update, FALSE))
            module_ = LoadLibraryExA(path_, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    ~TrimmedModule()
    {
        if (module_)
            FreeLibrary(module_);
        DeleteFileA(path_);
    }
    TrimmedModule(const TrimmedModule&) = delete;
    TrimmedModule& operator=(const TrimmedModule&) = delete;

    HMODULE Module() const { return module_; }

private:
    char path_[MAX_PATH] = "";
    HMODULE module_ = nullptr;
};

const WORD kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

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
        for (int i = 0; i < kMaxPumpSteps && PeekMessageA(&message_, nullptr, 0, 0, PM_NOREMOVE); ++i)
            PumpOneMessage();
        if (g_hSplashPalette)
            DeleteObject(g_hSplashPalette);
        g_hSplashPalette = nullptr;
        g_pSplashDib = nullptr;
        g_hInstance = GetModuleHandleA(nullptr);
    }

    // Runs the launcher's first loop; false when the pump ran out of steps first.
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
    }

    HWND window_ = nullptr;
    MSG message_;
};

TEST_F(SplashWindowTest, IsCentredSizedToThePictureWithAOnePixelFrame)
{
    window_ = CreateSplashWindow();
    ASSERT_NE(nullptr, window_);
    RECT outer;
    RECT client;
    GetWindowRect(window_, &outer);
    GetClientRect(window_, &client);
    EXPECT_EQ(kPictureWidth, client.right);
    EXPECT_EQ(kPictureHeight, client.bottom);
    EXPECT_EQ(kPictureWidth + 2, outer.right - outer.left);
    EXPECT_EQ(kPictureHeight + 2, outer.bottom - outer.top);

    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ((screenWidth - 482) / 2, outer.left);
    EXPECT_EQ((screenHeight - 352) / 2, outer.top);
    if (screenWidth == 1024 && screenHeight == 768) {
        EXPECT_EQ(271, outer.left);
        EXPECT_EQ(208, outer.top);
    }

    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_EQ(0, GetWindowLongA(window_, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(LONG(WS_POPUP | WS_BORDER), GetWindowLongA(window_, GWL_STYLE) & (WS_POPUP | WS_BORDER | WS_CAPTION));
    EXPECT_NE(0u, GetClassLongA(window_, GCL_HICON));
}

TEST_F(SplashWindowTest, FirstLoopEndsAtTheFirstPaintAndEveryPaintClearsTheFlag)
{
    window_ = CreateSplashWindow();
    ASSERT_NE(nullptr, window_);
    EXPECT_EQ(1, g_bSplashLoop) << "nothing has been painted yet";
    EXPECT_TRUE(PumpUntilPainted());
    EXPECT_NE(nullptr, g_pSplashDib);
    EXPECT_NE(nullptr, g_hSplashPalette);

    g_bSplashLoop = 1;
    InvalidateRect(window_, nullptr, FALSE);
    EXPECT_TRUE(PumpUntilPainted());
}

TEST_F(SplashWindowTest, TheScreenShowsThePictureInTheClientArea)
{
    CreateAndPaint();
    POINT origin = {0, 0};
    ClientToScreen(window_, &origin);
    // Windows of other programs on a shared display must not cover it.
    SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    const POINT points[] = {{0, 0}, {479, 0}, {0, 349}, {479, 349}, {240, 175}, {74, 65}, {150, 100}, {30, 320}};
    HDC screen = GetDC(nullptr);
    auto screenShowsPicture = [&] {
        for (const POINT& p : points) {
            if (GetPixel(screen, origin.x + p.x, origin.y + p.y) != TrueColourDibPixel(g_pSplashDib, p.x, p.y))
                return false;
        }
        return true;
    };
    // Painted pixels reach the display when the pump finds the queue empty, and the
    // screen is read over another connection to the display, so the first reads may
    // still see the window as it was before.
    for (int i = 0; i < kMaxScreenReads && !screenShowsPicture(); ++i)
        PumpOneMessage();
    for (const POINT& p : points) {
        EXPECT_EQ(TrueColourDibPixel(g_pSplashDib, p.x, p.y), GetPixel(screen, origin.x + p.x, origin.y + p.y))
            << p.x << "," << p.y;
    }
    ReleaseDC(nullptr, screen);
}

TEST_F(SplashWindowTest, FocusLossBeforeTheLaunchChangesNothing)
{
    CreateAndPaint();
    HPALETTE palette = g_hSplashPalette;
    EXPECT_EQ(TRUE, SplashDialogProc(window_, WM_KILLFOCUS, 0, 0));
    EXPECT_EQ(1, g_bLaunchWait);
    EXPECT_EQ(palette, g_hSplashPalette);
    EXPECT_EQ(DWORD(OBJ_PAL), GetObjectType(palette));
    EXPECT_TRUE(IsWindowVisible(window_));
}

TEST_F(SplashWindowTest, FocusLossAfterTheLaunchEndsTheWaitAndDeletesThePalette)
{
    CreateAndPaint();
    HPALETTE palette = g_hSplashPalette;
    BITMAPINFOHEADER* dib = g_pSplashDib;
    g_bLaunched = 1;
    EXPECT_EQ(TRUE, SplashDialogProc(window_, WM_KILLFOCUS, 0, 0));
    EXPECT_EQ(0, g_bLaunchWait);
    EXPECT_EQ(nullptr, g_hSplashPalette);
    EXPECT_EQ(0u, GetObjectType(palette));
    EXPECT_EQ(dib, g_pSplashDib) << "only the cancel command releases the picture";
}

TEST_F(SplashWindowTest, DestroyingTheFocusedSplashAfterTheLaunchEndsTheWait)
{
    CreateAndPaint();
    SetFocus(window_);
    ASSERT_EQ(window_, GetFocus());
    g_bLaunched = 1;
    DestroyWindow(window_);
    EXPECT_EQ(0, g_bLaunchWait);
}

TEST_F(SplashWindowTest, CommandsOtherThanTheBareCancelAreAnsweredAndIgnored)
{
    CreateAndPaint();
    HPALETTE palette = g_hSplashPalette;
    BITMAPINFOHEADER* dib = g_pSplashDib;
    const WPARAM commands[] = {MAKEWPARAM(IDCANCEL, 1), MAKEWPARAM(IDCANCEL, BN_DOUBLECLICKED),
                               MAKEWPARAM(IDCANCEL, 0x8000), IDOK, IDYES, 0};
    for (WPARAM command : commands) {
        EXPECT_EQ(TRUE, SplashDialogProc(window_, WM_COMMAND, command, 0)) << command;
        EXPECT_EQ(1, g_bLaunchWait) << command;
        EXPECT_EQ(palette, g_hSplashPalette) << command;
        EXPECT_EQ(dib, g_pSplashDib) << command;
        EXPECT_TRUE(IsWindowVisible(window_)) << command;
    }
}

TEST_F(SplashWindowTest, CancelEndsTheWaitAndReleasesPictureAndPalette)
{
    CreateAndPaint();
    HPALETTE palette = g_hSplashPalette;
    EXPECT_EQ(TRUE, SplashDialogProc(window_, WM_COMMAND, IDCANCEL, 0));
    EXPECT_EQ(0, g_bLaunchWait);
    EXPECT_EQ(nullptr, g_hSplashPalette);
    EXPECT_EQ(0u, GetObjectType(palette));
    EXPECT_EQ(nullptr, g_pSplashDib);

    // A paint after the cancel draws nothing and still ends the first loop.
    g_bSplashLoop = 1;
    EXPECT_EQ(TRUE, SplashDialogProc(window_, WM_PAINT, 0, 0));
    EXPECT_EQ(0, g_bSplashLoop);
}

TEST_F(SplashWindowTest, OtherMessagesGoToTheDialogManager)
{
    CreateAndPaint();
    const UINT messages[] = {WM_USER, WM_TIMER, WM_SETFOCUS, WM_KEYDOWN, WM_ERASEBKGND, WM_SYSCOMMAND};
    for (UINT message : messages)
        EXPECT_EQ(FALSE, SplashDialogProc(window_, message, 0, 0)) << message;
}

TEST_F(SplashWindowTest, CloseAnsweredNoKeepsEverything)
{
    CreateAndPaint();
    HPALETTE palette = g_hSplashPalette;
    BITMAPINFOHEADER* dib = g_pSplashDib;
    MessageBoxAnswer answer(IDNO);
    // Sent through the dialog manager: its default close handling (a cancel) must not run.
    SendMessageA(window_, WM_CLOSE, 0, 0);

    const AnsweredBox& box = answer.Box();
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(GetMessageText(kMsgSetupTitle), box.caption);
    EXPECT_EQ(GetMessageText(kMsgConfirmCancel), box.text);
    EXPECT_EQ(nullptr, box.owner);

    EXPECT_TRUE(IsWindow(window_));
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_EQ(1, g_bLaunchWait);
    EXPECT_EQ(palette, g_hSplashPalette);
    EXPECT_EQ(DWORD(OBJ_PAL), GetObjectType(palette));
    EXPECT_EQ(dib, g_pSplashDib);
}

TEST(SplashCloseConfirmation, YesEndsTheProcessWithZeroAndNoLetsItGoOn)
{
    const struct
    {
        const char* answer;
        DWORD exitCode;
    } cases[] = {
        {"yes", 0},
        {"no", 3}, // the child's own code for "closing returned"
    };
    for (const auto& c : cases) {
        std::string commandLine = "\"" + ProgramFolder() + "splash_close_child.exe\" " + c.answer;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process))
            << commandLine;
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD exitCode = 0xFFFFFFFF;
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        EXPECT_EQ(c.exitCode, exitCode) << c.answer;
    }
}

TEST_F(SplashWindowTest, WithoutItsPictureTheSplashKeepsTheTemplateSizeAndPaintsNothing)
{
    TrimmedModule trimmed({{WORD(5), WORD(IDD_SPLASH), kGerman}});
    ASSERT_NE(nullptr, trimmed.Module());
    g_hInstance = trimmed.Module();
    CreateAndPaint();
    EXPECT_EQ(nullptr, g_pSplashDib);
    EXPECT_EQ(nullptr, g_hSplashPalette);

    RECT templateSize = {0, 0, kTemplateWidthDlu, kTemplateHeightDlu};
    MapDialogRect(window_, &templateSize);
    RECT client;
    GetClientRect(window_, &client);
    EXPECT_EQ(templateSize.right, client.right);
    EXPECT_EQ(templateSize.bottom, client.bottom);
    EXPECT_GT(client.right, 0);
}

TEST_F(SplashWindowTest, WithoutItsDialogNeitherLoopRuns)
{
    TrimmedModule trimmed({{WORD(2), WORD(IDB_SPLASH), kEnglishUs}});
    ASSERT_NE(nullptr, trimmed.Module());
    g_hInstance = trimmed.Module();
    EXPECT_EQ(nullptr, CreateSplashWindow());
    EXPECT_EQ(0, g_bSplashLoop);
    EXPECT_EQ(0, g_bLaunchWait);
}

} // namespace
