// Mail and upload over Winsock against real servers on 127.0.0.1 that tests/crashreport/delivery/
// servers.py starts (aiosmtpd, dnsmasq, an HTTP server parsing with Python's email package,
// tinyproxy). What they received is read back from the files they write before they answer.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "crashreport/base/Text.h"
#include "crashreport/bitmap/PngWriter.h"
#include "crashreport/delivery/BugReportFile.h"
#include "crashreport/delivery/MailClientWin32.h"
#include "crashreport/delivery/PrintReportWin32.h"
#include "crashreport/delivery/SendJobWin32.h"
#include "crashreport/delivery/SendReportWin32.h"
#include "crashreport/delivery/net/Conversation.h"
#include "tests/support/WinTestSupport.h"

namespace {

std::string Narrow(const std::wstring& w) {
    return std::string(w.begin(), w.end()); // the test folders are ASCII
}

std::string ReadText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteText(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = char(gen());
    return s;
}

// The servers' ports and folder, from the file the CTest fixture names.
class TServers {
public:
    TServers() {
        const char* file = std::getenv("ZE_DELIVERY_SERVERS");
        if (!file) return;
        std::string path = std::string("Z:") + file;
        for (char& c : path)
            if (c == '/') c = '\\';
        std::istringstream lines(ReadText(path));
        for (std::string line; std::getline(lines, line);)
            if (size_t eq = line.find('='); eq != std::string::npos)
                FValues[line.substr(0, eq)] = line.substr(eq + 1);
    }
    bool Running() const { return FValues.count("smtp") != 0; }
    std::string Get(const std::string& key) const {
        auto it = FValues.find(key);
        return it == FValues.end() ? std::string() : it->second;
    }
    int Port(const std::string& key) const { return std::atoi(Get(key).c_str()); }
    // The folder of the n-th record (1-based) a server kept of what it received.
    std::string Record(const std::string& kind, int n) const {
        return Get("dir") + "\\" + kind + "\\" + std::to_string(n);
    }
    int Records(const std::string& kind) const {
        int n = 0;
        while (Exists(Record(kind, n + 1)))
            ++n;
        return n;
    }

private:
    std::map<std::string, std::string> FValues;
};

const TServers& Servers() {
    static TServers servers;
    return servers;
}

#define ZE_NEED_SERVERS()                                                                                    \
    if (!Servers().Running()) GTEST_SKIP() << "no servers: run through CTest (delivery_servers fixture)"

class TRecordingProgress : public IJobProgress {
public:
    void StageDone() override { ++Done; }
    void SetStagePosition(int32_t) override {}
    void ClearStages() override { Texts.clear(); }
    void AddStage(const std::string& text, uint64_t) override { Texts.push_back(text); }
    void SetCurrentStage(int32_t stage) override { Current = stage; }
    void Close() override { Closed = true; }
    std::vector<std::string> Texts;
    int Done = 0, Current = -1;
    bool Closed = false;
};

// A registry value set for one test and put back afterwards.
class TRegistryValue {
public:
    TRegistryValue(HKEY root, const std::string& path, const char* name, DWORD type, const void* data,
                   DWORD size)
        : FName(name ? name : "") {
        HKEY key = nullptr;
        ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        FKey.Reset(key);
        DWORD oldSize = 0;
        if (::RegQueryValueExA(key, name, nullptr, &FOldType, nullptr, &oldSize) == ERROR_SUCCESS) {
            FOld.resize(oldSize);
            FHadOld =
                ::RegQueryValueExA(key, name, nullptr, &FOldType, FOld.data(), &oldSize) == ERROR_SUCCESS;
        }
        ::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    }
    static TRegistryValue Text(HKEY root, const std::string& path, const char* name,
                               const std::string& text) {
        return TRegistryValue(root, path, name, REG_SZ, text.c_str(), DWORD(text.size() + 1));
    }
    static TRegistryValue Dword(HKEY root, const std::string& path, const char* name, DWORD value) {
        return TRegistryValue(root, path, name, REG_DWORD, &value, sizeof value);
    }
    TRegistryValue(TRegistryValue&&) = default;
    ~TRegistryValue() {
        if (!FKey) return;
        const char* name = FName.empty() ? nullptr : FName.c_str();
        if (FHadOld)
            ::RegSetValueExA(FKey.Get(), name, 0, FOldType, FOld.data(), DWORD(FOld.size()));
        else
            ::RegDeleteValueA(FKey.Get(), name);
    }

private:
    std::string FName;
    TRegKey FKey;
    DWORD FOldType = 0;
    std::vector<BYTE> FOld;
    bool FHadOld = false;
};

// Waits until the file holds `lines` lines; Wine starts the browser or handler asynchronously.
std::string WaitForLines(const std::string& path, int lines) {
    for (int i = 0; i < 600; ++i) {
        const std::string text = ReadText(path);
        if (std::count(text.begin(), text.end(), '\n') >= lines) return text;
        ::Sleep(50);
    }
    return ReadText(path);
}

class DeliveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeliverySwitches() = TDeliverySwitches();
        // The direct connection unless a test asks for the system's proxy.
        DeliverySwitches().IgnoreSystemProxy = true;
    }
    void TearDown() override { DeliverySwitches() = TDeliverySwitches(); }

    std::string File(const std::string& name, const std::string& bytes) {
        const std::string path = Narrow(FDir.File(std::wstring(name.begin(), name.end())));
        WriteText(path, bytes);
        return path;
    }
    std::string Missing() { return Narrow(FDir.File(L"missing.bin")); }

    TTempDir FDir;
    TRecordingProgress FProgress;
};

