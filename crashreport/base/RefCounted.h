#pragma once
// Reference counting of the crash reporter's objects. Every interface derives from IRefCounted;
// an object starts with a count of 0, each TRef holding it adds one, and the last Release frees
// it. Because the count lives in the object, a raw interface pointer handed through a callback
// or a thread parameter can always be wrapped into a TRef again.
#include <atomic>
#include <cstddef>
#include <utility>

class IRefCounted {
public:
    virtual long AddRef() noexcept = 0;
    virtual long Release() noexcept = 0;

protected:
    // Objects die only through Release.
    virtual ~IRefCounted() = default;
};

// Implements the count for one interface chain: class TFoo : public TRefCountedImpl<IFoo>.
template <class Intf> class TRefCountedImpl : public Intf {
public:
    TRefCountedImpl() = default;
    TRefCountedImpl(const TRefCountedImpl&) = delete;
    TRefCountedImpl& operator=(const TRefCountedImpl&) = delete;

    long AddRef() noexcept override { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }
    long Release() noexcept override {
        long left = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

protected:
    ~TRefCountedImpl() override = default;

private:
    std::atomic<long> FRefCount{0};
};

template <class T> class TRef {
public:
    TRef() noexcept = default;
    TRef(std::nullptr_t) noexcept {}
    TRef(T* p) noexcept : FPtr(p) {
        if (FPtr) FPtr->AddRef();
    }
    TRef(const TRef& other) noexcept : TRef(other.FPtr) {}
    TRef(TRef&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    template <class U> TRef(const TRef<U>& other) noexcept : TRef(other.Get()) {}
    template <class U> TRef(TRef<U>&& other) noexcept : FPtr(other.Detach()) {}
    ~TRef() {
        if (FPtr) FPtr->Release();
    }

    TRef& operator=(TRef other) noexcept {
        std::swap(FPtr, other.FPtr);
        return *this;
    }

    T* Get() const noexcept { return FPtr; }
    T* operator->() const noexcept { return FPtr; }
    T& operator*() const noexcept { return *FPtr; }
    explicit operator bool() const noexcept { return FPtr != nullptr; }
    void Reset() noexcept { TRef().Swap(*this); }
    void Swap(TRef& other) noexcept { std::swap(FPtr, other.FPtr); }
    // Hands the reference over to the caller, who must Release it.
    T* Detach() noexcept { return std::exchange(FPtr, nullptr); }

    friend bool operator==(const TRef& a, const TRef& b) noexcept { return a.FPtr == b.FPtr; }
    friend bool operator==(const TRef& a, std::nullptr_t) noexcept { return a.FPtr == nullptr; }

private:
    T* FPtr = nullptr;
};

template <class T, class... Args> TRef<T> MakeRef(Args&&... args) {
    return TRef<T>(new T(std::forward<Args>(args)...));
}
