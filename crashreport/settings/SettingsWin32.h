#pragma once
// The settings of the process's modules: read from each module's "TXUNEXCEPT" resource when first
// asked for, kept in a list that every module carrying the crash reporter shares through the
// shared-memory block "xunExceptSettingsBuf" + process id, and dropped from it again when the last
// reference to them goes.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crashreport/settings/Settings.h"

// One module's entry in the shared list. Records come from the process heap, so whichever
// module's copy of the crash reporter walks the list can use them. The record does not own the
// settings: they unlink it when their last reference goes.
struct TModuleSettingsRecord {
    HMODULE Module;
    IMEModuleSettings* Settings;
    TModuleSettingsRecord* Next;
};

// The shared block. Every module's copy of the crash reporter maps its own view and counts once
// in RefCount while it uses it.
struct TSharedSettingsBuf {
    LONG RefCount;
    HANDLE Mapping;        // keeps the block's name alive while any module uses it
    CRITICAL_SECTION Lock; // guards the module list
    TModuleSettingsRecord* Head;
    LONG Reserved;
};
#ifndef _WIN64
static_assert(sizeof(TSharedSettingsBuf) == 40);
#endif

// "xunExceptSettingsBuf" followed by the process id as 8 upper-case hexadecimal digits.
std::wstring SettingsBufferName(DWORD processId);

// The settings object of a module (the same object for every request while anybody holds it).
// Never null: a module without a settings resource answers with the main settings' values and
// then the built-in ones.
TRef<IMEModuleSettings> SettingsForModule(HMODULE module);

// The settings that apply to an exception at this code address: those of the module holding it
// when it is not the program and has usable settings of its own, else the main settings.
TRef<IMEModuleSettings> SettingsForAddress(const void* address);

// The process-wide main settings: the program's, else the development helper library's, else
// those of the first module in the address space with usable settings, else the program's.
TRef<IMEModuleSettings> MainSettings();

// The module's settings resource; false when it has none.
bool HasSettingsResource(HMODULE module);
bool LoadSettingsResource(HMODULE module, std::vector<uint8_t>& data);

// Shows the crash reporter's internal errors as message boxes.
IInternalErrorSink& MessageBoxErrorSink();

// The text variables of a module, answered by the system.
TRef<ITextVariableSource> Win32TextVariables(HMODULE module);
