// The system list texts from made-up lists: column widths, the optional session column, the path
// prefixes, which devices are left out, and the order of classes and devices.
#include <gtest/gtest.h>

#include "crashreport/plugins/SystemLists.h"

TEST(SystemLists, ModulesAreAlignedAndAVersionlessModuleKeepsItsColumn) {
    const std::vector<TModuleEntry> modules = {
        {0x400000, "C:\\Games\\LevelEditor.exe", ""},
        {0x7B000000, "C:\\windows\\system32\\kernel32.dll", "6.1.7601.24556"},
        {0x7BC00000, "ntdll.dll", "1.0.0.0"},
    };
    EXPECT_EQ(ModuleListText(modules), "00400000 LevelEditor.exe                C:\\Games\\\r\n"
                                       "7B000000 kernel32.dll    6.1.7601.24556 C:\\windows\\system32\\\r\n"
                                       "7BC00000 ntdll.dll       1.0.0.0        ");
    EXPECT_EQ(ModuleListText({{0x140000000, "a.exe", ""}}, 16), "0000000140000000 a.exe  ");
}

TEST(SystemLists, ProcessesShowTheSessionColumnOnlyWhenNeeded) {
    std::vector<TProcessEntry> processes = {
        {0, 0, "", 0},
        {0x1C, 0, "C:\\windows\\system32\\services.exe", 32},
        {0x1A4, 0, "winedevice.exe", 0}, // priority unreadable
        {0x20, 0, "C:\\x\\long name.exe", 0x1234},
    };
    EXPECT_EQ(ProcessListText(processes), "000 Idle                  \r\n"
                                          "01C services.exe   normal C:\\windows\\system32\r\n"
                                          "1A4 winedevice.exe        \r\n"
                                          "020 long name.exe  1234   C:\\x");
    processes[1].Session = 12;
    processes[3].Session = 1;
    EXPECT_EQ(ProcessListText(processes), "000 Idle            0        \r\n"
                                          "01C services.exe   12 normal C:\\windows\\system32\r\n"
                                          "1A4 winedevice.exe  0        \r\n"
                                          "020 long name.exe   1 1234   C:\\x");
}

TEST(SystemLists, ProcessPathPrefixes) {
    const struct {
        const char* Raw;
        const char* Path;
    } paths[] = {
        {"\\SystemRoot\\System32\\smss.exe", "C:\\windows\\system32\\smss.exe"},
        {"\\systemroot\\system32\\drivers\\x.sys", "C:\\windows\\system32\\drivers\\x.sys"},
        {"\\??\\C:\\windows\\system32\\csrss.exe", "C:\\windows\\system32\\csrss.exe"},
        {"C:\\a\\\\??\\b.exe", "C:\\a\\\\??\\b.exe"},
        {"\\SystemRoot\\explorer.exe", "\\SystemRoot\\explorer.exe"},
        {"", ""},
    };
    for (const auto& p : paths)
        EXPECT_EQ(ProcessPath(p.Raw, "C:\\windows\\system32"), p.Path) << p.Raw;
    EXPECT_EQ(ProcessPath("\\SystemRoot\\System32\\a.exe", "C:\\sys\\"), "C:\\sys\\a.exe");
}

TEST(SystemLists, SkippedDevicesAndDriverSuffixes) {
    EXPECT_TRUE(SkipDevice("LegacyDriver", "ROOT\\LEGACY_BEEP"));
    EXPECT_TRUE(SkipDevice("volume", "STORAGE\\Volume"));
    EXPECT_TRUE(SkipDevice("Unknown", ""));
    EXPECT_TRUE(SkipDevice("MEDIA", "SW\\{b7eafdc0-a680-11d0-96d8-00aa0051e51d}"));
    EXPECT_FALSE(SkipDevice("Display", "PCI\\VEN_1002"));
    EXPECT_FALSE(SkipDevice("Volumes", "swd\\x"));

    EXPECT_EQ(DriverSuffix("ACME Inc.", " 8.17.10.1 ", "6-21-2006"), " (driver 8.17.10.1)");
    EXPECT_EQ(DriverSuffix("ACME Inc.", "  ", " 6-21-2006"), " (driver 6-21-2006)");
    for (const char* system : {"", "Microsoft", "MICROSOFT", "(Standard system devices)"})
        EXPECT_EQ(DriverSuffix(system, "1.0", "1-1-2000"), "") << system;
}

TEST(SystemLists, HardwareClassesAndDevicesAreSortedWithEqualNamesNewestFirst) {
    THardwareList list;
    list.Add("Ports (COM & LPT)", "Communications Port", " (driver 1)");
    list.Add("Display adapters", "Wine Display", "");
    list.Add("ports (COM & LPT)", "communications port", " (driver 2)");
    list.Add("Ports (COM & LPT)", "ECP Printer Port", "");
    list.Add("Batteries", "", "");
    EXPECT_EQ(list.Text(), "+ Batteries\r\n"
                           "  - \r\n"
                           "+ Display adapters\r\n"
                           "  - Wine Display\r\n"
                           "+ Ports (COM & LPT)\r\n"
                           "  - communications port (driver 2)\r\n"
                           "  - Communications Port (driver 1)\r\n"
                           "  - ECP Printer Port");
    EXPECT_EQ(THardwareList().Text(), "");
}
