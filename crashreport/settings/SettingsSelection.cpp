#include "crashreport/settings/SettingsSelection.h"

#include <algorithm>

TModuleId ChooseMainSettingsModule(ISettingsModules& modules) {
    const TModuleId program = modules.Program();
    if (program && modules.HasSettingsResource(program) && modules.SettingsUsable(program)) return program;
    if (TModuleId ide = modules.IdeHelper()) return ide;
    // A module's handle is its base address, so sorting by it gives the address-space order.
    std::vector<TModuleId> all = modules.Modules();
    std::sort(all.begin(), all.end());
    for (TModuleId m : all) {
        if (m == 0 || m == program) continue;
        if (modules.HasSettingsResource(m) && modules.SettingsUsable(m)) return m;
    }
    return program;
}

TModuleId ChooseSettingsModuleForOwner(ISettingsModules& modules, TModuleId owner) {
    if (owner == 0 || owner == modules.Program()) return 0;
    if (!modules.HasSettingsResource(owner) || !modules.SettingsUsable(owner)) return 0;
    return owner;
}
