#pragma once
// The send job on Windows: Winsock, the progress window, the system's DNS servers and proxy,
// and the browser for a 302's target.
#include <winsock2.h>

#include <windows.h>

#include "crashreport/delivery/FileAccessWin32.h"
#include "crashreport/delivery/SendJob.h"
#include "crashreport/delivery/net/WinsockWin32.h"
#include "crashreport/ui/ProgressAlert.h"

// The runners' view of a progress window.
class TAlertJobProgress : public IJobProgress {
public:
    explicit TAlertJobProgress(TRef<IProgressAlert> alert) : FAlert(std::move(alert)) {}
    void StageDone() override { FAlert->StageDone(); }
    void SetStagePosition(int32_t position) override { FAlert->SetStagePosition(position); }
    void ClearStages() override { FAlert->ClearStages(); }
    void AddStage(const std::string& text, uint64_t weight) override { FAlert->AddStage(text, weight); }
    void SetCurrentStage(int32_t stage) override { FAlert->SetCurrentStage(stage); }
    void Close() override { FAlert->CloseAlert(); }

private:
    TRef<IProgressAlert> FAlert;
};

// A string value (the default value for a null name) of at most `maxBytes`; empty when it is
// missing, of another type or longer.
std::string RegistryText(HKEY root, const char* path, const char* name, size_t maxBytes);

// The DNS servers: from the registry on Windows 95 and NT 4 and before, from GetNetworkParams
// on later systems.
std::vector<std::string> SystemDnsServers();
// The proxy text of the Internet settings (InternetQueryOptionA, option 38); empty when the
// system connects directly or the settings cannot be read.
std::string SystemProxyText();
// ShellExecuteA of an http or https address; anything else is refused (false).
bool OpenWebAddress(const std::string& url);

class TWin32DeliverySystem : public IDeliverySystem {
public:
    INetwork& Network() override { return FNetwork; }
    IFileAccess& Files() override { return FFiles; }
    std::string ComputerName() override;
    uint64_t Now() override;
    std::vector<std::string> DnsServers() override { return SystemDnsServers(); }
    uint16_t NewDnsId() override;
    std::string SystemProxy() override { return SystemProxyText(); }
    void OpenInBrowser(const std::string& url) override { OpenWebAddress(url); }

private:
    TWinsockNetwork FNetwork;
    TWin32FileAccess FFiles;
};

// The job runners with Winsock started for their run.
bool SendMailJob(TSendJob& job);
bool SendUploadJob(TSendJob& job);
