// The program's own settings source, compiled by the stream compiler and read back, and the
// compiler's output byte for byte.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/crashreport/settings/SettingsTestSupport.h"

namespace {

struct TExpected {
    std::string Name;
    char Kind; // 'b' boolean, 'i' integer, 't' text
    int32_t Int;
    std::string Text;
};

// Every property as this program is meant to be configured.
std::vector<TExpected> ConfiguredProperties() {
    std::vector<TExpected> all;
    // Names, or for integers "name=value".
    auto add = [&](char kind, int32_t value, const std::string& words) {
        std::istringstream in(words);
        for (std::string w; in >> w;) {
            const size_t eq = w.find('=');
            all.push_back(
                {w.substr(0, eq), kind, eq == std::string::npos ? value : std::stoi(w.substr(eq + 1)), ""});
        }
    };
    add('b', true,
        "Enabled CheckFileCrc AutoSave AutoSaveIfNotSent PlWaitBox SendBtnVis "
        "ShowBtnVis ContinueBtnVis RestartBtnVis CloseBtnVis SendInBackgr MailViaMapi "
        "MailViaMailto AttachBugRep AttachBugRepFile DelBugRepFile AppendBugReps "
        "NoDupExcepts NoDupFreezes ListThreads CpuRegs StackDump ShowDisAsm "
        "ShowRelAddrs ShowRelLines F1NoBugRep F1NoScrShot F1NoHandlers F1NoSuspend");
    add('b', false,
        "NoSettings CheckFreeze AutoSend AutoSendBox AutoClip PauseThreads "
        "AutoContinue SaveBtnVis PrintBtnVis AutoShowBugRep UglyBtns "
        "MailAsSmtpServer MailAsSmtpClient UploadViaHttp ScrShotAppOnly "
        "HideUglyItems FormatDisAsm F2NoBugRep F2NoScrShot F2NoHandlers "
        "F2NoSuspend GnNoBugRep GnNoScrShot GnNoHandlers GnNoSuspend");
    add('i', 0,
        "FreezeTimeout=60000 AutoRestart=0 AutoClose=0 FocusedBtn=0 SmtpPort=25 HttpPort=80 "
        "ScrShotDepth=8 BugRepFileSize=100000 DupExceptDef=1 DupFreezeDef=2 LimitDisAsm=5 F1ShowCfg=3 "
        "F2ShowCfg=0 GnShowCfg=0");
    add('t', 0,
        "MailAddr SmtpServer SmtpAccount SmtpPassword HttpServer HttpAccount HttpPassword BugRepZip "
        "ScrShotZip AddAttachs F1Assis F2Classes F2Assis GnAssis");
    const std::pair<const char*, const char*> texts[] = {
        {"SendAssis", "SendAssistant"},
        {"SaveAssis", "SaveAssistant"},
        {"PrintAssis", "PrintAssistant"},
        {"BugRepSendAs", "bugreport.txt"},
        {"ScrShotSendAs", "screenshot.png"},
        {"BugRepFile", "bugreport.txt"},
        {"Plugins", "modules|processes|hardware"},
        {"F1Classes", "EDBEditError"},
        {"Assistant1", "SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm"},
        {"Assistant2", "SaveAssistant|Save Assistant|ContactForm|DetailsForm"},
        {"Assistant3", "PrintAssistant|Print Assistant|ContactForm|DetailsForm"},
        {"TitleBar", "%appname%"},
        {"ExceptMsg", "An error occurred in the application."},
        {"FrozenMsg", "The application seems to be frozen."},
        {"BitFaultMsg", "The file \"%modname%\" seems to be corrupt!"},
        {"SendBtnTxt", "send bug report"},
        {"SaveBtnTxt", "save bug report"},
        {"PrintBtnTxt", "print bug report"},
        {"ShowBtnTxt", "show bug report"},
        {"ContinueBtnTxt", "continue application"},
        {"RestartBtnTxt", "restart application"},
        {"CloseBtnTxt", "close application"},
        {"OkBtnTxt", "&OK"},
        {"DetailsBtnTxt", "&Details"},
        {"PlWaitTitle", "Information"},
        {"PlWaitText", "Please wait a moment..."},
        {"MailSubj", "bug report"},
        {"MailBody", "please find the bug report attached"},
        {"SendBoxTitle", "Sending bug report..."},
        {"PrepAttMsg", "Preparing attachments..."},
        {"MxLookMsg", "Searching for mail server..."},
        {"ConnMsg", "Connecting to server..."},
        {"AuthMsg", "Authentication..."},
        {"SendMailMsg", "Sending mail..."},
        {"FieldMsg", "Setting fields..."},
        {"SendAttMsg", "Sending attachments..."},
        {"SendFinalMsg", "Finalizing..."},
        {"SendFailMsg", "Sorry, sending the bug report didn't work."},
    };
    for (const auto& [name, text] : texts)
        all.push_back({name, 't', 0, text});
    return all;
}

// Not in the source: they must answer their built-in values.
const TExpected NotConfigured[] = {{"AutoDelay", 'i', 60, ""},
                                   {"MailFrom", 't', 0, ""},
                                   {"AddFields", 't', 0, ""},
                                   {"VersionVar", 'i', 0, ""}};

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
    std::vector<TExpected> expected = ConfiguredProperties();
    EXPECT_EQ(props.size(), expected.size());
    expected.insert(expected.end(), std::begin(NotConfigured), std::end(NotConfigured));

    auto settings = MakeRef<TIMESettings>(LoaderOf(stream), &sink, nullptr);
    for (const TExpected& e : expected) {
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
        for (const TExpected& e : expected)
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
    auto s = [](const std::string& text) { return char(text.size()) + text; }; // a short string
    const std::string expected = "TPF0" + s("TForm") + s("ContactForm") + s("Message") + "\x06" +
                                 s("it's\r\nx") + s("MinWidth") + "\x03\x2C\x01" + s("Timer") + "\x02\xFE" +
                                 s("Big") + "\x04\x70\x11\x01\x00"s + s("Visible") + "\x08" + s("Align") +
                                 "\x07" + s("alClient") + s("Euro") + "\x06\x01\x80" + s("Han") +
                                 "\x12\x01\x00\x00\x00\x2D\x4E"s + s("Items") + "\x0E\x06" + s("a") +
                                 "\x02\x01\x00\x00"s + s("INVButton") + s("ContinueBtn") + s("Caption") +
                                 "\x06" + s("Continue") + "\0\0"s + s("INVLabel") + s("Empty") + "\0\0\0"s;
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
