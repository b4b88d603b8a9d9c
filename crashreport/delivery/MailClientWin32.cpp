#include "crashreport/delivery/MailClientWin32.h"

#include <mapi.h>
#include <wininet.h>
#include <ws2tcpip.h>

#include <atomic>
#include <climits>

#include "crashreport/base/LibraryWin32.h"
#include "crashreport/base/Text.h"
#include "crashreport/delivery/MailClient.h"
#include "crashreport/delivery/SendJob.h"
#include "crashreport/delivery/SendJobWin32.h"
#include "crashreport/delivery/mail/MailAddress.h"
#include "crashreport/delivery/net/WinsockWin32.h"

namespace {

// The public host of the online check.
constexpr const char* OnlineCheckHost = "www.wikipedia.org";
// Replies read per echo: foreign traffic on a busy machine must not keep the check waiting.
constexpr int MaxEchoReplies = 64;
constexpr int EchoTimeToLive = 30;

std::atomic<uint16_t> EchoSequence{0};

bool NtFamily() {
    OSVERSIONINFOA v{};
    v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return ::GetVersionExA(&v) && v.dwPlatformId == VER_PLATFORM_WIN32_NT;
#pragma GCC diagnostic pop
}

// Simple MAPI hands the mail to the default mail client. Wine's default client (winemapi.dll)
// only passes it on to the mailto: handler and reports success whatever became of it, which
// would end the pipeline's fallbacks on a mail nobody may send: it counts as no client, and the
// mailto: transport that follows does the same hand-over and says what it knows.
bool MailClientConfigured() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const std::string name = RegistryText(root, "Software\\Clients\\Mail", nullptr, 1024);
        if (name.empty()) continue;
        const std::string dll =
            RegistryText(HKEY_LOCAL_MACHINE, ("Software\\Clients\\Mail\\" + name).c_str(), "DLLPath", 1024);
        return ::lstrcmpiA(std::string(ExtractFileName(dll)).c_str(), "winemapi.dll") != 0;
    }
    return false;
}

} // namespace

bool LoaderLockHeld(DWORD ms) {
    TSystemLibrary ntdll(L"ntdll.dll");
    using TLock = LONG(WINAPI*)(ULONG flags, ULONG * disposition, ULONG_PTR * cookie);
    using TUnlock = LONG(WINAPI*)(ULONG flags, ULONG_PTR cookie);
    const auto lock = ntdll.Find<TLock>("LdrLockLoaderLock");
    const auto unlock = ntdll.Find<TUnlock>("LdrUnlockLoaderLock");
    if (!lock || !unlock) return false;
    const DWORD start = ::GetTickCount();
    for (;;) {
        ULONG disposition = 0;
        ULONG_PTR cookie = 0;
        constexpr ULONG TryOnly = 2;
        if (lock(TryOnly, &disposition, &cookie) == 0 && disposition == 1) {
            unlock(0, cookie);
            return false;
        }
        if (::GetTickCount() - start >= ms) return true;
        ::Sleep(10);
    }
}

