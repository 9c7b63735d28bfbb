// The stand-in's main window: the class and title by which the launcher recognises a
// setup that is already running.
#ifndef DEMO_SETUP_WINDOW_H
#define DEMO_SETUP_WINDOW_H

#include <string>
#include <windows.h>

extern const char kSetupWindowClass[]; // "AfxFrameOrView42"
extern const char kSetupWindowTitle[]; // "Kalmora Setup"

class SetupWindow {
public:
    // Registers the class, creates the window, shows it in the foreground and paints
    // it. Without a display, or when show is false, there is no window, and every
    // member does nothing.
    explicit SetupWindow(HINSTANCE instance, bool show = true);
    // Destroys the window if it is still there.
    ~SetupWindow();
    SetupWindow(const SetupWindow&) = delete;
    SetupWindow& operator=(const SetupWindow&) = delete;

    bool IsShown() const { return m_window != nullptr; }

    // Shows text as the window's status line and repaints at once.
    void SetStatus(const std::string& text);

    // Processes messages until milliseconds have passed or the window has been closed,
    // also before the call (WM_CLOSE ends the hold early). Without a display it just
    // waits the time.
    void Hold(DWORD milliseconds);

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void DispatchPending();

    HWND m_window = nullptr;
    bool m_closed = false;
    std::string m_status;
};

#endif
