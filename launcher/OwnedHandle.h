// A kernel handle with one owner.
#ifndef LAUNCHER_OWNEDHANDLE_H
#define LAUNCHER_OWNEDHANDLE_H

#include <windows.h>

// Closes the handle when it goes, unless Close() did so already. Both null and
// INVALID_HANDLE_VALUE mean "no handle".
class OwnedHandle {
public:
    OwnedHandle() : handle(nullptr) {}
    explicit OwnedHandle(HANDLE handle) : handle(handle) {}
    ~OwnedHandle() { Close(); }
    OwnedHandle(OwnedHandle&& other) noexcept : handle(other.handle) { other.handle = nullptr; }
    OwnedHandle& operator=(OwnedHandle&& other) noexcept
    {
        if (this != &other) {
            Close();
            handle = other.handle;
            other.handle = nullptr;
        }
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    HANDLE Get() const { return handle; }
    bool IsValid() const { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

    // Closes the handle now; false when the system reports that closing failed. The
    // handle is given up either way.
    bool Close()
    {
        if (!IsValid()) {
            handle = nullptr;
            return true;
        }
        const BOOL closed = CloseHandle(handle);
        handle = nullptr;
        return closed != FALSE;
    }

private:
    HANDLE handle;
};

#endif // LAUNCHER_OWNEDHANDLE_H
