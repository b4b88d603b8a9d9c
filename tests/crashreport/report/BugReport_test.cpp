// Whole reports composed over a made-up process: the golden text before and after completion,
// the sections under the settings, the frozen variant, internal errors, and renderings taken
// while a completion runs.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "crashreport/base/Text.h"
#include "crashreport/report/BugReport.h"
#include "crashreport/report/ReportFormats.h"
#include "tests/crashreport/report/ReportFakes.h"

namespace {

class TRecordingProgress : public IReportProgress {
public:
    std::vector<uint64_t> Weights;
    int Done = 0, Positions = 0;
    void AddStage(const std::string&, uint64_t weight) override { Weights.push_back(weight); }
    void StageDone() override { ++Done; }
    void SetStagePosition(int32_t) override { ++Positions; }
};

struct TReportFixture {
    TRef<TFakeFacts> Facts = MakeRef<TFakeFacts>();
    TRef<TFakeProcess> Process = MakeRef<TFakeProcess>();
    TRef<TFakeThreadNames> Names = MakeRef<TFakeThreadNames>();
    TRef<TFakeTracer> Tracer = MakeRef<TFakeTracer>();
    TRef<TSettingsOverlay<>> Settings = MakeRef<TSettingsOverlay<>>(nullptr);
    TPluginRegistry Plugins;
    TReportException Exception;
    std::vector<TStackLine> MainStack, LoaderStack;

    TReportFixture() {
        Process->Add(0xA1C, 0x004C1A2B, 0x12FF00);
        Process->Add(0xB20, 0x7C90E514, 0x12F800);
        Process->Add(0xC30, 0x7C90E514, 0x12F400);
        Process->Add(0xD40, 0x7C90E514, 0x12F200, {true, 2}, false);
        Names->Entries[0xA1C] = {"main thread", "", 0, 0};
        Names->Entries[0xB20] = {"loader", "", 0xA1C, 0x00401234};
        Names->Entries[0xC30] = {"-", "", 0, 0};
        const TStackLine top =
            Item(0x004C1A2B, 0x004C1A0C, "LevelEditor.exe", "Unit1", 812, 4, "TForm1.SaveClick");
        Tracer->Locations[top.Address] = top;
        MainStack = {top,
                     Item(0x0048F3C2, 0x0048F364, "LevelEditor.exe", "Controls", 0, 0, "TControl.Click")};
        LoaderStack = {Item(0x7C90E514, 0, "ntdll.dll", "", 0, 0, ""),
                       Item(0x00403000, 0x00402F00, "LevelEditor.exe", "Loader", 20, 2, "TLoader.Run"),
                       Item(0x00401234, 0x00401200, "LevelEditor.exe", "Unit1", 99, 9, "TForm1.FormCreate")};
        Tracer->Traces[0xA1C].Lines = MainStack;
        Tracer->Traces[0xA1C].ExceptionFunction = 0x004C1A0C;
        Tracer->Traces[0xA1C].ExceptionFunctionKnown = true;
        Tracer->Traces[0xB20].Lines = LoaderStack;
        Tracer->Traces[0xA1C].MinimalDebugInfo = {"TForm1.SaveClick"};
        Tracer->Traces[0xB20].MinimalDebugInfo = {"TLoader.Run", "TForm1.SaveClick"};
        Plugins.Register(
            {"modules", "list of loaded modules", [] { return "kernel32.dll\r\n\r\nntdll.dll"; }, true});
        Plugins.Register({"uptime", "", [] { return std::string("fine"); }, false});
        Settings->WriteText("Plugins", "uptime|modules|nosuch");
        Settings->WriteBool("ShowDisAsm", false);
        Exception.ClassName = "EStoneError";
        Exception.Message = "Stone list is empty";
        Exception.Address = 0x004C1A2B;
        Exception.CrashedThreadId = 0xA1C;
        Exception.HasContext = true;
        Exception.Context.Regs[TCpuContext::RegIp] = 0x004C1A2B;
        Exception.Context.Regs[TCpuContext::RegSp] = 0x12FFD4;
        Exception.Context.Regs[TCpuContext::RegAx] = 0xDEADBEEF;
        Exception.Created = {2006, 5, 14, 18, 2, 11, 320};
    }
    TRef<TBugReport> Make() {
        TReportSources s;
        s.Settings = Settings;
        s.Facts = Facts;
        s.Process = Process;
        s.Tracer = Tracer;
        s.ThreadNames = Names;
        s.Plugins = &Plugins;
        s.NextExceptionNumber = [] { return uint64_t(7); };
        return MakeRef<TBugReport>(Exception, s);
    }
};

const char* const GoldenHeader = "date/time          : 2006-05-14, 18:02:11, 320ms\r\n"
                                 "computer name      : DESK7\r\n"
                                 "user name          : anna <admin>\r\n"
                                 "registered owner   : Anna\r\n"
                                 "operating system   : Windows XP Service Pack 3 build 2600\r\n"
                                 "system language    : German (Germany)\r\n"
                                 "system up time     : 1 day 2 hours\r\n"
                                 "program up time    : 320 milliseconds\r\n"
                                 "processors         : 4x Intel(R) Core(TM) i5\r\n"
                                 "physical memory    : 1234/4096 MB (free/total)\r\n"
                                 "free disk space    : (C:) 12,00 GB\r\n"
                                 "display mode       : 1280x1024, 32 bit\r\n"
                                 "process id         : $1A4\r\n"
                                 "allocated memory   : 5,00 MB\r\n"
                                 "command line       : \"C:\\Games\\LevelEditor.exe\" level1.lvl\r\n"
                                 "executable         : LevelEditor.exe\r\n"
                                 "exec. date/time    : 2006-05-01 09:05\r\n"
                                 "version            : 1.0.0.1\r\n"
                                 "compiled with      : COMPILER\r\n"
                                 "xunExcept version  : 3.0h\r\n"
                                 "uptime             : fine\r\n"
                                 "callstack crc      : CRC\r\n"
                                 "exception number   : 7\r\n"
                                 "exception class    : EStoneError\r\n"
                                 "exception message  : Stone list is empty.";

const char* const StackDumpGolden =
    "0012FFD4  00 00 00 00 00 00 00 00 - 00 00 00 00 00 00 00 00  ................\r\n"
    "0012FFE4  00 00 00 00 00 00 00 00 - 00 00 00 00 00 00 00 00  ................\r\n"
    "0012FFF4  00 00 00 00 00 00 00 00 - 00 00 00 00              ............";

std::string Golden(const std::string& crc, const std::string& sections) {
    std::string header = GoldenHeader;
    header.replace(header.find("COMPILER"), 8, CompilerText());
    header.replace(header.find("CRC"), 3, crc);
    return header + sections;
}

} // namespace

