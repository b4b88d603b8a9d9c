#include "crashreport/report/ReportFormats.h"

#include <cstdio>

std::string FormatReportDateTime(const TLocalTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d, %02d:%02d:%02d, %dms", t.Year, t.Month, t.Day, t.Hour,
                  t.Minute, t.Second, t.Milliseconds);
    return buf;
}

std::string FormatModuleDateTime(const TLocalTime& t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute);
    return buf;
}

namespace {

void AppendPart(std::string& out, uint64_t n, const char* unit) {
    if (n == 0) return;
    if (!out.empty()) out += ' ';
    out += std::to_string(n) + ' ' + unit;
    if (n != 1) out += 's';
}

} // namespace

std::string FormatDuration(uint64_t seconds) {
    const uint64_t days = seconds / 86400, hours = seconds / 3600 % 24, minutes = seconds / 60 % 60,
                   secs = seconds % 60;
    std::string out;
    if (days) {
        AppendPart(out, days, "day");
        AppendPart(out, hours, "hour");
    } else if (hours) {
        AppendPart(out, hours, "hour");
        AppendPart(out, minutes, "minute");
    } else if (minutes) {
        AppendPart(out, minutes, "minute");
        AppendPart(out, secs, "second");
    } else {
        out = std::to_string(secs) + (secs == 1 ? " second" : " seconds");
    }
    return out;
}

std::string FormatProgramUpTime(uint64_t milliseconds) {
    if (milliseconds < 1000) return std::to_string(milliseconds) + " milliseconds";
    return FormatDuration(milliseconds / 1000);
}

std::string FormatSize(uint64_t bytes, std::string_view decimalSeparator) {
    if (bytes < 1024) return std::to_string(bytes) + " Bytes";
    static const char* const units[] = {"KB", "MB", "GB"};
    int n = bytes < (uint64_t(1) << 20) ? 0 : bytes < (uint64_t(1) << 30) ? 1 : 2;
    const uint64_t unit = uint64_t(1) << (10 * (n + 1));
    // bytes * 100 / unit without overflowing on huge disks.
    const uint64_t hundredths = bytes / unit * 100 + bytes % unit * 100 / unit;
    std::string digits = std::to_string(hundredths);
    std::string sep = decimalSeparator.empty() ? std::string(",") : std::string(decimalSeparator);
    return digits.substr(0, digits.size() - 2) + sep + digits.substr(digits.size() - 2) + ' ' + units[n];
}

std::string FormatPhysicalMemory(uint64_t availableBytes, uint64_t totalBytes) {
    const uint64_t mb = uint64_t(1) << 20;
    return std::to_string((availableBytes + mb / 2) / mb) + "/" + std::to_string((totalBytes + mb / 2) / mb) +
           " MB (free/total)";
}

std::string OperatingSystemName(const TOsVersion& v) {
    if (v.Nt) {
        if (v.Major < 4) return "Windows NT 3";
        if (v.Major == 4) return "Windows NT 4";
        if (v.Major == 5) {
            if (v.Minor == 0) return "Windows 2000";
            if (v.Minor == 1 || v.Workstation) return "Windows XP";
            return "Windows 2003";
        }
        if (v.Major == 6 && v.Minor == 0) return "Windows Vista";
        return "Windows NT New";
    }
    if (v.Major <= 3) return "None";
    if (v.Major == 4) {
        const uint32_t build = v.Build & 0xFFFF;
        if (v.Minor < 10) return build <= 1000 ? "Windows 95" : "Windows 95 OSR-2";
        if (v.Minor == 10)
            return build <= 2000 ? "Windows 98" : build <= 2700 ? "Windows 98 SE" : "Windows ME";
        if (v.Minor <= 90) return "Windows ME";
    }
    return "Windows 9x New";
}

std::string OperatingSystemText(const TOsVersion& v) {
    std::string out = OperatingSystemName(v);
    if (v.Nt) {
        if (v.R2) out += " R2";
        if (v.TabletPc) out += " Tablet PC";
        if (v.Starter) out += " Starter";
        if (v.MediaCenter && v.Major < 6) out += " Media Center";
        if (v.X64) out += " x64";
        if (std::string_view sp = v.ServicePack; !CollapseBlanks(sp).empty()) out += ' ' + CollapseBlanks(sp);
    }
    return out + " build " + std::to_string(v.Nt ? v.Build : v.Build & 0xFFFF);
}

std::string CollapseBlanks(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string CleanExceptionMessage(std::string_view message) {
    // Line breaks and blanks at the end are not part of the sentence: the full stop goes after
    // the text, not after a trailing line break.
    std::string flat;
    for (char c : message)
        flat += c == '\r' || c == '\n' || c == '\t' ? ' ' : c;
    flat = CollapseBlanks(flat);
    size_t end = flat.find_last_not_of(".!");
    if (end == std::string::npos) return flat.empty() ? std::string() : std::string(".");
    flat.resize(end + 1);
    while (!flat.empty() && flat.back() == ' ')
        flat.pop_back();
    return flat + ".";
}

bool CommandLineHasParameters(std::string_view cmd) {
    size_t i = 0;
    while (i < cmd.size() && (cmd[i] == ' ' || cmd[i] == '\t'))
        ++i;
    if (i < cmd.size() && cmd[i] == '"') {
        size_t close = cmd.find('"', i + 1);
        i = close == std::string_view::npos ? cmd.size() : close + 1;
    } else {
        while (i < cmd.size() && cmd[i] != ' ' && cmd[i] != '\t')
            ++i;
    }
    for (; i < cmd.size(); ++i)
        if (cmd[i] != ' ' && cmd[i] != '\t') return true;
    return false;
}

std::string CompilerText() {
    std::string out;
#if defined(__MINGW32__)
    out = "MinGW-w64 ";
#endif
#if defined(__clang__)
    out += "Clang " + std::to_string(__clang_major__) + "." + std::to_string(__clang_minor__);
#elif defined(__GNUC__)
    out += "GCC " + std::to_string(__GNUC__);
    // Some builds of the compiler do not tell their minor version ("12-posix" reads as 12.0.0).
    if (__GNUC_MINOR__ || __GNUC_PATCHLEVEL__)
        out += "." + std::to_string(__GNUC_MINOR__) + "." + std::to_string(__GNUC_PATCHLEVEL__);
#else
    out += "C++ compiler";
#endif
#if defined(__x86_64__)
    out += " (x86-64)";
#elif defined(__i386__)
    out += " (i686)";
#endif
    return out;
}
