#pragma once
// UTF-8 <-> UTF-16 at the Win32 boundary, and the scoped owner of each kind of handle.
#include <windows.h>

#include <string>
#include <string_view>

#include "crashreport/base/HandlesWin32.h"

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// The text of the last OS error, for error messages.
std::string SysErrorMessage(DWORD code);
