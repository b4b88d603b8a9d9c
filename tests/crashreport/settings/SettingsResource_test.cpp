// The program's own settings source, compiled by the stream compiler and read back, and the
// compiler's output byte for byte.
#include <gtest/gtest.h>

#include "tests/crashreport/settings/SettingsTestSupport.h"

namespace {

struct TExpected {
    const char* Name;
    char Kind; // 'b' boolean, 'i' integer, 't' text
    int32_t Int;
    const char* Text;
};

// Every property as this program is meant to be configured; the last four are not in the
// source and must answer their built-in values.
const TExpected ExpectedProperties[] = {
    {"Enabled", 'b', 1, ""},
    {"NoSettings", 'b', 0, ""},
    {"CheckFileCrc", 'b', 1, ""},
    {"CheckFreeze", 'b', 0, ""},
    {"FreezeTimeout", 'i', 60000, ""},
    {"AutoSave", 'b', 1, ""},
    {"AutoSaveIfNotSent", 'b', 1, ""},
    {"AutoSend", 'b', 0, ""},
    {"AutoSendBox", 'b', 0, ""},
    {"AutoClip", 'b', 0, ""},
    {"PauseThreads", 'b', 0, ""},
    {"PlWaitBox", 'b', 1, ""},
    {"AutoContinue", 'b', 0, ""},
    {"AutoRestart", 'i', 0, ""},
    {"AutoClose", 'i', 0, ""},
    {"SendBtnVis", 'b', 1, ""},
    {"SaveBtnVis", 'b', 0, ""},
    {"PrintBtnVis", 'b', 0, ""},
    {"ShowBtnVis", 'b', 1, ""},
    {"ContinueBtnVis", 'b', 1, ""},
    {"RestartBtnVis", 'b', 1, ""},
    {"CloseBtnVis", 'b', 1, ""},
    {"FocusedBtn", 'i', 0, ""},
    {"SendAssis", 't', 0, "SendAssistant"},
    {"SaveAssis", 't', 0, "SaveAssistant"},
    {"PrintAssis", 't', 0, "PrintAssistant"},
    {"AutoShowBugRep", 'b', 0, ""},
    {"UglyBtns", 'b', 0, ""},
    {"MailAddr", 't', 0, ""},
    {"SendInBackgr", 'b', 1, ""},
    {"MailAsSmtpServer", 'b', 0, ""},
    {"MailAsSmtpClient", 'b', 0, ""},
    {"UploadViaHttp", 'b', 0, ""},
    {"MailViaMapi", 'b', 1, ""},
    {"MailViaMailto", 'b', 1, ""},
    {"SmtpServer", 't', 0, ""},
    {"SmtpPort", 'i', 25, ""},
    {"SmtpAccount", 't', 0, ""},
    {"SmtpPassword", 't', 0, ""},
    {"HttpServer", 't', 0, ""},
    {"HttpPort", 'i', 80, ""},
    {"HttpAccount", 't', 0, ""},
    {"HttpPassword", 't', 0, ""},
    {"AttachBugRep", 'b', 1, ""},
    {"AttachBugRepFile", 'b', 1, ""},
    {"DelBugRepFile", 'b', 1, ""},
    {"BugRepSendAs", 't', 0, "bugreport.txt"},
    {"BugRepZip", 't', 0, ""},
    {"ScrShotDepth", 'i', 8, ""},
    {"ScrShotAppOnly", 'b', 0, ""},
    {"ScrShotSendAs", 't', 0, "screenshot.png"},
    {"ScrShotZip", 't', 0, ""},
    {"AddAttachs", 't', 0, ""},
    {"BugRepFile", 't', 0, "bugreport.txt"},
    {"AppendBugReps", 'b', 1, ""},
    {"BugRepFileSize", 'i', 100000, ""},
    {"NoDupExcepts", 'b', 1, ""},
    {"NoDupFreezes", 'b', 1, ""},
    {"DupExceptDef", 'i', 1, ""},
    {"DupFreezeDef", 'i', 2, ""},
    {"ListThreads", 'b', 1, ""},
    {"CpuRegs", 'b', 1, ""},
    {"StackDump", 'b', 1, ""},
    {"ShowDisAsm", 'b', 1, ""},
    {"HideUglyItems", 'b', 0, ""},
    {"ShowRelAddrs", 'b', 1, ""},
    {"ShowRelLines", 'b', 1, ""},
    {"FormatDisAsm", 'b', 0, ""},
    {"LimitDisAsm", 'i', 5, ""},
    {"Plugins", 't', 0, "modules|processes|hardware"},
    {"F1Classes", 't', 0, "EDBEditError"},
    {"F1NoBugRep", 'b', 1, ""},
    {"F1NoScrShot", 'b', 1, ""},
    {"F1NoHandlers", 'b', 1, ""},
    {"F1NoSuspend", 'b', 1, ""},
    {"F1ShowCfg", 'i', 3, ""},
    {"F1Assis", 't', 0, ""},
    {"F2Classes", 't', 0, ""},
    {"F2NoBugRep", 'b', 0, ""},
    {"F2NoScrShot", 'b', 0, ""},
    {"F2NoHandlers", 'b', 0, ""},
    {"F2NoSuspend", 'b', 0, ""},
    {"F2ShowCfg", 'i', 0, ""},
    {"F2Assis", 't', 0, ""},
    {"GnNoBugRep", 'b', 0, ""},
    {"GnNoScrShot", 'b', 0, ""},
    {"GnNoHandlers", 'b', 0, ""},
    {"GnNoSuspend", 'b', 0, ""},
    {"GnShowCfg", 'i', 0, ""},
    {"GnAssis", 't', 0, ""},
    {"Assistant1", 't', 0, "SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm"},
    {"Assistant2", 't', 0, "SaveAssistant|Save Assistant|ContactForm|DetailsForm"},
    {"Assistant3", 't', 0, "PrintAssistant|Print Assistant|ContactForm|DetailsForm"},
    {"TitleBar", 't', 0, "%appname%"},
    {"ExceptMsg", 't', 0, "An error occurred in the application."},
    {"FrozenMsg", 't', 0, "The application seems to be frozen."},
    {"BitFaultMsg", 't', 0, "The file \"%modname%\" seems to be corrupt!"},
    {"SendBtnTxt", 't', 0, "send bug report"},
    {"SaveBtnTxt", 't', 0, "save bug report"},
    {"PrintBtnTxt", 't', 0, "print bug report"},
    {"ShowBtnTxt", 't', 0, "show bug report"},
    {"ContinueBtnTxt", 't', 0, "continue application"},
    {"RestartBtnTxt", 't', 0, "restart application"},
    {"CloseBtnTxt", 't', 0, "close application"},
    {"OkBtnTxt", 't', 0, "&OK"},
    {"DetailsBtnTxt", 't', 0, "&Details"},
    {"PlWaitTitle", 't', 0, "Information"},
    {"PlWaitText", 't', 0, "Please wait a moment..."},
    {"MailSubj", 't', 0, "bug report"},
    {"MailBody", 't', 0, "please find the bug report attached"},
    {"SendBoxTitle", 't', 0, "Sending bug report..."},
    {"PrepAttMsg", 't', 0, "Preparing attachments..."},
    {"MxLookMsg", 't', 0, "Searching for mail server..."},
    {"ConnMsg", 't', 0, "Connecting to server..."},
    {"AuthMsg", 't', 0, "Authentication..."},
    {"SendMailMsg", 't', 0, "Sending mail..."},
    {"FieldMsg", 't', 0, "Setting fields..."},
    {"SendAttMsg", 't', 0, "Sending attachments..."},
    {"SendFinalMsg", 't', 0, "Finalizing..."},
    {"SendFailMsg", 't', 0, "Sorry, sending the bug report didn't work."},
    // not configured
    {"AutoDelay", 'i', 60, ""},
    {"MailFrom", 't', 0, ""},
    {"AddFields", 't', 0, ""},
    {"VersionVar", 'i', 0, ""},
};

TEST(SettingsResource, ProgramSettingsAnswerEveryConfiguredValue) {
    std::vector<uint8_t> data = ReadFileBytes(ZE_SOURCE_DIR "/assets/settings/xunexcept.txt");
    ASSERT_FALSE(data.empty());
    std::vector<uint8_t> stream = CompileStreamSource(std::string(data.begin(), data.end()), "program");
    ASSERT_FALSE(stream.empty()) << "tools/compile_stream.py failed";

    TRecordingSink sink;
    std::vector<TPropEntry> props;
    TSettingsStreamResult result = ReadSettingsStream(stream, props, &sink);
    EXPECT_TRUE(result.Valid && result.Complete);
    EXPECT_TRUE(sink.Messages.empty());
    EXPECT_EQ(props.size(), std::size(ExpectedProperties) - 4);

    auto settings = MakeRef<TIMESettings>(LoaderOf(stream), &sink, nullptr);
    for (const TExpected& e : ExpectedProperties) {
        SCOPED_TRACE(e.Name);
        TPropEntry found;
        ASSERT_TRUE(settings->FindProperty(e.Name, found));
        switch (e.Kind) {
        case 'b':
            EXPECT_EQ(found.Kind, TPropKind::Bool);
            EXPECT_EQ(settings->ReadBool(e.Name), e.Int != 0);
            break;
        case 'i':
            EXPECT_EQ(found.Kind, TPropKind::Int);
            EXPECT_EQ(settings->ReadInt(e.Name), e.Int);
            break;
        default:
            EXPECT_EQ(found.Kind, TPropKind::Text);
            EXPECT_EQ(settings->ReadText(e.Name), e.Text);
        }
    }
    // The built-in table covers every property but the assistant definitions.
    for (const auto& p : BuiltInProperties()) {
        bool listed = false;
        for (const TExpected& e : ExpectedProperties)
            listed = listed || SameName(e.Name, p.Name);
        EXPECT_TRUE(listed) << p.Name;
    }
}

TEST(StreamCompiler, WritesNestedObjectsAndEveryValueType) {
    const std::string source = "object ContactForm: TForm  # the form itself\n"
                               "  Message = 'it''s' +\n"
                               "    #13#10'x'\n"
                               "  MinWidth = 300\n"
                               "  Timer = -2\n"
                               "  Big = 70000\n"
                               "  Visible = False\n"
                               "  Align = alClient\n"
                               "  Euro = '\xE2\x82\xAC'\n"
                               "  Han = '\xE4\xB8\xAD'\n"
                               "  Items = ('a' 1)\n"
                               "  object ContinueBtn: INVButton\n"
                               "    Caption = 'Continue'\n"
                               "  end\n"
                               "  object Empty: INVLabel\n"
                               "  end\n"
                               "end\n";
    std::vector<uint8_t> got = CompileStreamSource(source, "form");
    using namespace std::string_literals;
    const std::string expected = "TPF0\x05TForm\x0B"s + "ContactForm" +             //
                                 "\x07Message\x06\x07it's\r\nx" +                   //
                                 "\x08MinWidth\x03\x2C\x01" + "\x05Timer\x02\xFE" + //
                                 "\x03"
                                 "Big\x04\x70\x11\x01\x00"s +
                                 "\x07Visible\x08" + //
                                 "\x05"
                                 "Align\x07\x08"
                                 "alClient" +
                                 "\x04"
                                 "Euro\x06\x01\x80" +                     //
                                 "\x03Han\x12\x01\x00\x00\x00\x2D\x4E"s + //
                                 "\x05Items\x0E\x06\x01"
                                 "a\x02\x01\x00\x00"s + //
                                 "\x09INVButton\x0B"
                                 "ContinueBtn\x07"
                                 "Caption\x06\x08"
                                 "Continue" +
                                 "\0\0\x08INVLabel\x05"
                                 "Empty\0\0\0"s;
    EXPECT_EQ(std::string(got.begin(), got.end()), expected);

    // A long text needs the 32-bit length.
    std::vector<uint8_t> longText = CompileStreamSource(
        "object xunExcept: TXunExcept\n  MailBody = '" + std::string(300, 'b') + "'\nend\n", "long");
    TRecordingSink sink;
    auto settings = MakeRef<TIMESettings>(LoaderOf(longText), &sink, nullptr);
    EXPECT_EQ(settings->GetMailBody(), std::string(300, 'b'));
}

TEST(StreamCompiler, RejectsBrokenSources) {
    for (const char* source : {"object A: TA\n  X = \nend\n", "object A: TA\n  X = 1\n", "object A TA\nend\n",
                               "object A: TA\n  X = 'open\nend\n", "object A: TA\n  X = 4294967296\nend\n",
                               "object A: TA\nend\nobject B: TB\nend\n"}) {
        EXPECT_TRUE(CompileStreamSource(source, "bad").empty()) << source;
    }
}

} // namespace