// The mail job as the pipeline fills it for a configured server.
TSendJob MailJob(int port, IJobProgress* progress) {
    TSendJob job;
    job.Sender = "Zembrak LevelEditor <editor@zembrak-test.example>";
    job.Recipients = " team@zembrak-test.example ; QA <qa@zembrak-test.example>";
    job.Progress = progress;
    job.Server = "127.0.0.1";
    job.Port = port;
    job.Subject = "Fehler: \xE4";
    job.Body = "Zeile 1\r\n.\r\n.Punkt\r\nEnde";
    return job;
}

TSendJob UploadJob(const std::string& path, IJobProgress* progress) {
    TSendJob job;
    job.UploadUrl = "http://127.0.0.1" + path;
    job.Port = Servers().Port("http");
    job.Sender = "editor@zembrak-test.example";
    job.Progress = progress;
    job.Fields = UploadFields("Version=1.0\nKunde=J\xF6rg", job.Sender, "Fehler: \xE4", "Zeile 1\r\nZeile 2",
                              "team@zembrak-test.example");
    return job;
}

} // namespace

TEST_F(DeliveryTest, SmtpMailArrivesWithItsAttachmentsInBothSubjectEncodings) {
    ZE_NEED_SERVERS();
    const std::string report = RandomBytes(100 * 1024 + 7, 1), shot = RandomBytes(3000, 2);
    for (bool utf8 : {false, true}) {
        SCOPED_TRACE(utf8 ? "UTF-8 subject" : "ISO-8859-1 subject");
        DeliverySwitches().Utf8MailSubject = utf8;
        TSendJob job = MailJob(Servers().Port("smtp"), &FProgress);
        job.AttachmentFiles = {File("report.txt", report), Missing(), File("empty.txt", ""),
                               File("shot.PNG", shot)};
        job.AttachmentSendAs = {"bugreport.txt", "missing.bin", "empty.txt", "screen.png"};
        job.AttachmentFieldNames = {"", "", "", ""};
        const int before = Servers().Records("smtp");
        ASSERT_TRUE(SendMailJob(job));

        const std::string got = Servers().Record("smtp", before + 1);
        EXPECT_EQ(ReadText(got + "\\rcpt"), "team@zembrak-test.example\nqa@zembrak-test.example");
        EXPECT_EQ(ReadText(got + "\\mail_from"), "editor@zembrak-test.example");
        EXPECT_EQ(ReadText(got + "\\subject"), "Fehler: \xC3\xA4");
        EXPECT_EQ(ReadText(got + "\\from"), "Zembrak LevelEditor <editor@zembrak-test.example>");
        EXPECT_EQ(ReadText(got + "\\body"), "Zeile 1\r\n. \r\n.Punkt\r\nEnde");
        EXPECT_EQ(ReadText(got + "\\attachments"),
                  "bugreport.txt\tapplication/octet-stream\nscreen.png\timage/png");
        EXPECT_EQ(ReadText(got + "\\att0"), report);
        EXPECT_EQ(ReadText(got + "\\att1"), shot);
        EXPECT_EQ(ReadText(got + "\\defects"), "");

        // The preparation stage and one conversation of 11 stages plus one per non-empty file;
        // every stage was completed.
        EXPECT_EQ(FProgress.Texts.size(), 1u + 11 + 2);
        EXPECT_EQ(FProgress.Texts.front(), "Prepare attachments...");
        EXPECT_EQ(FProgress.Texts[1], "Connecting to server...");
        EXPECT_EQ(FProgress.Done, 1 + 11 + 2);
        EXPECT_EQ(FProgress.Current, 13);
        EXPECT_TRUE(FProgress.Closed);
        FProgress = TRecordingProgress();
    }
}

