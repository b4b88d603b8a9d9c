#pragma once
// The settings of the process's modules: read from each module's "TXUNEXCEPT" resource once,
// kept in a list that every module carrying the crash reporter shares through the shared-memory
// block "xunExceptSettingsBuf" + process id.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "crashreport/capture/Settings.h"

// The settings object of a module (the same object for every request). Never null: a module
// without settings gets the built-in values, in which the crash reporter is disabled.
TRef<IMEModuleSettings> SettingsForModule(HMODULE module);

// The settings that apply to an exception at this code address: those of the module holding it
// when it is not the program and has usable settings of its own, else the main settings.
TRef<IMEModuleSettings> SettingsForAddress(const void* address);

// The process-wide main settings: the program's, else the development helper library's, else
// those of the first module in the address space with usable settings, else the program's.
TRef<IMEModuleSettings> MainSettings();

// The module's settings resource; false when it has none.
bool LoadSettingsResource(HMODULE module, std::vector<uint8_t>& data);

// Shows the crash reporter's internal errors as message boxes.
IInternalErrorSink& MessageBoxErrorSink();

// The text variables of a module, answered by the system.
TRef<ITextVariableSource> Win32TextVariables(HMODULE module);
