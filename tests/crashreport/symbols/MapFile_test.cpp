#include "crashreport/symbols/MapFile.h"

#include <gtest/gtest.h>

namespace {

// A map in the linker's layout. The code starts at RVA 0x1000 and is 0x2345 bytes long, so
// segments 2 and above start 0x3000 (the rounded length) after the code base.
const char* const SampleMapText = R"(
 Start         Length     Name                   Class
 0001:00401000 00002345H .text                   CODE
 0002:00404000 00000200H .data                   DATA
 0003:00404200 00000100H .bss                    BSS

Detailed map of segments

 0001:00000000 00001000 C=CODE     S=.text    G=(none)   M=System   ACBP=A9
 0001:00001000 00001000 C=CODE     S=.text    G=(none)   M=Unit1    ACBP=A9
 0001:00002000 00000345 C=CODE     S=.text    G=(none)   M=C:\Work\Stones   ACBP=A9
 0001:00003000 00000010 C=CODE S=.text M=Short ACBP=A9
 0000:00003000 00000010 C=CODE     S=.text    G=(none)   M=NoSegment  ACBP=A9
 0002:00000000 00000100 C=DATA     S=.data    G=DGROUP   M=Lib|Globals ACBP=A9
 0003:00000000 00000010 C=BSS      S=.bss     G=DGROUP   M=Unit1    ACBP=A9


  Address         Publics by Name

 0001:00000500       System.NotByValue

  Address         Publics by Value

 0001:00000000       System.Foo
 0001:00000010       System.Bar
 0001:00001000       Unit1.TForm1.NewMenuClick
 0002:00000004       Unit1.Form1
 0001:00002000   Stones.TLevelStone.SetPosition
 not a public line

Line numbers for Unit1(Unit1.pas) segment .text

    10 0001:00001000    11 0001:00001008    12 0001:00001010

Line numbers for Stones(C:\Work\Stones.pas) segment .text

   200 0001:00002010   201 0001:0000201C

Program entry point at 0001:00001100
)";

struct MapFileTest : ::testing::Test {
    TRef<TMapFile> Map = MakeRef<TMapFile>();
    void SetUp() override {
        Map->CodeBase = 0x1000;
        Map->CodeTop = 0x3345;
        ASSERT_TRUE(ReadTextMap(SampleMapText, *Map));
        Map->Valid = true;
    }
    std::string PublicAt(uint32_t a) {
        const TMapPublic* p = Map->FindPublic(a);
        return p ? std::string(Map->PublicName(*p)) : "<none>";
    }
    std::string UnitAt(bool codeOnly, uint32_t a) {
        const TMapSegment* s = Map->FindSegment(codeOnly, a);
        return s ? std::string(Map->UnitName(s->Unit)) : "<none>";
    }
};

TEST_F(MapFileTest, SegmentsFollowTheColumnRules) {
    // Short lines, segment 0 and segments above the data segment are no segments.
    ASSERT_EQ(Map->Segments().size(), 4u);
    EXPECT_EQ(UnitAt(true, 0x1000), "System");
    EXPECT_EQ(UnitAt(true, 0x1FFF), "System");
    EXPECT_EQ(UnitAt(true, 0x2000), "Unit1");
    EXPECT_EQ(UnitAt(true, 0x3344), "Stones"); // the text behind the last backslash
    EXPECT_EQ(UnitAt(true, 0x3345), "<none>");
    // Data segments lie behind the rounded code length and need codeOnly off.
    EXPECT_EQ(UnitAt(true, 0x4000), "<none>");
    EXPECT_EQ(UnitAt(false, 0x4000), "Globals");
    EXPECT_EQ(Map->Segments().back().Class, TSegmentClass::Data);
    EXPECT_EQ(UnitAt(false, 0x4100), "<none>");
}

TEST_F(MapFileTest, PublicsByValueOnly) {
    ASSERT_EQ(Map->Publics().size(), 5u);
    EXPECT_EQ(PublicAt(0x0FFF), "<none>");
    EXPECT_EQ(PublicAt(0x1000), "System.Foo");
    EXPECT_EQ(PublicAt(0x100F), "System.Foo");
    EXPECT_EQ(PublicAt(0x1500), "System.Bar"); // not System.NotByValue
    EXPECT_EQ(PublicAt(0x2000), "Unit1.TForm1.NewMenuClick");
    EXPECT_EQ(PublicAt(0x3000), "Stones.TLevelStone.SetPosition"); // name after any blanks
    // A data public is read, but as the last public it is bounded by the code top.
    EXPECT_EQ(Map->Publics().back().Address, 0x4004u);
    EXPECT_EQ(PublicAt(0x4004), "<none>");
}

