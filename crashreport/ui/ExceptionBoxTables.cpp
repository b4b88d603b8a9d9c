#include "crashreport/ui/ExceptionBoxTables.h"

#include <algorithm>

namespace {

const char* const Nbsp = "\xC2\xA0";
constexpr uint32_t LightBlue = 0xFFF8F0; // 240, 248, 255
constexpr uint32_t LightRed = 0xF4F4FF;  // 255, 244, 244

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string> SplitOn(std::string_view s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t at = s.find(sep, start);
        out.emplace_back(s.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
        if (at == std::string_view::npos) return out;
        start = at + 1;
    }
}

bool AllOf(std::string_view s, bool (*pred)(char)) {
    return !s.empty() && std::all_of(s.begin(), s.end(), pred);
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

TTableRow TitleRow(std::string_view line) {
    TTableRow row;
    row.Cells.emplace_back(line);
    row.Kind = StartsWith(line, ">> created") ? TRowKind::TitleGrey : TRowKind::TitleBold;
    return row;
}

// Cells of a fixed-width table with a known column list: cut at the widest break runs (the
// narrow ones lie inside a column, like the blanks between a dump's bytes).
TReportTable FixedTable(std::string_view list, std::string_view text, bool courier) {
    TReportTable t;
    t.IsTable = true;
    t.Courier = courier;
    t.Columns = ParseColumnList(list);
    const std::vector<std::string> lines = SplitLines(text);
    auto breaks = FindColumnBreaks(lines, true);
    const size_t wanted = t.Columns.size() - 1;
    if (breaks.size() > wanted) {
        std::vector<std::pair<size_t, size_t>> byWidth = breaks;
        std::stable_sort(byWidth.begin(), byWidth.end(), [](const auto& a, const auto& b) {
            return a.second - a.first > b.second - b.first;
        });
        byWidth.resize(wanted);
        std::sort(byWidth.begin(), byWidth.end());
        breaks = std::move(byWidth);
    }
    for (const std::string& line : lines) {
        if (StartsWith(line, ">>")) {
            t.Rows.push_back(TitleRow(line));
            continue;
        }
        TTableRow row;
        row.Cells = CutAtBreaks(line, breaks);
        row.Cells.resize(t.Columns.size());
        t.Rows.push_back(std::move(row));
    }
    return t;
}

// The listing's lines: address, the exception's marker ">", the source line, the code and
// its comment after ";"; a function's title and "[...]" have no line.
TReportTable DisAsmTable(std::string_view text) {
    TReportTable t;
    t.IsTable = true;
    t.Courier = true;
    struct TCells {
        std::string Line, Address, Code, Comment;
    };
    std::vector<std::pair<bool, TCells>> rows; // title row?
    bool lineColumn = false, addressColumn = false;
    for (const std::string& line : SplitLines(text)) {
        if (StartsWith(line, ">>")) {
            rows.push_back({true, {{}, {}, line, {}}});
            continue;
        }
        TCells c;
        std::string_view rest = Trim(line);
        size_t blank = rest.find(' ');
        const std::string_view first = rest.substr(0, blank);
        if (first.size() >= 8 && AllOf(first, IsHexDigit)) {
            c.Address = std::string(first);
            rest = blank == std::string_view::npos ? std::string_view() : Trim(rest.substr(blank));
        }
        std::string marker;
        if (StartsWith(rest, "> ") || rest == ">") {
            marker = ">";
            rest = Trim(rest.substr(1));
        }
        blank = rest.find(' ');
        if (blank != std::string_view::npos && AllOf(rest.substr(0, blank), IsDigit)) {
            c.Line = std::string(rest.substr(0, blank));
            rest = Trim(rest.substr(blank));
        }
        if (!marker.empty()) {
            if (c.Line.empty())
                rest = std::string_view(line).substr(line.find('>'));
            else
                c.Line = "> " + c.Line;
        }
        const size_t semi = rest.find(';');
        c.Code = std::string(Trim(rest.substr(0, semi)));
        if (semi != std::string_view::npos) c.Comment = std::string(Trim(rest.substr(semi + 1)));
        lineColumn = lineColumn || !c.Line.empty();
        addressColumn = addressColumn || !c.Address.empty();
        rows.push_back({false, std::move(c)});
    }
    t.Columns = ParseColumnList(std::string(lineColumn ? " line|" : "") + (addressColumn ? "^address|" : "") +
                                "asm code|comments");
    for (auto& [title, c] : rows) {
        if (title) {
            t.Rows.push_back(TitleRow(c.Code));
            continue;
        }
        TTableRow row;
        if (lineColumn) row.Cells.push_back(std::move(c.Line));
        if (addressColumn) row.Cells.push_back(std::move(c.Address));
        row.Cells.push_back(std::move(c.Code));
        row.Cells.push_back(std::move(c.Comment));
        t.Rows.push_back(std::move(row));
    }
    return t;
}

enum TStackColumn { ColAddress, ColRel, ColModule, ColUnit, ColLine, ColRelLine, ColFunction, StackColumns };
const char* const StackTitles[StackColumns] = {"^address", "^ rel.", "module",  "unit",
                                               " line",    " rel.",  "function"};

bool IsRelative(std::string_view cell) {
    return cell.size() > 1 && cell[0] == '+' && AllOf(cell.substr(1), IsHexDigit);
}

} // namespace

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

bool IsThreadSection(std::string_view name) {
    return name.find('$') != std::string_view::npos;
}

std::vector<TReportTab> ReportTabs(const TNamedTexts& sections) {
    std::vector<TReportTab> tabs{{"general", "general"}};
    size_t i = 0;
    while (i < sections.size() && IsThreadSection(sections[i].first))
        ++i;
    if (i > 0) tabs.push_back({i > 1 ? "call stacks" : "call stack", "call stack"});
    for (; i < sections.size(); ++i) {
        const std::string& name = sections[i].first;
        if (IsThreadSection(name)) continue;
        std::string title = name == "cpu registers" ? "cpu regs" : name == "disassembling" ? "disasm" : name;
        tabs.push_back({title, name});
    }
    return tabs;
}

std::string ReportTabText(const TReportTab& tab, const TNamedTexts& header, const TNamedTexts& sections) {
    std::string out;
    if (tab.Section == "general") {
        for (const auto& [name, value] : header) {
            if (!out.empty()) out += "\r\n";
            out += name + "\t" + value;
        }
    } else if (tab.Section == "call stack") {
        for (const auto& [name, value] : sections) {
            if (!IsThreadSection(name)) continue;
            if (!out.empty()) out += "\r\n\r\n";
            out += ">> " + name + "\r\n" + value;
        }
    } else {
        for (const auto& [name, value] : sections)
            if (name == tab.Section) return value;
    }
    return out;
}

std::vector<TTableColumn> ParseColumnList(std::string_view list) {
    std::vector<TTableColumn> columns;
    for (std::string_view title : SplitOn(list, '|')) {
        TTableColumn c;
        if (StartsWith(title, "^")) {
            c.Upper = true;
            title.remove_prefix(1);
        }
        if (StartsWith(title, " ")) {
            c.RightAlign = true;
            title.remove_prefix(1);
        }
        c.Title = std::string(title);
        columns.push_back(std::move(c));
    }
    return columns;
}

std::string UpperCell(std::string_view text) {
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        char& c = out[i];
        if (c >= 'a' && c <= 'z') {
            c = char(c - 'a' + 'A');
        } else if (uint8_t(c) == 0xC3 && i + 1 < out.size()) {
            // ä ö ü (C3 A4, C3 B6, C3 BC) to Ä Ö Ü (C3 84, C3 96, C3 9C)
            uint8_t& n = reinterpret_cast<uint8_t&>(out[i + 1]);
            if (n == 0xA4 || n == 0xB6 || n == 0xBC) n = uint8_t(n - 0x20);
            ++i;
        }
    }
    return out;
}