TEST_F(DeliveryTest, SmtpAuthLoginAndFailuresThatSendNothing) {
    ZE_NEED_SERVERS();
    struct TCase {
        const char* Name;
        const char* Server;
        const char* Account;
        const char* Password;
        bool Sent;
    } cases[] = {
        {"account accepted", "smtp_auth", "zembrak", "geheim", true},
        {"password refused", "smtp_auth", "zembrak", "falsch", false},
        {"no account where one is required", "smtp_auth", "", "", false},
        {"account but no AUTH LOGIN offered", "smtp", "zembrak", "geheim", false},
        {"connection closed in the middle of DATA", "smtp_cut", "", "", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TSendJob job = MailJob(Servers().Port(c.Server), nullptr);
        job.Account = c.Account;
        job.Password = c.Password;
        job.AttachmentFiles = {File("big.bin", RandomBytes(300 * 1024, 3))};
        job.AttachmentSendAs = {"big.bin"};
        const std::string kind = c.Server == std::string("smtp_cut") ? "smtp" : c.Server;
        const int before = Servers().Records(kind);
        EXPECT_EQ(SendMailJob(job), c.Sent);
        EXPECT_EQ(Servers().Records(kind), before + (c.Sent ? 1 : 0));
    }
}

TEST_F(DeliveryTest, SocketsAreReleasedOnEveryPath) {
    ZE_NEED_SERVERS();
    TWinsock winsock;
    TWinsockNetwork net;
    // A port nobody listens on: refused at once, not after the connect wait.
    const int closed = [] {
        TSocket s(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = ::inet_addr("127.0.0.1");
        ::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        int size = sizeof a;
        ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &size);
        return int(::ntohs(a.sin_port));
    }();
    EXPECT_EQ(net.Connect("127.0.0.1", closed), nullptr);
    EXPECT_EQ(net.Connect("no-such-host.invalid", 25), nullptr);

    // The process's handle count is not kept under Wine, but handles are handed out lowest
    // free slot first: a socket or file left open by a send moves the slot the next one gets.
    const auto nextSlot = [] {
        TSocket probe(::socket(AF_INET, SOCK_STREAM, 0));
        return probe.Get();
    };
    const SOCKET before = nextSlot();
    {
        TSocket left(::socket(AF_INET, SOCK_STREAM, 0));
        ASSERT_NE(nextSlot(), before); // the probe sees a handle left open
    }
    ASSERT_EQ(nextSlot(), before);
    for (int i = 0; i < 5; ++i) {
        TSendJob cut = MailJob(Servers().Port("smtp_cut"), nullptr);
        cut.AttachmentFiles = {File("big.bin", RandomBytes(200 * 1024, 4))};
        cut.AttachmentSendAs = {"big.bin"};
        EXPECT_FALSE(SendMailJob(cut));
        TSendJob refused = MailJob(closed, nullptr);
        EXPECT_FALSE(SendMailJob(refused));
        TSendJob upload = UploadJob("/fail", nullptr);
        upload.Port = closed;
        EXPECT_FALSE(SendUploadJob(upload));
    }
    EXPECT_EQ(nextSlot(), before);
}

// The system's DNS servers replaced by dnsmasq, which answers for the test domain with a backup
// exchanger (preference 50, listed first) and the real one on 127.0.0.1 (preference 5).
class TTestDnsSystem : public TWin32DeliverySystem {
public:
    std::vector<std::string> DnsServers() override { return {Servers().Get("dns")}; }
};

TEST_F(DeliveryTest, DirectDeliveryFindsTheExchangerThroughDnsmasq) {
    ZE_NEED_SERVERS();
    if (Servers().Get("dns").empty()) GTEST_SKIP() << "dnsmasq could not listen on port 53 (needs root)";
    TWinsock winsock;
    TTestDnsSystem system;
    uint16_t id = 1000;
    const auto nextId = [&id] { return ++id; };
    EXPECT_EQ(FindMailExchanger("Team <team@zembrak-test.example>", {Servers().Get("dns")}, system.Network(),
                                nextId),
              "127.0.0.1");
    EXPECT_EQ(FindMailExchanger("a@no-mx.invalid", {Servers().Get("dns")}, system.Network(), nextId), "");

    TSendJob job = MailJob(Servers().Port("smtp"), &FProgress);
    job.Server.clear();
    job.Recipients = "team@zembrak-test.example, nobody@no-mx.invalid";
    const int before = Servers().Records("smtp");
    EXPECT_TRUE(RunMailJob(job, system)); // one of the two recipients reached
    EXPECT_EQ(Servers().Records("smtp"), before + 1);
    EXPECT_EQ(ReadText(Servers().Record("smtp", before + 1) + "\\rcpt"), "team@zembrak-test.example");
    // Two conversations of 12 stages each (with the lookup), after the preparation.
    EXPECT_EQ(job.StagesPerRecipient, 12);
    EXPECT_EQ(FProgress.Texts.size(), 1u + 2 * 12);
    EXPECT_EQ(FProgress.Texts[1], "Searching for mail server...");
    EXPECT_EQ(FProgress.Current, 24);

    // Whatever the machine's resolver is, reading the list must not fail.
    for (const std::string& s : SystemDnsServers())
        EXPECT_FALSE(s.empty());
}

TEST_F(DeliveryTest, UploadArrivesAsAFormWithItsFiles) {
    ZE_NEED_SERVERS();
    const std::string report = RandomBytes(100 * 1024 + 3, 5), shot = RandomBytes(777, 6);
    TSendJob job = UploadJob("/upload/here?x=1", &FProgress);
    job.AttachmentFiles = {File("report.txt", report), Missing(), File("empty.txt", ""),
                           File("shot.png", shot)};
    job.AttachmentSendAs = {"bugreport.txt", "missing.bin", "empty.txt", "screen.png"};
    job.AttachmentFieldNames = {"report", "missing", "empty", "shot"};
    const int before = Servers().Records("http");
    TWinsock winsock;
    ASSERT_TRUE(SendUploadJob(job));

    const std::string got = Servers().Record("http", before + 1);
    EXPECT_EQ(ReadText(got + "\\request_line"), "POST /upload/here?x=1 HTTP/1.1");
    EXPECT_NE(ReadText(got + "\\headers").find("Host: 127.0.0.1:" + Servers().Get("http")),
              std::string::npos);
    EXPECT_EQ(ReadText(got + "\\complete"), "1"); // the Content-Length was exact
    EXPECT_EQ(ReadText(got + "\\defects"), "");
    EXPECT_EQ(ReadText(got + "\\parts"), "Version\nKunde\nMailFrom\nMailSubject\nMailBody\nMailAddr\n"
                                         "report\tbugreport.txt\tapplication/octet-stream\n"
                                         "shot\tscreen.png\tapplication/octet-stream");
    EXPECT_EQ(ReadText(got + "\\field-Kunde"), "J\xF6rg");
    EXPECT_EQ(ReadText(got + "\\field-MailSubject"), "Fehler: \xE4");
    EXPECT_EQ(ReadText(got + "\\field-MailBody"), "Zeile 1\r\nZeile 2");
    EXPECT_EQ(ReadText(got + "\\field-MailAddr"), "team@zembrak-test.example");
    EXPECT_EQ(ReadText(got + "\\file-report"), report);
    EXPECT_EQ(ReadText(got + "\\file-shot"), shot);
    // Preparation, connect (2), fields, two files, closing boundary, reply.
    EXPECT_EQ(FProgress.Texts.size(), 8u);
    EXPECT_EQ(FProgress.Texts[3], "Setting fields...");
    EXPECT_EQ(FProgress.Done, 8);
    EXPECT_TRUE(FProgress.Closed);

    // No fields and no files: the body is the closing line alone.
    // Through the real progress window's stages (not shown): every stage completed.
    TRef<IProgressAlert> alert = CreateProgressAlert("Sending", nullptr, "");
    TAlertJobProgress alertProgress(alert);
    TSendJob bare = UploadJob("", &alertProgress); // no "/" after the host: the path "/"
    bare.Fields = TFormFields();
    EXPECT_TRUE(SendUploadJob(bare));
    EXPECT_EQ(alert->CurrentStage(), 5); // preparation, connect (2), fields, closing, reply
    EXPECT_EQ(alert->StagePosition(), 1000);
    EXPECT_EQ(ReadText(Servers().Record("http", before + 2) + "\\request_line"), "POST / HTTP/1.1");
    EXPECT_EQ(ReadText(Servers().Record("http", before + 2) + "\\complete"), "1");
}

TEST_F(DeliveryTest, UploadRepliesAreJudgedAndOnlyWebAddressesOpened) {
    ZE_NEED_SERVERS();
    auto browsers = TRegistryValue::Text(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", "Browsers",
                                         Servers().Get("record_url"));
    const std::string recorded = Servers().Get("dir") + "\\urls.txt";
    const std::string earlier = ReadText(recorded);
    const auto opened = std::count(earlier.begin(), earlier.end(), '\n');
    DeliverySwitches().HttpReplyTimeout = 1;
    struct TCase {
        const char* Path;
        const char* Account;
        bool Result;
    } cases[] = {
        {"/ok", "", true},
        {"/continue", "", true},          // 100 and 200 in one read
        {"/fail", "", false},             // 500
        {"/silent", "", false},           // no reply within HttpReplyTimeout
        {"/auth", "zembrak", true},       // Basic authentication
        {"/auth", "jemand", false},       // 401
        {"/redirect-hostile", "", false}, // a 302 to a program is not opened
        {"/redirect", "", true},          // a 302 to a web address is
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path);
        TSendJob job = UploadJob(c.Path, nullptr);
        job.Account = c.Account;
        job.Password = "geheim";
        EXPECT_EQ(SendUploadJob(job), c.Result);
    }
    const std::string text = WaitForLines(recorded, int(opened) + 1);
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), size_t(38))),
              "http://127.0.0.1/landing?report=7&x=1\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), int(opened) + 1);
}

