// The three system lists of this process and system, checked against what other calls say (the
// loader's module list, a process snapshot, our own exe), and as sections of a real report.
#include <gtest/gtest.h>

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <set>

#include "crashreport/base/LibraryWin32.h"
#include "crashreport/base/Text.h"
#include "crashreport/plugins/SystemListsWin32.h"
#include "crashreport/report/ReportWin32.h"
#include "crashreport/settings/SettingsStream.h"
#include "crashreport/threads/ThreadRegistryWin32.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at <= text.size();) {
        const size_t end = std::min(text.find("\r\n", at), text.size());
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

std::string LineStarting(const std::vector<std::string>& lines, const std::string& start) {
    auto l =
        std::find_if(lines.begin(), lines.end(), [&](const std::string& s) { return s.starts_with(start); });
    return l == lines.end() ? std::string() : *l;
}

std::string ModuleFileName(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(module, path, MAX_PATH);
    return Utf16ToCp1252(std::u16string(path, path + n));
}

std::set<DWORD> SnapshotProcessIds() {
    std::set<DWORD> ids;
    TFileHandle snap(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W e{};
    e.dwSize = sizeof e;
    for (BOOL ok = ::Process32FirstW(snap.Get(), &e); ok; ok = ::Process32NextW(snap.Get(), &e))
        ids.insert(e.th32ProcessID);
    return ids;
}

} // namespace

TEST(SystemLists, ListsAgreeWithTheSystem) {
    // Modules: the loader's own list, each with its name and folder; what the walk loads for
    // itself is held, so both lists see the same modules.
    TSystemLibrary version(L"version.dll");
    const std::string modules = ModulesPluginText();
    std::printf("---- modules ----\n%s\n", modules.c_str());
    HMODULE handles[1024];
    DWORD bytes = 0;
    ASSERT_TRUE(::EnumProcessModules(::GetCurrentProcess(), handles, sizeof handles, &bytes));
    std::vector<std::string> lines = Lines(modules);
    EXPECT_EQ(lines.size(), bytes / sizeof(HMODULE));
    EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end())) << "address order";
    for (DWORD i = 0; i < bytes / sizeof(HMODULE); ++i) {
        const std::string path = ModuleFileName(handles[i]);
        const std::string start =
            Hex(uintptr_t(handles[i]), sizeof(void*) * 2) + " " + std::string(ExtractFileName(path)) + " ";
        EXPECT_TRUE(LineStarting(lines, start).ends_with(" " + std::string(ExtractFileDir(path)) + "\\"))
            << start;
    }
    const std::string kernel(ExtractFileName(ModuleFileName(::GetModuleHandleW(L"kernel32.dll"))));
    EXPECT_TRUE(
        std::regex_search(modules, std::regex(" " + kernel + " +[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+ ")));

    // Processes: every one that lived throughout, and ours with its full path and priority.
    const std::set<DWORD> before = SnapshotProcessIds();
    const std::string processes = ProcessesPluginText();
    const std::set<DWORD> after = SnapshotProcessIds();
    std::printf("---- processes ----\n%s\n", processes.c_str());
    lines = Lines(processes);
    std::set<DWORD> listed;
    for (const std::string& line : lines)
        listed.insert(DWORD(std::stoul(line.substr(0, line.find(' ')), nullptr, 16)));
    for (DWORD id : before)
        EXPECT_TRUE(!after.count(id) || listed.count(id)) << "process " << id;
    const std::string exe = ModuleFileName(nullptr);
    const std::string ours = LineStarting(lines, Hex(::GetCurrentProcessId(), int(lines[0].find(' '))) + " " +
                                                     std::string(ExtractFileName(exe)) + " ");
    EXPECT_TRUE(ours.ends_with(" normal " + std::string(ExtractFileDir(exe)))) << processes;

    // Hardware: classes in order, each followed by its devices.
    const std::string hardware = HardwarePluginText();
    std::printf("---- hardware ----\n%s\n", hardware.c_str());
    std::fflush(stdout);
    std::string previousClass;
    for (const std::string& line : Lines(hardware)) {
        if (line.starts_with("+ ")) {
            EXPECT_LT(_stricmp(previousClass.c_str(), line.c_str() + 2), 0) << line;
            previousClass = line.substr(2);
        } else {
            EXPECT_TRUE(line.starts_with("  - ") && !previousClass.empty()) << line;
        }
    }
    EXPECT_FALSE(previousClass.empty());
}

TEST(SystemLists, ReportCarriesTheThreeSections) {
    ASSERT_TRUE(TThreadRegistry::Instance().Open());
    constexpr const char* All = "modules|processes|hardware";
    RegisterSystemListPlugins();
    RegisterSystemListPlugins();
    UnregisterSystemListPlugins(); // a second start's shutdown leaves them registered
    ASSERT_EQ(ReportPlugins().Enabled(All).size(), 3u);

    TKernelHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DWORD threadId = 0;
    TKernelHandle thread(::CreateThread(
        nullptr, 0, [](void* e) WINAPI -> DWORD { return ::WaitForSingleObject(e, INFINITE); }, event.Get(),
        0, &threadId));
    auto settings = MakeRef<TSettingsOverlay<>>(nullptr);
    settings->WriteText("Plugins", All);
    TReportException e;
    e.ClassName = "Exception";
    e.CrashedThreadId = threadId;
    TReportSources s;
    s.Settings = settings;
    s.Facts = Win32SystemFacts(::GetModuleHandleW(nullptr));
    s.Process = CaptureCurrentProcess(TThreadRegistry::Instance().MainThreadId());
    auto report = MakeRef<TBugReport>(e, s);
    const std::string text = report->ReportText(true);
    ::SetEvent(event.Get());
    ::WaitForSingleObject(thread.Get(), 10000);
    UnregisterSystemListPlugins();
    EXPECT_TRUE(ReportPlugins().Enabled(All).empty());

    auto sections = report->Sections();
    const int modules = sections->IndexOf("modules");
    ASSERT_GE(modules, 0) << text;
    EXPECT_EQ(sections->IndexOf("processes"), modules + 1);
    EXPECT_EQ(sections->IndexOf("hardware"), modules + 2);
    const std::string exe(ExtractFileName(ModuleFileName(nullptr)));
    EXPECT_NE(sections->Contents("modules").find(" " + exe + " "), std::string::npos);
    EXPECT_NE(sections->Contents("processes").find(" " + exe + " "), std::string::npos);
    EXPECT_TRUE(sections->Contents("hardware").starts_with("+ "));
    for (const char* name : {"modules", "processes", "hardware"})
        EXPECT_EQ(sections->Contents(name).find(">>"), std::string::npos) << name;
}
