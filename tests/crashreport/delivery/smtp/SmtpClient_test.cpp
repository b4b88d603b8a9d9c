#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crashreport/delivery/smtp/SmtpClient.h"
#include "tests/crashreport/delivery/MemoryFiles.h"

namespace {

using namespace DeliveryTest;

struct TServer {
    // One entry per receive; "!" makes the receive fail (a timeout or a closed connection).
    std::vector<std::string> Replies;
    bool ConnectOk = true;
    std::string Exchanger = "mx.example.org";
    int FailSend = -1;       // the n-th send (0-based) fails
    size_t Chunk = SIZE_MAX; // each reply arrives in pieces of this size
};

struct TRun {
    std::string Transcript; // "C: " client lines, "S: " server lines
    std::string Wire;       // the client's bytes as sent
    bool Result = false, Connected = false;
    std::string Server;
    TRecorder Progress;
};

void AddLines(std::string& transcript, const std::string& text, const char* who) {
    size_t at = 0, end;
    while ((end = text.find("\r\n", at)) != std::string::npos) {
        transcript += who + text.substr(at, end - at) + "\n";
        at = end + 2;
    }
    if (at < text.size()) transcript += who + text.substr(at) + "<no line end>\n";
}

TRun Converse(const TSmtpJob& job, const std::string& recipients, IFileAccess& files, TServer server) {
    TRun run;
    TSmtpClient smtp(job, recipients, files, &run.Progress);
    smtp.Start();
    std::string pending;
    size_t reply = 0;
    for (int sends = 0, guard = 0; guard < 100000; ++guard) {
        switch (smtp.Want()) {
        case TSmtpClient::TWant::LookupMx:
            smtp.MxFound(server.Exchanger);
            break;
        case TSmtpClient::TWant::Connect:
            run.Server = smtp.Server();
            run.Connected = server.ConnectOk;
            smtp.Connected(server.ConnectOk);
            break;
        case TSmtpClient::TWant::Send:
            if (sends++ == server.FailSend) {
                smtp.Sent(false);
                break;
            }
            pending += smtp.Output();
            run.Wire += smtp.Output();
            smtp.Sent(true);
            break;
        case TSmtpClient::TWant::Receive: {
            AddLines(run.Transcript, pending, "C: ");
            pending.clear();
            const std::string r = reply < server.Replies.size() ? server.Replies[reply] : "!";
            ++reply;
            if (r == "!") {
                run.Transcript += "S: <nothing>\n";
                smtp.ReceiveFailed();
                break;
            }
            AddLines(run.Transcript, r, "S: ");
            for (size_t at = 0; at < r.size() && smtp.Want() == TSmtpClient::TWant::Receive;
                 at += server.Chunk)
                smtp.Received(reinterpret_cast<const uint8_t*>(r.data() + at),
                              std::min(server.Chunk, r.size() - at));
            break;
        }
        case TSmtpClient::TWant::Close:
            AddLines(run.Transcript, pending, "C: ");
            run.Result = smtp.Result();
            return run;
        }
    }
    ADD_FAILURE() << "the conversation does not end";
    return run;
}

// The client's lines of a run, one per line.
std::string Commands(const TRun& run) {
    std::string out;
    for (size_t at = 0; at < run.Transcript.size();) {
        const size_t end = run.Transcript.find('\n', at);
        if (run.Transcript.compare(at, 3, "C: ") == 0) out += run.Transcript.substr(at + 3, end - at - 2);
        at = end + 1;
    }
    return out;
}

TSmtpJob PlainJob() {
    TSmtpJob job;
    job.Server = "mail.example.org";
    job.Sender = "xunExcept <crash@example.org>";
    job.HeloName = "buildpc";
    job.Subject = "bug report";
    job.Body = "please find the bug report attached";
    job.Time = 134411943030000000; // 2026-12-08 09:05:03 UTC
    return job;
}

const std::vector<std::string> HappyReplies = {"220 mail.example.org ESMTP\r\n",
                                               "250-mail.example.org\r\n250 8BITMIME\r\n",
                                               "250 2.1.0 Ok\r\n",
                                               "250 2.1.5 Ok\r\n",
                                               "354 End data with <CR><LF>.<CR><LF>\r\n",
                                               "250 2.0.0 Ok: queued\r\n",
                                               "221 2.0.0 Bye\r\n"};

TEST(SmtpClient, PlainMailTranscript) {
    TMemoryFiles files;
    TSmtpJob job = PlainJob();
    job.Subject = "Fehler: \xE4";
    const TRun run = Converse(job, "dev@example.org", files, {HappyReplies});
    EXPECT_TRUE(run.Result);
    EXPECT_EQ(run.Server, "mail.example.org");
    EXPECT_EQ(run.Transcript, "S: 220 mail.example.org ESMTP\n"
                              "C: EHLO buildpc\n"
                              "S: 250-mail.example.org\n"
                              "S: 250 8BITMIME\n"
                              "C: MAIL FROM:<crash@example.org>\n"
                              "S: 250 2.1.0 Ok\n"
                              "C: RCPT TO:<dev@example.org>\n"
                              "S: 250 2.1.5 Ok\n"
                              "C: DATA\n"
                              "S: 354 End data with <CR><LF>.<CR><LF>\n"
                              "C: To: <dev@example.org>\n"
                              "C: From: xunExcept <crash@example.org>\n"
                              "C: Subject: =?ISO-8859-1?Q?Fehler=3A=20=E4?=\n"
                              "C: Date: 8 Dec 2026 09:05:03 UT\n"
                              "C: Message-ID: <1DD86F335DF8980@xunExcept>\n"
                              "C: \n"
                              "C: please find the bug report attached\n"
                              "C: .\n"
                              "S: 250 2.0.0 Ok: queued\n"
                              "C: QUIT\n"
                              "S: 221 2.0.0 Bye\n");
    // Exactly the stages of the plan without lookup and attachments.
    EXPECT_EQ(run.Progress.Stages, 11);
    EXPECT_EQ(SmtpStagePlan(false, {}).size(), 11u);

    job.Utf8MailSubject = true;
    EXPECT_NE(Converse(job, "dev@example.org", files, {HappyReplies})
                  .Transcript.find("C: Subject: =?UTF-8?B?RmVobGVyOiDDpA==?=\n"),
              std::string::npos);
}

// Replies split anywhere or run together read the same; a QUIT left unanswered loses no mail.
TEST(SmtpClient, ServersThatStillTakeTheMail) {
    TMemoryFiles files;
    const std::string wire = Converse(PlainJob(), "dev@example.org", files, {HappyReplies}).Wire;
    TServer bytewise{HappyReplies}, together{HappyReplies}, quitUnanswered{HappyReplies};
    bytewise.Chunk = 1;
    // Greeting and EHLO reply in one segment: the second is read from what is buffered.
    together.Replies[0] += together.Replies[1];
    together.Replies.erase(together.Replies.begin() + 1);
    quitUnanswered.Replies.back() = "!";
    const std::pair<const char*, TServer> servers[] = {
        {"bytewise", bytewise}, {"together", together}, {"no reply to QUIT", quitUnanswered}};
    for (const auto& [name, server] : servers) {
        SCOPED_TRACE(name);
        const TRun run = Converse(PlainJob(), "dev@example.org", files, server);
        EXPECT_TRUE(run.Result);
        EXPECT_EQ(run.Wire, wire);
    }
}

TEST(SmtpClient, AuthLoginWhenOfferedOnAContinuationLine) {
    TMemoryFiles files;
    TSmtpJob job = PlainJob();
    job.Account = "reporter";
    job.Password = "geheim";
    job.Body.clear();
    job.Subject.clear();
    TServer server{{"220 hi\r\n", "250-mail.example.org\r\n250-AUTH=LOGIN PLAIN\r\n250 HELP\r\n",
                    "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n", "250 ok\r\n", "250 ok\r\n",
                    "250 reset\r\n", "221 bye\r\n"}};
    const TRun run = Converse(job, "dev@example.org", files, server);
    EXPECT_TRUE(run.Result);
    EXPECT_EQ(run.Transcript, "S: 220 hi\n"
                              "C: EHLO buildpc\n"
                              "S: 250-mail.example.org\n"
                              "S: 250-AUTH=LOGIN PLAIN\n"
                              "S: 250 HELP\n"
                              "C: AUTH LOGIN\n"
                              "S: 334 VXNlcm5hbWU6\n"
                              "C: cmVwb3J0ZXI=\n"
                              "S: 334 UGFzc3dvcmQ6\n"
                              "C: Z2VoZWlt\n"
                              "S: 235 ok\n"
                              "C: MAIL FROM:<crash@example.org>\n"
                              "S: 250 ok\n"
                              "C: RCPT TO:<dev@example.org>\n"
                              "S: 250 ok\n"
                              "C: RSET\n" // neither subject nor body: nothing to send
                              "S: 250 reset\n"
                              "C: QUIT\n"
                              "S: 221 bye\n");
}

// The client's lines for servers that fail it at some step; each run must report false.
TEST(SmtpClient, FailuresEndWithQuitOrAClosedConnection) {
    const std::string auth = "250-mail\r\n250 AUTH LOGIN\r\n";
    struct TCase {
        const char* Name;
        bool Credentials;
        TServer Server;
        const char* Commands;
    } cases[] = {
        {"AUTH LOGIN not offered",
         true,
         {{"220 hi\r\n", "250-mail\r\n250 AUTH PLAIN CRAM-MD5\r\n", "221 bye\r\n"}},
         "EHLO buildpc\nQUIT\n"},
        {"AUTH LOGIN only in a failed EHLO",
         true,
         {{"220 hi\r\n", "502-AUTH LOGIN\r\n502 no\r\n", "250 hello\r\n", "221 bye\r\n"}},
         "EHLO buildpc\nHELO buildpc\nQUIT\n"},
        {"AUTH LOGIN refused",
         true,
         {{"220 hi\r\n", auth, "504 no\r\n", "221 bye\r\n"}},
         "EHLO buildpc\nAUTH LOGIN\nQUIT\n"},
        {"account refused",
         true,
         {{"220 hi\r\n", auth, "334 a\r\n", "535 no\r\n", "221 bye\r\n"}},
         "EHLO buildpc\nAUTH LOGIN\ncmVwb3J0ZXI=\nQUIT\n"},
        {"password refused",
         true,
         {{"220 hi\r\n", auth, "334 a\r\n", "334 b\r\n", "535 5.7.8 bad\r\n", "221 bye\r\n"}},
         "EHLO buildpc\nAUTH LOGIN\ncmVwb3J0ZXI=\nZ2VoZWlt\nQUIT\n"},
        {"no reply to the password",
         true,
         {{"220 hi\r\n", auth, "334 a\r\n", "334 b\r\n", "!", "221 bye\r\n"}},
         "EHLO buildpc\nAUTH LOGIN\ncmVwb3J0ZXI=\nZ2VoZWlt\nQUIT\n"},
        {"EHLO and HELO refused",
         false,
         {{"220 hi\r\n", "500 no\r\n", "501 no\r\n"}},
         "EHLO buildpc\nHELO buildpc\n"},
        {"no greeting", false, {{"!"}}, ""},
        {"greeting of a busy server", false, {{"554 busy\r\n"}}, ""},
        {"connection refused", false, {{}, false}, ""},
        {"a reply line that never ends", false, {{"220 " + std::string(70000, 'x')}}, ""},
        {"all recipients refused",
         false,
         {{"220 hi\r\n", "250 hello\r\n", "250 ok\r\n", "550 no\r\n", "550 no\r\n", "221 bye\r\n"}},
         "EHLO buildpc\nMAIL FROM:<crash@example.org>\nRCPT TO:<a@example.org>\nRCPT "
         "TO:<b@example.org>\nQUIT\n"},
        {"sender refused",
         false,
         {{"220 hi\r\n", "250 hello\r\n", "553 no\r\n", "221 bye\r\n"}},
         "EHLO buildpc\nMAIL FROM:<crash@example.org>\nQUIT\n"},
        {"mail refused after the data",
         false,
         {{"220 hi\r\n", "250 hello\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n",
           "452 full\r\n", "221 bye\r\n"}},
         nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TMemoryFiles files;
        TSmtpJob job = PlainJob();
        if (c.Credentials) {
            job.Account = "reporter";
            job.Password = "geheim";
        }
        const TRun run = Converse(job, "a@example.org,b@example.org", files, c.Server);
        EXPECT_FALSE(run.Result);
        if (c.Commands) {
            EXPECT_EQ(Commands(run), c.Commands);
        }
    }
}

TEST(SmtpClient, HeloFallbackAndRecipientsOneRefused) {
    TMemoryFiles files;
    TServer server{{"220 old server\r\n", "500 what?\r\n", "250 hello\r\n", "250 ok\r\n",
                    "550 5.1.1 unknown\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 ok\r\n",
                    "221 bye\r\n"}};
    const TRun run =
        Converse(PlainJob(), " a@example.org ; Bea <b@example.net>,c@example.com; ", files, server);
    EXPECT_TRUE(run.Result);
    const std::string want =
        "EHLO buildpc\nHELO buildpc\nMAIL FROM:<crash@example.org>\n"
        "RCPT TO:<a@example.org>\nRCPT TO:<b@example.net>\nRCPT TO:<c@example.com>\nDATA\n"
        "To: <a@example.org>, Bea <b@example.net>, <c@example.com>\n";
    EXPECT_EQ(Commands(run).substr(0, want.size()), want);
}

TEST(SmtpClient, NothingIsSentForUnsafeOrEmptyRecipients) {
    TMemoryFiles files;
    // A line break in an address would smuggle in commands of its own.
    for (const char* list : {"a@example.org\r\nDATA", "", " ; , "}) {
        const TRun run = Converse(PlainJob(), list, files, {HappyReplies});
        EXPECT_FALSE(run.Result);
        EXPECT_FALSE(run.Connected);
    }
}

TEST(SmtpClient, DotLinesArePaddedAndLinesStartingWithADotDoubled) {
    TMemoryFiles files;
    TSmtpJob job = PlainJob();
    job.Body = ".\r\nline 2\r\n.\r\n.\r\n.hidden\r\n..\r\nlast\r\n.";
    std::string wire = Converse(job, "dev@example.org", files, {HappyReplies}).Wire;
    // ". " arrives for a dot-only line; the server takes away each line's first dot again.
    EXPECT_EQ(wire.substr(wire.find("\r\n\r\n") + 4),
              ".. \r\nline 2\r\n.. \r\n.. \r\n..hidden\r\n...\r\nlast\r\n.. \r\n.\r\nQUIT\r\n");
    // A server that ends lines at a bare LF must not find the end of the data in the body.
    job.Body = "a\n.\nb";
    wire = Converse(job, "dev@example.org", files, {HappyReplies}).Wire;
    EXPECT_NE(wire.find("\r\n\r\na\n..\nb\r\n.\r\n"), std::string::npos);
}

TEST(SmtpClient, MailExchangerLookupAndOverrides) {
    TMemoryFiles files;
    TSmtpJob job = PlainJob();
    job.Server.clear();
    job.Sender.clear();
    job.MailFromOverride = "<>";
    TRun run = Converse(job, "dev@example.org", files, {HappyReplies});
    EXPECT_TRUE(run.Result);
    EXPECT_EQ(run.Server, "mx.example.org");
    EXPECT_EQ(run.Progress.Stages, 12);
    EXPECT_NE(run.Transcript.find("C: MAIL FROM:<>\n"), std::string::npos);
    EXPECT_NE(run.Transcript.find("C: From: <dev@example.org>\n"), std::string::npos);

    TServer nothing{HappyReplies};
    nothing.Exchanger.clear();
    run = Converse(job, "dev@example.org", files, nothing);
    EXPECT_FALSE(run.Result);
    EXPECT_FALSE(run.Connected);
    EXPECT_EQ(run.Progress.Stages, 2); // the lookup and the stage before connecting
}

class SmtpAttachments : public ::testing::Test {
protected:
    void SetUp() override {
        Files.Files["C:\\tmp\\bugreport.txt"].Bytes = std::string(120, 'r'); // three base64 lines
        Files.Files["C:\\tmp\\screenShot.PNG"].Bytes = std::string("\x89PNG\r\n", 6);
        Files.Files["C:\\tmp\\empty.bin"].Bytes = "";
        Job.Attachments = {{"C:\\tmp\\bugreport.txt", "bugreport.txt"},
                           {"C:\\tmp\\missing.zip", "missing.zip"},
                           {"C:\\tmp\\empty.bin", "empty.bin"},
                           {"C:\\tmp\\screenShot.PNG", "screen \"1\".png"}};
    }
    TMemoryFiles Files;
    TSmtpJob Job = PlainJob();
};

TEST_F(SmtpAttachments, PresentMissingAndEmpty) {
    const TRun run = Converse(Job, "dev@example.org", Files, {HappyReplies});
    EXPECT_TRUE(run.Result);
    const size_t data = run.Transcript.find("C: MIME-Version:");
    ASSERT_NE(data, std::string::npos);
    EXPECT_EQ(run.Transcript.substr(data),
              "C: MIME-Version: 1.0\n"
              "C: Content-Type: multipart/mixed; boundary=\"=_ZembrakMailPart_5C1D9E3A7B2F604\"\n"
              "C: \n"
              "C: This is a multi-part message in MIME format.\n"
              "C: \n"
              "C: --=_ZembrakMailPart_5C1D9E3A7B2F604\n"
              "C: Content-Type: text/plain; charset=\"iso-8859-1\"\n"
              "C: Content-Transfer-Encoding: 8bit\n"
              "C: \n"
              "C: please find the bug report attached\n"
              "C: --=_ZembrakMailPart_5C1D9E3A7B2F604\n"
              "C: Content-Type: application/octet-stream; name=\"bugreport.txt\"\n"
              "C: Content-Transfer-Encoding: base64\n"
              "C: Content-Disposition: attachment; filename=\"bugreport.txt\"\n"
              "C: \n"
              "C: cnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJy\n"
              "C: cnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJycnJy\n"
              "C: cnJycnJy\n"
              "C: --=_ZembrakMailPart_5C1D9E3A7B2F604\n"
              "C: Content-Type: image/png; name=\"screen _1_.png\"\n"
              "C: Content-Transfer-Encoding: base64\n"
              "C: Content-Disposition: attachment; filename=\"screen _1_.png\"\n"
              "C: \n"
              "C: iVBORw0K\n"
              "C: --=_ZembrakMailPart_5C1D9E3A7B2F604--\n"
              "C: \n"
              "C: .\n"
              "S: 250 2.0.0 Ok: queued\n"
              "C: QUIT\n"
              "S: 221 2.0.0 Bye\n");
    // Two attachment stages: the missing and the empty file have none.
    const std::vector<TPlannedStage> plan = SmtpStagePlan(false, AttachmentSizes(Files, Job.Attachments));
    ASSERT_EQ(plan.size(), 13u);
    EXPECT_EQ(plan[9].SettingName, "SendAttMsg");
    EXPECT_EQ(plan[9].Weight, 9u);
    EXPECT_EQ(plan[10].Weight, 3u);
    EXPECT_EQ(run.Progress.Log, "S S S S S S S S S P1000 S P1000 S S S ");
}

TEST_F(SmtpAttachments, ProgressPerPieceOfALargeFile) {
    Files.Files["C:\\tmp\\bugreport.txt"].Bytes = std::string(100000, 'x');
    Files.Files["C:\\tmp\\bugreport.txt"].MaxRead = 1000; // short reads make no short lines
    Job.Attachments.resize(1);
    const TRun run = Converse(Job, "dev@example.org", Files, {HappyReplies});
    EXPECT_TRUE(run.Result);
    EXPECT_EQ(run.Progress.Log, "S S S S S S S S S P145 P291 P437 P583 P729 P875 P1000 S S S ");
    EXPECT_EQ(run.Wire.substr(run.Wire.find("eHh4") + 76, 2), "\r\n");
}

TEST_F(SmtpAttachments, AReadOrSendFailureInTheDataAbandonsTheMail) {
    Files.Files["C:\\tmp\\bugreport.txt"].Bytes = std::string(100000, 'x');
    TServer sendFails{HappyReplies};
    sendFails.FailSend = 6; // EHLO, MAIL, RCPT, DATA, header, text part, then the attachment
    Files.Files["C:\\tmp\\bugreport.txt"].FailAt = 30000;
    for (const TServer& server : {TServer{HappyReplies}, sendFails}) {
        const TRun run = Converse(Job, "dev@example.org", Files, server);
        EXPECT_FALSE(run.Result);
        // Closed in the middle of the data: the server drops what it has; no mail cut short.
        EXPECT_EQ(run.Wire.find("\r\n.\r\n"), std::string::npos);
        EXPECT_EQ(run.Wire.find("QUIT"), std::string::npos);
        EXPECT_NE(run.Wire.find("Content-Type: text/plain"), std::string::npos);
    }
}

TEST(SmtpReply, ReaderRules) {
    using S = TSmtpReplyReader::TState;
    struct TCase {
        const char* Reply;
        S State;
        bool Auth;
    } cases[] = {
        {"250 ok\r\n", S::Accepted, false},
        {"250\r\n", S::Accepted, false},
        {"250-a\r\n250-b\r\n250 c\r\n", S::Accepted, false},
        {"250-a\r\n250-b\r\n", S::NeedMore, false},
        {"250 ok", S::NeedMore, false},
        {"25", S::NeedMore, false},
        {"550 no\r\n", S::Refused, false},
        {"250-ok\r\n550 no\r\n", S::Refused, false},
        {"25\r\n", S::Refused, false},
        {"250-x\r\n250 auth login\r\n", S::Accepted, true},
        {"250-AUTH=PLAIN LOGIN CRAM-MD5\r\n250 OK\r\n", S::Accepted, true},
        {"250-AUTH=LOGIN\r\n250 OK\r\n", S::Accepted, true},
        {"250-AUTH PLAIN LOGINX\r\n250 OK\r\n", S::Accepted, false},
        {"250-X-AUTH LOGIN\r\n250 OK\r\n", S::Accepted, false},
        {"250 AUTHLOGIN\r\n", S::Accepted, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Reply);
        TSmtpReplyReader reader;
        reader.Begin("250", true);
        const std::string r = c.Reply;
        EXPECT_EQ(reader.Feed(reinterpret_cast<const uint8_t*>(r.data()), r.size()), c.State);
        EXPECT_EQ(reader.AuthLogin(), c.Auth);
    }
    // A reply that goes on and on is cut off at the size limit.
    TSmtpReplyReader reader;
    reader.Begin("250");
    const std::string line = "250-" + std::string(1000, 'a') + "\r\n";
    size_t fed = 0;
    while (reader.State() == S::NeedMore && fed < 10 * TSmtpReplyReader::MaxReply) {
        reader.Feed(reinterpret_cast<const uint8_t*>(line.data()), line.size());
        fed += line.size();
    }
    EXPECT_EQ(reader.State(), S::Broken);
    EXPECT_LE(fed, TSmtpReplyReader::MaxReply + line.size());
}

} // namespace
