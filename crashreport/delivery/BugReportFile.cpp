#include "crashreport/delivery/BugReportFile.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::string_view ReportStart = "\r\ndate/time";

// The header of a report: the lines up to the first empty one.
std::string_view Header(std::string_view report) {
    size_t end = report.find("\r\n\r\n");
    return end == std::string_view::npos ? report : report.substr(0, end);
}

// The line "name<blanks>: value": its value, when the line is that field.
bool FieldOfLine(std::string_view line, std::string_view name, std::string_view& value) {
    if (line.size() <= name.size() || line.substr(0, name.size()) != name) return false;
    size_t at = name.size();
    while (at < line.size() && line[at] == ' ')
        ++at;
    if (line.substr(at, 2) != ": " && line.substr(at) != ":") return false;
    value = at + 2 <= line.size() ? line.substr(at + 2) : std::string_view();
    return true;
}

std::string_view StripName(std::string_view file) {
    size_t slash = file.find_last_of("\\/:");
    if (slash != std::string_view::npos) file.remove_prefix(slash + 1);
    size_t dot = file.rfind('.');
    return dot == std::string_view::npos ? file : file.substr(0, dot);
}

void ReplaceNoCase(std::string& text, std::string_view what, std::string_view with) {
    for (size_t at = 0; at + what.size() <= text.size();) {
        bool same = true;
        for (size_t i = 0; i < what.size() && same; ++i)
            same = std::tolower(uint8_t(text[at + i])) == std::tolower(uint8_t(what[i]));
        if (!same) {
            ++at;
            continue;
        }
        text.replace(at, what.size(), with);
        at += with.size();
    }
}

} // namespace

TBugReportFileRules TBugReportFileRules::From(IMESettings& s) {
    TBugReportFileRules r;
    r.Append = s.ReadBool("AppendBugReps");
    r.SizeLimit = uint32_t(std::max(s.ReadInt("BugRepFileSize"), 0));
    r.NoDupExcepts = s.ReadBool("NoDupExcepts");
    r.DupExceptDef = s.ReadInt("DupExceptDef");
    r.NoDupFreezes = s.ReadBool("NoDupFreezes");
    r.DupFreezeDef = s.ReadInt("DupFreezeDef");
    return r;
}

std::string ReportHeaderValue(std::string_view report, std::string_view name) {
    std::string_view header = Header(report);
    while (!header.empty()) {
        size_t end = header.find("\r\n");
        std::string_view line = header.substr(0, end);
        std::string_view value;
        if (FieldOfLine(line, name, value)) return std::string(value);
        if (end == std::string_view::npos) break;
        header.remove_prefix(end + 2);
    }
    return {};
}

std::string MergeBugReport(std::string_view oldFile, std::string_view report,
                           const TBugReportFileRules& rules) {
    if (!rules.Append) return std::string(report) + "\r\n\r\n";
    std::string file(oldFile);
    std::string added(report);

    // The duplicate key: the checksums, as many as the definition asks for.
    std::string key;
    const std::string crc = ReportHeaderValue(report, "callstack crc");
    if (!file.empty() && crc.size() == 31) {
        const bool exception = !ReportHeaderValue(report, "exception class").empty();
        const bool merge = exception ? rules.NoDupExcepts : rules.NoDupFreezes;
        const int32_t def = exception ? rules.DupExceptDef : rules.DupFreezeDef;
        if (merge) key = crc.substr(0, def == 0 ? 9 : def == 1 ? 20 : 31);
    }
    if (!key.empty()) {
        const std::string needle = ": " + key;
        for (size_t hit = file.rfind(needle); hit != std::string::npos;
             hit = hit ? file.rfind(needle, hit - 1) : std::string::npos) {
            size_t start = file.rfind(ReportStart, hit);
            start = start == std::string::npos ? file.find("date/time") : start + 2;
            if (start == std::string::npos || start > hit) continue;
            size_t next = file.find(ReportStart, hit);
            // The old report with the empty line behind it.
            const size_t end = next == std::string::npos ? file.size() : next + 2;
            std::string_view old = std::string_view(file).substr(start, end - start);
            bool same = true;
            for (const char* field : {"executable", "current module", "exception class", "version"})
                same &= ReportHeaderValue(old, field) == ReportHeaderValue(report, field);
            if (same && ReportHeaderValue(report, "version").empty())
                for (const char* field : {"exec. date/time", "module date/time"})
                    same &= ReportHeaderValue(old, field) == ReportHeaderValue(report, field);
            if (!same) continue;
            std::string count = ReportHeaderValue(old, "count");
            long previous = count.empty() ? 1 : std::strtol(count.c_str(), nullptr, 10);
            // "count" goes right after the "callstack crc" line, its colon under that line's colon.
            size_t crcLine = added.find("callstack crc");
            size_t lineEnd = crcLine == std::string::npos ? std::string::npos : added.find("\r\n", crcLine);
            if (crcLine != std::string::npos) {
                size_t colon = added.find(':', crcLine);
                std::string line = "count";
                line.resize(std::max(colon - crcLine, line.size()), ' ');
                line += ": " + std::to_string(std::max(previous, 1L) + 1);
                if (lineEnd == std::string::npos)
                    added += "\r\n" + line;
                else
                    added.insert(lineEnd, "\r\n" + line);
            }
            file.erase(start, end - start);
            break;
        }
    }
    if (rules.SizeLimit != 0 && file.size() > rules.SizeLimit) {
        const size_t keep = rules.SizeLimit - rules.SizeLimit / 4;
        for (size_t at = file.find(ReportStart); at != std::string::npos; at = file.find(ReportStart, at + 2))
            if (file.size() - (at + 2) < keep) {
                file.erase(0, at + 2);
                break;
            }
    }
    return file + added + "\r\n\r\n";
}

std::string BugReportFileName(std::string_view pattern, std::string_view programFile,
                              std::string_view moduleFile) {
    std::string name(pattern);
    ReplaceNoCase(name, "%appname%", StripName(programFile));
    ReplaceNoCase(name, "%modname%", StripName(moduleFile));
    return name;
}
