#include "crashreport/delivery/SendJob.h"

#include <gtest/gtest.h>

#include "crashreport/delivery/MailClient.h"
#include "tests/crashreport/delivery/MemoryFiles.h"

namespace {

// A network where nothing answers: every connection is refused, every query times out.
class TDeadNetwork : public INetwork {
public:
    class TDatagram : public IDatagramSocket {
    public:
        explicit TDatagram(TDeadNetwork& n) : FNet(n) { ++FNet.Open; }
        ~TDatagram() override { --FNet.Open; }
        bool SendTo(const std::string& host, uint16_t, const uint8_t*, size_t) override {
            FNet.Asked.push_back(host);
            return true;
        }
        int ReceiveFrom(uint8_t*, size_t, int) override { return -1; }

    private:
        TDeadNetwork& FNet;
    };
    std::unique_ptr<IStreamSocket> Connect(const std::string& host, int32_t port) override {
        Connects.push_back(host + ":" + std::to_string(port));
        return nullptr;
    }
    std::unique_ptr<IDatagramSocket> OpenDatagram() override { return std::make_unique<TDatagram>(*this); }
    std::vector<std::string> Connects, Asked;
    int Open = 0;
};

class TFakeSystem : public IDeliverySystem {
public:
    INetwork& Network() override { return Net; }
    IFileAccess& Files() override { return FilesMem; }
    std::string ComputerName() override { return "PC"; }
    uint64_t Now() override { return 0; }
    std::vector<std::string> DnsServers() override { return Dns; }
    uint16_t NewDnsId() override { return 7; }
    std::string SystemProxy() override { return {}; }
    void OpenInBrowser(const std::string&) override {}
    TDeadNetwork Net;
    DeliveryTest::TMemoryFiles FilesMem;
    std::vector<std::string> Dns{"10.0.0.1"};
};

class TLog : public IJobProgress {
public:
    void StageDone() override { Log += "S "; }
    void SetStagePosition(int32_t) override {}
    void ClearStages() override { Log += "clear "; }
    void AddStage(const std::string& text, uint64_t weight) override {
        Log += "+" + std::to_string(weight) + " ";
        Texts.push_back(text);
    }
    void SetCurrentStage(int32_t stage) override { Log += "=" + std::to_string(stage) + " "; }
    void Close() override { Log += "close"; }
    std::string Log;
    std::vector<std::string> Texts;
};

const std::string Conversation = "+100 +100 +200 +200 +100 +100 +100 +100 +100 +500 +100 ";

} // namespace

TEST(SendJob, MailRunnerPlansStagesPerConversationAndReportsTrueFailure) {
    TFakeSystem system;
    system.FilesMem.Files["a.bin"].Bytes = std::string(58, 'x'); // two base64 lines: weight 6
    TLog progress;
    TSendJob job;
    job.Recipients = "a@one.example; b@two.example";
    job.Progress = &progress;
    job.AttachmentFiles = {"a.bin", "gone.bin"};
    job.AttachmentSendAs = {"a.bin", "gone.bin"};

    // Direct delivery: a lookup stage and one conversation per recipient, each with its own
    // lookup (the domains differ); nothing answers, so nothing is sent.
    EXPECT_FALSE(RunMailJob(job, system));
    const std::string direct = "+500 " + Conversation.substr(0, 45) + "+6 " + Conversation.substr(45);
    EXPECT_EQ(progress.Log, "clear +1000 " + direct + direct + "S S S =13 S S =26 close");
    EXPECT_EQ(job.StagesPerRecipient, 13);
    EXPECT_EQ(progress.Texts[0], "Prepare attachments...");
    EXPECT_EQ(progress.Texts[1], "Searching for mail server...");
    EXPECT_EQ(progress.Texts[2], "Connecting to server...");
    EXPECT_EQ(progress.Texts[3], "");       // an unnamed stage shows the text before it
    EXPECT_EQ(system.Net.Asked.size(), 2u); // MX of each domain
    EXPECT_TRUE(system.Net.Connects.empty());
    EXPECT_EQ(system.Net.Open, 0);

    // A configured server: one conversation for all recipients, on the job's port.
    progress = TLog();
    job.Server = "mail.example";
    job.Port = 587;
    EXPECT_FALSE(RunMailJob(job, system));
    EXPECT_EQ(progress.Log, "clear +1000 " + Conversation.substr(0, 45) + "+6 " + Conversation.substr(45) +
                                "S S =12 close");
    EXPECT_EQ(system.Net.Connects, std::vector<std::string>{"mail.example:587"});

    // No recipients: nothing is tried, and the window still closes.
    progress = TLog();
    job.Recipients = " ; ";
    EXPECT_FALSE(RunMailJob(job, system));
    EXPECT_EQ(progress.Log, "clear +1000 close");
}

