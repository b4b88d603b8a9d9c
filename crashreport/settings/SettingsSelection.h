#pragma once
// Which module's settings apply: the process-wide main settings and the settings for an exception
// at a code address. Kept apart from the system calls so the rules can be tested anywhere.
#include <cstdint>
#include <vector>

using TModuleId = uintptr_t; // a module handle; 0 is none

// What the choice needs to know about the process's modules, asked only as far as needed
// (deciding whether settings are usable means parsing them).
class ISettingsModules {
public:
    virtual TModuleId Program() = 0;
    // The development-environment helper library, 0 when it is not loaded.
    virtual TModuleId IdeHelper() = 0;
    // Every loaded module; the order does not matter.
    virtual std::vector<TModuleId> Modules() = 0;
    virtual bool HasSettingsResource(TModuleId module) = 0;
    // The module's settings are valid and its own NoSettings is false.
    virtual bool SettingsUsable(TModuleId module) = 0;

protected:
    ~ISettingsModules() = default;
};

// The module whose settings are the main settings: the program's when it carries usable settings,
// else the helper library's when loaded, else those of the lowest-addressed module with usable
// settings, else the program's.
TModuleId ChooseMainSettingsModule(ISettingsModules& modules);

// The module whose settings apply to an exception in `owner` (the module holding the address, 0
// when no module does): the owner's when it is not the program and carries usable settings;
// 0 means the main settings.
TModuleId ChooseSettingsModuleForOwner(ISettingsModules& modules, TModuleId owner);