std::vector<std::pair<size_t, size_t>> FindColumnBreaks(const std::vector<std::string>& lines, bool strict) {
    std::vector<const std::string*> rows;
    for (const std::string& l : lines)
        if (!StartsWith(l, ">>") && !Trim(l).empty()) rows.push_back(&l);
    std::vector<std::pair<size_t, size_t>> runs;
    if (rows.empty()) return runs;
    const std::string& longest =
        **std::max_element(rows.begin(), rows.end(),
                           [](const std::string* a, const std::string* b) { return a->size() < b->size(); });
    // Where the text of the longest line ends: no break after it.
    size_t last = longest.size();
    while (last > 0 && longest[last - 1] == ' ')
        --last;
    for (size_t pos = 0; pos < last; ++pos) {
        const char c = longest[pos];
        bool isBreak = c == ' ' || c == '=' || c == '|' ||
                       (c == ':' && pos + 1 < longest.size() && longest[pos + 1] == ' ');
        size_t reaching = 0;
        for (const std::string* r : rows) {
            if (r->size() <= pos) continue;
            ++reaching;
            if ((*r)[pos] != c) isBreak = false;
        }
        if (strict && rows.size() > 1 && reaching < 2) isBreak = false;
        if (!isBreak) continue;
        if (!runs.empty() && runs.back().second == pos)
            runs.back().second = pos + 1;
        else
            runs.emplace_back(pos, pos + 1);
    }
    // A run at the very start is indentation, not a column.
    if (!runs.empty() && runs.front().first == 0) runs.erase(runs.begin());
    return runs;
}

