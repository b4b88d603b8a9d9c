// The settings of the running program from its own resource, the shared settings block, the
// choice of settings by module and address, and the text variables as the system answers them.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "crashreport/settings/SettingsWin32.h"
#include "tests/support/WinTestSupport.h"

namespace {

struct TSourceProperty {
    std::string Name;
    char Kind; // 'b', 'i', 't'
    int32_t Int;
    std::string Text;
};

// Reads "Name = value" lines of the settings source; the expectations then follow the source
// the build compiled into the resource.
std::vector<TSourceProperty> ReadSettingsSource() {
    std::string path = "Z:" ZE_SOURCE_DIR "/assets/settings/xunexcept.txt";
    for (char& c : path)
        if (c == '/') c = '\\';
    std::ifstream in(path);
    std::vector<TSourceProperty> props;
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        size_t first = line.find_first_not_of(" \t");
        if (eq == std::string::npos || first == std::string::npos || line[first] == '#') continue;
        std::string name = line.substr(first, line.find_first_of(" \t=", first) - first);
        std::string value = line.substr(line.find_first_not_of(" \t", eq + 1));
        while (!value.empty() && (value.back() == '\r' || value.back() == ' '))
            value.pop_back();
        TSourceProperty p{name, 'i', 0, ""};
        if (value == "True" || value == "False") {
            p.Kind = 'b';
            p.Int = value == "True";
        } else if (value.front() == '\'') {
            p.Kind = 't';
            for (size_t i = 1; i + 1 < value.size(); ++i) {
                p.Text.push_back(value[i]);
                if (value[i] == '\'') ++i; // '' is one quote
            }
        } else {
            p.Int = std::stoi(value);
        }
        props.push_back(p);
    }
    return props;
}

// A settings stream made by hand: the signature, properties, the closing zero.
class TStream {
public:
    TStream() {
        auto sig = SettingsStreamSignature();
        FData.assign(sig.begin(), sig.end());
    }
    TStream& Bool(const std::string& name, bool v) {
        Name(name);
        FData.push_back(v ? vaTrue : vaFalse);
        return *this;
    }
    TStream& Text(const std::string& name, const std::string& v) {
        Name(name);
        FData.push_back(vaString);
        Name(v);
        return *this;
    }
    // A property of the given value type with no value after it.
    TStream& Typed(const std::string& name, uint8_t type) {
        Name(name);
        FData.push_back(type);
        return *this;
    }
    std::vector<uint8_t> Data() const {
        std::vector<uint8_t> d = FData;
        d.push_back(0);
        return d;
    }

private:
    void Name(const std::string& s) {
        FData.push_back(static_cast<uint8_t>(s.size()));
        FData.insert(FData.end(), s.begin(), s.end());
    }
    std::vector<uint8_t> FData;
};

std::wstring ProgramPath() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A copy of this program whose only resource is the given settings stream (none when empty).
void WriteProgramCopy(const std::wstring& path, const std::vector<uint8_t>& stream) {
    ASSERT_TRUE(::CopyFileW(ProgramPath().c_str(), path.c_str(), FALSE));
    HANDLE update = ::BeginUpdateResourceW(path.c_str(), TRUE);
    ASSERT_TRUE(update != nullptr);
    if (!stream.empty()) {
        ASSERT_TRUE(::UpdateResourceW(
            update, MAKEINTRESOURCEW(10), L"TXUNEXCEPT", MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
            const_cast<uint8_t*>(stream.data()), static_cast<DWORD>(stream.size())));
    }
    ASSERT_TRUE(::EndUpdateResourceW(update, FALSE));
}

// Mapped as an image without running anything in it, the way a library carrying the crash
// reporter would sit in the address space.
HMODULE LoadImage(const std::wstring& path) {
    return ::LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
}

const void* InsideImage(HMODULE module) {
    return reinterpret_cast<const BYTE*>(module) + 0x1000;
}

// The records of the shared list, seen through a view of our own as another module would.
std::vector<TModuleSettingsRecord> SharedRecords() {
    std::vector<TModuleSettingsRecord> records;
    HANDLE mapping =
        ::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, SettingsBufferName(::GetCurrentProcessId()).c_str());
    if (!mapping) return records;
    auto* buf = static_cast<TSharedSettingsBuf*>(::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (buf) {
        ::EnterCriticalSection(&buf->Lock);
        for (TModuleSettingsRecord* r = buf->Head; r && records.size() < 1000; r = r->Next)
            records.push_back(*r);
        ::LeaveCriticalSection(&buf->Lock);
        ::UnmapViewOfFile(buf);
    }
    ::CloseHandle(mapping);
    return records;
}