TEST(BugReport, GoldenReportPendingThenComplete) {
    TReportFixture fx;
    auto report = fx.Make();
    const std::string registers = "eax = DEADBEEF\r\nebx = 00000000\r\necx = 00000000\r\nedx = 00000000\r\n"
                                  "esi = 00000000\r\nedi = 00000000\r\neip = 004C1A2B\r\nesp = 0012FFD4\r\n"
                                  "ebp = 00000000";
    EXPECT_EQ(report->ReportText(false),
              Golden("will be calculated soon",
                     "\r\n\r\nmain thread ($A1C):\r\n"
                     "004C1A2B +1F LevelEditor.exe Unit1 812 +4 TForm1.SaveClick\r\n"
                     ">> stack will be calculated soon\r\n\r\n"
                     "loader ($B20):\r\n7C90E514 +0 ???\r\n>> stack will be calculated soon\r\n\r\n"
                     "thread $D40: <suspended> <priority:2>\r\n>> stack not accessible\r\n\r\n"
                     "modules:\r\n>> will be calculated soon\r\n\r\n"
                     "cpu registers:\r\n>> will be calculated soon\r\n\r\n"
                     "stack dump:\r\n>> will be calculated soon"));
    // Stacks are prepared when the sections are made, traced later.
    EXPECT_EQ(fx.Tracer->Prepared, (std::vector<uint32_t>{0xA1C, 0xB20}));
    EXPECT_TRUE(fx.Tracer->Traced.empty());

    TRecordingProgress progress;
    report->RunCompletion(&progress);
    EXPECT_TRUE(report->IsComplete());
    // One area per traced thread, weighted by the stack's size, first thread first.
    EXPECT_EQ(progress.Weights, (std::vector<uint64_t>{0x130000 - 0x12FFD4, 0x130000 - 0x12F800, 1}));
    EXPECT_EQ(progress.Done, 3);
    EXPECT_EQ(fx.Tracer->Traced, (std::vector<uint32_t>{0xA1C, 0xB20}));

    const uint32_t c1 = StackItemChecksum(fx.MainStack[0]), c2 = StackChecksum(fx.MainStack);
    const uint32_t c3 = FeedChecksum(c2, StackChecksum(fx.LoaderStack));
    EXPECT_EQ(report->Checksums(), (std::array<uint32_t, 3>{c1, c2, c3}));
    EXPECT_EQ(report->MinimalDebugInfo(), (std::vector<std::string>{"TForm1.SaveClick", "TLoader.Run"}));
    const std::string crc = "$" + Hex(c1, 8) + ", $" + Hex(c2, 8) + ", $" + Hex(c3, 8);
    EXPECT_EQ(report->ReportText(true),
              Golden(crc, "\r\n\r\nmain thread ($A1C):\r\n"
                          "004C1A2B +01F LevelEditor.exe Unit1    812 +4 TForm1.SaveClick\r\n"
                          "0048F3C2 +05E LevelEditor.exe Controls        TControl.Click\r\n\r\n"
                          "loader ($B20):\r\n"
                          "7C90E514 +0000 ntdll.dll\r\n"
                          "00403000 +0100 LevelEditor.exe Loader 20 +2 TLoader.Run\r\n"
                          ">> created by main thread ($A1C) at:\r\n"
                          "00401234 +0034 LevelEditor.exe Unit1  99 +9 TForm1.FormCreate\r\n\r\n"
                          "thread $D40: <suspended> <priority:2>\r\n>> stack not accessible\r\n\r\n"
                          "modules:\r\nkernel32.dll\r\n.\r\nntdll.dll\r\n\r\n"
                          "cpu registers:\r\n" +
                              registers + "\r\n\r\nstack dump:\r\n" + StackDumpGolden));

    // A field added later lands just before the checksum; one of the same name replaces in place.
    report->Header()->SetContents("contact", "anna@example.com");
    report->Header()->SetContents("Computer Name", "DESK8");
    const std::string text = report->ReportText(false);
    EXPECT_NE(
        text.find("uptime             : fine\r\ncontact            : anna@example.com\r\ncallstack crc"),
        std::string::npos);
    EXPECT_NE(text.find("Computer Name      : DESK8\r\nuser name"), std::string::npos);
}

