// The header's value formats and the stack lines, checked on values at their boundaries.
#include <gtest/gtest.h>

#include "crashreport/report/ReportFormats.h"
#include "crashreport/report/ReportSections.h"
#include "crashreport/report/StackLines.h"
#include "tests/crashreport/report/ReportFakes.h"

TEST(ReportFormats, DurationsAndSizesAtTheirBoundaries) {
    const struct {
        uint64_t Seconds;
        const char* Text;
    } durations[] = {{0, "0 seconds"},
                     {1, "1 second"},
                     {59, "59 seconds"},
                     {60, "1 minute"},
                     {61, "1 minute 1 second"},
                     {3599, "59 minutes 59 seconds"},
                     {3600, "1 hour"},
                     {7260, "2 hours 1 minute"},
                     {86399, "23 hours 59 minutes"},
                     {86400, "1 day"},
                     {93784, "1 day 2 hours"},
                     {200000, "2 days 7 hours"}};
    for (const auto& d : durations)
        EXPECT_EQ(FormatDuration(d.Seconds), d.Text) << d.Seconds;
    EXPECT_EQ(FormatProgramUpTime(999), "999 milliseconds");
    EXPECT_EQ(FormatProgramUpTime(1000), "1 second");

    const struct {
        uint64_t Bytes;
        const char* Sep;
        const char* Text;
    } sizes[] = {{0, ",", "0 Bytes"},
                 {1023, ",", "1023 Bytes"},
                 {1024, ",", "1,00 KB"},
                 {1536, ".", "1.50 KB"},
                 {(1 << 20) - 1, ",", "1023,99 KB"},
                 {1 << 20, "", "1,00 MB"},
                 {(uint64_t(1) << 30) + (uint64_t(1) << 29), ",", "1,50 GB"},
                 {uint64_t(5000) << 30, ",", "5000,00 GB"},
                 {~uint64_t(0), ",", "17179869183,99 GB"}};
    for (const auto& s : sizes)
        EXPECT_EQ(FormatSize(s.Bytes, s.Sep), s.Text) << s.Bytes;
    EXPECT_EQ(FormatPhysicalMemory((uint64_t(1234) << 20) + (1 << 19), uint64_t(4096) << 20),
              "1235/4096 MB (free/total)");
}

TEST(ReportFormats, OperatingSystemTable) {
    auto nt = [](uint32_t major, uint32_t minor, bool workstation = true) {
        TOsVersion v;
        v.Major = major;
        v.Minor = minor;
        v.Workstation = workstation;
        return v;
    };
    auto dos = [](uint32_t major, uint32_t minor, uint32_t build) {
        TOsVersion v;
        v.Nt = false;
        v.Major = major;
        v.Minor = minor;
        v.Build = build;
        return v;
    };
    const struct {
        TOsVersion V;
        const char* Name;
    } table[] = {{nt(3, 51), "Windows NT 3"},       {nt(4, 0), "Windows NT 4"},
                 {nt(5, 0), "Windows 2000"},        {nt(5, 1, false), "Windows XP"},
                 {nt(5, 2), "Windows XP"},          {nt(5, 2, false), "Windows 2003"},
                 {nt(6, 0), "Windows Vista"},       {nt(6, 1), "Windows NT New"},
                 {dos(4, 0, 950), "Windows 95"},    {dos(4, 0, 0x04001111), "Windows 95 OSR-2"},
                 {dos(4, 10, 1998), "Windows 98"},  {dos(4, 10, 2222), "Windows 98 SE"},
                 {dos(4, 10, 3000), "Windows ME"},  {dos(4, 90, 3000), "Windows ME"},
                 {dos(4, 91, 1), "Windows 9x New"}, {dos(3, 95, 1), "None"}};
    for (const auto& t : table)
        EXPECT_EQ(OperatingSystemName(t.V), t.Name) << t.V.Major << "." << t.V.Minor;

    TOsVersion wine = nt(6, 1);
    wine.Build = 7601;
    wine.ServicePack = "Service Pack 1";
    EXPECT_EQ(OperatingSystemText(wine), "Windows NT New Service Pack 1 build 7601");
    TOsVersion xp = nt(5, 1);
    xp.Build = 2600;
    xp.MediaCenter = xp.X64 = xp.Starter = true;
    EXPECT_EQ(OperatingSystemText(xp), "Windows XP Starter Media Center x64 build 2600");
    wine.MediaCenter = true; // only before Vista
    EXPECT_EQ(OperatingSystemText(wine), "Windows NT New Service Pack 1 build 7601");
}