int SendViaMapi(const std::string& recipients, const std::string& subject, const std::string& body,
                bool hidden, HWND parent, const std::vector<std::string>& sendAsNames,
                const std::vector<std::string>& files) {
    if (LoaderLockHeld(250)) return MapiFailed;
    if (!MailClientConfigured()) return MapiFailed;
    TSystemLibrary mapi(L"mapi32.dll");
    const auto send = mapi.Find<LPMAPISENDMAIL>("MAPISendMail");
    if (!send) return MapiFailed;

    // The structures point into these: they stay put until the call returns.
    std::vector<TMapiRecipient> names;
    for (const std::string& address : SplitRecipients(recipients))
        names.push_back(MapiSplit(address));
    std::vector<MapiRecipDesc> recips(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        recips[i].ulRecipClass = MAPI_TO;
        recips[i].lpszName = names[i].Name.data();
        recips[i].lpszAddress = names[i].Address.data();
    }
    std::vector<std::string> paths(files), shown(sendAsNames);
    shown.resize(paths.size());
    std::vector<MapiFileDesc> attachments(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        attachments[i].nPosition = ULONG(-1);
        attachments[i].lpszPathName = paths[i].data();
        attachments[i].lpszFileName = shown[i].data();
    }
    std::string subjectText(subject), bodyText(body);
    MapiMessage message{};
    message.lpszSubject = subjectText.data();
    message.lpszNoteText = bodyText.data();
    message.nRecipCount = ULONG(recips.size());
    message.lpRecips = recips.empty() ? nullptr : recips.data();
    message.nFileCount = ULONG(attachments.size());
    message.lpFiles = attachments.empty() ? nullptr : attachments.data();
    const FLAGS flags = hidden && !recips.empty() ? 0 : MAPI_LOGON_UI | MAPI_DIALOG;

    // The client's window must be able to come in front of ours.
    const bool topmost = parent && (::GetWindowLongW(parent, GWL_EXSTYLE) & WS_EX_TOPMOST);
    if (topmost) ::SetWindowPos(parent, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    const ULONG result = send(0, reinterpret_cast<ULONG_PTR>(parent), &message, flags, 0);
    if (topmost) ::SetWindowPos(parent, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (result == SUCCESS_SUCCESS) return MapiSent;
    if (result == MAPI_USER_ABORT) return MapiCancelled;
    return MapiFailed;
}

bool SendViaMailto(const std::string& recipients, const std::string& subject, const std::string& body) {
    const std::string handler = RegistryText(HKEY_CLASSES_ROOT, "mailto\\shell\\open\\command", nullptr, 260);
    if (handler.empty()) return false;
    char expanded[1024];
    const DWORD n = ::ExpandEnvironmentStringsA(handler.c_str(), expanded, sizeof expanded);
    if (n == 0 || n > sizeof expanded || !expanded[0]) return false;
    std::string command = MailtoCommand(expanded, MailtoUrl(recipients, subject, body), NtFamily());
    STARTUPINFOA start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                          &process))
        return false;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

bool EchoAnswered(const std::string& host) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (!ResolveIPv4(host, to.sin_addr)) return false;
    TSocket s(::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
    if (!s) return false;
    const int ttl = EchoTimeToLive;
    ::setsockopt(s.Get(), IPPROTO_IP, IP_TTL, reinterpret_cast<const char*>(&ttl), sizeof ttl);
    const uint16_t id = uint16_t(::GetCurrentProcessId());
    const uint16_t sequence = EchoSequence.fetch_add(1);
    const std::vector<uint8_t> request = EchoRequest(id, sequence);
    if (::sendto(s.Get(), reinterpret_cast<const char*>(request.data()), int(request.size()), 0,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to) != int(request.size()))
        return false;
    uint8_t packet[1024];
    for (int i = 0; i < MaxEchoReplies; ++i) {
        if (!WaitForSocket(s.Get(), 1)) return false;
        const int n =
            ::recvfrom(s.Get(), reinterpret_cast<char*>(packet), sizeof packet, 0, nullptr, nullptr);
        if (n == SOCKET_ERROR) return false;
        switch (ReadEchoReply(packet, size_t(n), id, sequence)) {
        case TEchoReply::Answered:
            return true;
        case TEchoReply::Short:
            return false;
        case TEchoReply::Other:
            break;
        }
    }
    return false;
}

bool IsOnline(bool mayDial) {
    if (DeliverySwitches().AssumeOnline) return true;
    TWinsock winsock;
    if (!winsock) return false;
    if (EchoAnswered(OnlineCheckHost)) return true;
    if (!mayDial || LoaderLockHeld(250)) return false;
    TSystemLibrary wininet(L"wininet.dll");
    const auto attempt = ZE_SYSTEM_PROC(wininet, InternetAttemptConnect);
    return attempt && attempt(0) == ERROR_SUCCESS && EchoAnswered(OnlineCheckHost);
}