TEST_F(DeliveryTest, UploadThroughTheSystemProxy) {
    ZE_NEED_SERVERS();
    if (Servers().Get("proxy").empty()) GTEST_SKIP() << "tinyproxy did not start";
    const std::string settings = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    // A per-protocol list: the HTTP entry is the proxy, the others are not for us.
    auto server = TRegistryValue::Text(HKEY_CURRENT_USER, settings, "ProxyServer",
                                       "http=127.0.0.1:" + Servers().Get("proxy") + " ftp=127.0.0.1:1");
    auto enable = TRegistryValue::Dword(HKEY_CURRENT_USER, settings, "ProxyEnable", 1);
    EXPECT_NE(SystemProxyText().find("127.0.0.1:" + Servers().Get("proxy")), std::string::npos)
        << SystemProxyText();

    DeliverySwitches().IgnoreSystemProxy = false;
    TSendJob job = UploadJob("/via-proxy", nullptr);
    job.AttachmentFiles = {File("report.txt", "report")};
    job.AttachmentSendAs = {"bugreport.txt"};
    job.AttachmentFieldNames = {"report"};
    const int before = Servers().Records("http");
    EXPECT_TRUE(SendUploadJob(job));
    const std::string got = Servers().Record("http", before + 1);
    EXPECT_NE(ReadText(got + "\\headers").find("tinyproxy"), std::string::npos); // its Via header
    EXPECT_EQ(ReadText(got + "\\request_line").substr(0, 16), "POST /via-proxy ");
    EXPECT_EQ(ReadText(got + "\\file-report"), "report");
    EXPECT_EQ(ReadText(got + "\\complete"), "1");
}