TEST(ReportFormats, ExceptionMessageCleanUpAndCommandLine) {
    const struct {
        const char* In;
        const char* Out;
    } messages[] = {{"Stone list is empty", "Stone list is empty."},
                    {"Stone list is empty.", "Stone list is empty."},
                    {"Boom!!", "Boom."},
                    {"Wait...", "Wait."},
                    {"Line one\r\nline   two!\r\n", "Line one line two."},
                    {"Access violation at address 0040100A.  ", "Access violation at address 0040100A."},
                    {"!!!", "."},
                    {"  ", ""}};
    for (const auto& m : messages)
        EXPECT_EQ(CleanExceptionMessage(m.In), m.Out) << m.In;

    EXPECT_FALSE(CommandLineHasParameters("\"C:\\Program Files\\LevelEditor.exe\"  "));
    EXPECT_FALSE(CommandLineHasParameters("LevelEditor.exe"));
    EXPECT_TRUE(CommandLineHasParameters("\"C:\\Program Files\\LevelEditor.exe\" a.lvl"));
    EXPECT_TRUE(CommandLineHasParameters("LevelEditor.exe /x"));
}

TEST(StackLines, AlignedColumnsWithAndWithoutRelativeParts) {
    const std::vector<TStackLine> lines = {
        Item(0x004C1A2B, 0x004C1A0C, "LevelEditor.exe", "Unit1", 812, 4, "TForm1.SaveClick"),
        Item(0x0048F3C2, 0x0048F364, "LevelEditor.exe", "Controls", 0, 0, "TControl.Click"),
        Item(0x7C80B713, 0, "kernel32.dll", "", 0, 0, "")};
    EXPECT_EQ(ComposeStackLines(lines, true, true, 8),
              "004C1A2B +01F LevelEditor.exe Unit1    812 +4 TForm1.SaveClick\r\n"
              "0048F3C2 +05E LevelEditor.exe Controls        TControl.Click\r\n"
              "7C80B713 +000 kernel32.dll");
    EXPECT_EQ(ComposeStackLines(lines, false, false, 8),
              "004C1A2B LevelEditor.exe Unit1    812 TForm1.SaveClick\r\n"
              "0048F3C2 LevelEditor.exe Controls     TControl.Click\r\n"
              "7C80B713 kernel32.dll");
    EXPECT_EQ(ComposeStackLines({lines[0]}, true, true, 16),
              "00000000004C1A2B +01F LevelEditor.exe Unit1 812 +4 TForm1.SaveClick");

    EXPECT_EQ(StackLineText(lines[0], true, true, 8),
              "004C1A2B +1F LevelEditor.exe Unit1 812 +4 TForm1.SaveClick");
    EXPECT_EQ(StackLineText(lines[1], true, true, 8), "0048F3C2 +5E LevelEditor.exe Controls TControl.Click");
    EXPECT_EQ(StackLineText(lines[0], false, false, 8),
              "004C1A2B LevelEditor.exe Unit1 812 TForm1.SaveClick");
    TStackLine unknown;
    unknown.Address = 0xDEADBEEF;
    unknown.Module = "???";
    EXPECT_EQ(StackLineText(unknown, true, true, 8), "DEADBEEF +0 ???");
    EXPECT_EQ(StackLineText(unknown, false, true, 8), "DEADBEEF ???");
}

