#pragma once
// One move-only owner for every kind of handle. A traits type names the handle
// type, its invalid value and how to close it. Closing keeps the last error as
// it was, so an error read after a cleanup still describes the failure.
// Never wrap what must not be closed: predefined registry roots, pseudo-handles
// and shared icons from LoadIcon.

#include <windows.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type h) : handle_(h) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    Type get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::invalid(); }

    [[nodiscard]] Type release() { return std::exchange(handle_, Traits::invalid()); }

    void reset(Type h = Traits::invalid())
    {
        Type old = std::exchange(handle_, h);
        if (old != Traits::invalid()) {
            const DWORD lastError = GetLastError();
            Traits::close(old);
            SetLastError(lastError);
        }
    }

    // Frees the current handle and gives its address to an out-parameter.
    Type* put()
    {
        reset();
        return &handle_;
    }

private:
    Type handle_ = Traits::invalid();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { CloseHandle(h); }
};

struct FileHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { CloseHandle(h); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { FindClose(h); }
};

struct ChangeNotificationTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { FindCloseChangeNotification(h); }
};

struct RegKeyTraits {
    using Type = HKEY;
    static Type invalid() { return nullptr; }
    static void close(Type h) { RegCloseKey(h); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { FreeLibrary(h); }
};

struct IconTraits {
    using Type = HICON;
    static Type invalid() { return nullptr; }
    static void close(Type h) { DestroyIcon(h); }
};

struct MenuTraits {
    using Type = HMENU;
    static Type invalid() { return nullptr; }
    static void close(Type h) { DestroyMenu(h); }
};

struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type invalid() { return nullptr; }
    static void close(Type h) { DeleteObject(h); }
};

struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type invalid() { return nullptr; }
    static void close(Type h) { LocalFree(h); }
};

struct SidTraits {
    using Type = PSID;
    static Type invalid() { return nullptr; }
    static void close(Type h) { FreeSid(h); }
};

struct DesktopTraits {
    using Type = HDESK;
    static Type invalid() { return nullptr; }
    static void close(Type h) { CloseDesktop(h); }
};

struct ViewTraits {
    using Type = const void*;
    static Type invalid() { return nullptr; }
    static void close(Type h) { UnmapViewOfFile(h); }
};

struct WindowTraits {
    using Type = HWND;
    static Type invalid() { return nullptr; }
    static void close(Type h) { DestroyWindow(h); }
};

// Process, thread, event, mutex, job and port handles.
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;
using UniqueChangeNotification = UniqueHandle<ChangeNotificationTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueMenu = UniqueHandle<MenuTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
// Memory the system allocated for the caller to give back with LocalFree
// (FormatMessage's buffer, CommandLineToArgvW's list, security descriptors).
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
// A SID made by AllocateAndInitializeSid.
using UniqueSid = UniqueHandle<SidTraits>;
using UniqueDesktop = UniqueHandle<DesktopTraits>;
// A view of a file mapping made by MapViewOfFile.
using UniqueView = UniqueHandle<ViewTraits>;
// Destroys the window on the thread that owns it; use it only there.
using UniqueWindow = UniqueHandle<WindowTraits>;