std::vector<std::string> CutAtBreaks(std::string_view line,
                                     const std::vector<std::pair<size_t, size_t>>& breaks) {
    std::vector<std::string> cells;
    size_t start = 0;
    for (const auto& [from, to] : breaks) {
        const size_t end = std::min(from, line.size());
        cells.emplace_back(Trim(start < end ? line.substr(start, end - start) : std::string_view()));
        start = std::max(start, std::min(to, line.size()));
    }
    cells.emplace_back(Trim(start < line.size() ? line.substr(start) : std::string_view()));
    return cells;
}

TReportTable AutoTable(std::string_view text) {
    TReportTable t;
    std::vector<std::string> lines = SplitLines(text);
    const bool caret = StartsWith(text, "^");
    size_t longLines = 0, shortLines = 0;
    for (const std::string& l : lines)
        (l.size() > 80 ? longLines : shortLines)++;
    if (!caret && !(lines.size() > 1 && longLines * 5 < shortLines)) return t;
    t.IsTable = true;

    bool tree = !caret;
    for (size_t i = 0; tree && i < lines.size(); ++i) {
        const std::string_view l = Trim(lines[i]);
        if (l.empty()) continue;
        tree = l[0] == '+' || l[0] == '-' || (i == 0 && l[0] == '!');
    }
    if (tree) {
        t.Courier = true;
        t.Columns.push_back({});
        for (size_t i = 0; i < lines.size(); ++i) {
            std::string_view l = lines[i];
            TTableRow row;
            const size_t first = l.find_first_not_of(' ');
            if (first != std::string_view::npos && l[first] == '+') row.Color = LightBlue;
            if (i == 0 && first != std::string_view::npos && l[first] == '!') {
                row.Color = LightRed;
                lines[i].erase(first, 1);
                l = lines[i];
            }
            std::string cell;
            size_t k = 0;
            for (; k < l.size() && l[k] == ' '; ++k)
                cell += Nbsp;
            cell += l.substr(k);
            row.Cells.push_back(std::move(cell));
            t.Rows.push_back(std::move(row));
        }
        return t;
    }

    size_t firstRow = 0;
    if (caret) {
        std::string titles = lines.empty() ? std::string() : lines[0].substr(1);
        std::replace(titles.begin(), titles.end(), '\t', '|');
        t.Columns = ParseColumnList(titles);
        firstRow = 1;
    }
    const std::vector<std::string> body(lines.begin() + std::min(firstRow, lines.size()), lines.end());
    const bool tabs = std::any_of(body.begin(), body.end(),
                                  [](const std::string& l) { return l.find('\t') != std::string::npos; });
    const auto breaks = tabs ? std::vector<std::pair<size_t, size_t>>() : FindColumnBreaks(body, true);
    size_t columns = t.Columns.size();
    for (const std::string& l : body) {
        if (StartsWith(l, ">>")) {
            t.Rows.push_back(TitleRow(l));
            continue;
        }
        TTableRow row;
        if (tabs)
            for (const std::string& c : SplitOn(l, '\t'))
                row.Cells.emplace_back(Trim(c));
        else
            row.Cells = CutAtBreaks(l, breaks);
        columns = std::max(columns, row.Cells.size());
        t.Rows.push_back(std::move(row));
    }
    t.Columns.resize(std::max<size_t>(columns, 1));
    for (TTableRow& r : t.Rows)
        if (r.Kind == TRowKind::Normal) r.Cells.resize(t.Columns.size());
    return t;
}