TEST_F(DeliveryTest, MailtoHandlerGetsTheEscapedUrlAndWineMapiIsNoClient) {
    ZE_NEED_SERVERS();
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::string recorder =
        Narrow(std::wstring(ExtractFileDir(std::wstring(exe)))) + "\\record_args.exe";
    ASSERT_TRUE(Exists(recorder));
    const std::string out = Narrow(FDir.File(L"args.txt"));
    ::SetEnvironmentVariableA("ZE_RECORD_FILE", out.c_str());
    {
        auto handler = TRegistryValue::Text(HKEY_CLASSES_ROOT, "mailto\\shell\\open\\command", nullptr,
                                            "\"" + recorder + "\" \"%1\"");
        ASSERT_TRUE(SendViaMailto(" a@zembrak-test.example ; b@zembrak-test.example", "Fehler: 100% & mehr?",
                                  "Zeile 1\r\nZeile \"2\" #3 <x>+y"));
        EXPECT_EQ(WaitForLines(out, 1), "\"" + recorder +
                                            "\" "
                                            "\"mailto:a@zembrak-test.example,b@zembrak-test.example?subject="
                                            "Fehler:%20100%25%20%26%20mehr%3F"
                                            "&body=Zeile%201%0D%0AZeile%20%222%22%20%233%20%3Cx%3E%2By\"\n");
    }
    {
        auto none = TRegistryValue::Text(HKEY_CLASSES_ROOT, "mailto\\shell\\open\\command", nullptr, "");
        EXPECT_FALSE(SendViaMailto("a@zembrak-test.example", "s", "b"));
    }
    // Wine's MAPI only hands the mail on to the mailto: handler and cannot know what became of it.
    EXPECT_EQ(SendViaMapi("a@zembrak-test.example", "s", "b", true, nullptr, {}, {}), MapiFailed);
}

