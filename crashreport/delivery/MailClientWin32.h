#pragma once
// The transports through the system's own mail client (Simple MAPI, the mailto: handler) and
// the online check made before any network transport.
#include <winsock2.h>

#include <windows.h>

#include <string>
#include <vector>

enum TMapiResult { MapiFailed = 0, MapiSent = 1, MapiCancelled = 2 };

// MAPISendMail of "mapi32.dll". Hidden with recipients: no dialog; otherwise the user sees and
// edits the mail in the client.
int SendViaMapi(const std::string& recipients, const std::string& subject, const std::string& body,
                bool hidden, HWND parent, const std::vector<std::string>& sendAsNames,
                const std::vector<std::string>& files);
// Starts the registered mailto: handler with the mail as URL; whether it started.
bool SendViaMailto(const std::string& recipients, const std::string& subject, const std::string& body);

// True at once with `AssumeOnline`; else whether a public host answers an echo, after asking
// the system to dial when that is allowed.
bool IsOnline(bool mayDial);
// Whether `host` answers an ICMP echo (raw socket; Winsock must be started).
bool EchoAnswered(const std::string& host);
// Whether another thread holds the loader lock (tried for up to `ms`): loading a library then
// could deadlock.
bool LoaderLockHeld(DWORD ms);
