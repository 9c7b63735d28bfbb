#include "splash/testdata/MessageBoxAnswer.h"

namespace {

// The control that holds a message box's text.
const int kMessageBoxTextId = 0xFFFF;

int g_answer = 0;
AnsweredBox g_box;

LRESULT CALLBACK AnswerOnActivate(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && !g_box.seen) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char text[1024] = "";
        g_box.seen = true;
        GetWindowTextA(box, text, sizeof text);
        g_box.caption = text;
        text[0] = 0;
        GetDlgItemTextA(box, kMessageBoxTextId, text, sizeof text);
        g_box.text = text;
        g_box.owner = GetWindow(box, GW_OWNER);
        PostMessageA(box, WM_COMMAND, g_answer, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

MessageBoxAnswer::MessageBoxAnswer(int answer)
{
    g_answer = answer;
    g_box = AnsweredBox();
    hook_ = SetWindowsHookExA(WH_CBT, AnswerOnActivate, nullptr, GetCurrentThreadId());
}

MessageBoxAnswer::~MessageBoxAnswer()
{
    if (hook_)
        UnhookWindowsHookEx(hook_);
}

const AnsweredBox& MessageBoxAnswer::Box() const
{
    return g_box;
}
