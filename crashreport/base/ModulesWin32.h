#pragma once
// The modules of this process: their files, the one holding an address, their resources.
#include <windows.h>

#include <span>
#include <string>
#include <vector>

// The module's full file name; empty when the module is gone.
std::wstring ModulePath(HMODULE module);

// Every module loaded in the process now.
std::vector<HMODULE> ProcessModules();

// "major.minor.release.build" of the file's version resource; empty when it has none.
std::string FileVersionText(const std::wstring& path);

// The module whose image holds the address, or null.
HMODULE ModuleOfAddress(const void* address);

// The bytes of one resource of the module, valid while it stays loaded; empty when it has none.
std::span<const uint8_t> ResourceBytes(HMODULE module, const wchar_t* name, const wchar_t* type);
