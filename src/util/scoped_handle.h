// Owners for the platform's handles: each closes its handle once, on every
// path out of the scope that opened it. Members of one scope close in the
// reverse order of their declaration, so a service handle declared after its
// manager handle is closed before it.
#pragma once

#include <windows.h>

template <typename Traits>
class ScopedHandle {
public:
    using Handle = typename Traits::Handle;

    ScopedHandle() : m_h(Traits::Invalid()) {}
    explicit ScopedHandle(Handle h) : m_h(h) {}
    ~ScopedHandle() { reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    Handle get() const { return m_h; }
    explicit operator bool() const { return m_h != Traits::Invalid(); }

    // Gives the handle up to the caller, who closes it.
    Handle release()
    {
        const Handle h = m_h;
        m_h = Traits::Invalid();
        return h;
    }

    void reset(Handle h = Traits::Invalid())
    {
        if (m_h != Traits::Invalid()) Traits::Close(m_h);
        m_h = h;
    }

private:
    Handle m_h;
};

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { CloseHandle(h); }
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { CloseHandle(h); }
};

struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { CloseServiceHandle(h); }
};

struct LocalMemTraits {
    using Handle = HLOCAL;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { LocalFree(h); }
};

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { RegCloseKey(h); }
};

using ScopedFile = ScopedHandle<FileHandleTraits>;
using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedServiceHandle = ScopedHandle<ServiceHandleTraits>;
using ScopedLocalMem = ScopedHandle<LocalMemTraits>;
using ScopedRegKey = ScopedHandle<RegKeyTraits>;
