#pragma once
// The crash reporter's settings: named properties with typed access and fallbacks.
//
// Lookup on a module's settings: the module's own list, then (for a module whose settings are not
// the main settings) the main settings' list, then the built-in table. An exception's settings
// (TSettingsOverlay) put the exception's own changes in front of that.
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/base/RefCounted.h"
#include "crashreport/settings/SettingsProperties.h"
#include "crashreport/settings/SettingsStream.h"
#include "crashreport/settings/TextVariables.h"

// Argument and result types of the typed accessors, by kind.
using TSettingsType_Bool = bool;
using TSettingsType_Int = int32_t;
using TSettingsType_Dword = uint32_t;
using TSettingsType_Text = std::string;
using TSettingsArg_Bool = bool;
using TSettingsArg_Int = int32_t;
using TSettingsArg_Dword = uint32_t;
using TSettingsArg_Text = std::string_view;

#define ZE_SETTINGS_ACCESSORS(kind, name, builtIn)                                                           \
    TSettingsType_##kind Get##name() {                                                                       \
        return Read##kind(#name);                                                                            \
    }                                                                                                        \
    void Set##name(TSettingsArg_##kind value) {                                                              \
        Write##kind(#name, value);                                                                           \
    }

struct TBuiltInProperty {
    const char* Name;
    TPropKind Kind;
    int32_t Value; // booleans 0 or 1
    const char* Text;
};

// The 121 built-in properties in table order.
std::span<const TBuiltInProperty> BuiltInProperties();
bool FindBuiltInProperty(std::string_view name, TPropEntry& found);

// Property names compare in any case, as the stream's property names do.
bool SameName(std::string_view a, std::string_view b);

// A list of properties; a later entry of the same name replaces the earlier one.
class TPropList {
public:
    bool Find(std::string_view name, TPropEntry& found) const;
    void Set(TPropEntry entry);
    void Assign(std::vector<TPropEntry> entries);
    size_t Count() const;

private:
    // Reads and writes may come from the worker, the report thread and the dialog at once.
    mutable std::mutex FLock;
    std::vector<TPropEntry> FItems;
};

class IMESettings : public IRefCounted {
public:
    // The property as this object's lookup finds it; false when it is missing everywhere.
    virtual bool FindProperty(std::string_view name, TPropEntry& found) = 0;
    // Stores a change in this object's own list.
    virtual void WriteProperty(TPropEntry entry) = 0;
    // Expands the text variables for the module these settings belong to, all but the exception
    // message and the report.
    virtual std::string ExpandVariables(std::string_view text) = 0;

    // A missing property reads false, 0 or empty.
    bool ReadBool(std::string_view name);
    int32_t ReadInt(std::string_view name);
    uint32_t ReadDword(std::string_view name);
    std::string ReadText(std::string_view name);
    void WriteBool(std::string_view name, bool value);
    void WriteInt(std::string_view name, int32_t value);
    void WriteDword(std::string_view name, uint32_t value);
    void WriteText(std::string_view name, std::string_view value);

    ZE_SETTINGS_GENERAL(ZE_SETTINGS_ACCESSORS)
    ZE_SETTINGS_TEXTS(ZE_SETTINGS_ACCESSORS)
};

class IMEModuleSettings : public IMESettings {
public:
    // Reads the module's settings resource again; changes written since are dropped.
    virtual void Reload() = 0;
    // The resource was there and began with the right signature.
    virtual bool IsValid() = 0;
    // The module's own list only, the part the main settings lend to other modules.
    virtual bool FindOwnProperty(std::string_view name, TPropEntry& found) = 0;
    // The main settings this module falls back to; none (or itself) makes these the main settings.
    virtual void SetMainSettings(TRef<IMEModuleSettings> main) = 0;

    ZE_SETTINGS_ACTIVATION(ZE_SETTINGS_ACCESSORS)
    ZE_SETTINGS_FILTERS(ZE_SETTINGS_ACCESSORS)
};

// Fills data with the module's settings resource; false when the module has none.
using TSettingsLoader = std::function<bool(std::vector<uint8_t>& data)>;

// The settings of one module.
class TIMESettings : public TRefCountedImpl<IMEModuleSettings> {
public:
    // errors receives the internal-error message of a broken resource (may be null); variables
    // answers the text variables for this module (may be null: they then stay unexpanded).
    TIMESettings(TSettingsLoader loader, IInternalErrorSink* errors, TRef<ITextVariableSource> variables);

    void SetMainSettings(TRef<IMEModuleSettings> main) override;
    TRef<IMEModuleSettings> MainSettings() const;

    bool FindProperty(std::string_view name, TPropEntry& found) override;
    void WriteProperty(TPropEntry entry) override;
    std::string ExpandVariables(std::string_view text) override;
    void Reload() override;
    bool IsValid() override { return FValid; }
    bool FindOwnProperty(std::string_view name, TPropEntry& found) override;

private:
    TSettingsLoader FLoader;
    IInternalErrorSink* FErrors;
    TRef<ITextVariableSource> FVariables;
    mutable std::mutex FMainLock;
    TRef<IMEModuleSettings> FMain;
    TPropList FProps;
    bool FValid = false;
};

// Settings whose own changes come first, over the settings they are based on: the exception
// object is one, so a change made for one exception stays with it.
template <class Intf = IMESettings> class TSettingsOverlay : public TRefCountedImpl<Intf> {
public:
    explicit TSettingsOverlay(TRef<IMESettings> base) : FBase(std::move(base)) {}

    const TRef<IMESettings>& BaseSettings() const { return FBase; }

    bool FindProperty(std::string_view name, TPropEntry& found) override {
        if (FOwn.Find(name, found)) return true;
        return FBase ? FBase->FindProperty(name, found) : FindBuiltInProperty(name, found);
    }
    void WriteProperty(TPropEntry entry) override { FOwn.Set(std::move(entry)); }
    std::string ExpandVariables(std::string_view text) override {
        return FBase ? FBase->ExpandVariables(text) : ExpandTextVariables(text, nullptr);
    }

private:
    TRef<IMESettings> FBase;
    TPropList FOwn;
};
