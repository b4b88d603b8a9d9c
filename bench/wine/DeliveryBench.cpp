// Sending a bug report under Wine, end to end over loopback to the real servers of the delivery
// tests (tests/crashreport/delivery/servers.py start DIR, then ZE_DELIVERY_SERVERS=DIR/servers.txt):
// a 100 KB report as the mail body and a 1 MB attachment, by SMTP to aiosmtpd and as an HTTP
// upload. Prints the median and the fastest of several runs per transport.
#include <winsock2.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "crashreport/delivery/SendJobWin32.h"

namespace {

double Now() {
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

std::map<std::string, std::string> ReadServers() {
    std::map<std::string, std::string> values;
    const char* file = std::getenv("ZE_DELIVERY_SERVERS");
    if (!file) return values;
    std::string path = std::string("Z:") + file;
    std::replace(path.begin(), path.end(), '/', '\\');
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (size_t eq = line.find('='); eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    return values;
}

template <class F> void Measure(const char* name, F send) {
    std::vector<double> times;
    for (int i = 0; i < 9; ++i) {
        const double start = Now();
        if (!send()) {
            std::printf("%s: send failed\n", name);
            return;
        }
        times.push_back(Now() - start);
    }
    std::sort(times.begin(), times.end());
    std::printf("%s: median %.1f ms, fastest %.1f ms\n", name, times[times.size() / 2], times.front());
}

} // namespace

int main() {
    const auto servers = ReadServers();
    if (servers.empty()) {
        std::printf("ZE_DELIVERY_SERVERS names no servers file\n");
        return 1;
    }
    std::mt19937 gen(1);
    std::string report(100 * 1024, '\0');
    for (size_t i = 0; i < report.size(); ++i)
        report[i] = (i % 80 == 78) ? '\r' : (i % 80 == 79) ? '\n' : char('A' + gen() % 26);
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string attachment = std::string(temp) + "zedeliverybench.bin";
    {
        std::string bytes(1024 * 1024, '\0');
        for (char& c : bytes)
            c = char(gen());
        std::ofstream(attachment, std::ios::binary) << bytes;
    }
    DeliverySwitches().IgnoreSystemProxy = true;

    Measure("SMTP, 100 KB report and 1 MB attachment", [&] {
        TSendJob job;
        job.Server = "127.0.0.1";
        job.Port = std::atoi(servers.at("smtp").c_str());
        job.Sender = "bench@zembrak-test.example";
        job.Recipients = "team@zembrak-test.example";
        job.Subject = "bug report";
        job.Body = report;
        job.AttachmentFiles = {attachment};
        job.AttachmentSendAs = {"attachment.bin"};
        return SendMailJob(job);
    });
    for (const char* path : {"parse", "discard"})
        Measure(path[0] == 'p' ? "HTTP upload, 100 KB report and 1 MB attachment"
                               : "the same, the server discarding the body",
                [&] {
                    TSendJob job;
                    job.UploadUrl = std::string("http://127.0.0.1/") + path;
                    job.Port = std::atoi(servers.at("http").c_str());
                    job.Fields = UploadFields("", "bench@zembrak-test.example", "bug report", report,
                                              "team@zembrak-test.example");
                    job.AttachmentFiles = {attachment};
                    job.AttachmentSendAs = {"attachment.bin"};
                    job.AttachmentFieldNames = {"file"};
                    return SendUploadJob(job);
                });
    ::DeleteFileA(attachment.c_str());
    return 0;
}