TEST_F(DeliveryTest, OnlineCheck) {
    ZE_NEED_SERVERS();
    EXPECT_TRUE(IsOnline(false)); // AssumeOnline
    TWinsock winsock;
    // The echo itself, on loopback, where our own request comes back first and is passed over.
    EXPECT_TRUE(EchoAnswered("127.0.0.1"));
}

// ---- the send pipeline: a report with its attachments through each transport and the fallbacks

namespace {

TRef<INVBitmap> TestPicture() {
    TBitmap32 bmp(61, 37);
    for (int y = 0; y < bmp.Height; ++y)
        for (int x = 0; x < bmp.Width; ++x)
            bmp.At(x, y) = Rgb(uint32_t(x * 4), uint32_t(y * 6), uint32_t((x ^ y) * 3));
    return NewNVBitmap(bmp);
}

const std::string PipelineReport = "date/time          : 2026-12-08, 13:00:00, 1ms\r\n"
                                   "exception class    : EAccessViolation\r\n"
                                   "exception message  : Stone list is empty.\r\n\r\n"
                                   "main thread ($A1C):\r\n"
                                   "004C1A2B +01F LevelEditor.exe Unit1 812 +4 TForm1.SaveClick\r\n";

// The settings and state of one exception's sends, over the built-in settings.
struct TPipeline {
    explicit TPipeline(const std::string& bugReportFile) : BugReportFile(bugReportFile) {
        Settings->WriteText("MailAddr", "team@zembrak-test.example");
        Settings->WriteText("MailFrom", "editor@zembrak-test.example");
        Settings->WriteText("MailSubj", "Fehler: %exceptMsg%");
        Settings->WriteBool("MailViaMapi", false);
        Settings->WriteBool("MailViaMailto", false);
        Settings->WriteText("BugRepFile", BugReportFile);
        Settings->WriteInt("ScrShotDepth", 51200);
    }
    ~TPipeline() { SendTransports() = TSendTransports(); }
    TSendBugReportArgs Args() {
        TSendBugReportArgs a;
        a.Report = PipelineReport;
        a.Screenshot = Picture;
        a.Settings = Settings;
        a.State = State;
        return a;
    }

    const std::string BugReportFile;
    TRef<TSettingsOverlay<>> Settings = MakeRef<TSettingsOverlay<>>(TRef<IMESettings>());
    TRef<TSendState> State = MakeRef<TSendState>();
    TRef<INVBitmap> Picture = TestPicture();
};

} // namespace

