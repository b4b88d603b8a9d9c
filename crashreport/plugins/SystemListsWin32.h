#pragma once
// The system list plug-ins on NT-family Windows: what they gather, and their registration in the
// process's plug-in registry.
#include <string>
#include <vector>

#include "crashreport/plugins/SystemLists.h"

// The modules of this process in address order, found by walking the address space.
std::vector<TModuleEntry> LoadedModules();
// The processes of the system; empty when the system does not say.
std::vector<TProcessEntry> RunningProcesses();
// The present devices, without the skipped ones.
THardwareList InstalledHardware();

// The section texts.
std::string ModulesPluginText();
std::string ProcessesPluginText();
std::string HardwarePluginText();

// Registers "modules", "processes" and "hardware"; only the first of several calls does.
void RegisterSystemListPlugins();
// Undoes the registration when the last caller of RegisterSystemListPlugins is gone.
void UnregisterSystemListPlugins();
