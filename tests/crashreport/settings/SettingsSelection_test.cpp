// The rules that pick the main settings and the settings for an exception's address.
#include <gtest/gtest.h>

#include <map>

#include "crashreport/settings/SettingsSelection.h"

namespace {

struct TFakeModule {
    bool Resource = false;
    bool Usable = false;
};

class TFakeModules : public ISettingsModules {
public:
    TModuleId Program() override { return ProgramId; }
    TModuleId IdeHelper() override { return Ide; }
    std::vector<TModuleId> Modules() override {
        std::vector<TModuleId> ids;
        for (auto& [id, m] : All)
            ids.insert(ids.begin(), id); // reversed: the rules must not depend on the list order
        return ids;
    }
    bool HasSettingsResource(TModuleId module) override { return All[module].Resource; }
    bool SettingsUsable(TModuleId module) override {
        ++Parsed[module];
        return All[module].Resource && All[module].Usable;
    }

    TModuleId ProgramId = 0x400000, Ide = 0;
    std::map<TModuleId, TFakeModule> All;
    std::map<TModuleId, int> Parsed;
};

constexpr TFakeModule NoResource{false, false}, UsableModule{true, true}, NoSettingsModule{true, false};

TEST(SettingsSelection, MainSettingsFollowTheOrderOfPreference) {
    TFakeModules m;
    m.All = {{0x400000, UsableModule}, {0x10000000, UsableModule}, {0x20000000, UsableModule}};
    EXPECT_EQ(ChooseMainSettingsModule(m), 0x400000u);

    // The program says NoSettings: the lowest-addressed module with usable settings.
    m.All[0x400000] = NoSettingsModule;
    m.All[0x10000000] = NoSettingsModule;
    m.All[0x30000000] = UsableModule;
    EXPECT_EQ(ChooseMainSettingsModule(m), 0x20000000u);

    // The helper library wins over every other library, even below it in memory.
    m.Ide = 0x50000000;
    m.All[0x50000000] = NoResource;
    EXPECT_EQ(ChooseMainSettingsModule(m), 0x50000000u);
    // ...but not over a program with usable settings.
    m.All[0x400000] = UsableModule;
    EXPECT_EQ(ChooseMainSettingsModule(m), 0x400000u);
}

TEST(SettingsSelection, MainSettingsFallBackToTheProgram) {
    TFakeModules m;
    m.All = {{0x400000, NoResource}, {0x10000000, NoSettingsModule}, {0x20000000, NoResource}};
    EXPECT_EQ(ChooseMainSettingsModule(m), 0x400000u);
    // Modules without the resource are never parsed.
    EXPECT_EQ(m.Parsed.count(0x20000000), 0u);
    EXPECT_EQ(m.Parsed.count(0x400000), 0u);
}

TEST(SettingsSelection, AddressUsesItsModuleOnlyWhenThatHasUsableSettings) {
    TFakeModules m;
    m.All = {{0x400000, UsableModule},
             {0x10000000, UsableModule},
             {0x20000000, NoSettingsModule},
             {0x30000000, NoResource}};
    EXPECT_EQ(ChooseSettingsModuleForOwner(m, 0x10000000), 0x10000000u);
    EXPECT_EQ(ChooseSettingsModuleForOwner(m, 0x20000000), 0u);
    EXPECT_EQ(ChooseSettingsModuleForOwner(m, 0x30000000), 0u);
    EXPECT_EQ(ChooseSettingsModuleForOwner(m, 0), 0u); // no module holds the address
    // The program always goes through the main settings, whatever they are.
    EXPECT_EQ(ChooseSettingsModuleForOwner(m, 0x400000), 0u);
    EXPECT_EQ(m.Parsed.count(0x400000), 0u);
}

} // namespace
