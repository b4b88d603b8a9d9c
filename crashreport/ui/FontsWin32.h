#pragma once
// The fonts of the crash reporter's windows.
#include <windows.h>

// A font of that face and pixel height.
HFONT MakeFont(const wchar_t* face, int height, int weight = FW_NORMAL);

// "Tahoma" at 11 pixels when the system has it, else "MS Sans Serif".
HFONT MakeDialogFont(int weight = FW_NORMAL);