TEST_F(DeliveryTest, PipelineSendsTheReportAndItsAttachmentsByEachTransport) {
    ZE_NEED_SERVERS();
    TPipeline p(Narrow(FDir.File(L"bugreport.txt")));
    const std::string one = RandomBytes(5000, 7), two = RandomBytes(3000, 8), plain = RandomBytes(100, 9);
    const std::string png = [&] {
        const std::vector<uint8_t> b = p.Picture->AsPng(PngModeFromDepth(51200));
        return std::string(b.begin(), b.end());
    }();
    struct TCase {
        const char* Transport;
        bool AlreadyInFile; // the bug report file holds the report already: its copy is sent alone
    } cases[] = {{"smtp", false}, {"direct", false}, {"upload", true}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Transport);
        const std::string kind = c.Transport == std::string("upload") ? "http" : "smtp";
        if (c.Transport == std::string("direct") && Servers().Get("dns").empty()) continue; // needs root
        p.State = MakeRef<TSendState>();
        if (c.AlreadyInFile) p.State->MarkWrittenToFile();
        const std::string earlier = "date/time          : 2026-12-07, 08:00:00, 5ms\r\nold report\r\n\r\n";
        File("bugreport.txt", earlier);
        p.Settings->WriteText("AddAttachs", File("one.log", one) + "|one.log||Logs.zip\r\n" + Missing() +
                                                "\r\n" + File("two.log", two) + "|two.log||LOGS.zip\r\n" +
                                                File("plain.txt", plain));
        p.Settings->WriteBool("MailAsSmtpServer", c.Transport == std::string("direct"));
        p.Settings->WriteBool("MailAsSmtpClient", c.Transport == std::string("smtp"));
        p.Settings->WriteBool("UploadViaHttp", kind == "http");
        p.Settings->WriteText("SmtpServer", "127.0.0.1");
        p.Settings->WriteInt("SmtpPort", Servers().Port("smtp"));
        p.Settings->WriteText("HttpServer", "http://127.0.0.1/upload");
        p.Settings->WriteInt("HttpPort", Servers().Port("http"));
        // Direct delivery: the exchanger dnsmasq names, on the test server's port instead of 25.
        SendTransports().Mail = [](TSendJob& job) {
            if (!job.Server.empty()) return SendMailJob(job);
            EXPECT_EQ(job.Port, 25);
            TWinsock winsock;
            TTestDnsSystem system;
            job.Port = Servers().Port("smtp");
            return RunMailJob(job, system);
        };
        const int before = Servers().Records(kind);
        ASSERT_EQ(SendBugReport(p.Args()), SendSent);
        EXPECT_TRUE(p.State->Sent());
        EXPECT_FALSE(Exists(p.BugReportFile)); // sent with its copy: DelBugRepFile
        ASSERT_EQ(Servers().Records(kind), before + 1);
        const std::string got = Servers().Record(kind, before + 1);
        const std::string reportFile =
            c.AlreadyInFile ? earlier
                            : MergeBugReport(earlier, PipelineReport, TBugReportFileRules::From(*p.Settings));
        EXPECT_EQ(ReadText(got + "\\checks"), "screenshot.png\tpngcheck ok, pillow 61x37 P\n"
                                              "Logs.zip\tunzip ok, zipfile ok: one.log,two.log");
        EXPECT_EQ(ReadText(got + "\\unzipped-one.log"), one);
        EXPECT_EQ(ReadText(got + "\\unzipped-two.log"), two);
        EXPECT_EQ(ReadText(got + "\\defects"), "");
        if (kind == "smtp") {
            EXPECT_EQ(ReadText(got + "\\subject"), "Fehler: Stone list is empty.");
            EXPECT_EQ(ReadText(got + "\\rcpt"), "team@zembrak-test.example");
            std::string names;
            std::istringstream lines(ReadText(got + "\\attachments"));
            for (std::string line; std::getline(lines, line);)
                names += line.substr(0, line.find('\t')) + " ";
            EXPECT_EQ(names, "bugreport.txt screenshot.png Logs.zip plain.txt ");
            EXPECT_EQ(ReadText(got + "\\att0"), reportFile);
            EXPECT_EQ(ReadText(got + "\\att1"), png);
            EXPECT_EQ(ReadText(got + "\\att3"), plain);
        } else {
            EXPECT_EQ(ReadText(got + "\\complete"), "1");
            EXPECT_EQ(ReadText(got + "\\parts"), "MailFrom\nMailSubject\nMailBody\nMailAddr\n"
                                                 "BugReport\tbugreport.txt\tapplication/octet-stream\n"
                                                 "ScreenShot\tscreenshot.png\tapplication/octet-stream\n"
                                                 "Logs.zip\tLogs.zip\tapplication/octet-stream\n"
                                                 "plain\tplain.txt\tapplication/octet-stream");
            EXPECT_EQ(ReadText(got + "\\field-MailSubject"), "Fehler: Stone list is empty.");
            EXPECT_EQ(ReadText(got + "\\file-BugReport"), reportFile);
            EXPECT_EQ(ReadText(got + "\\file-ScreenShot"), png);
            EXPECT_EQ(ReadText(got + "\\file-plain"), plain);
        }
    }
}

