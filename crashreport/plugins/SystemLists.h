#pragma once
// The texts of the system list sections: loaded modules, running processes, installed hardware.
// The lists come in as plain data (SystemListsWin32.h gathers them), so the layout is the same
// for the report, the dialog's tables and the tests.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TModuleEntry {
    uint64_t Handle = 0;
    std::string Path;    // full file name
    std::string Version; // empty: the file has no version
};

// One line per module, in the order given: handle, name, version, folder (with its last "\").
// handleDigits: 8, or 16 for 64-bit addresses.
std::string ModuleListText(const std::vector<TModuleEntry>& modules, int handleDigits = 8);

struct TProcessEntry {
    uint32_t Id = 0;
    uint32_t Session = 0;
    std::string Path;      // full path, or the bare image name; empty: the idle process
    uint32_t Priority = 0; // priority class; 0: unknown
};

// The path as the system gives it, with "\SystemRoot\System32\" replaced by the system folder and
// a leading "\??\" removed.
std::string ProcessPath(std::string_view path, std::string_view systemFolder);

// "normal", "idle", ...; empty for 0, hexadecimal for a class without a name.
std::string PriorityText(uint32_t priorityClass);

// One line per process: id, name, the session when any process is outside session 0, priority,
// folder.
std::string ProcessListText(const std::vector<TProcessEntry>& processes);

// Devices the hardware list leaves out: the software-only classes and software-enumerated devices.
bool SkipDevice(std::string_view className, std::string_view hardwareId);

// What follows a device whose driver is not the system's own: " (driver 1.2.3)", else empty.
std::string DriverSuffix(std::string_view provider, std::string_view version, std::string_view date);

// The device classes by display name, each with its devices by name.
class THardwareList {
public:
    // suffix: DriverSuffix of the device's driver.
    void Add(std::string_view classDisplayName, std::string_view device, std::string_view suffix);
    std::string Text() const;

private:
    struct TClass {
        std::string Name;
        std::vector<std::string> Devices; // with their suffixes
        std::vector<std::string> Names;   // without, for the order
    };
    std::vector<TClass> FClasses;
};
