#include "crashreport/delivery/SendReport.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "crashreport/delivery/PrintReport.h"

namespace {

std::vector<TAttachmentItem> Items(const IMEAttachments& list) {
    std::vector<TAttachmentItem> out;
    for (size_t i = 0; i < list.Count(); ++i)
        out.push_back(list.Item(i));
    return out;
}

std::string Joined(const std::vector<std::string>& v) {
    std::string s;
    for (const std::string& x : v)
        s += (s.empty() ? "" : ",") + x;
    return s;
}

} // namespace

TEST(SendReport, AttachmentListFillsMissingNamesAndReadsAddAttachs) {
    auto list = MakeRef<TIMEAttachments>();
    list->Add("", "ignored.txt", "f", "z.zip"); // no file: nothing
    AddAttachsItems(*list, "C:\\logs\\app.log\r\n"
                           " data\\level.lvl | Level.LVL.bak | | Packed.zip \n"
                           "\n"
                           "noext|README||\r\n"
                           "a.txt|b.txt|field|x.zip|extra");
    const std::vector<TAttachmentItem> items = Items(*list);
    ASSERT_EQ(items.size(), 4u);
    const TAttachmentItem expected[] = {
        {"C:\\logs\\app.log", "app.log", "app", ""},
        {"data\\level.lvl", "Level.LVL.bak", "Level.LVL", "Packed.zip"},
        {"noext", "README", "README", ""},
        {"a.txt", "b.txt", "field", "x.zip"},
    };
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(items[i].File, expected[i].File);
        EXPECT_EQ(items[i].SendAs, expected[i].SendAs);
        EXPECT_EQ(items[i].FieldName, expected[i].FieldName);
        EXPECT_EQ(items[i].ZipName, expected[i].ZipName);
    }
    EXPECT_EQ(list->Item(9).File, "");
}

TEST(SendReport, PlanPacksZipGroupsAndSkipsMissingFiles) {
    const std::set<std::string> existing = {"/abs/report.txt", "/abs/a.log", "/abs/b.log",
                                            "/abs/shot.png",   "/abs/d.log", "/abs/only.txt"};
    std::map<std::string, std::string> archives; // archive -> "file=name;..."
    std::set<std::string> failingArchives = {"/tmp/x/broken.zip"};
    TAttachmentSystem system;
    system.Absolute = [](const std::string& f) { return f[0] == '/' ? f : "/abs/" + f; };
    system.Exists = [&](const std::string& f) { return existing.count(f) != 0; };
    system.WriteZip = [&](const std::string& archive, const std::vector<std::string>& files,
                          const std::vector<std::string>& names) {
        std::string& log = archives[archive];
        for (size_t i = 0; i < files.size(); ++i)
            log += files[i] + "=" + names[i] + ";";
        return failingArchives.count(archive) == 0;
    };
    system.TempFolder = "/tmp/x/";

    auto list = MakeRef<TIMEAttachments>();
    list->Add("report.txt", "bugreport.txt", "BugReport", "");
    list->Add("missing.txt", "", "", "");            // neither sent nor packed
    list->Add("gone.log", "", "", "Logs.zip");       // a missing first member starts no group...
    list->Add("a.log", "first.log", "", "logs.ZIP"); // ...the next existing one does, any case
    list->Add("shot.png", "screenshot.png", "ScreenShot", "");
    list->Add("late.log", "late.log", "", "LOGS.zip"); // a later member is not tested
    list->Add("b.log", "second.log", "", "Logs.zip");
    list->Add("d.log", "", "", "broken.zip"); // the archive fails: left out
    list->Add("only.txt", "", "", "");
    const TPreparedAttachments p = PlanAttachments(*list, system);

    EXPECT_EQ(Joined(p.Files), "/abs/report.txt,/tmp/x/logs.ZIP,/abs/shot.png,/abs/only.txt");
    EXPECT_EQ(Joined(p.SendAs), "bugreport.txt,logs.ZIP,screenshot.png,only.txt");
    EXPECT_EQ(Joined(p.FieldNames), "BugReport,logs.ZIP,ScreenShot,only");
    ASSERT_EQ(archives.size(), 2u);
    EXPECT_EQ(archives["/tmp/x/logs.ZIP"],
              "/abs/a.log=first.log;/abs/late.log=late.log;/abs/b.log=second.log;");
    EXPECT_EQ(archives["/tmp/x/broken.zip"], "/abs/d.log=d.log;");
}

