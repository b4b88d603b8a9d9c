// The expanded dialog's tabs and tables from report texts as the report composes them.
#include "crashreport/ui/ExceptionBoxTables.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Titles(const TReportTable& t) {
    std::vector<std::string> out;
    for (const TTableColumn& c : t.Columns)
        out.push_back((c.Upper ? "^" : "") + std::string(c.RightAlign ? " " : "") + c.Title);
    return out;
}

using TCells = std::vector<std::string>;

} // namespace

TEST(ExceptionBoxTables, TabsFollowTheSections) {
    const TNamedTexts sections = {
        {"main thread ($A1C):", "a"}, {"loader ($B20):", "b"}, {"modules", "m"},
        {"cpu registers", "r"},       {"stack dump", "s"},     {"disassembling", "d"}};
    std::vector<std::string> titles;
    for (const TReportTab& t : ReportTabs(sections))
        titles.push_back(t.Title);
    EXPECT_EQ(titles, (TCells{"general", "call stacks", "modules", "cpu regs", "stack dump", "disasm"}));
    EXPECT_EQ(ReportTabs({{"main thread ($A1C):", "a"}, {"modules", "m"}})[1].Title, "call stack");

    const TNamedTexts header = {{"date/time", "2026-12-08"}, {"exception message", "Access violation."}};
    EXPECT_EQ(ReportTabText({"general", "general"}, header, sections),
              "date/time\t2026-12-08\r\nexception message\tAccess violation.");
    EXPECT_EQ(ReportTabText({"call stacks", "call stack"}, header, sections),
              ">> main thread ($A1C):\r\na\r\n\r\n>> loader ($B20):\r\nb");
    EXPECT_EQ(ReportTabText({"cpu regs", "cpu registers"}, header, sections), "r");
}

TEST(ExceptionBoxTables, CallStacksByTheThreadParser) {
    const std::string text = ">> main thread ($A1C):\r\n"
                             "004C1A2B +01F LevelEditor.exe Unit1    812 +4 TForm1.SaveClick\r\n"
                             "0048F3C2 +05E LevelEditor.exe Controls        TControl.Click\r\n\r\n"
                             ">> loader ($B20):\r\n"
                             "7C90E514 +0000 ntdll.dll\r\n"
                             "00403000 +0100 LevelEditor.exe Loader 20 +2 TLoader.Run\r\n"
                             ">> created by main thread ($A1C) at:\r\n"
                             "00401234 +0034 LevelEditor.exe Unit1  99 +9 TForm1.FormCreate";
    const TReportTable t = ReportTabTable({"call stacks", "call stack"}, text);
    ASSERT_TRUE(t.IsTable);
    EXPECT_EQ(Titles(t), (TCells{"^address", "^ rel.", "module", "unit", " line", " rel.", "function"}));
    ASSERT_EQ(t.Rows.size(), 8u);
    EXPECT_EQ(t.Rows[0].Kind, TRowKind::TitleBold);
    EXPECT_EQ(t.Rows[1].Cells,
              (TCells{"004C1A2B", "+01F", "LevelEditor.exe", "Unit1", "812", "+4", "TForm1.SaveClick"}));
    EXPECT_EQ(t.Rows[2].Cells,
              (TCells{"0048F3C2", "+05E", "LevelEditor.exe", "Controls", "", "", "TControl.Click"}));
    EXPECT_EQ(t.Rows[4].Cells, (TCells{"7C90E514", "+0000", "ntdll.dll", "", "", "", ""}));
    EXPECT_EQ(t.Rows[5].Cells,
              (TCells{"00403000", "+0100", "LevelEditor.exe", "Loader", "20", "+2", "TLoader.Run"}));
    EXPECT_EQ(t.Rows[6].Kind, TRowKind::TitleGrey); // "created by" stays with its thread
    EXPECT_EQ(t.Rows[6].Cells[0], ">> created by main thread ($A1C) at:");
    EXPECT_EQ(t.Rows[7].Cells,
              (TCells{"00401234", "+0034", "LevelEditor.exe", "Unit1", "99", "+9", "TForm1.FormCreate"}));

    // Without relative addresses and lines only the columns present are listed.
    const TReportTable plain = ThreadTable(
        ">> main thread ($A1C):\r\n004C1A2B LevelEditor.exe TForm1.SaveClick\r\n7C80B713 kernel32.dll");
    EXPECT_EQ(Titles(plain), (TCells{"^address", "module", "function"}));
    EXPECT_EQ(plain.Rows[2].Cells, (TCells{"7C80B713", "kernel32.dll", ""}));
}

