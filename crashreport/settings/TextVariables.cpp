#include "crashreport/settings/TextVariables.h"

#include <cstdio>

namespace {

enum TVariable {
    varAppName,
    varModName,
    varAppVersion,
    varModVersion,
    varExceptMsg,
    varBugReport,
    varLF,
    varDate,
    varTime,
    varDateTime,
    varUserAppData,
    varCommonAppData,
    varCount
};

const std::string_view VariableNames[varCount] = {
    "%appname%", "%modname%", "%appversion%", "%modversion%", "%exceptMsg%",   "%bugReport%",
    "%LF%",      "%date%",    "%time%",       "%datetime%",   "%userappdata%", "%commonappdata%"};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool MatchesAt(std::string_view text, size_t pos, std::string_view name) {
    if (text.size() - pos < name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (Lower(text[pos + i]) != Lower(name[i])) return false;
    return true;
}

std::string WithoutTrailingBackslash(std::string s) {
    while (!s.empty() && (s.back() == '\\' || s.back() == '/'))
        s.pop_back();
    return s;
}

std::string Folder(ITextVariableSource* source, std::string folder) {
    folder = WithoutTrailingBackslash(std::move(folder));
    return folder.empty() ? WithoutTrailingBackslash(source->ExeFolder()) : folder;
}

} // namespace

std::string FormatVariableDate(const TLocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.Year, t.Month, t.Day);
    return buf;
}

std::string FormatVariableTime(const TLocalTime& t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d, %dms", t.Hour, t.Minute, t.Second, t.Milliseconds);
    return buf;
}

std::string ExpandTextVariables(std::string_view text, ITextVariableSource* source,
                                const std::string* exceptMsg, const std::string* bugReport) {
    std::string out;
    out.reserve(text.size());
    std::optional<TLocalTime> now; // one reading, so %date% and %time% agree
    auto time = [&]() -> const TLocalTime& {
        if (!now) now = source->Now();
        return *now;
    };
    size_t pos = 0;
    while (pos < text.size()) {
        size_t pct = text.find('%', pos);
        if (pct == std::string_view::npos) break;
        out.append(text.substr(pos, pct - pos));
        pos = pct;
        int var = 0;
        while (var < varCount && !MatchesAt(text, pos, VariableNames[var]))
            ++var;
        std::optional<std::string> value;
        switch (var) {
        case varExceptMsg:
            if (exceptMsg) value = exceptMsg->empty() ? std::string("Unknown") : *exceptMsg;
            break;
        case varBugReport:
            if (bugReport) value = *bugReport;
            break;
        case varLF:
            value = "\r\n";
            break;
        case varCount:
            break;
        default:
            if (!source) break;
            switch (var) {
            case varAppName:
                value = source->AppName();
                break;
            case varModName:
                value = source->ModName();
                break;
            case varAppVersion:
            case varModVersion: {
                std::string v = source->ModVersion();
                value = v.empty() ? std::string("?") : v;
                break;
            }
            case varDate:
                value = FormatVariableDate(time());
                break;
            case varTime:
                value = FormatVariableTime(time());
                break;
            case varDateTime:
                value = FormatVariableDate(time()) + ", " + FormatVariableTime(time());
                break;
            case varUserAppData:
                value = Folder(source, source->UserAppData());
                break;
            case varCommonAppData:
                value = Folder(source, source->CommonAppData());
                break;
            }
        }
        if (value) {
            out += *value;
            pos += VariableNames[var].size();
        } else if (var < varCount) {
            // Kept whole, so its closing '%' cannot start another variable.
            out.append(text.substr(pos, VariableNames[var].size()));
            pos += VariableNames[var].size();
        } else {
            out.push_back('%');
            ++pos;
        }
    }
    out.append(text.substr(pos));
    return out;
}
