// The handler the C++ runtime calls when an exception finds no catch, or a destructor
// throws while another exception unwinds the stack.
//
// The runtime's default handler names the exception's type, and for that it links a
// whole C++ name demangler and a printf engine into the program: a third of the
// launcher's code, for a line that a GUI program without a console never shows. This
// one writes a short line where there is an error handle and ends the process as the
// default handler does after its line, through abort().
//
// It takes the place of the default by defining the function the runtime installs by
// default; the runtime's own definition then stays out of the link, and with it the
// demangler. So this file must be linked as an object of the executable, never from a
// static library: the linker looks for the function only once the runtime's objects
// ask for it, after our libraries have been searched.
#include <cstdlib>
#include <exception>
#include <windows.h>

namespace {

const char kTerminateLine[] = "ZIZeduz: an error that nothing handled ended the program\n";

} // namespace

// Declared by <exception>: the runtime's default handler, which std::terminate calls
// unless the program has set another one.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error != nullptr && error != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(error, kTerminateLine, sizeof kTerminateLine - 1, &written, nullptr);
    }
    std::abort();
}
} // namespace __gnu_cxx
