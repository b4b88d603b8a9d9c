#include <gtest/gtest.h>

#include <set>

#include "tests/crashreport/settings/SettingsTestSupport.h"

namespace {

TRef<TIMESettings> ModuleSettings(const TStreamBuilder& stream, TRef<ITextVariableSource> vars = nullptr) {
    return MakeRef<TIMESettings>(LoaderOf(stream.Data()), nullptr, std::move(vars));
}

TEST(Settings, MissingPropertyFallsBackToBuiltInValue) {
    TStreamBuilder s;
    s.Bool("Enabled", true).Bool("AutoSave", false).End();
    auto settings = ModuleSettings(s);
    EXPECT_TRUE(settings->IsValid());
    // Not in the stream: the built-in value, which for AutoClip is true.
    EXPECT_TRUE(settings->GetAutoClip());
    EXPECT_EQ(settings->GetAutoDelay(), 60);
    EXPECT_EQ(settings->GetFreezeTimeout(), 60u);
    EXPECT_EQ(settings->GetContinueBtnTxt(), "continue bug report");
    // In the stream: its value, whatever the built-in one.
    EXPECT_TRUE(settings->GetEnabled());
    EXPECT_FALSE(settings->GetAutoSave());
    // Nowhere at all.
    EXPECT_FALSE(settings->ReadBool("Assistant1"));
    EXPECT_EQ(settings->ReadInt("NoSuchThing"), 0);
    EXPECT_EQ(settings->ReadText("NoSuchThing"), "");
}

TEST(Settings, NamesCompareInAnyCaseAndLaterDuplicatesWin) {
    TStreamBuilder s;
    s.Bool("autoclip", false).Int32("SMTPPORT", 587).Int32("SmtpPort", 465).End();
    auto settings = ModuleSettings(s);
    EXPECT_FALSE(settings->GetAutoClip());
    EXPECT_EQ(settings->GetSmtpPort(), 465);
    EXPECT_FALSE(settings->ReadBool("AUTOCLIP"));
}

TEST(Settings, BrokenOrMissingResource) {
    TRecordingSink sink;
    TStreamBuilder s;
    s.Bool("AutoClip", false).Name("Bad").Bytes({7, 0}).Bool("AutoSave", false).End();
    auto broken = MakeRef<TIMESettings>(LoaderOf(s.Data()), &sink, nullptr);
    EXPECT_EQ(sink.Messages.size(), 1u);
    EXPECT_TRUE(broken->IsValid());
    EXPECT_FALSE(broken->GetAutoClip()); // read before the bad property
    EXPECT_TRUE(broken->GetAutoSave());  // after it: built-in

    auto none = MakeRef<TIMESettings>([](std::vector<uint8_t>&) { return false; }, &sink, nullptr);
    EXPECT_FALSE(none->IsValid());
    EXPECT_TRUE(none->GetNoSettings());
    EXPECT_FALSE(none->GetEnabled());
}

TEST(Settings, ModuleFallsBackToMainSettingsThenBuiltIn) {
    TStreamBuilder mainStream;
    mainStream.Short("MailAddr", "main@example.org").Bool("AutoClip", false).Int32("SmtpPort", 2525).End();
    TStreamBuilder modStream;
    modStream.Int32("SmtpPort", 26).End();
    auto main = ModuleSettings(mainStream);
    auto mod = ModuleSettings(modStream);
    mod->SetMainSettings(main);

    EXPECT_EQ(mod->GetSmtpPort(), 26);                 // own list first
    EXPECT_EQ(mod->GetMailAddr(), "main@example.org"); // then the main settings
    EXPECT_FALSE(mod->GetAutoClip());
    EXPECT_EQ(mod->GetHttpPort(), 80); // then the built-in table
    EXPECT_EQ(main->GetSmtpPort(), 2525);

    // A change on the main settings shows through; one on the module stays there.
    main->SetHttpPort(8080);
    mod->SetMailAddr("mod@example.org");
    EXPECT_EQ(mod->GetHttpPort(), 8080);
    EXPECT_EQ(main->GetMailAddr(), "main@example.org");

    // Main settings never chain further, even when told to.
    main->SetMainSettings(main);
    EXPECT_FALSE(main->MainSettings());
    EXPECT_TRUE(main->GetAutoSave());

    // Reload drops the module's changes and reads its resource again.
    mod->Reload();
    EXPECT_EQ(mod->GetMailAddr(), "main@example.org");
    EXPECT_EQ(mod->GetSmtpPort(), 26);
}

TEST(Settings, ExceptionChangesStayWithTheException) {
    TStreamBuilder s;
    s.Bool("PauseThreads", false).End();
    auto mod = ModuleSettings(s);
    auto first = MakeRef<TSettingsOverlay<>>(TRef<IMESettings>(mod));
    auto second = MakeRef<TSettingsOverlay<>>(TRef<IMESettings>(mod));

    first->SetPauseThreads(true);
    EXPECT_TRUE(first->GetPauseThreads());
    EXPECT_FALSE(second->GetPauseThreads());
    EXPECT_FALSE(mod->GetPauseThreads());

    // Unchanged properties still follow the module, built-in values included.
    mod->SetAutoSend(true);
    EXPECT_TRUE(first->GetAutoSend());
    EXPECT_TRUE(second->GetAutoClip());

    // The exception keeps its module alive.
    TSettingsOverlay<>* raw = second.Get();
    mod.Reset();
    EXPECT_TRUE(raw->GetAutoSend());
}

TEST(Settings, ReadTextExpandsVariablesButNotMessageOrReport) {
    auto vars = MakeRef<TFixedVariables>();
    TStreamBuilder s;
    s.Short("TitleBar", "%AppName% - %modversion%").Short("MailBody", "%exceptMsg%%LF%%bugReport%").End();
    auto mod = ModuleSettings(s, vars);
    EXPECT_EQ(mod->GetTitleBar(), "LevelEditor.exe - 1.0.0.1");
    EXPECT_EQ(mod->GetMailBody(), "%exceptMsg%\r\n%bugReport%");
    EXPECT_EQ(mod->GetBitFaultMsg(), "The file \"LevelEditor.exe\" seems to be corrupt!");
    // Through an exception's settings, with the module's variables.
    auto exc = MakeRef<TSettingsOverlay<>>(TRef<IMESettings>(mod));
    exc->SetMailSubj("crash in %modname%");
    EXPECT_EQ(exc->GetMailSubj(), "crash in LevelEditor.exe");
}

TEST(Settings, BuiltInTableHoldsEveryPropertyOnce) {
    auto table = BuiltInProperties();
    ASSERT_EQ(table.size(), 121u);
    std::set<std::string> names;
    for (const auto& p : table) {
        std::string lower(p.Name);
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(names.insert(lower).second) << p.Name;
    }
    EXPECT_EQ(table.front().Name, std::string("Enabled"));
    EXPECT_EQ(table.back().Name, std::string("SendFailMsg"));
    TPropEntry e;
    EXPECT_FALSE(FindBuiltInProperty("Assistant1", e));
}

TEST(RefCounted, LastReleaseFreesAndCopiesShare) {
    static int alive = 0;
    struct TProbe : TRefCountedImpl<IRefCounted> {
        TProbe() { ++alive; }
        ~TProbe() override { --alive; }
    };
    {
        TRef<TProbe> a = MakeRef<TProbe>();
        TRef<IRefCounted> b = a;
        TRef<IRefCounted> c = std::move(b);
        EXPECT_FALSE(b);
        a.Reset();
        EXPECT_EQ(alive, 1);
        TRef<IRefCounted> d(c.Get()); // a raw pointer re-wrapped adds its own reference
        c.Reset();
        EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);
}

} // namespace
