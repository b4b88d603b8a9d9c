#include "crashreport/settings/Settings.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr TBuiltInProperty BuiltInBool(const char* name, bool value) {
    return {name, TPropKind::Bool, value ? 1 : 0, ""};
}
constexpr TBuiltInProperty BuiltInInt(const char* name, int32_t value) {
    return {name, TPropKind::Int, value, ""};
}
constexpr TBuiltInProperty BuiltInDword(const char* name, uint32_t value) {
    return {name, TPropKind::Int, static_cast<int32_t>(value), ""};
}
constexpr TBuiltInProperty BuiltInText(const char* name, const char* value) {
    return {name, TPropKind::Text, 0, value};
}

#define ZE_SETTINGS_BUILTIN(kind, name, builtIn) BuiltIn##kind(#name, builtIn),
constexpr TBuiltInProperty BuiltInTable[] = {ZE_SETTINGS_ALL(ZE_SETTINGS_BUILTIN)};
#undef ZE_SETTINGS_BUILTIN
static_assert(std::size(BuiltInTable) == 121);

// Room for the program's whole resource and a few changes without growing.
constexpr size_t InitialCapacity = 131;

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::span<const TBuiltInProperty> BuiltInProperties() {
    return BuiltInTable;
}

bool FindBuiltInProperty(std::string_view name, TPropEntry& found) {
    for (const TBuiltInProperty& p : BuiltInTable) {
        if (!SameName(p.Name, name)) continue;
        switch (p.Kind) {
        case TPropKind::Bool:
            found = TPropEntry::MakeBool(p.Name, p.Value != 0);
            break;
        case TPropKind::Int:
            found = TPropEntry::MakeInt(p.Name, p.Value);
            break;
        case TPropKind::Text:
            found = TPropEntry::MakeText(p.Name, p.Text);
            break;
        }
        return true;
    }
    return false;
}

// ---- TPropList

bool TPropList::Find(std::string_view name, TPropEntry& found) const {
    std::lock_guard lock(FLock);
    for (const TPropEntry& e : FItems) {
        if (SameName(e.Name, name)) {
            found = e;
            return true;
        }
    }
    return false;
}

void TPropList::Set(TPropEntry entry) {
    std::lock_guard lock(FLock);
    for (TPropEntry& e : FItems) {
        if (SameName(e.Name, entry.Name)) {
            e = std::move(entry);
            return;
        }
    }
    if (FItems.capacity() == 0) FItems.reserve(InitialCapacity);
    FItems.push_back(std::move(entry));
}

void TPropList::Assign(std::vector<TPropEntry> entries) {
    // Duplicates in a resource: the later value wins, as it would when the stream is read into
    // an object's properties.
    std::vector<TPropEntry> items;
    items.reserve(std::max(entries.size(), InitialCapacity));
    for (TPropEntry& e : entries) {
        bool replaced = false;
        for (TPropEntry& have : items) {
            if (SameName(have.Name, e.Name)) {
                have = std::move(e);
                replaced = true;
                break;
            }
        }
        if (!replaced) items.push_back(std::move(e));
    }
    std::lock_guard lock(FLock);
    FItems.swap(items);
}

size_t TPropList::Count() const {
    std::lock_guard lock(FLock);
    return FItems.size();
}

// ---- IMESettings

bool IMESettings::ReadBool(std::string_view name) {
    TPropEntry e;
    return FindProperty(name, e) && e.BoolValue;
}

int32_t IMESettings::ReadInt(std::string_view name) {
    TPropEntry e;
    return FindProperty(name, e) ? e.IntValue : 0;
}

uint32_t IMESettings::ReadDword(std::string_view name) {
    return static_cast<uint32_t>(ReadInt(name));
}

std::string IMESettings::ReadText(std::string_view name) {
    TPropEntry e;
    if (!FindProperty(name, e) || e.TextValue.empty()) return {};
    return ExpandVariables(e.TextValue);
}

void IMESettings::WriteBool(std::string_view name, bool value) {
    WriteProperty(TPropEntry::MakeBool(std::string(name), value));
}

void IMESettings::WriteInt(std::string_view name, int32_t value) {
    WriteProperty(TPropEntry::MakeInt(std::string(name), value));
}

void IMESettings::WriteDword(std::string_view name, uint32_t value) {
    WriteProperty(TPropEntry::MakeInt(std::string(name), static_cast<int32_t>(value)));
}

void IMESettings::WriteText(std::string_view name, std::string_view value) {
    WriteProperty(TPropEntry::MakeText(std::string(name), std::string(value)));
}

// ---- TIMESettings

TIMESettings::TIMESettings(TSettingsLoader loader, IInternalErrorSink* errors,
                           TRef<ITextVariableSource> variables)
    : FLoader(std::move(loader)), FErrors(errors), FVariables(std::move(variables)) {
    Reload();
}

void TIMESettings::SetMainSettings(TRef<IMEModuleSettings> main) {
    if (main.Get() == this) main.Reset(); // a self-reference would keep the object alive forever
    std::lock_guard lock(FMainLock);
    FMain = std::move(main);
}

TRef<IMEModuleSettings> TIMESettings::MainSettings() const {
    std::lock_guard lock(FMainLock);
    return FMain;
}

bool TIMESettings::FindOwnProperty(std::string_view name, TPropEntry& found) {
    return FProps.Find(name, found);
}

bool TIMESettings::FindProperty(std::string_view name, TPropEntry& found) {
    if (FProps.Find(name, found)) return true;
    // Only the main settings' own list is asked, never its fallbacks, so no chain can loop.
    if (TRef<IMEModuleSettings> main = MainSettings(); main && main->FindOwnProperty(name, found))
        return true;
    return FindBuiltInProperty(name, found);
}

void TIMESettings::WriteProperty(TPropEntry entry) {
    FProps.Set(std::move(entry));
}

std::string TIMESettings::ExpandVariables(std::string_view text) {
    return ExpandTextVariables(text, FVariables.Get());
}

void TIMESettings::Reload() {
    std::vector<uint8_t> data;
    std::vector<TPropEntry> props;
    bool valid = false;
    if (FLoader && FLoader(data)) valid = ReadSettingsStream(data, props, FErrors).Valid;
    FProps.Assign(std::move(props));
    FValid = valid;
}