TEST(SendReport, TransportChoiceAndItsRoughPlan) {
    struct TCase {
        bool Direct, Smtp, Upload, Mapi;
        const char *Recipients, *SmtpServer, *HttpServer;
        TTransport Configured, Runnable;
        bool Attachments;
    } cases[] = {
        {false, false, false, false, "a@b", "s", "h", TTransport::None, TTransport::None, false},
        {false, false, false, true, "", "", "", TTransport::None, TTransport::None, true},
        {true, true, true, false, "a@b", "s", "h", TTransport::Direct, TTransport::Direct, true},
        // a transport that cannot run does not hand over to the next one
        {true, true, true, false, " ", "s", "h", TTransport::Direct, TTransport::None, true},
        {false, true, true, false, "a@b", "s", "h", TTransport::SmtpServer, TTransport::SmtpServer, true},
        {false, true, true, false, "a@b", "", "h", TTransport::SmtpServer, TTransport::None, true},
        {false, true, false, false, "", "s", "", TTransport::SmtpServer, TTransport::None, true},
        {false, false, true, false, "", "", "http://h/x", TTransport::Upload, TTransport::Upload, true},
        {false, false, true, true, "a@b", "s", "", TTransport::Upload, TTransport::None, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Direct << c.Smtp << c.Upload << c.Mapi << " '" << c.Recipients
                                        << "' '" << c.SmtpServer << "' '" << c.HttpServer << "'");
        TSendSettings s;
        s.MailAsSmtpServer = c.Direct;
        s.MailAsSmtpClient = c.Smtp;
        s.UploadViaHttp = c.Upload;
        s.MailViaMapi = c.Mapi;
        s.MailViaMailto = true;
        s.Recipients = c.Recipients;
        s.SmtpServer = c.SmtpServer;
        s.HttpServer = c.HttpServer;
        EXPECT_EQ(s.Configured(), c.Configured);
        EXPECT_EQ(s.Runnable(), c.Runnable);
        EXPECT_EQ(s.WantsAttachments(), c.Attachments); // only mailto: no window, no attachments
    }

    const auto plan = [](TTransport t, bool attachments) {
        std::string s;
        for (const TPlannedStage& stage : RoughSendPlan(t, attachments))
            s += stage.SettingName + ":" + std::to_string(stage.Weight) + " ";
        return s;
    };
    EXPECT_EQ(plan(TTransport::None, true), "PrepAttMsg:100 ");
    EXPECT_EQ(plan(TTransport::Direct, true), "PrepAttMsg:100 MxLookMsg:100 ConnMsg:100 AuthMsg:200 "
                                              "SendMailMsg:100 SendAttMsg:100 SendFinalMsg:100 ");
    EXPECT_EQ(plan(TTransport::SmtpServer, false),
              "PrepAttMsg:100 ConnMsg:100 AuthMsg:200 SendMailMsg:100 SendFinalMsg:100 ");
    EXPECT_EQ(plan(TTransport::Upload, true), "PrepAttMsg:100 ConnMsg:100 FieldMsg:100 SendAttMsg:100 "
                                              "SendFinalMsg:100 ");
}

TEST(SendReport, SenderMessageAndTexts) {
    EXPECT_EQ(ReportSender("Editor <e@x.example>", "a@b.example"), "Editor <e@x.example>");
    EXPECT_EQ(ReportSender("", " ; Team <t@b.example>, c@d.example"), "xunExcept <t@b.example>");
    EXPECT_EQ(ReportSender("", "a@b.example"), "xunExcept <a@b.example>");
    EXPECT_EQ(ReportSender(" ", ""), "");

    const std::string report = "date/time          : 2026-12-08\r\n"
                               "exception class    : EAccessViolation\r\n"
                               "exception message  :  Access violation: at 0040. \r\n"
                               "\r\nmain thread:\r\n";
    EXPECT_EQ(ReportExceptionMessage(report), "Access violation: at 0040.");
    EXPECT_EQ(ReportExceptionMessage("exception message  : first line has no CR LF before it"), "");
    EXPECT_EQ(ReportExceptionMessage("x\r\nexception message  \r\ny: z"), "");

    // The message and the report go in last and are never scanned for variables themselves.
    auto settings = MakeRef<TSettingsOverlay<>>(TRef<IMESettings>());
    const std::string withVariable = "report %date% 100%";
    EXPECT_EQ(ExpandSendText(*settings, "[%EXCEPTMSG%]%LF%%bugReport%", "", withVariable),
              "[Unknown]\r\nreport %date% 100%");
    EXPECT_EQ(ExpandSendText(*settings, "%exceptMsg%", "%LF%", ""), "%LF%");
}

TEST(PrintReport, MarginsAndLines) {
    struct TCase {
        TPrinterPage Page;
        TPageRect Want;
    } cases[] = {
        // A4 at 600 dpi, 1/4 inch unprintable all round.
        {{600, 600, 4960, 7016, 150, 150, 4660, 6716},
         {472 - 150, 236 - 150, 4960 - 236 - 150, 7016 - 236 - 150}},
        // no unprintable edge
        {{300, 300, 2480, 3508, 0, 0, 2480, 3508}, {236, 118, 2480 - 118, 3508 - 118}},
        // an edge wider than the margins: the printable area's own edge
        {{100, 100, 800, 1100, 100, 100, 600, 900}, {0, 0, 600, 900}},
    };
    for (const TCase& c : cases) {
        const TPageRect r = PrintMargins(c.Page);
        EXPECT_EQ(r.Left, c.Want.Left);
        EXPECT_EQ(r.Top, c.Want.Top);
        EXPECT_EQ(r.Right, c.Want.Right);
        EXPECT_EQ(r.Bottom, c.Want.Bottom);
    }
    EXPECT_EQ(Joined(PrintLines("a\r\n\r\nb & c\nd\r\n")), "a, ,b & c\nd, ");
    EXPECT_EQ(Joined(PrintLines("")), " ");
}