TEST_F(MapFileTest, LinesAndEntryPoint) {
    EXPECT_EQ(Map->EntryPoint, 0x2100u);
    ASSERT_EQ(Map->Lines().size(), 5u);
    TLineResult r = Map->FindLine(0x2009);
    EXPECT_EQ(r.Line, 11);
    EXPECT_EQ(r.Next, 0x2010u);
    EXPECT_EQ(Map->UnitName(Map->Lines()[0].Unit), "Unit1");
    EXPECT_EQ(Map->UnitName(Map->Lines()[3].Unit), "Stones");
    EXPECT_EQ(Map->FindLine(0x3010).Line, 200);
    // The nearest entry (Unit1's line 12) lies in another unit's segment.
    EXPECT_EQ(Map->FindLine(0x3004).Line, 0);
    EXPECT_EQ(Map->FindLine(0x1FFF).Line, 0); // before the first entry
    EXPECT_EQ(Map->FindLine(0x3345).Line, 0); // behind the code
}

TEST(MapFile, DataSegmentNumberAndRoundingRules) {
    // ".data" as segment 0x000A counts as 2, so segment 3 is refused; no ".text" line: no offset.
    const char* text = " Start         Length     Name                   Class\n"
                       " 000A:00000000 00000200H .data                   DATA\n"
                       "\n"
                       "Detailed map of segments\n"
                       "\n"
                       " 0002:00000010 00000100 C=DATA     S=.data    G=DGROUP   M=Two      ACBP=A9\n"
                       " 0003:00000000 00000100 C=DATA     S=.data    G=DGROUP   M=Three    ACBP=A9\n";
    TRef<TMapFile> map = MakeRef<TMapFile>();
    map->CodeBase = 0x400;
    ASSERT_TRUE(ReadTextMap(text, *map));
    ASSERT_EQ(map->Segments().size(), 1u);
    EXPECT_EQ(map->Segments()[0].Start, 0x410u);
    EXPECT_EQ(map->UnitName(map->Segments()[0].Unit), "Two");
}

TEST(MapFile, BlocksEndAtEmptyLinesAndCrLfWorks) {
    std::string text =
        "Publics by Value\r\n\r\n 0001:00000010       A\r\n\r\n 0001:00000020       NotInBlock\r\n"
        "Line numbers for U(u.pas)\r\n   7 0001:00000010 x 8 0001:00000020\r\n";
    TRef<TMapFile> map = MakeRef<TMapFile>();
    map->Valid = true;
    ASSERT_TRUE(ReadTextMap(text, *map));
    ASSERT_EQ(map->Publics().size(), 1u);
    EXPECT_EQ(map->PublicName(map->Publics()[0]), "A");
    // A pair list stops at the first token that is no pair.
    ASSERT_EQ(map->Lines().size(), 1u);
    EXPECT_EQ(map->Lines()[0].Line, 7);
    EXPECT_FALSE(ReadTextMap("garbage\n\n:::\n", *MakeRef<TMapFile>()));
}

TEST(MapFile, LookupsAtTheEdges) {
    TRef<TMapFile> map = MakeRef<TMapFile>();
    map->CodeBase = 0x1000;
    map->CodeTop = 0x5000;
    uint32_t unit = map->AddUnit("Unit1");
    map->AddSegment(0x1000, 0x4000, unit, TSegmentClass::Code);
    map->AddPublic(0x2000, "Second");
    map->AddPublic(0x1000, "First");
    map->Finish();
    EXPECT_EQ(map->FindPublic(0x1500), nullptr); // invalid maps find nothing
    map->Valid = true;
    EXPECT_EQ(map->PublicName(*map->FindPublic(0x1500)), "First");
    // Beyond the last public but inside the code: the last public; beyond the code top: none.
    EXPECT_EQ(map->PublicName(*map->FindPublic(0x4FFF)), "Second");
    EXPECT_EQ(map->FindPublic(0x5000), nullptr);
    // No line table: -1 inside a code segment, 0 elsewhere.
    EXPECT_EQ(map->FindLine(0x1500).Line, -1);
    EXPECT_EQ(map->FindLine(0x6000).Line, 0);
    // Code top unknown: the last public has no bound.
    map->CodeTop = 0;
    EXPECT_EQ(map->PublicName(*map->FindPublic(0xFFFFFFFF)), "Second");
}

} // namespace
