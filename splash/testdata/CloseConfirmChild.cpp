// Child process of the splash tests: shows the splash, closes it and answers the
// confirmation with the button named on the command line ("yes" or "no"). The exit
// code tells the parent what happened.
#include "launcher/LaunchState.h"
#include "splash/Splash.h"
#include "splash/testdata/MessageBoxAnswer.h"

#include <cstring>

namespace {

const int kNoSplash = 2;
// Closing returned: the process was not ended.
const int kStillRunning = 3;

} // namespace

int main(int argc, char** argv)
{
    int answer = argc > 1 && std::strcmp(argv[1], "yes") == 0 ? IDYES : IDNO;
    g_hInstance = GetModuleHandleA(nullptr);
    HWND splash = CreateSplashWindow();
    if (!splash)
        return kNoSplash;
    MessageBoxAnswer answerer(answer);
    SendMessageA(splash, WM_CLOSE, 0, 0);
    return kStillRunning;
}
