#include <gtest/gtest.h>

#include "tests/crashreport/settings/SettingsTestSupport.h"

namespace {

TEST(TextVariables, NamesInAnyCase) {
    auto vars = MakeRef<TFixedVariables>();
    EXPECT_EQ(ExpandTextVariables("%APPNAME%|%ModName%|%lf%|%AppVersion%", vars.Get()),
              "LevelEditor.exe|LevelEditor.exe|\r\n|1.0.0.1");
    vars->Version.clear();
    EXPECT_EQ(ExpandTextVariables("%appversion% %modversion%", vars.Get()), "? ?");
}

TEST(TextVariables, DatesTimesAndFolders) {
    auto vars = MakeRef<TFixedVariables>();
    EXPECT_EQ(ExpandTextVariables("%date%/%time%/%DateTime%", vars.Get()),
              "2006-05-14/08:02:11, 32ms/2006-05-14, 08:02:11, 32ms");
    EXPECT_EQ(vars->NowCalls, 1); // one reading of the clock for the whole text
    // Trailing backslash dropped; no common folder from the system: the executable's folder.
    EXPECT_EQ(ExpandTextVariables("%userappdata%\\x;%commonappdata%", vars.Get()),
              "C:\\Users\\ze\\AppData\\Roaming\\x;C:\\Games\\Zembrak");
}

TEST(TextVariables, MessageAndReportOnlyWhenGiven) {
    auto vars = MakeRef<TFixedVariables>();
    EXPECT_EQ(ExpandTextVariables("%exceptMsg%%LF%%BUGREPORT%", vars.Get()), "%exceptMsg%\r\n%BUGREPORT%");
    std::string msg, report = "report";
    EXPECT_EQ(ExpandTextVariables("[%exceptmsg%] %bugReport%", vars.Get(), &msg, &report),
              "[Unknown] report");
    // A kept variable stays whole: its closing '%' does not start "%LF%".
    EXPECT_EQ(ExpandTextVariables("%exceptMsg%LF%", vars.Get()), "%exceptMsg%LF%");
}

// Values are put in once and never scanned again, whatever their order in the list: a message
// or a report that contains a variable's name arrives as it was.
TEST(TextVariables, InsertedValuesAreNotExpandedAgain) {
    auto vars = MakeRef<TFixedVariables>();
    vars->App = "%modname%";
    std::string msg = "disk %LF% full %date%", report = "%appname% %exceptMsg%";
    EXPECT_EQ(ExpandTextVariables("%appname%;%exceptMsg%;%bugReport%", vars.Get(), &msg, &report),
              "%modname%;disk %LF% full %date%;%appname% %exceptMsg%");
}

TEST(TextVariables, UnknownAndBrokenNamesStay) {
    auto vars = MakeRef<TFixedVariables>();
    EXPECT_EQ(ExpandTextVariables("100% sure %foo% %app", vars.Get()), "100% sure %foo% %app");
    EXPECT_EQ(ExpandTextVariables("%%LF%%", vars.Get()), "%\r\n%");
    // Without a source only the source-free variables are expanded.
    EXPECT_EQ(ExpandTextVariables("%appname%%LF%", nullptr), "%appname%\r\n");
}

} // namespace
