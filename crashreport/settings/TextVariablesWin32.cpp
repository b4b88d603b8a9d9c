// The text variables of a module, answered by the system: names, versions, folders, the time.
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "crashreport/base/LibraryWin32.h"
#include "crashreport/base/ModulesWin32.h"
#include "crashreport/base/Text.h"
#include "crashreport/settings/SettingsWin32.h"
#include "framework/Strings.h"

namespace {

std::string ToCp1252(std::wstring_view s) {
    return Utf16ToCp1252(std::u16string(s.begin(), s.end()));
}

std::string FileNameCp1252(HMODULE module) {
    return ToCp1252(ExtractFileName(ModulePath(module)));
}

// Reads through the system, so a wrong VersionVar fails instead of faulting.
bool ReadMemory(const void* address, void* out, size_t size) {
    SIZE_T done = 0;
    return ::ReadProcessMemory(::GetCurrentProcess(), address, out, size, &done) && done == size;
}

std::string VersionVariableText(HMODULE module, uint32_t offset) {
    const char* text = nullptr;
    if (!ReadMemory(reinterpret_cast<const BYTE*>(module) + offset, &text, sizeof text) || !text) return {};
    std::string out;
    char c = 0;
    while (out.size() < 256 && ReadMemory(text + out.size(), &c, 1) && c != 0)
        out.push_back(c);
    return out;
}

// version.dll is loaded on demand: the program links nothing beyond what it always needs.
std::string SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    return ToCp1252(path);
}

class TWin32TextVariables : public TRefCountedImpl<ITextVariableSource> {
public:
    explicit TWin32TextVariables(HMODULE module) : FModule(module) {}

    std::string AppName() override { return FileNameCp1252(nullptr); }
    std::string ModName() override { return FileNameCp1252(FModule); }
    std::string ModVersion() override {
        if (uint32_t offset = SettingsForModule(FModule)->GetVersionVar(); offset != 0) {
            std::string text = VersionVariableText(FModule, offset);
            if (!text.empty()) return text;
        }
        return FileVersionText(ModulePath(FModule));
    }
    TLocalTime Now() override {
        SYSTEMTIME st;
        ::GetLocalTime(&st);
        return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
    }
    std::string UserAppData() override { return SpecialFolder(CSIDL_APPDATA); }
    std::string CommonAppData() override { return SpecialFolder(CSIDL_COMMON_APPDATA); }
    std::string ExeFolder() override { return ToCp1252(ExtractFileDir(ModulePath(nullptr))); }

private:
    HMODULE FModule;
};

} // namespace

TRef<ITextVariableSource> Win32TextVariables(HMODULE module) {
    return MakeRef<TWin32TextVariables>(module);
}
