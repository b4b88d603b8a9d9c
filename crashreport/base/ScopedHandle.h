#pragma once
// One owner for each operating-system handle: a traits struct per kind of handle names its type,
// its invalid value and how it is given back (HandlesWin32.h has the Win32 kinds).
#include <utility>

template <class Traits> class TScopedHandle {
public:
    using Handle = typename Traits::Handle;
    TScopedHandle() = default;
    explicit TScopedHandle(Handle h) : FHandle(h) {}
    TScopedHandle(const TScopedHandle&) = delete;
    TScopedHandle& operator=(const TScopedHandle&) = delete;
    TScopedHandle(TScopedHandle&& o) noexcept : FHandle(std::exchange(o.FHandle, Traits::Invalid())) {}
    TScopedHandle& operator=(TScopedHandle&& o) noexcept {
        if (this != &o) Reset(std::exchange(o.FHandle, Traits::Invalid()));
        return *this;
    }
    ~TScopedHandle() { Reset(); }
    void Reset(Handle h = Traits::Invalid()) {
        if (FHandle != Traits::Invalid()) Traits::Close(FHandle);
        FHandle = h;
    }
    Handle Get() const { return FHandle; }
    Handle Release() { return std::exchange(FHandle, Traits::Invalid()); }
    explicit operator bool() const { return FHandle != Traits::Invalid(); }

private:
    Handle FHandle = Traits::Invalid();
};