bool Listed(HMODULE module, IMEModuleSettings* settings = nullptr) {
    for (const TModuleSettingsRecord& r : SharedRecords())
        if (r.Module == module && (!settings || r.Settings == settings)) return true;
    return false;
}

TEST(SettingsWin32, ProgramResourceAnswersEveryConfiguredValue) {
    std::vector<TSourceProperty> source = ReadSettingsSource();
    ASSERT_GE(source.size(), 117u);
    TRef<IMEModuleSettings> settings = SettingsForModule(::GetModuleHandleW(nullptr));
    ASSERT_TRUE(settings->IsValid());
    for (const TSourceProperty& p : source) {
        SCOPED_TRACE(p.Name);
        TPropEntry found;
        ASSERT_TRUE(settings->FindOwnProperty(p.Name, found));
        switch (p.Kind) {
        case 'b':
            EXPECT_EQ(found.Kind, TPropKind::Bool);
            EXPECT_EQ(settings->ReadBool(p.Name), p.Int != 0);
            break;
        case 'i':
            EXPECT_EQ(found.Kind, TPropKind::Int);
            EXPECT_EQ(settings->ReadInt(p.Name), p.Int);
            break;
        default:
            EXPECT_EQ(found.Kind, TPropKind::Text);
            EXPECT_EQ(found.TextValue, p.Text);
        }
    }
    // What the source leaves out comes from the built-in table.
    for (const TBuiltInProperty& b : BuiltInProperties()) {
        bool configured = false;
        for (const TSourceProperty& p : source)
            configured = configured || SameName(p.Name, b.Name);
        if (configured) continue;
        SCOPED_TRACE(b.Name);
        TPropEntry own;
        EXPECT_FALSE(settings->FindOwnProperty(b.Name, own));
        if (b.Kind == TPropKind::Text)
            EXPECT_EQ(settings->ReadText(b.Name), b.Text);
        else
            EXPECT_EQ(settings->ReadInt(b.Name), b.Value);
    }
    // A few through the typed getters, where the configured value differs from the built-in one.
    EXPECT_TRUE(settings->GetEnabled());
    EXPECT_FALSE(settings->GetNoSettings());
    EXPECT_FALSE(settings->GetAutoClip());
    EXPECT_EQ(settings->GetFreezeTimeout(), 60000u);
    EXPECT_EQ(settings->GetAutoDelay(), 60);
    EXPECT_EQ(settings->GetScrShotDepth(), 8);
    EXPECT_EQ(settings->GetF1ShowCfg(), 3);
    EXPECT_EQ(settings->GetContinueBtnTxt(), "continue application");
    EXPECT_EQ(settings->GetSendFailMsg(), "Sorry, sending the bug report didn't work.");
}

TEST(SettingsWin32, SharedBlockHoldsOneObjectPerModule) {
    HMODULE program = ::GetModuleHandleW(nullptr);
    TRef<IMEModuleSettings> first = SettingsForModule(program);
    TRef<IMEModuleSettings> second = SettingsForModule(nullptr);
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_EQ(first.Get(), MainSettings().Get());

    // The block carries the process id in upper-case hexadecimal.
    wchar_t expected[64];
    std::swprintf(expected, 64, L"xunExceptSettingsBuf%08X", static_cast<unsigned>(::GetCurrentProcessId()));
    EXPECT_EQ(SettingsBufferName(::GetCurrentProcessId()), expected);
    EXPECT_EQ(SettingsBufferName(0xABCDEF1), L"xunExceptSettingsBuf0ABCDEF1");
    HANDLE mapping = ::OpenFileMappingW(FILE_MAP_READ, FALSE, expected);
    ASSERT_TRUE(mapping != nullptr);
    auto* buf = static_cast<const TSharedSettingsBuf*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_TRUE(buf != nullptr);
    EXPECT_GE(buf->RefCount, 1);
    EXPECT_TRUE(buf->Mapping != nullptr);
    ::UnmapViewOfFile(buf);
    ::CloseHandle(mapping);

    // Another module walking the list finds the program's object itself.
    EXPECT_TRUE(Listed(program, first.Get()));
}

