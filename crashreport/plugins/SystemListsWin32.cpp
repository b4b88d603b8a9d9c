// The system lists on NT-family Windows. Everything beyond kernel32 (version information, the
// process list, process image names, the device list) is loaded at run time: a missing library
// or function leaves its list empty.
#include "crashreport/plugins/SystemListsWin32.h"

#include <windows.h>

#include <psapi.h>
#include <setupapi.h>
#include <winternl.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "crashreport/base/LibraryWin32.h"
#include "crashreport/base/ModulesWin32.h"
#include "crashreport/report/Plugins.h"
#include "crashreport/settings/SettingsStream.h"

namespace {

std::string Cp1252(std::wstring_view s) {
    return Utf16ToCp1252(std::u16string(s.begin(), s.end()));
}

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH];
    const UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(folder, n) : std::wstring();
}

TRegKey OpenKey(const std::wstring& path) {
    HKEY raw = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS)
        return TRegKey();
    return TRegKey(raw);
}

// A string value; empty when it is missing, of another type or unreadable.
std::wstring RegText(HKEY key, const wchar_t* name) {
    if (!key) return {};
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size > 64 * 1024)
        return {};
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
        ERROR_SUCCESS)
        return {};
    value.resize(std::min<size_t>(size / sizeof(wchar_t), value.size()));
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

// A device property as text; for a list of strings its first one.
std::string DeviceText(decltype(&::SetupDiGetDeviceRegistryPropertyW) get, HDEVINFO set,
                       SP_DEVINFO_DATA& device, DWORD property) {
    std::vector<wchar_t> buf(256);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD type = 0, required = 0;
        if (get(set, &device, property, &type, reinterpret_cast<BYTE*>(buf.data()),
                DWORD(buf.size() * sizeof(wchar_t)), &required)) {
            const size_t chars = std::min<size_t>(required / sizeof(wchar_t), buf.size());
            return Cp1252(std::wstring_view(buf.data(), wcsnlen(buf.data(), chars)));
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || required > 64 * 1024) break;
        buf.assign(required / sizeof(wchar_t) + 1, L'\0');
    }
    return {};
}

std::wstring Widen(const std::string& s) {
    return std::wstring(s.begin(), s.end()); // GUIDs and driver keys are plain ASCII
}

} // namespace

std::vector<TModuleEntry> LoadedModules() {
    std::vector<TModuleEntry> modules;
    const char* address = nullptr;
    const void* previousBase = nullptr;
    MEMORY_BASIC_INFORMATION info;
    while (::VirtualQuery(address, &info, sizeof info) == sizeof info) {
        if (info.State == MEM_COMMIT && info.BaseAddress == info.AllocationBase &&
            info.AllocationBase != previousBase) {
            const std::wstring path = ModulePath(static_cast<HMODULE>(info.AllocationBase));
            if (!path.empty())
                modules.push_back(
                    {uint64_t(uintptr_t(info.AllocationBase)), Cp1252(path), FileVersionText(path)});
        }
        previousBase = info.AllocationBase;
        const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= address) break; // the top of the address space
        address = next;
    }
    return modules;
}

std::vector<TProcessEntry> RunningProcesses() {
    TSystemLibrary ntdll(L"ntdll.dll");
    auto query = ZE_SYSTEM_PROC(ntdll, NtQuerySystemInformation);
    if (!query) return {};
    ULONG needed = 0;
    query(SystemProcessInformation, nullptr, 0, &needed);
    // The list can grow between the size query and the call: room to spare, and more if that fails.
    constexpr size_t Limit = 4 * 1024 * 1024;
    size_t size = needed ? size_t(needed) * 2 : 128 * 1024;
    std::vector<uint64_t> buffer; // aligned for the records
    for (;;) {
        buffer.assign(size / sizeof(uint64_t), 0);
        if (NT_SUCCESS(query(SystemProcessInformation, buffer.data(), ULONG(buffer.size() * sizeof(uint64_t)),
                             &needed)))
            break;
        if (size >= Limit) return {};
        size *= 2;
    }

    TSystemLibrary psapi(L"psapi.dll");
    auto imageName = ZE_SYSTEM_PROC(psapi, GetModuleFileNameExW);
    const std::string systemFolder = Cp1252(SystemFolder());
    const auto* begin = reinterpret_cast<const BYTE*>(buffer.data());
    const size_t bytes = buffer.size() * sizeof(uint64_t);
    std::vector<TProcessEntry> processes;
    for (size_t offset = 0; offset + sizeof(SYSTEM_PROCESS_INFORMATION) <= bytes;) {
        const auto& record = *reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(begin + offset);
        TProcessEntry p;
        p.Id = DWORD(uintptr_t(record.UniqueProcessId));
        p.Session = record.SessionId;
        const auto* name = reinterpret_cast<const BYTE*>(record.ImageName.Buffer);
        if (name && name >= begin && name + record.ImageName.Length <= begin + bytes)
            p.Path =
                Cp1252(std::wstring_view(record.ImageName.Buffer, record.ImageName.Length / sizeof(wchar_t)));
        if (imageName) {
            TKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, p.Id));
            wchar_t path[MAX_PATH];
            const DWORD n = process ? imageName(process.Get(), nullptr, path, MAX_PATH) : 0;
            if (n > 0 && n < MAX_PATH) p.Path = Cp1252(std::wstring_view(path, n));
        }
        p.Path = ProcessPath(p.Path, systemFolder);
        if (TKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, p.Id)); process)
            p.Priority = ::GetPriorityClass(process.Get());
        processes.push_back(std::move(p));
        if (record.NextEntryOffset == 0) break;
        offset += record.NextEntryOffset;
    }
    return processes;
}

