#include "crashreport/delivery/BugReportFileWin32.h"

#include <windows.h>

#include <cwchar>

#include "crashreport/base/HandlesWin32.h"
#include "framework/Win32Util.h"

namespace {

constexpr size_t MaxBugReportFile = size_t(256) << 20;

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool CreateFolders(const std::wstring& folder) {
    if (folder.empty() || GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    if (folder.size() <= 3) return false; // a drive that is not there
    return CreateFolders(FolderOf(folder)) &&
           (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD chunk = DWORD(std::min<size_t>(bytes.size(), 1 << 24)), written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

} // namespace

std::wstring AbsoluteBugReportPath(std::string_view name) {
    std::wstring path = Widen(name);
    const bool absolute =
        (path.size() > 2 && path[1] == L':') || (path.size() > 1 && (path[0] == L'\\' || path[0] == L'/'));
    if (!absolute) {
        wchar_t exe[MAX_PATH * 4];
        DWORD n = GetModuleFileNameW(nullptr, exe, DWORD(std::size(exe)));
        std::wstring folder = n > 0 && n < std::size(exe) ? FolderOf(std::wstring(exe, n)) : std::wstring();
        if (!folder.empty()) path = folder + L"\\" + path;
    }
    wchar_t full[MAX_PATH * 4];
    DWORD n = GetFullPathNameW(path.c_str(), DWORD(std::size(full)), full, nullptr);
    return n > 0 && n < std::size(full) ? std::wstring(full, n) : path;
}

bool SaveBugReportFile(const std::wstring& path, std::string_view report, const TBugReportFileRules& rules) {
    const std::wstring folder = FolderOf(path);
    if (!CreateFolders(folder)) return false;
    // One merge at a time per file, across processes: a mutex named after the file. (The file
    // itself cannot stay open while the merged one replaces it.) A process that crashed holding
    // it leaves it abandoned, which the next one takes over.
    std::wstring lower = path;
    CharLowerBuffW(lower.data(), DWORD(lower.size()));
    uint32_t hash = 2166136261u;
    for (wchar_t c : lower)
        hash = (hash ^ uint32_t(c)) * 16777619u;
    wchar_t name[64];
    swprintf(name, 64, L"xunBugRepFile%08X", hash);
    TKernelHandle mutex(CreateMutexW(nullptr, FALSE, name));
    if (!mutex) return false;
    const DWORD waited = WaitForSingleObject(mutex.Get(), 10000);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
    struct TRelease {
        HANDLE Mutex;
        ~TRelease() { ReleaseMutex(Mutex); }
    } release{mutex.Get()};

    std::string content;
    {
        // Nobody else may have the file open while we read it.
        TFileHandle old(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!old) return false;
        LARGE_INTEGER size;
        if (!GetFileSizeEx(old.Get(), &size) || uint64_t(size.QuadPart) > MaxBugReportFile) return false;
        content.resize(size_t(size.QuadPart));
        for (size_t done = 0; done < content.size();) {
            DWORD read = 0;
            DWORD chunk = DWORD(std::min<size_t>(content.size() - done, 1 << 24));
            if (!ReadFile(old.Get(), content.data() + done, chunk, &read, nullptr) || read == 0) return false;
            done += read;
        }
    }
    const std::string merged = MergeBugReport(content, report, rules);
    wchar_t temp[MAX_PATH * 4];
    if (!GetTempFileNameW(folder.empty() ? L"." : folder.c_str(), L"bug", 0, temp)) return false;
    bool written;
    {
        TFileHandle file(
            CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        written = file && WriteAll(file.Get(), merged) && FlushFileBuffers(file.Get());
    }
    if (!written || !MoveFileExW(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temp);
        return false;
    }
    return true;
}
