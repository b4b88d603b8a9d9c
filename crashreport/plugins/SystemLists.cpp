#include "crashreport/plugins/SystemLists.h"

#include <algorithm>

#include "crashreport/base/Text.h"

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool StartsText(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

bool LessText(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return uint8_t(Lower(x)) < uint8_t(Lower(y)); });
}

void AppendPadded(std::string& s, std::string_view text, size_t width) {
    s += text;
    if (text.size() < width) s.append(width - text.size(), ' ');
}

std::string Join(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) {
        if (!s.empty()) s += "\r\n";
        s += l;
    }
    return s;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && uint8_t(s.front()) <= ' ')
        s.remove_prefix(1);
    while (!s.empty() && uint8_t(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

} // namespace

std::string ModuleListText(const std::vector<TModuleEntry>& modules, int handleDigits) {
    size_t nameWidth = 0, versionWidth = 0;
    for (const TModuleEntry& m : modules) {
        nameWidth = std::max(nameWidth, ExtractFileName(m.Path).size());
        versionWidth = std::max(versionWidth, m.Version.size());
    }
    std::string s;
    for (const TModuleEntry& m : modules) {
        if (!s.empty()) s += "\r\n";
        const std::string_view name = ExtractFileName(m.Path);
        AppendHex(s, m.Handle, handleDigits);
        s += ' ';
        AppendPadded(s, name, nameWidth + 1);
        AppendPadded(s, m.Version, versionWidth + 1);
        s += std::string_view(m.Path).substr(0, m.Path.size() - name.size());
    }
    return s;
}

std::string ProcessPath(std::string_view path, std::string_view systemFolder) {
    constexpr std::string_view SystemRoot = "\\SystemRoot\\System32\\", Dos = "\\??\\";
    if (StartsText(path, SystemRoot)) {
        std::string s(systemFolder);
        if (s.empty() || s.back() != '\\') s += '\\';
        return s += path.substr(SystemRoot.size());
    }
    if (path.starts_with(Dos)) path.remove_prefix(Dos.size());
    return std::string(path);
}

std::string PriorityText(uint32_t priorityClass) {
    switch (priorityClass) {
    case 0:
        return {};
    case 32:
        return "normal";
    case 64:
        return "idle";
    case 128:
        return "high";
    case 256:
        return "realtime";
    case 16384:
        return "below normal";
    case 32768:
        return "above normal";
    default:
        return Hex(priorityClass);
    }
}

std::string ProcessListText(const std::vector<TProcessEntry>& processes) {
    struct TRow {
        std::string Id, Name, Session, Priority, Folder;
    };
    std::vector<TRow> rows;
    size_t idWidth = 0, nameWidth = 0, sessionWidth = 0, priorityWidth = 0;
    bool sessions = false;
    for (const TProcessEntry& p : processes) {
        TRow r;
        r.Id = Hex(p.Id);
        if (p.Path.empty()) {
            r.Name = "Idle";
        } else {
            r.Name = ExtractFileName(p.Path);
            r.Folder = ExtractFileDir(p.Path);
        }
        r.Session = std::to_string(p.Session);
        r.Priority = PriorityText(p.Priority);
        sessions |= p.Session != 0;
        idWidth = std::max(idWidth, r.Id.size());
        nameWidth = std::max(nameWidth, r.Name.size());
        sessionWidth = std::max(sessionWidth, r.Session.size());
        priorityWidth = std::max(priorityWidth, r.Priority.size());
        rows.push_back(std::move(r));
    }
    std::string s;
    for (const TRow& r : rows) {
        if (!s.empty()) s += "\r\n";
        s.append(idWidth - r.Id.size(), '0');
        s += r.Id;
        s += ' ';
        AppendPadded(s, r.Name, nameWidth + 1);
        if (sessions) {
            // Right-aligned, with the blank that ends every column after it.
            s.append(sessionWidth - r.Session.size(), ' ');
            s += r.Session;
            s += ' ';
        }
        AppendPadded(s, r.Priority, priorityWidth + 1);
        s += r.Folder;
    }
    return s;
}

bool SkipDevice(std::string_view className, std::string_view hardwareId) {
    for (std::string_view skipped : {"LegacyDriver", "Unknown", "Volume"})
        if (SameText(className, skipped)) return true;
    return StartsText(hardwareId, "sw\\");
}

std::string DriverSuffix(std::string_view provider, std::string_view version, std::string_view date) {
    if (provider.empty() || provider.front() == '(' || SameText(provider, "Microsoft")) return {};
    version = Trim(version);
    if (version.empty()) version = Trim(date);
    return " (driver " + std::string(version) + ")";
}

void THardwareList::Add(std::string_view classDisplayName, std::string_view device, std::string_view suffix) {
    auto byName = [](const TClass& c, std::string_view name) { return LessText(c.Name, name); };
    auto cls = std::lower_bound(FClasses.begin(), FClasses.end(), classDisplayName, byName);
    if (cls == FClasses.end() || !SameText(cls->Name, classDisplayName))
        cls = FClasses.insert(cls, TClass{std::string(classDisplayName), {}, {}});
    // Before the first equal name: devices of the same name end up in reverse order of adding.
    auto at = std::lower_bound(cls->Names.begin(), cls->Names.end(), device,
                               [](const std::string& a, std::string_view b) { return LessText(a, b); });
    const auto index = at - cls->Names.begin();
    cls->Names.insert(at, std::string(device));
    cls->Devices.insert(cls->Devices.begin() + index, std::string(device) + std::string(suffix));
}

std::string THardwareList::Text() const {
    std::vector<std::string> lines;
    for (const TClass& c : FClasses) {
        lines.push_back("+ " + c.Name);
        for (const std::string& d : c.Devices)
            lines.push_back("  - " + d);
    }
    return Join(lines);
}