TEST(SettingsWin32, ModuleRecordGoesWithTheLastReference) {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    ASSERT_TRUE(kernel != nullptr);
    ASSERT_FALSE(Listed(kernel));
    {
        TRef<IMEModuleSettings> a = SettingsForModule(kernel);
        TRef<IMEModuleSettings> b = SettingsForModule(kernel);
        EXPECT_EQ(a.Get(), b.Get());
        EXPECT_TRUE(Listed(kernel, a.Get()));
        // No resource of its own: the main settings answer, then the built-in table.
        EXPECT_FALSE(a->IsValid());
        EXPECT_TRUE(a->GetEnabled());
        EXPECT_EQ(a->GetFreezeTimeout(), 60000u);
        EXPECT_EQ(a->GetAutoDelay(), 60);
        a.Reset();
        EXPECT_TRUE(Listed(kernel));
    }
    EXPECT_FALSE(Listed(kernel));
    EXPECT_TRUE(Listed(::GetModuleHandleW(nullptr))); // the main settings stay
}

TEST(SettingsWin32, AddressChoosesTheModulesOwnSettingsOnlyWhenUsable) {
    TRef<IMEModuleSettings> main = MainSettings();
    EXPECT_EQ(SettingsForAddress(reinterpret_cast<const void*>(&ProgramPath)).Get(), main.Get());
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    EXPECT_EQ(
        SettingsForAddress(reinterpret_cast<const void*>(::GetProcAddress(kernel, "GetTickCount"))).Get(),
        main.Get());
    EXPECT_EQ(SettingsForAddress(nullptr).Get(), main.Get());

    TTempDir dir;
    const std::wstring own = dir.File(L"withsettings.dll"), off = dir.File(L"nosettings.dll");
    WriteProgramCopy(own, TStream()
                              .Bool("Enabled", true)
                              .Bool("NoSettings", false)
                              .Text("ExceptMsg", "Fehler in %modname%")
                              .Data());
    WriteProgramCopy(off, TStream().Bool("NoSettings", true).Text("ExceptMsg", "unused").Data());
    HMODULE ownModule = LoadImage(own), offModule = LoadImage(off);
    ASSERT_TRUE(ownModule && offModule);
    {
        TRef<IMEModuleSettings> s = SettingsForAddress(InsideImage(ownModule));
        EXPECT_NE(s.Get(), main.Get());
        EXPECT_EQ(s.Get(), SettingsForModule(ownModule).Get());
        EXPECT_EQ(Lower(s->GetExceptMsg()), "fehler in withsettings.dll");
        // Missing in the library's list: the main settings' value, not the built-in one.
        EXPECT_EQ(s->GetFreezeTimeout(), 60000u);
        EXPECT_FALSE(s->GetAutoClip());
        EXPECT_EQ(s->GetAutoDelay(), 60);

        EXPECT_EQ(SettingsForAddress(InsideImage(offModule)).Get(), main.Get());
    }
    // Nobody holds them any more: a library loaded later at the same place must not inherit them.
    EXPECT_FALSE(Listed(ownModule));
    EXPECT_FALSE(Listed(offModule));
    ::FreeLibrary(ownModule);
    ::FreeLibrary(offModule);
}

TEST(SettingsWin32, BrokenResourceIsReportedAndFallsBack) {
    TTempDir dir;
    const std::wstring path = dir.File(L"broken.dll");
    WriteProgramCopy(path, TStream()
                               .Bool("NoSettings", false)
                               .Text("MailSubj", "vorher")
                               .Typed("Align", vaIdent)
                               .Text("MailBody", "nachher")
                               .Data());
    HMODULE module = LoadImage(path);
    ASSERT_TRUE(module != nullptr);
    {
        TDialogAnswerer answerer({PressButton(IDOK)});
        TRef<IMEModuleSettings> s = SettingsForModule(module);
        ASSERT_EQ(answerer.Texts().size(), 1u);
        EXPECT_EQ(answerer.Texts()[0], L"Internal error: Invalid settings resource ($07).");
        EXPECT_EQ(answerer.Titles()[0], L"xunExcept");
        EXPECT_EQ(s->GetMailSubj(), "vorher");
        EXPECT_EQ(s->GetMailBody(), "please find the bug report attached"); // from the main settings
        EXPECT_EQ(SettingsForAddress(InsideImage(module)).Get(), s.Get());
    }
    ::FreeLibrary(module);
}

