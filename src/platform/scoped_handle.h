// One move-only owner for every kind of OS handle; the traits say what "invalid" is and how
// to release it. Used by the Win32 layer (HANDLE, HICON, HMENU, SOCKET, find handles) and
// by the logic for the opaque handles the platform gives out.
#pragma once

#include <utility>

namespace nb {

template <class Traits>
class ScopedHandle {
public:
    using Handle = typename Traits::Handle;

    ScopedHandle() noexcept : m_handle(Traits::Invalid()) {}
    explicit ScopedHandle(Handle h) noexcept : m_handle(h) {}
    ~ScopedHandle() { Close(); }

    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    ScopedHandle(ScopedHandle&& other) noexcept : m_handle(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    explicit operator bool() const noexcept { return Traits::IsValid(m_handle); }
    Handle Get() const noexcept { return m_handle; }

    // Gives up ownership without closing.
    Handle Release() noexcept {
        Handle h = m_handle;
        m_handle = Traits::Invalid();
        return h;
    }

    void Reset(Handle h = Traits::Invalid()) noexcept {
        if (h == m_handle) return;
        Close();
        m_handle = h;
    }

private:
    void Close() noexcept {
        if (Traits::IsValid(m_handle)) Traits::Close(m_handle);
        m_handle = Traits::Invalid();
    }

    Handle m_handle;
};

// The traits of an opaque handle of the door (handles.h): 0 is none, Give hands it back.
template <class H, void (*Give)(H)>
struct OpaqueTraits {
    using Handle = H;
    static Handle Invalid() { return 0; }
    static bool IsValid(Handle h) { return h != 0; }
    static void Close(Handle h) { Give(h); }
};

}  // namespace nb
