#include "crashreport/delivery/TempFolderWin32.h"

#include <cwchar>
#include <mutex>

namespace {

std::mutex FolderLock; // the clearing and the count of sends
int SendsUsingFolder = 0;

std::wstring FolderPath() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return {};
    std::wstring path(temp, n);
    if (path.back() != L'\\') path += L'\\';
    wchar_t name[32];
    swprintf(name, 32, L"xunExcept%08X\\", unsigned(::GetCurrentProcessId()));
    return path + name;
}

} // namespace

std::wstring CrashTempFolder() {
    const std::wstring path = FolderPath();
    if (path.empty()) return {};
    if (::CreateDirectoryW(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) return path;
    return {};
}

void ClearCrashTempFolder() {
    std::lock_guard lock(FolderLock);
    if (SendsUsingFolder > 0) return;
    const std::wstring folder = FolderPath();
    if (folder.empty()) return;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring file = folder + found.cFileName;
        ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(file.c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

TTempFolderUse::TTempFolderUse() {
    std::lock_guard lock(FolderLock);
    ++SendsUsingFolder;
}

TTempFolderUse::~TTempFolderUse() {
    std::lock_guard lock(FolderLock);
    --SendsUsingFolder;
}