TReportTable ThreadTable(std::string_view text) {
    TReportTable t;
    t.IsTable = true;
    const std::vector<std::string> lines = SplitLines(text);
    // One piece per thread: its title, then its lines (a "created by" title stays with it).
    struct TPiece {
        std::vector<size_t> Lines;
    };
    std::vector<TPiece> pieces(1);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (StartsWith(lines[i], ">>") && !StartsWith(lines[i], ">> created") && !pieces.back().Lines.empty())
            pieces.emplace_back();
        pieces.back().Lines.push_back(i);
    }
    std::vector<TTableRow> rows;
    bool present[StackColumns] = {};
    for (const TPiece& piece : pieces) {
        std::vector<std::string> code;
        for (size_t i : piece.Lines)
            if (!StartsWith(lines[i], ">>") && !Trim(lines[i]).empty()) code.push_back(lines[i]);
        const auto breaks = FindColumnBreaks(code, false);
        // Which column of this piece holds what, from the cells of all its lines.
        std::vector<std::vector<std::string>> cut;
        size_t n = 0;
        for (const std::string& l : code) {
            cut.push_back(CutAtBreaks(l, breaks));
            n = std::max(n, cut.back().size());
        }
        auto column = [&](size_t c, bool (*test)(std::string_view)) {
            bool any = false;
            for (const auto& cells : cut) {
                if (c >= cells.size() || cells[c].empty()) continue;
                if (!test(cells[c])) return false;
                any = true;
            }
            return any;
        };
        std::vector<int> kind(n, ColFunction);
        size_t c = 0;
        if (n > 0) kind[c++] = ColAddress;
        if (c < n && column(c, IsRelative)) kind[c++] = ColRel;
        if (c < n) kind[c++] = ColModule;
        size_t lineCol = n;
        for (size_t k = c; k < n; ++k)
            if (column(k, [](std::string_view s) { return AllOf(s, IsDigit); })) {
                lineCol = k;
                break;
            }
        if (lineCol < n) {
            for (size_t k = c; k < lineCol; ++k)
                kind[k] = ColUnit;
            kind[lineCol] = ColLine;
            if (lineCol + 1 < n && column(lineCol + 1, IsRelative)) kind[lineCol + 1] = ColRelLine;
        } else if (n - c >= 2) {
            for (size_t k = c; k + 1 < n; ++k)
                kind[k] = ColUnit;
        }
        size_t codeIndex = 0;
        for (size_t i : piece.Lines) {
            if (StartsWith(lines[i], ">>")) {
                rows.push_back(TitleRow(lines[i]));
                continue;
            }
            if (Trim(lines[i]).empty()) continue;
            TTableRow row;
            row.Cells.resize(StackColumns);
            const auto& cells = cut[codeIndex++];
            for (size_t k = 0; k < cells.size(); ++k) {
                std::string& to = row.Cells[kind[k]];
                if (!to.empty() && !cells[k].empty()) to += ' ';
                to += cells[k];
                if (!cells[k].empty()) present[kind[k]] = true;
            }
            rows.push_back(std::move(row));
        }
    }
    std::vector<int> shown;
    for (int k = 0; k < StackColumns; ++k)
        if (k == ColAddress || present[k]) shown.push_back(k);
    std::string list;
    for (int k : shown)
        list += (list.empty() ? "" : "|") + std::string(StackTitles[k]);
    t.Columns = ParseColumnList(list);
    for (TTableRow& r : rows) {
        if (r.Kind == TRowKind::Normal) {
            std::vector<std::string> cells;
            for (int k : shown)
                cells.push_back(std::move(r.Cells[k]));
            r.Cells = std::move(cells);
        }
        t.Rows.push_back(std::move(r));
    }
    return t;
}

TReportTable ReportTabTable(const TReportTab& tab, std::string_view text) {
    if (StartsWith(text, ">> will be")) return AutoTable(text);
    if (StartsWith(text, ">> internal") || tab.Section == "call stack") return ThreadTable(text);
    if (tab.Section == "general") {
        TReportTable t;
        t.IsTable = true;
        t.Columns = ParseColumnList("description|value");
        for (const std::string& l : SplitLines(text)) {
            const size_t tabAt = l.find('\t');
            TTableRow row;
            row.Cells = {l.substr(0, tabAt),
                         tabAt == std::string::npos ? std::string() : l.substr(tabAt + 1)};
            t.Rows.push_back(std::move(row));
        }
        return t;
    }
    if (tab.Section == "modules") return FixedTable("^handle|file name| version|path", text, false);
    if (tab.Section == "cpu registers") return FixedTable("reg.|content", text, true);
    if (tab.Section == "stack dump") return FixedTable("address|data - hexadecimal|data - chars", text, true);
    if (tab.Section == "processes") {
        // The session column is there when the rows have five columns.
        const auto lines = SplitLines(text);
        const bool sessions =
            FindColumnBreaks(lines, true).size() >= 4 &&
            std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
                return l.find(" 0 ") != std::string::npos || l.find(" 1 ") != std::string::npos;
            });
        return FixedTable(sessions ? "^id|file name|session|priority|path" : "^id|file name|priority|path",
                          text, false);
    }
    if (tab.Section == "disassembling") return DisAsmTable(text);
    return AutoTable(text);
}
