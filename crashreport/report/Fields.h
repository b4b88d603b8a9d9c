#pragma once
// IMEFields: an ordered list of unique (name, content) pairs with a lock of its own, used for the
// bug report's header and sections and for form fields.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/base/RefCounted.h"

class IMEFields : public IRefCounted {
public:
    // Callers take the lock around a series of reads so the list cannot change in between.
    virtual void Lock() = 0;
    virtual void Unlock() = 0;

    virtual int ItemCount() = 0;
    virtual std::string ItemName(int index) = 0;     // empty when out of range
    virtual std::string ItemContents(int index) = 0; // empty when out of range
    virtual std::string Contents(std::string_view name) = 0;
    virtual int IndexOf(std::string_view name) = 0; // -1 when missing
    // Trims blanks and control characters at both ends; an empty result deletes the field; an
    // unknown name goes to the insertion index. A known name is rewritten only if it changed.
    virtual void SetContents(std::string_view name, std::string_view contents) = 0;
    virtual void Add(std::string_view name, std::string_view contents) = 0;
    virtual void Insert(int index, std::string_view name, std::string_view contents) = 0;
    virtual void Delete(int index) = 0;
    virtual void Delete(std::string_view name) = 0;
    virtual TRef<IMEFields> Clone() = 0;
};

// Holds an IMEFields lock for a scope.
class TFieldsLock {
public:
    explicit TFieldsLock(IMEFields& fields) : FFields(fields) { FFields.Lock(); }
    ~TFieldsLock() { FFields.Unlock(); }
    TFieldsLock(const TFieldsLock&) = delete;
    TFieldsLock& operator=(const TFieldsLock&) = delete;

private:
    IMEFields& FFields;
};

class TIMEFields : public TRefCountedImpl<IMEFields> {
public:
    // onChange runs after every change, outside the list's lock; it may be empty.
    explicit TIMEFields(std::function<void()> onChange = {}, bool accepting = true);

    void Lock() override { FLock.lock(); }
    void Unlock() override { FLock.unlock(); }
    int ItemCount() override;
    std::string ItemName(int index) override;
    std::string ItemContents(int index) override;
    std::string Contents(std::string_view name) override;
    void SetContents(std::string_view name, std::string_view contents) override;
    void Add(std::string_view name, std::string_view contents) override;
    void Insert(int index, std::string_view name, std::string_view contents) override;
    void Delete(int index) override;
    void Delete(std::string_view name) override;
    TRef<IMEFields> Clone() override;

    // Until the owner switches the list to accepting, every write is ignored: nothing can land in
    // a header that has not been composed yet.
    void SetAccepting(bool accepting);
    // The owner going away stops the notifications.
    void SetOnChange(std::function<void()> onChange);
    // Where SetContents puts an unknown name; 0 or below appends.
    void SetInsertIndex(int index);
    int InsertIndex();
    int IndexOf(std::string_view name) override;
    // Counts every change; a rendering made while it stood still is still valid.
    uint64_t Generation() const { return FGeneration.load(std::memory_order_acquire); }

private:
    struct TItem {
        std::string Name, Contents;
    };
    int Find(std::string_view name) const;
    // At index (past the end or negative: appended); returns whether the list changed.
    bool Put(int index, std::string_view name, std::string_view contents);
    void Changed();

    std::recursive_mutex FLock;
    std::vector<TItem> FItems;
    std::function<void()> FOnChange;
    bool FAccepting;
    int FInsertIndex = 0;
    std::atomic<uint64_t> FGeneration{0};
};

// Blanks and control characters (codes up to 32) removed at both ends.
std::string_view TrimField(std::string_view s);
bool SameFieldName(std::string_view a, std::string_view b);
