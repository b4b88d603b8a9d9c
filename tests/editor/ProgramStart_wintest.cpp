// The level file named on the command line.
#include "editor/ProgramStart.h"
#include "tests/support/MainWindowFixture.h"

namespace {

using ProgramStartTest = TMainWindowFixture;

TEST_F(ProgramStartTest, OpensTheFileWithoutADialog) {
    TTempDir dir;
    WriteFileBytes(dir.File(L"start.lvl"),
                   {0x01, 0x30, 0x2C, 0x20, 0x20, 0x02, 0x2F, 0x2B, 0x2C, 0x03, 0x0D, 0x0A});
    TDialogAnswerer none({});
    EXPECT_TRUE(OpenFileFromCommandLine(*Form, Narrow(dir.File(L"start.lvl"))));
    EXPECT_EQ(none.Answered(), 0u);
    EXPECT_EQ(Form->Caption(), "start.lvl - LevelEditor");
    EXPECT_EQ(Form->Level.Stones.size(), 1u);
    EXPECT_TRUE(Form->Level.Saved);
}

TEST_F(ProgramStartTest, AFileThatCannotBeReadIsReportedAndANewLevelBegins) {
    TTempDir dir;
    std::string missing = Narrow(dir.File(L"missing.lvl"));
    {
        TDialogAnswerer answer({ScreenshotAndPress("command-line-file-missing", IDOK)});
        EXPECT_FALSE(OpenFileFromCommandLine(*Form, missing));
        ASSERT_EQ(answer.Texts().size(), 1u);
        EXPECT_EQ(answer.Texts()[0].rfind(
                      L"Die Leveldatei '" + Widen(missing) + L"' kann nicht geöffnet werden.", 0),
                  0u);
    }
    EXPECT_EQ(Form->Caption(), "Unbenannt.lvl - LevelEditor");
    EXPECT_EQ(Form->Level.FileName, "Unbenannt.lvl");
    EXPECT_TRUE(Form->Level.Stones.empty());
    EXPECT_TRUE(Form->Level.Saved);
}

} // namespace
