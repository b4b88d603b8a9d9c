#include "crashreport/report/Plugins.h"

#include "crashreport/report/Fields.h"

void TPluginRegistry::Register(TReportPlugin plugin) {
    std::lock_guard lock(FLock);
    for (TReportPlugin& p : FPlugins)
        if (SameFieldName(p.Name, plugin.Name)) {
            p = std::move(plugin);
            return;
        }
    FPlugins.push_back(std::move(plugin));
}

void TPluginRegistry::Unregister(std::string_view name) {
    std::lock_guard lock(FLock);
    std::erase_if(FPlugins, [&](const TReportPlugin& p) { return SameFieldName(p.Name, name); });
}

std::vector<TReportPlugin> TPluginRegistry::Enabled(std::string_view setting) const {
    std::lock_guard lock(FLock);
    std::vector<TReportPlugin> out;
    while (!setting.empty()) {
        size_t bar = setting.find('|');
        std::string_view name = TrimField(setting.substr(0, bar));
        setting = bar == std::string_view::npos ? std::string_view() : setting.substr(bar + 1);
        bool seen = false;
        for (const TReportPlugin& p : out)
            seen = seen || SameFieldName(p.Name, name);
        if (seen) continue;
        for (const TReportPlugin& p : FPlugins)
            if (SameFieldName(p.Name, name)) out.push_back(p);
    }
    return out;
}

TPluginRegistry& ReportPlugins() {
    static TPluginRegistry registry;
    return registry;
}