TEST(SettingsWin32, TextVariablesComeFromTheSystem) {
    TRef<IMEModuleSettings> program = SettingsForModule(nullptr);
    EXPECT_EQ(program->GetTitleBar(), "win_tests.exe");
    EXPECT_EQ(program->GetBitFaultMsg(), "The file \"win_tests.exe\" seems to be corrupt!");

    // Changed on an exception's own settings only, so the program's stay as they are.
    auto exception =
        MakeRef<TSettingsOverlay<IMESettings>>(SettingsForModule(::GetModuleHandleW(L"kernel32.dll")));
    exception->SetMailSubj("%appname%|%modname%|%LF%|%exceptMsg%|%bugReport%");
    EXPECT_EQ(Lower(exception->GetMailSubj()), "win_tests.exe|kernel32.dll|\r\n|%exceptmsg%|%bugreport%");
    EXPECT_EQ(program->GetMailSubj(), "bug report");

    wchar_t folder[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)));
    std::string appData = Utf16ToCp1252(std::u16string(folder, folder + wcslen(folder)));
    while (!appData.empty() && appData.back() == '\\')
        appData.pop_back();
    exception->SetMailSubj("%userappdata%");
    EXPECT_EQ(exception->GetMailSubj(), appData);
    exception->SetMailSubj("%commonappdata%");
    EXPECT_GT(exception->GetMailSubj().size(), 3u);
    EXPECT_EQ(exception->GetMailSubj().find('%'), std::string::npos);

    SYSTEMTIME before;
    ::GetLocalTime(&before);
    exception->SetMailSubj("%date%");
    char date[16];
    std::snprintf(date, sizeof date, "%04u-%02u-%02u", before.wYear, before.wMonth, before.wDay);
    EXPECT_EQ(exception->GetMailSubj(), date);
    // "09:24:57, 3ms": the milliseconds without leading zeros, so the text is 13 to 15 long.
    exception->SetMailSubj("%time%");
    const std::string time = exception->GetMailSubj();
    EXPECT_TRUE(time.size() >= 13 && time[2] == ':' && time[5] == ':' && time.compare(8, 2, ", ") == 0 &&
                time.ends_with("ms"))
        << time;

    // kernel32 has a file version; the test program has none and says so.
    exception->SetMailSubj("%modversion%");
    std::string version = exception->GetMailSubj();
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(version[0]))) << version;
    EXPECT_EQ(program->ExpandVariables("%appversion%"), "?");
}

// Run in a child process (the program's choice of main settings is made once per process): the
// test starts a copy of this program with settings of its own and asks it which settings it chose.
TEST(SettingsWin32, DISABLED_ChildReportsMainSettings) {
    wchar_t load[MAX_PATH] = {}, out[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"ZE_SETTINGS_CHILD_LOAD", load, MAX_PATH);
    ASSERT_TRUE(::GetEnvironmentVariableW(L"ZE_SETTINGS_CHILD_OUT", out, MAX_PATH));
    if (load[0]) {
        ASSERT_TRUE(LoadImage(load) != nullptr);
    }
    TRef<IMEModuleSettings> main = MainSettings();
    std::string text = main->ExpandVariables("%modname%") + "|" + main->GetExceptMsg() + "|" +
                       (main.Get() == SettingsForModule(nullptr).Get() ? "1" : "0");
    WriteFileBytes(out, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string RunChild(const std::wstring& program, const std::wstring& load, const TTempDir& dir) {
    const std::wstring out = dir.File(L"child.txt");
    ::DeleteFileW(out.c_str());
    ::SetEnvironmentVariableW(L"ZE_SETTINGS_CHILD_LOAD", load.c_str());
    ::SetEnvironmentVariableW(L"ZE_SETTINGS_CHILD_OUT", out.c_str());
    std::wstring cmd =
        L"\"" + program +
        L"\" --gtest_also_run_disabled_tests --gtest_filter=SettingsWin32.DISABLED_ChildReportsMainSettings";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    BOOL started =
        ::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    ::SetEnvironmentVariableW(L"ZE_SETTINGS_CHILD_LOAD", nullptr);
    ::SetEnvironmentVariableW(L"ZE_SETTINGS_CHILD_OUT", nullptr);
    if (!started) return "not started";
    ::WaitForSingleObject(pi.hProcess, 60000);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    std::vector<uint8_t> text = ReadFileBytes(out);
    return Lower(std::string(text.begin(), text.end()));
}

TEST(SettingsWin32, MainSettingsOfAProgramWithoutUsableSettings) {
    TTempDir dir;
    const std::wstring program = dir.File(L"prog.exe"), library = dir.File(L"lib.dll");
    WriteProgramCopy(program, TStream().Bool("NoSettings", true).Text("ExceptMsg", "prog").Data());
    WriteProgramCopy(library, TStream().Bool("NoSettings", false).Text("ExceptMsg", "lib").Data());
    // Alone, the program's own settings are the last resort.
    EXPECT_EQ(RunChild(program, L"", dir), "prog.exe|prog|1");
    // A library with usable settings takes over.
    EXPECT_EQ(RunChild(program, library, dir), "lib.dll|lib|0");
}

} // namespace