TEST(BugReport, SectionsUnderTheSettingsAndTheFrozenVariant) {
    struct TCase {
        const char* Name;
        std::function<void(TReportFixture&)> Setup;
        std::vector<std::string> Titles;
    };
    const std::vector<TCase> cases = {
        {"all",
         [](TReportFixture&) {},
         {"main thread ($A1C):", "loader ($B20):", "thread $D40: <suspended> <priority:2>", "modules",
          "cpu registers", "stack dump"}},
        {"crashed in a thread, ListThreads off",
         [](TReportFixture& fx) {
             fx.Settings->WriteBool("ListThreads", false);
             fx.Exception.CrashedThreadId = 0xB20;
         },
         {"loader ($B20):", "main thread ($A1C):", "modules", "cpu registers", "stack dump"}},
        {"hidden threads are listed when they crashed, no context",
         [](TReportFixture& fx) {
             fx.Exception.CrashedThreadId = 0xC30;
             fx.Exception.HasContext = false;
             fx.Exception.CatchStackPointer = 0x12F400;
             fx.Settings->WriteText("Plugins", "");
             fx.Settings->WriteBool("ShowDisAsm", true);
         },
         {"- ($C30):", "main thread ($A1C):", "loader ($B20):", "thread $D40: <suspended> <priority:2>",
          "disassembling"}},
        {"frozen: the main thread only, no registers",
         [](TReportFixture& fx) {
             fx.Exception.Kind = TExceptionKind::Frozen;
             fx.Exception.CrashedThreadId = 0xB20;
             fx.Settings->WriteBool("ListThreads", false);
             fx.Settings->WriteBool("CpuRegs", false);
         },
         {"main thread ($A1C):", "modules"}},
        {"registry not lockable, unnamed class known",
         [](TReportFixture& fx) {
             fx.Settings->WriteBool("StackDump", false);
             fx.Names->Entries.erase(0xB20);
             fx.Names->Entries[0xD40] = {"", "TWorker", 0, 0};
         },
         {"main thread ($A1C):", "thread $B20:", "thread $D40 (TWorker): <suspended> <priority:2>", "modules",
          "cpu registers"}},
    };
    for (const TCase& c : cases) {
        TReportFixture fx;
        c.Setup(fx);
        auto sections = fx.Make()->Sections();
        std::vector<std::string> titles;
        for (int i = 0; i < sections->ItemCount(); ++i)
            titles.push_back(sections->ItemName(i));
        EXPECT_EQ(titles, c.Titles) << c.Name;
    }

    TReportFixture fx;
    fx.Exception.Kind = TExceptionKind::Frozen;
    auto header = fx.Make()->Header();
    EXPECT_EQ(header->IndexOf("exception class"), -1);
    EXPECT_EQ(header->Contents("exception message"), "The application seems to be frozen.");

    TReportFixture same;
    same.Exception.Message = same.Exception.ClassName;
    EXPECT_EQ(same.Make()->Header()->IndexOf("exception message"), -1);
}

