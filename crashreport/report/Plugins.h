#pragma once
// The plug-ins that add lists to the bug report: registered once per process, enabled and ordered
// by the "Plugins" setting.
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct TReportPlugin {
    std::string Name;
    std::string Description;
    std::function<std::string()> Procedure;
    bool OwnSection = true; // else a header field
};

class TPluginRegistry {
public:
    // A later registration under the same name replaces the earlier one.
    void Register(TReportPlugin plugin);
    void Unregister(std::string_view name);
    // The enabled plug-ins in the order of the "|"-separated setting; unknown names are skipped,
    // a name given twice counts once.
    std::vector<TReportPlugin> Enabled(std::string_view setting) const;

private:
    mutable std::mutex FLock;
    std::vector<TReportPlugin> FPlugins;
};

// The process's registry.
TPluginRegistry& ReportPlugins();
