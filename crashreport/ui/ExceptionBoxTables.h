#pragma once
// The expanded exception dialog's tabs without a window: which tabs the report has, the text of
// each, and how a text becomes the columns and rows of a table (or stays plain text).
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using TNamedTexts = std::vector<std::pair<std::string, std::string>>;

struct TReportTab {
    std::string Title;   // as shown
    std::string Section; // "general", "call stack" or the section's name
    bool operator==(const TReportTab&) const = default;
};

// "general", "call stack(s)", then one tab per section after the thread sections.
std::vector<TReportTab> ReportTabs(const TNamedTexts& sections);
bool IsThreadSection(std::string_view name);
std::string ReportTabText(const TReportTab& tab, const TNamedTexts& header, const TNamedTexts& sections);

struct TTableColumn {
    std::string Title;
    bool Upper = false;      // "^": cells shown in upper case
    bool RightAlign = false; // leading blank
    bool operator==(const TTableColumn&) const = default;
};

enum class TRowKind : uint8_t { Normal, TitleBold, TitleGrey };

struct TTableRow {
    std::vector<std::string> Cells;
    TRowKind Kind = TRowKind::Normal;
    uint32_t Color = 0xFFFFFFFF; // 0x00BBGGRR; none: the column colours
};

struct TReportTable {
    bool IsTable = false; // else: shown as plain text
    bool Courier = false;
    std::vector<TTableColumn> Columns;
    std::vector<TTableRow> Rows;
};

// "^handle|file name| version" into columns.
std::vector<TTableColumn> ParseColumnList(std::string_view list);
// Upper case of a to z and the umlauts (UTF-8).
std::string UpperCell(std::string_view text);

// Runs of column breaks in fixed-width lines: [start, end) character ranges.
std::vector<std::pair<size_t, size_t>> FindColumnBreaks(const std::vector<std::string>& lines, bool strict);
// The line cut at the breaks, each cell without surrounding blanks.
std::vector<std::string> CutAtBreaks(std::string_view line,
                                     const std::vector<std::pair<size_t, size_t>>& breaks);

TReportTable AutoTable(std::string_view text);
TReportTable ThreadTable(std::string_view text);
TReportTable ReportTabTable(const TReportTab& tab, std::string_view text);

std::vector<std::string> SplitLines(std::string_view text);