TEST_F(DeliveryTest, PipelineFallsBackToTheMailClientsThenSaysItFailed) {
    ZE_NEED_SERVERS();
    TPipeline p(Narrow(FDir.File(L"bugreport.txt")));
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::string recorder =
        Narrow(std::wstring(ExtractFileDir(std::wstring(exe)))) + "\\record_args.exe";
    const std::string out = Narrow(FDir.File(L"mailto.txt"));
    ::SetEnvironmentVariableA("ZE_RECORD_FILE", out.c_str());
    p.Settings->WriteBool("MailAsSmtpClient", true);
    p.Settings->WriteText("SmtpServer", "127.0.0.1");
    p.Settings->WriteInt("SmtpPort", Servers().Port("smtp_cut")); // drops the mail in the middle
    p.Settings->WriteBool("MailViaMapi", true);                   // Wine's is no client: passed over
    p.Settings->WriteBool("MailViaMailto", true);
    File("bugreport.txt", "earlier\r\n\r\n");
    {
        auto handler = TRegistryValue::Text(HKEY_CLASSES_ROOT, "mailto\\shell\\open\\command", nullptr,
                                            "\"" + recorder + "\" \"%1\"");
        EXPECT_EQ(SendBugReport(p.Args()), SendSent);
        const std::string url = WaitForLines(out, 1);
        EXPECT_NE(url.find("mailto:team@zembrak-test.example?subject=Fehler:%20Stone%20list%20is%20empty."
                           "&body=date/time%20%20%20%20%20%20%20%20%20%20:%202026-12-08"),
                  std::string::npos)
            << url;
        EXPECT_NE(url.find("TForm1.SaveClick%0D%0A\""), std::string::npos) << url; // the whole report
        EXPECT_TRUE(p.State->Sent());
        EXPECT_TRUE(Exists(p.BugReportFile)); // a mail client's mail is not known to be sent
    }
    auto none = TRegistryValue::Text(HKEY_CLASSES_ROOT, "mailto\\shell\\open\\command", nullptr, "");
    p.State = MakeRef<TSendState>();
    {
        TDialogAnswerer answer({PressButton(IDOK)});
        EXPECT_EQ(SendBugReport(p.Args()), SendNotSent);
        ASSERT_EQ(answer.Texts().size(), 1u);
        EXPECT_EQ(answer.Texts()[0], L"Sorry, sending the bug report didn't work.");
        EXPECT_EQ(answer.Titles()[0], L"");
    }
    TSendBugReportArgs hidden = p.Args();
    hidden.Hidden = true; // nothing shown: no box to answer
    EXPECT_EQ(SendBugReport(hidden), SendNotSent);
    EXPECT_FALSE(p.State->Sent());
}

// ---- printing through Wine, CUPS and a PDF printer; the pages read back with pdftotext

namespace {

// Runs a program of the host (Wine starts Linux programs too) and waits for it; its exit code
// does not come through.
void RunHostProgram(const std::string& commandLine) {
    STARTUPINFOA start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                          &process))
        return;
    ::WaitForSingleObject(process.hProcess, 60000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
}

std::string UnixPath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path.substr(2); // the "Z:" drive is the root
}

} // namespace

TEST_F(DeliveryTest, PrintsOnTheCupsPdfPrinter) {
    ZE_NEED_SERVERS();
    if (Servers().Get("pdf").empty()) GTEST_SKIP() << "no CUPS with cups-pdf for this run";
    auto settings = MakeRef<TSettingsOverlay<>>(TRef<IMESettings>());
    // cups-pdf names the file after the document: a name of this run's own.
    const std::string name =
        "zembrak print " + std::to_string(::GetCurrentProcessId()) + " " + std::to_string(::GetTickCount());
    settings->WriteText("PrintBtnTxt", name);
    std::string report;
    for (int i = 0; i < 150; ++i)
        report += "line " + std::to_string(i) + " & " + std::string(size_t(i % 7) * 20, 'w') + " end\r\n";
    {
        TDialogAnswerer answer({PressButton(IDOK)});
        PrintBugReport(report, nullptr, settings.Get());
        ASSERT_EQ(answer.Titles().size(), 1u); // the print dialog, confirmed
    }
    std::string file = name;
    std::replace(file.begin(), file.end(), ' ', '_');
    const std::string pattern = Servers().Get("pdf") + "\\" + file + "*.pdf";
    std::string pdf;
    const std::string text = Servers().Get("dir") + "\\" + file + ".txt";
    std::string pages;
    // cups-pdf writes the file after the job has left us: read until its last line is there.
    for (int i = 0; i < 600 && pages.find("line 149 &") == std::string::npos; ++i, ::Sleep(100)) {
        WIN32_FIND_DATAA found;
        HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        ::FindClose(search);
        pdf = Servers().Get("pdf") + "\\" + found.cFileName;
        RunHostProgram("/usr/bin/pdftotext -layout " + UnixPath(pdf) + " " + UnixPath(text));
        pages = ReadText(text);
    }
    ::DeleteFileA(pdf.c_str());
    // Every line in order, "&" as it is, the long ones wrapped; a page break between pages.
    size_t at = 0;
    for (int i = 0; i < 150; ++i) {
        const std::string start = "line " + std::to_string(i) + " &";
        at = pages.find(start, at);
        ASSERT_NE(at, std::string::npos) << start;
    }
    EXPECT_GE(std::count(pages.begin(), pages.end(), '\f'), 3);
    EXPECT_EQ(pages.find(std::string(120, 'w')), std::string::npos); // no row wider than the page
}
