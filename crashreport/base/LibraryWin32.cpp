#include "crashreport/base/LibraryWin32.h"

#include <string>

TSystemLibrary::TSystemLibrary(const wchar_t* fileName) {
    wchar_t folder[MAX_PATH];
    UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    std::wstring path = std::wstring(folder, n) + L"\\" + fileName;
    FModule.Reset(::LoadLibraryW(path.c_str()));
}
