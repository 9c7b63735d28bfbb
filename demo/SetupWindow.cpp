#include "demo/SetupWindow.h"

const char kSetupWindowClass[] = "AfxFrameOrView42";
const char kSetupWindowTitle[] = "Kalmora Setup";

namespace {

const int kWindowWidth = 480;
const int kWindowHeight = 180;
const int kTextMargin = 24;

} // namespace

SetupWindow::SetupWindow(HINSTANCE instance, bool show)
{
    if (!show)
        return;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kSetupWindowClass;
    RegisterClassA(&windowClass);

    m_window = CreateWindowExA(0, kSetupWindowClass, kSetupWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                               CW_USEDEFAULT, kWindowWidth, kWindowHeight, nullptr, nullptr, instance, this);
    if (!m_window)
        return;
    ShowWindow(m_window, SW_SHOW);
    // Taking the foreground is what tells the launcher that its setup program is up.
    SetForegroundWindow(m_window);
    UpdateWindow(m_window);
    DispatchPending();
}

SetupWindow::~SetupWindow()
{
    if (m_window)
        DestroyWindow(m_window);
}

void SetupWindow::SetStatus(const std::string& text)
{
    m_status = text;
    if (!m_window)
        return;
    InvalidateRect(m_window, nullptr, TRUE);
    UpdateWindow(m_window);
    DispatchPending();
}

void SetupWindow::Hold(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD passed = GetTickCount() - start;
        if (passed >= milliseconds)
            return;
        if (!m_window) {
            // A window closed early ends the hold; only a run without a display waits.
            if (!m_closed)
                Sleep(milliseconds - passed);
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - passed, QS_ALLINPUT);
        DispatchPending();
        if (!m_window)
            return;
    }
}

void SetupWindow::DispatchPending()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

LRESULT CALLBACK SetupWindow::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<SetupWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        InflateRect(&area, -kTextMargin, -kTextMargin);
        if (self)
            DrawTextA(dc, self->m_status.c_str(), -1, &area, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        // Closed by the user or by a test: the hold ends, and nothing destroys it twice.
        if (self) {
            self->m_window = nullptr;
            self->m_closed = true;
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
