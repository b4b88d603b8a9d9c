#include <gtest/gtest.h>

#include "tests/crashreport/settings/SettingsTestSupport.h"

namespace {

TEST(TextVariables, Expansion) {
    struct {
        const char* Name;
        const char* Text;
        const char* Want;
        const char* Message = nullptr; // with the message and the report "report"
    } cases[] = {
        {"names in any case", "%APPNAME%|%ModName%|%lf%|%AppVersion%",
         "LevelEditor.exe|LevelEditor.exe|\r\n|1.0.0.1"},
        {"dates and times", "%date%/%time%/%DateTime%",
         "2006-05-14/08:02:11, 32ms/2006-05-14, 08:02:11, 32ms"},
        // trailing backslash dropped; no common folder from the system: the executable's folder
        {"folders", "%userappdata%\\x;%commonappdata%",
         "C:\\Users\\ze\\AppData\\Roaming\\x;C:\\Games\\Zembrak"},
        {"message and report only when given", "%exceptMsg%%LF%%BUGREPORT%", "%exceptMsg%\r\n%BUGREPORT%"},
        {"an empty message", "[%exceptmsg%] %bugReport%", "[Unknown] report", ""},
        // a kept variable stays whole: its closing '%' does not start "%LF%"
        {"a kept variable", "%exceptMsg%LF%", "%exceptMsg%LF%"},
        {"unknown and broken names", "100% sure %foo% %app", "100% sure %foo% %app"},
        {"doubled percent signs", "%%LF%%", "%\r\n%"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        auto vars = MakeRef<TFixedVariables>();
        std::string message = c.Message ? c.Message : "", report = "report";
        EXPECT_EQ(ExpandTextVariables(c.Text, vars.Get(), c.Message ? &message : nullptr,
                                      c.Message ? &report : nullptr),
                  c.Want);
        EXPECT_LE(vars->NowCalls, 1); // one reading of the clock for the whole text
    }
}

TEST(TextVariables, SourceValuesAndNoSource) {
    auto vars = MakeRef<TFixedVariables>();
    vars->Version.clear();
    EXPECT_EQ(ExpandTextVariables("%appversion% %modversion%", vars.Get()), "? ?");
    // Values are put in once and never scanned again, whatever their order in the list.
    vars->App = "%modname%";
    std::string msg = "disk %LF% full %date%", report = "%appname% %exceptMsg%";
    EXPECT_EQ(ExpandTextVariables("%appname%;%exceptMsg%;%bugReport%", vars.Get(), &msg, &report),
              "%modname%;disk %LF% full %date%;%appname% %exceptMsg%");
    // Without a source only the source-free variables are expanded.
    EXPECT_EQ(ExpandTextVariables("%appname%%LF%", nullptr), "%appname%\r\n");
}

} // namespace