TEST(SendJob, DnsServerLists) {
    EXPECT_EQ(SplitNameServers("10.0.0.1, 10.0.0.2 ,"), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(SplitNameServers(" 10.0.0.1  10.0.0.2"), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
    EXPECT_TRUE(SplitNameServers("").empty());
    EXPECT_EQ(MergeDnsServers("1.1.1.1", {"1.1.1.1", "2.2.2.2"}),
              (std::vector<std::string>{"1.1.1.1", "2.2.2.2"}));
    EXPECT_EQ(MergeDnsServers("", {"2.2.2.2", "3.3.3.3"}), (std::vector<std::string>{"2.2.2.2", "3.3.3.3"}));
}

TEST(MailClient, MailtoCommandLine) {
    const std::string url = MailtoUrl(" a@x.example ;b@x.example ", "Fehler: 100%?", "Zeile\r\n\"#&+<>");
    EXPECT_EQ(
        url, "mailto:a@x.example,b@x.example?subject=Fehler:%20100%25%3F&body=Zeile%0D%0A%22%23%26%2B%3C%3E");
    EXPECT_EQ(MailtoCommand("\"C:\\m.exe\" /m \"%1\"", "mailto:a", true), "\"C:\\m.exe\" /m \"mailto:a\"");
    EXPECT_EQ(MailtoCommand("m.exe ", "mailto:a", true), "m.exe mailto:a");
    EXPECT_EQ(MailtoCommand("m.exe", "mailto:a", true), "m.exe mailto:a");

    // Cut to the NT limit, never inside an escape.
    const std::string prefix = "m.exe ";
    for (size_t percentAt : {MaxNtCommandLine - 1, MaxNtCommandLine - 2, MaxNtCommandLine - 3}) {
        std::string tail(MaxNtCommandLine + 10 - prefix.size(), 'a');
        tail.replace(percentAt - prefix.size(), 3, "%20");
        const std::string cmd = MailtoCommand(prefix, tail, true);
        const size_t expected = percentAt >= MaxNtCommandLine - 2 ? percentAt : MaxNtCommandLine;
        EXPECT_EQ(cmd.size(), expected) << percentAt;
        EXPECT_EQ(MailtoCommand(prefix, tail, false).size(), prefix.size() + tail.size());
    }
}

TEST(MailClient, EchoPackets) {
    const std::vector<uint8_t> request = EchoRequest(0x1234, 0xFFFF);
    ASSERT_EQ(request.size(), EchoRequestSize);
    uint32_t sum = 0; // the Internet checksum over the whole packet comes out as all ones
    for (size_t i = 0; i < request.size(); i += 2)
        sum += uint32_t(request[i]) << 8 | request[i + 1];
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    EXPECT_EQ(sum, 0xFFFFu);

    // A reply behind an IP header of 24 bytes (with options), then ours echoed as type 0.
    std::vector<uint8_t> packet(24, 0);
    packet[0] = 0x46;
    packet.insert(packet.end(), request.begin(), request.end());
    EXPECT_EQ(ReadEchoReply(packet.data(), packet.size(), 0x1234, 0xFFFF), TEchoReply::Other); // our request
    packet[24] = 0;
    EXPECT_EQ(ReadEchoReply(packet.data(), packet.size(), 0x1234, 0xFFFF), TEchoReply::Answered);
    EXPECT_EQ(ReadEchoReply(packet.data(), packet.size(), 0x1234, 0), TEchoReply::Other);
    EXPECT_EQ(ReadEchoReply(packet.data(), packet.size() - 1, 0x1234, 0xFFFF), TEchoReply::Short);
    EXPECT_EQ(ReadEchoReply(packet.data(), 0, 0x1234, 0xFFFF), TEchoReply::Short);
}