TEST(StackLines, Checksums) {
    // The table is the standard one: with the usual inversions it gives the standard check value.
    EXPECT_EQ(~UpdateCrc(0xFFFFFFFF, "123456789", 9), 0xCBF43926u);

    TStackLine named = Item(0x004C1A2B, 0x004C1A0C, "LevelEditor.EXE", "Unit1", 812, 4, "TForm1.SaveClick");
    uint32_t expected = 0x1F;
    for (std::string_view s : {"leveleditor.exe", "unit1", "tform1.saveclick"})
        expected = UpdateCrc(expected, s.data(), s.size());
    EXPECT_EQ(StackItemChecksum(named), expected);
    // Moved code (another address, same offset in the same function) keeps its checksum.
    TStackLine moved = named;
    moved.Address += 0x1000;
    moved.FunctionStart += 0x1000;
    EXPECT_EQ(StackItemChecksum(moved), expected);

    TStackLine bare = Item(0x7C80B713, 0, "kernel32.dll", "", 0, 0, "");
    EXPECT_EQ(StackItemChecksum(bare), 0x7C80B713u);
    bare.Address = 0x00007FF812345678;
    EXPECT_EQ(StackItemChecksum(bare), 0x12345678u ^ 0x00007FF8u);

    const uint8_t fed[4] = {0x13, 0xB7, 0x80, 0x7C};
    EXPECT_EQ(StackChecksum({named, Item(0x7C80B713, 0, "kernel32.dll", "", 0, 0, "")}),
              UpdateCrc(expected, fed, 4));
    EXPECT_EQ(StackChecksum({}), 0u);
}

TEST(ReportSections, RegistersAndStackDumpEndingAtTheRegion) {
    TCpuContext c;
    for (int i = 0; i < 17; ++i)
        c.Regs[i] = uint64_t(i + 1) * 0x01010101;
    EXPECT_EQ(CpuRegistersText(c), "eax = 01010101\r\nebx = 02020202\r\necx = 03030303\r\nedx = 04040404\r\n"
                                   "esi = 05050505\r\nedi = 06060606\r\neip = 07070707\r\nesp = 08080808\r\n"
                                   "ebp = 09090909");
    c.Bits64 = true;
    c.Regs[TCpuContext::RegIp] = 0x00007FF612345678;
    const std::string regs64 = CpuRegistersText(c);
    EXPECT_EQ(regs64.substr(0, 22), "rax = 0000000001010101");
    EXPECT_NE(regs64.find("\r\nr8  = 000000000A0A0A0A\r\n"), std::string::npos);
    EXPECT_NE(regs64.find("\r\nr15 = 0000000011111111\r\nrip = 00007FF612345678\r\n"), std::string::npos);
    EXPECT_EQ(regs64.substr(regs64.size() - 22), "rbp = 0000000009090909");

    std::vector<uint8_t> bytes(0x40);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(0x20 + i);
    TSpanMemoryReader memory(0x12FFC0, bytes);
    // 0x2C bytes left in the region: two full lines and a short one with 12 bytes.
    EXPECT_EQ(StackDumpText(memory, 0x12FFD4, 0x130000, 8),
              "0012FFD4  34 35 36 37 38 39 3A 3B - 3C 3D 3E 3F 40 41 42 43  456789:;<=>?@ABC\r\n"
              "0012FFE4  44 45 46 47 48 49 4A 4B - 4C 4D 4E 4F 50 51 52 53  DEFGHIJKLMNOPQRS\r\n"
              "0012FFF4  54 55 56 57 58 59 5A 5B - 5C 5D 5E 5F              TUVWXYZ[\\]^_");
    EXPECT_EQ(StackDumpText(memory, 0x12FFF8, 0x130000, 8),
              "0012FFF8  58 59 5A 5B 5C 5D 5E 5F                            XYZ[\\]^_");
    EXPECT_EQ(StackDumpText(memory, 0x12FFC0, 0x12FFC8, 16),
              "000000000012FFC0  20 21 22 23 24 25 26 27                            .!\"#$%&'");
    std::vector<uint8_t> many(0x1000);
    TSpanMemoryReader big(0x10000, many);
    const std::string twenty = StackDumpText(big, 0x10000, 0x11000, 8);
    EXPECT_EQ(std::count(twenty.begin(), twenty.end(), '\n'), 19);
}