THardwareList InstalledHardware() {
    THardwareList list;
    TSystemLibrary setupapi(L"setupapi.dll");
    auto getDevices = ZE_SYSTEM_PROC(setupapi, SetupDiGetClassDevsW);
    auto enumDevice = ZE_SYSTEM_PROC(setupapi, SetupDiEnumDeviceInfo);
    auto property = ZE_SYSTEM_PROC(setupapi, SetupDiGetDeviceRegistryPropertyW);
    auto destroy = ZE_SYSTEM_PROC(setupapi, SetupDiDestroyDeviceInfoList);
    if (!getDevices || !enumDevice || !property || !destroy) return list;
    struct TDeviceSet {
        HDEVINFO Set;
        decltype(destroy) Destroy;
        ~TDeviceSet() {
            if (Set != INVALID_HANDLE_VALUE) Destroy(Set);
        }
    } devices{getDevices(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES), destroy};
    HDEVINFO set = devices.Set;
    if (set == INVALID_HANDLE_VALUE) return list;

    const std::wstring classRoot = L"System\\CurrentControlSet\\Control\\Class\\";
    std::map<std::string, std::string> classNames; // by GUID
    SP_DEVINFO_DATA device;
    for (DWORD i = 0;; ++i) {
        device = {};
        device.cbSize = sizeof device;
        if (!enumDevice(set, i, &device)) break;
        if (SkipDevice(DeviceText(property, set, device, SPDRP_CLASS),
                       DeviceText(property, set, device, SPDRP_HARDWAREID)))
            continue;
        const std::string guid = DeviceText(property, set, device, SPDRP_CLASSGUID);
        auto cls = classNames.find(guid);
        if (cls == classNames.end()) {
            std::string name = Cp1252(RegText(OpenKey(classRoot + Widen(guid)).Get(), nullptr));
            cls = classNames.emplace(guid, name.empty() ? guid : name).first;
        }
        std::string name = DeviceText(property, set, device, SPDRP_FRIENDLYNAME);
        if (name.empty()) name = DeviceText(property, set, device, SPDRP_DEVICEDESC);

        std::string suffix;
        if (const std::string driver = DeviceText(property, set, device, SPDRP_DRIVER); !driver.empty()) {
            const TRegKey key = OpenKey(classRoot + Widen(driver));
            DWORD characteristics = 0, type = 0, size = sizeof characteristics;
            if (key &&
                ::RegQueryValueExW(key.Get(), L"Characteristics", nullptr, &type,
                                   reinterpret_cast<BYTE*>(&characteristics), &size) == ERROR_SUCCESS &&
                size == 4 && (characteristics & 8))
                continue; // hidden
            suffix = DriverSuffix(Cp1252(RegText(key.Get(), L"ProviderName")),
                                  Cp1252(RegText(key.Get(), L"DriverVersion")),
                                  Cp1252(RegText(key.Get(), L"DriverDate")));
        }
        list.Add(cls->second, name, suffix);
    }
    return list;
}

std::string ModulesPluginText() {
    return ModuleListText(LoadedModules(), int(sizeof(void*) * 2));
}

std::string ProcessesPluginText() {
    return ProcessListText(RunningProcesses());
}

std::string HardwarePluginText() {
    return InstalledHardware().Text();
}

namespace {
std::mutex RegistrationLock;
int Registrations = 0;
} // namespace

void RegisterSystemListPlugins() {
    std::lock_guard lock(RegistrationLock);
    if (Registrations++ > 0) return;
    ReportPlugins().Register({"modules", "list of loaded modules", ModulesPluginText, true});
    ReportPlugins().Register({"processes", "list of running processes", ProcessesPluginText, true});
    ReportPlugins().Register({"hardware", "list of installed hardware", HardwarePluginText, true});
}

void UnregisterSystemListPlugins() {
    std::lock_guard lock(RegistrationLock);
    if (Registrations == 0 || --Registrations > 0) return;
    for (const char* name : {"modules", "processes", "hardware"})
        ReportPlugins().Unregister(name);
}