TEST(BugReport, FailuresBecomeInternalErrorsOrMissingFields) {
    TReportFixture fx;
    fx.Facts->FailComputerName = true;
    fx.Tracer->Traces.erase(0xB20); // its trace throws
    fx.Plugins.Register({"modules", "", []() -> std::string { throw std::runtime_error("x"); }, true});
    fx.Tracer->Traces[0xA1C].Error = ">> internal error in InDeepChecks:";
    auto report = fx.Make();
    EXPECT_EQ(report->Header()->IndexOf("computer name"), -1);
    EXPECT_EQ(report->Header()->IndexOf("user name"), 1);
    report->RunCompletion();
    auto s = report->Sections();
    EXPECT_EQ(s->Contents("main thread ($A1C):"), ">> internal error in InDeepChecks:");
    EXPECT_EQ(s->Contents("loader ($B20):"), ">> internal error in GetThreadReport:");
    EXPECT_EQ(s->Contents("modules"), ">> internal error in plugin:");
}

TEST(BugReport, AbortKeepsThePlaceholdersAndChangesAreHeldBack) {
    TReportFixture fx;
    auto report = fx.Make();
    int changes = 0, completions = 0;
    report->ReportText(false);
    report->SetOnChange([&] { ++changes; });
    report->SetOnComplete([&] { ++completions; });
    EXPECT_TRUE(report->StepCompletion());
    EXPECT_EQ(changes, 1); // one event per replacement
    report->LockChanges();
    report->Header()->SetContents("a", "1");
    report->Header()->SetContents("b", "2");
    EXPECT_EQ(changes, 1);
    report->UnlockChanges();
    EXPECT_EQ(changes, 2);
    report->Abort();
    EXPECT_FALSE(report->StepCompletion());
    EXPECT_FALSE(report->IsComplete());
    EXPECT_EQ(completions, 0);
    const std::string text = report->ReportText(true);
    EXPECT_NE(text.find("callstack crc      : will be calculated soon"), std::string::npos);
    EXPECT_NE(text.find("cpu registers:\r\n>> will be calculated soon"), std::string::npos);

    report->SetReportText("edited by the user");
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(report->ReportText(false), "edited by the user");
}

TEST(BugReport, ChangeHandlersMayAskForTheTextAndOutliveNothing) {
    TReportFixture fx;
    auto report = fx.Make();
    report->ReportText(false);
    std::vector<std::string> seen;
    // Asked from inside a step, the complete text cannot be waited for: it comes as far as it is.
    report->SetOnChange([&] { seen.push_back(report->ReportText(true)); });
    report->RunCompletion();
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_NE(seen[0].find("will be calculated soon"), std::string::npos);
    EXPECT_EQ(seen.back(), report->ReportText(true));
    TRef<IMEFields> header = report->Header();
    report->SetOnChange({});
    report.Reset();
    header->SetContents("later", "no report to tell"); // must not reach the report that is gone
    EXPECT_EQ(header->Contents("later"), "no report to tell");
}

TEST(BugReport, RenderingWhileCompletionRunsGivesWholeStates) {
    // Every state between two steps, taken one step at a time.
    std::set<std::string> states;
    {
        TReportFixture fx;
        auto report = fx.Make();
        states.insert(report->ReportText(false));
        while (report->StepCompletion())
            states.insert(report->ReportText(false));
        states.insert(report->ReportText(false));
        // The first state and one after each step but the last thread's, which cannot be traced.
        EXPECT_EQ(states.size(), 7u);
    }
    TReportFixture fx;
    auto report = fx.Make();
    report->Sections();
    std::thread worker([&] { report->RunCompletion(); });
    std::set<std::string> seen;
    while (!report->IsComplete())
        seen.insert(report->ReportText(false));
    worker.join();
    seen.insert(report->ReportText(false));
    for (const std::string& s : seen)
        EXPECT_EQ(states.count(s), 1u) << s;
}

TEST(BugReport, ExpandVariablesWithMessageAndReport) {
    TReportFixture fx;
    auto report = fx.Make();
    EXPECT_EQ(report->ExpandVariables(nullptr, "%EXCEPTMSG%%LF%%appname%"),
              "Stone list is empty\r\n%appname%");
    const std::string body = report->ExpandVariables(nullptr, "[%bugReport%]");
    EXPECT_EQ(body, "[" + report->ReportText(false) + "]");
    fx.Exception.Message = "";
    EXPECT_EQ(fx.Make()->ExpandVariables(nullptr, "%exceptMsg%"), "Unknown");
}
