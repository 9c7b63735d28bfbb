// Helpers of the Win32 splash tests.
#ifndef SPLASH_SPLASH_TEST_SUPPORT_H
#define SPLASH_SPLASH_TEST_SUPPORT_H

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

const WORD kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

struct ModuleResource
{
    WORD type;
    WORD id;
    WORD language;
    std::vector<unsigned char> bytes; // empty: this program's own resource of that name
};

// A copy of this program with no resources but the given ones, loaded as a data file
// (read-only, like an image's resources) and deleted on destruction.
class ResourceModule
{
public:
    explicit ResourceModule(std::initializer_list<ModuleResource> resources)
    {
        char folder[MAX_PATH] = "";
        char self[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, folder);
        GetTempFileNameA(folder, "spl", 0, path_);
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        HANDLE update = CopyFileA(self, path_, FALSE) ? BeginUpdateResourceA(path_, TRUE) : nullptr;
        for (const ModuleResource& r : resources) {
            HRSRC own = FindResourceExA(nullptr, MAKEINTRESOURCEA(r.type), MAKEINTRESOURCEA(r.id), r.language);
            bool copy = r.bytes.empty() && own;
            UpdateResourceA(update, MAKEINTRESOURCEA(r.type), MAKEINTRESOURCEA(r.id), r.language,
                            copy ? LockResource(LoadResource(nullptr, own)) : const_cast<unsigned char*>(r.bytes.data()),
                            copy ? SizeofResource(nullptr, own) : DWORD(r.bytes.size()));
        }
        if (update && EndUpdateResourceA(update, FALSE))
            module_ = LoadLibraryExA(path_, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    ~ResourceModule()
    {
        if (module_)
            FreeLibrary(module_);
        DeleteFileA(path_);
    }
    ResourceModule(const ResourceModule&) = delete;
    ResourceModule& operator=(const ResourceModule&) = delete;

    HMODULE Module() const { return module_; }

private:
    char path_[MAX_PATH] = "";
    HMODULE module_ = nullptr;
};

// Colour of pixel x, y (y counted from the top) of a bottom-up 24-bit bitmap.
inline COLORREF TrueColourDibPixel(const BITMAPINFOHEADER* dib, int x, int y)
{
    DWORD stride = (DWORD(dib->biWidth) * 3 + 3) & ~DWORD(3);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(dib) + dib->biSize
                             + stride * DWORD(dib->biHeight - 1 - y) + 3 * x;
    return RGB(p[2], p[1], p[0]);
}

// The next message box of this thread gets a click on button as soon as it is
// activated (a CBT hook, so no test waits on a clock); what it showed is noted here.
struct AnsweredBox
{
    int button = 0;
    bool seen = false;
    std::string caption;
    std::string text;
};
inline AnsweredBox g_answeredBox;

inline LRESULT CALLBACK AnswerOnActivate(int code, WPARAM wParam, LPARAM lParam)
{
    const int kMessageBoxTextId = 0xFFFF;
    if (code == HCBT_ACTIVATE && !g_answeredBox.seen) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char text[1024] = "";
        g_answeredBox.seen = true;
        GetWindowTextA(box, text, sizeof text);
        g_answeredBox.caption = text;
        GetDlgItemTextA(box, kMessageBoxTextId, text, sizeof text);
        g_answeredBox.text = text;
        PostMessageA(box, WM_COMMAND, g_answeredBox.button, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Returns the hook, for UnhookWindowsHookEx.
inline HHOOK AnswerNextMessageBox(int button)
{
    g_answeredBox = AnsweredBox();
    g_answeredBox.button = button;
    return SetWindowsHookExA(WH_CBT, AnswerOnActivate, nullptr, GetCurrentThreadId());
}

#endif // SPLASH_SPLASH_TEST_SUPPORT_H
