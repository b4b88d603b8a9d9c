#include "crashreport/delivery/BugReportFile.h"

#include <gtest/gtest.h>

namespace {

std::string Report(const char* crc, const char* version = "1.0.0.1", const char* extra = "") {
    return std::string("date/time          : 2026-12-08, 10:00:00, 1ms\r\n") +
           "executable         : LevelEditor.exe\r\n" + "version            : " + version + "\r\n" + extra +
           "callstack crc      : " + crc + "\r\n" +
           "exception class    : EConvertError\r\n\r\nmain thread ($A1C):\r\n00401000 LevelEditor.exe Unit1 "
           "12 Foo";
}

constexpr const char* CrcA = "$0A1B2C3D, $44E1F0A2, $9B77C0DE";
constexpr const char* CrcB = "$0A1B2C3D, $44E1F0A2, $00000000"; // same first two
constexpr const char* CrcC = "$0A1B2C3D, $11111111, $00000000"; // same first one

TBugReportFileRules Rules(int def) {
    TBugReportFileRules r;
    r.NoDupExcepts = true;
    r.DupExceptDef = def;
    return r;
}

size_t Count(const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
        ++n;
    return n;
}

TEST(BugReportFile, DuplicatesMergeByEachKeyDefinition) {
    struct TCase {
        int Def;
        const char* Second;
        size_t Reports;
    } cases[] = {
        {0, CrcC, 1}, {1, CrcC, 2}, {1, CrcB, 1}, {2, CrcB, 2}, {2, CrcA, 1},
    };
    for (const TCase& c : cases) {
        std::string file = MergeBugReport("", Report(CrcA), Rules(c.Def));
        file = MergeBugReport(file, Report(c.Second), Rules(c.Def));
        EXPECT_EQ(Count(file, "date/time"), c.Reports) << c.Def << " " << c.Second;
        if (c.Reports == 1) {
            EXPECT_NE(
                file.find("callstack crc      : " + std::string(c.Second) + "\r\ncount              : 2\r\n"),
                std::string::npos)
                << file;
            // A third time counts on.
            file = MergeBugReport(file, Report(c.Second), Rules(c.Def));
            EXPECT_EQ(Count(file, "date/time"), 1u);
            EXPECT_NE(file.find("count              : 3"), std::string::npos);
        }
        EXPECT_EQ(file.substr(file.size() - 4), "\r\n\r\n");
    }
    // Another version, or merging switched off: kept apart.
    std::string file = MergeBugReport("", Report(CrcA), Rules(2));
    EXPECT_EQ(Count(MergeBugReport(file, Report(CrcA, "1.0.0.2"), Rules(2)), "date/time"), 2u);
    EXPECT_EQ(Count(MergeBugReport(file, Report(CrcA), TBugReportFileRules()), "date/time"), 2u);
    // A duplicate in the middle is cut out whole; the file stays a sequence of reports.
    file = MergeBugReport(file, Report(CrcC), Rules(2));
    file = MergeBugReport(file, Report(CrcA), Rules(2));
    EXPECT_EQ(file.find("date/time"), 0u);
    EXPECT_EQ(Count(file, "\r\n\r\ndate/time"), 1u);
    EXPECT_EQ(Count(file, "\r\n\r\n\r\n"), 0u);
}

TEST(BugReportFile, SizeLimitKeepsTheNewestAndForeignFilesSurvive) {
    TBugReportFileRules rules;
    rules.SizeLimit = 1000;
    std::string file;
    for (int i = 0; i < 20; ++i) {
        const std::string report = Report(CrcA, std::to_string(i).c_str());
        const bool over = file.size() > rules.SizeLimit;
        file = MergeBugReport(file, report, rules);
        // Over the limit, less than three quarters of it stay before the new report.
        EXPECT_LE(file.size(), (over ? 750 : rules.SizeLimit) + report.size() + 4) << i;
    }
    EXPECT_EQ(file.find("date/time"), 0u);
    EXPECT_NE(file.find("version            : 19"), std::string::npos);
    // A file that holds no reports of ours is kept and the report appended.
    std::string foreign(3000, 'x');
    std::string merged = MergeBugReport(foreign, Report(CrcA), rules);
    EXPECT_EQ(merged.substr(0, 3000), foreign);
    // Without appending, the file holds the new report only.
    TBugReportFileRules overwrite;
    overwrite.Append = false;
    EXPECT_EQ(MergeBugReport(foreign, "r", overwrite), "r\r\n\r\n");
}

TEST(BugReportFile, FileNameVariables) {
    EXPECT_EQ(BugReportFileName("%AppName%-%modname%.txt", "C:\\Games\\LevelEditor.exe", "Helper.dll"),
              "LevelEditor-Helper.txt");
}

} // namespace
