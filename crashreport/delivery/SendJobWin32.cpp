#include "crashreport/delivery/SendJobWin32.h"

#include <iphlpapi.h>
#include <shellapi.h>
#include <wininet.h>

#include <vector>

#include "crashreport/base/LibraryWin32.h"
#include "crashreport/delivery/http/HttpReply.h"

std::string RegistryText(HKEY root, const char* path, const char* name, size_t maxBytes) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
    TRegKey owner(key);
    DWORD type = 0, size = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size == 0 ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size > maxBytes)
        return {};
    std::string text(size, '\0');
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
        ERROR_SUCCESS)
        return {};
    text.resize(std::min<size_t>(size, text.size()));
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

namespace {

// Windows 95 (also OSR2) and NT up to 4 keep the servers only in the registry.
bool DnsServersInRegistry(bool& nineX) {
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExA(&v)) return false;
#pragma GCC diagnostic pop
    nineX = v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
    if (nineX) return v.dwMajorVersion == 4 && v.dwMinorVersion == 0;
    return v.dwMajorVersion <= 4;
}

std::vector<std::string> RegistryDnsServers(bool nineX) {
    const std::string key =
        std::string("System\\CurrentControlSet\\Services\\") + (nineX ? "VxD\\MSTCP" : "Tcpip\\Parameters");
    std::string text = RegistryText(HKEY_LOCAL_MACHINE, key.c_str(), "DhcpNameServer", 64 * 1024);
    if (text.empty()) text = RegistryText(HKEY_LOCAL_MACHINE, key.c_str(), "NameServer", 64 * 1024);
    return SplitNameServers(text);
}

std::vector<std::string> NetworkParamsDnsServers() {
    TSystemLibrary iphlpapi(L"iphlpapi.dll");
    auto getParams = ZE_SYSTEM_PROC(iphlpapi, GetNetworkParams);
    if (!getParams) return {};
    ULONG size = 0;
    if (getParams(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return {};
    // FIXED_INFO holds pointers into the same buffer: keep it aligned for them.
    std::vector<uint64_t> buffer((size + 7) / 8);
    auto* info = reinterpret_cast<FIXED_INFO*>(buffer.data());
    if (getParams(info, &size) != ERROR_SUCCESS) return {};
    std::string current;
    if (info->CurrentDnsServer) current = info->CurrentDnsServer->IpAddress.String;
    std::vector<std::string> listed;
    for (const IP_ADDR_STRING* a = &info->DnsServerList; a; a = a->Next)
        if (a->IpAddress.String[0]) listed.emplace_back(a->IpAddress.String);
    return MergeDnsServers(current, listed);
}

} // namespace

std::vector<std::string> SystemDnsServers() {
    bool nineX = false;
    return DnsServersInRegistry(nineX) ? RegistryDnsServers(nineX) : NetworkParamsDnsServers();
}

std::string SystemProxyText() {
    TSystemLibrary wininet(L"wininet.dll");
    auto query = ZE_SYSTEM_PROC(wininet, InternetQueryOptionA);
    if (!query) return {};
    DWORD size = 0;
    query(nullptr, INTERNET_OPTION_PROXY, nullptr, &size);
    if (size < sizeof(INTERNET_PROXY_INFO) || size > 64 * 1024) return {};
    std::vector<uint64_t> buffer((size + 7) / 8);
    if (!query(nullptr, INTERNET_OPTION_PROXY, buffer.data(), &size)) return {};
    const auto* info = reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer.data());
    if (info->dwAccessType != INTERNET_OPEN_TYPE_PROXY || !info->lpszProxy) return {};
    return reinterpret_cast<const char*>(info->lpszProxy);
}

bool OpenWebAddress(const std::string& url) {
    if (!IsWebAddress(url)) return false;
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteA(nullptr, nullptr, url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

std::string TWin32DeliverySystem::ComputerName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    if (!::GetComputerNameA(name, &size)) return "localhost";
    return std::string(name, size);
}

uint64_t TWin32DeliverySystem::Now() {
    FILETIME t;
    ::GetSystemTimeAsFileTime(&t);
    return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

uint16_t TWin32DeliverySystem::NewDnsId() {
    TSystemLibrary advapi(L"advapi32.dll");
    using TGenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
    uint16_t id = 0;
    if (auto random = advapi.Find<TGenRandom>("SystemFunction036"); random && random(&id, sizeof id))
        return id;
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    const uint64_t mix = uint64_t(counter.QuadPart) * 0x9E3779B97F4A7C15ull ^ ::GetCurrentProcessId();
    return uint16_t(mix >> 48);
}

bool SendMailJob(TSendJob& job) {
    TWinsock winsock;
    TWin32DeliverySystem system;
    if (!winsock) {
        if (job.Progress) job.Progress->Close();
        return false;
    }
    return RunMailJob(job, system);
}

bool SendUploadJob(TSendJob& job) {
    TWinsock winsock;
    TWin32DeliverySystem system;
    if (!winsock) {
        if (job.Progress) job.Progress->Close();
        return false;
    }
    return RunUploadJob(job, system);
}