TEST(ExceptionBoxTables, FixedColumnLists) {
    const TReportTable dump =
        ReportTabTable({"stack dump", "stack dump"},
                       "0012FFD4  34 35 36 37 38 39 3A 3B - 3C 3D 3E 3F 40 41 42 43  456789:;<=>?@ABC\r\n"
                       "0012FFF4  54 55 56 57 58 59 5A 5B - 5C 5D 5E 5F              TUVWXYZ[\\]^_");
    EXPECT_TRUE(dump.Courier);
    EXPECT_EQ(Titles(dump), (TCells{"address", "data - hexadecimal", "data - chars"}));
    EXPECT_EQ(dump.Rows[0].Cells,
              (TCells{"0012FFD4", "34 35 36 37 38 39 3A 3B - 3C 3D 3E 3F 40 41 42 43", "456789:;<=>?@ABC"}));
    EXPECT_EQ(dump.Rows[1].Cells,
              (TCells{"0012FFF4", "54 55 56 57 58 59 5A 5B - 5C 5D 5E 5F", "TUVWXYZ[\\]^_"}));

    const TReportTable regs =
        ReportTabTable({"cpu regs", "cpu registers"}, "eax = 01010101\r\nebx = 02020202");
    EXPECT_EQ(regs.Rows[1].Cells, (TCells{"ebx", "02020202"}));

    const TReportTable processes =
        ReportTabTable({"processes", "processes"}, "0000 Idle         idle\r\n"
                                                   "0020 explorer.exe normal C:\\windows\r\n"
                                                   "0024 services.exe high   C:\\windows\\system32");
    EXPECT_EQ(Titles(processes), (TCells{"^id", "file name", "priority", "path"}));
    EXPECT_EQ(processes.Rows[2].Cells, (TCells{"0024", "services.exe", "high", "C:\\windows\\system32"}));

    const TReportTable disasm = ReportTabTable({"disasm", "disassembling"},
                                               "0000000140041600 public TForm1::SaveClick\r\n"
                                               "[...]\r\n"
                                               "000000014004169A       rep stos qword ptr es:[rdi], rax\r\n"
                                               "00000001400416B7 > 188 lea     rax, [rbp+408h] ; Self");
    EXPECT_EQ(Titles(disasm), (TCells{" line", "^address", "asm code", "comments"}));
    EXPECT_EQ(disasm.Rows[0].Cells, (TCells{"", "0000000140041600", "public TForm1::SaveClick", ""}));
    EXPECT_EQ(disasm.Rows[1].Cells, (TCells{"", "", "[...]", ""}));
    EXPECT_EQ(disasm.Rows[2].Cells, (TCells{"", "000000014004169A", "rep stos qword ptr es:[rdi], rax", ""}));
    EXPECT_EQ(disasm.Rows[3].Cells, (TCells{"> 188", "00000001400416B7", "lea     rax, [rbp+408h]", "Self"}));
}

TEST(ExceptionBoxTables, AutomaticColumnFinder) {
    // A placeholder is one line: plain text, so is prose with long lines.
    EXPECT_FALSE(ReportTabTable({"cpu regs", "cpu registers"}, ">> will be calculated soon").IsTable);
    EXPECT_FALSE(AutoTable(std::string(90, 'x') + "\r\nshort\r\nshort").IsTable);

    // Fixed-width columns: "=", "|" and ": " break too; the stricter rule wants two lines there.
    const TReportTable fixed = AutoTable("name: Zembrak   | 1.0\r\nfile: level.lvl | 2.5\r\nsize: 12 x 16");
    EXPECT_EQ(fixed.Columns.size(), 3u);
    EXPECT_EQ(fixed.Rows[1].Cells, (TCells{"file", "level.lvl", "2.5"}));
    EXPECT_EQ(fixed.Rows[2].Cells, (TCells{"size", "12 x 16", ""}));

    // A header line with "^": TAB-separated titles with their prefixes, cells upper-cased later.
    const TReportTable tabs = AutoTable("^^id\tname\t count\r\na1\tfirst\t3\r\nb2\tsecond\t12\textra");
    EXPECT_EQ(Titles(tabs), (TCells{"^id", "name", " count", ""}));
    EXPECT_EQ(tabs.Rows.size(), 2u);
    EXPECT_EQ(tabs.Rows[1].Cells, (TCells{"b2", "second", "12", "extra"}));
    EXPECT_EQ(UpperCell("a\xC3\xA4"
                        "b\xC3\xB6\xC3\xBC"
                        "ß"),
              "A\xC3\x84"
              "B\xC3\x96\xC3\x9C"
              "ß");

    // An indented tree: one column, blanks kept, "+" rows blue, the "!" first row red.
    const TReportTable tree = AutoTable("!- Display\r\n  + Monitor\r\n  - Adapter");
    ASSERT_TRUE(tree.IsTable);
    EXPECT_EQ(tree.Columns.size(), 1u);
    EXPECT_EQ(tree.Rows[0].Cells[0], "- Display");
    EXPECT_EQ(tree.Rows[0].Color, 0xF4F4FFu);
    EXPECT_EQ(tree.Rows[1].Cells[0], "\xC2\xA0\xC2\xA0+ Monitor");
    EXPECT_EQ(tree.Rows[1].Color, 0xFFF8F0u);
    EXPECT_EQ(tree.Rows[2].Color, 0xFFFFFFFFu);
}
