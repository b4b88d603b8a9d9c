#include "crashreport/delivery/BugReportFileWin32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

TEST(BugReportFileSave, MergesReplacesWholeAndNeverHalfWrites) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"ze-bugrep-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring path = folder + L"\\reports\\bugreport.txt";
    const std::string report =
        "date/time          : 2026-12-08, 10:00:00, 1ms\r\n"
        "executable         : LevelEditor.exe\r\n"
        "callstack crc      : $0A1B2C3D, $44E1F0A2, $9B77C0DE\r\n"
        "exception class    : EConvertError\r\n\r\nmain thread ($A1C):\r\n00401000 Foo";
    TBugReportFileRules rules;
    rules.NoDupExcepts = true;
    rules.DupExceptDef = 2;
    ASSERT_TRUE(SaveBugReportFile(path, report, rules)); // the missing folders are made
    ASSERT_TRUE(SaveBugReportFile(path, report, rules));
    const std::string twice = ReadFileBytes(path);
    EXPECT_NE(twice.find("count              : 2"), std::string::npos) << twice;
    EXPECT_EQ(twice.find("date/time", 1), std::string::npos);
    EXPECT_EQ(twice.substr(twice.size() - 4), "\r\n\r\n");

    // Another process holds the file: nothing is written, the reports stay as they were.
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SaveBugReportFile(path, report, rules));
    CloseHandle(held);
    EXPECT_EQ(ReadFileBytes(path), twice);

    // No temporary file is left behind.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\reports\\*.tmp").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    DeleteFileW(path.c_str());
    RemoveDirectoryW((folder + L"\\reports").c_str());
    RemoveDirectoryW(folder.c_str());

    // A relative name counts from the program's folder.
    wchar_t exe[MAX_PATH];
    std::wstring program(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
    EXPECT_EQ(AbsoluteBugReportPath("bugreport.txt"),
              program.substr(0, program.find_last_of(L'\\')) + L"\\bugreport.txt");
}

} // namespace
