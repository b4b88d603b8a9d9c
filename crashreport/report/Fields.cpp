#include "crashreport/report/Fields.h"

std::string_view TrimField(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

bool SameFieldName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x + 32);
        if (y >= 'A' && y <= 'Z') y = char(y + 32);
        if (x != y) return false;
    }
    return true;
}

TIMEFields::TIMEFields(std::function<void()> onChange, bool accepting)
    : FOnChange(std::move(onChange)), FAccepting(accepting) {}

int TIMEFields::Find(std::string_view name) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (SameFieldName(FItems[i].Name, name)) return int(i);
    return -1;
}

int TIMEFields::IndexOf(std::string_view name) {
    std::lock_guard lock(FLock);
    return Find(name);
}

int TIMEFields::ItemCount() {
    std::lock_guard lock(FLock);
    return int(FItems.size());
}

std::string TIMEFields::ItemName(int index) {
    std::lock_guard lock(FLock);
    return index >= 0 && index < int(FItems.size()) ? FItems[size_t(index)].Name : std::string();
}

std::string TIMEFields::ItemContents(int index) {
    std::lock_guard lock(FLock);
    return index >= 0 && index < int(FItems.size()) ? FItems[size_t(index)].Contents : std::string();
}

std::string TIMEFields::Contents(std::string_view name) {
    std::lock_guard lock(FLock);
    int i = Find(name);
    return i < 0 ? std::string() : FItems[size_t(i)].Contents;
}

bool TIMEFields::Put(int index, std::string_view name, std::string_view contents) {
    name = TrimField(name);
    contents = TrimField(contents);
    if (!FAccepting || name.empty()) return false;
    int at = Find(name);
    if (contents.empty()) {
        if (at < 0) return false;
        FItems.erase(FItems.begin() + at);
        return true;
    }
    if (at >= 0) {
        TItem& item = FItems[size_t(at)];
        if (item.Name == name && item.Contents == contents) return false;
        item.Name = name;
        item.Contents = contents;
        return true;
    }
    if (index < 0 || index > int(FItems.size())) index = int(FItems.size());
    FItems.insert(FItems.begin() + index, TItem{std::string(name), std::string(contents)});
    return true;
}

void TIMEFields::Changed() {
    FGeneration.fetch_add(1, std::memory_order_acq_rel);
    std::function<void()> notify;
    {
        std::lock_guard lock(FLock);
        notify = FOnChange;
    }
    if (notify) notify();
}

void TIMEFields::SetOnChange(std::function<void()> onChange) {
    std::lock_guard lock(FLock);
    FOnChange = std::move(onChange);
}

void TIMEFields::SetContents(std::string_view name, std::string_view contents) {
    bool changed;
    {
        std::lock_guard lock(FLock);
        changed = Put(FInsertIndex > 0 ? FInsertIndex : -1, name, contents);
    }
    if (changed) Changed();
}

void TIMEFields::Add(std::string_view name, std::string_view contents) {
    bool changed;
    {
        std::lock_guard lock(FLock);
        changed = Put(-1, name, contents);
    }
    if (changed) Changed();
}

void TIMEFields::Insert(int index, std::string_view name, std::string_view contents) {
    bool changed;
    {
        std::lock_guard lock(FLock);
        changed = Put(index < 0 ? 0 : index, name, contents);
    }
    if (changed) Changed();
}

void TIMEFields::Delete(int index) {
    {
        std::lock_guard lock(FLock);
        if (!FAccepting || index < 0 || index >= int(FItems.size())) return;
        FItems.erase(FItems.begin() + index);
    }
    Changed();
}

void TIMEFields::Delete(std::string_view name) {
    {
        std::lock_guard lock(FLock);
        int i = Find(name);
        if (!FAccepting || i < 0) return;
        FItems.erase(FItems.begin() + i);
    }
    Changed();
}

TRef<IMEFields> TIMEFields::Clone() {
    auto copy = MakeRef<TIMEFields>();
    std::lock_guard lock(FLock);
    copy->FItems = FItems;
    copy->FInsertIndex = FInsertIndex;
    return copy;
}

void TIMEFields::SetAccepting(bool accepting) {
    std::lock_guard lock(FLock);
    FAccepting = accepting;
}

void TIMEFields::SetInsertIndex(int index) {
    std::lock_guard lock(FLock);
    FInsertIndex = index;
}

int TIMEFields::InsertIndex() {
    std::lock_guard lock(FLock);
    return FInsertIndex;
}
