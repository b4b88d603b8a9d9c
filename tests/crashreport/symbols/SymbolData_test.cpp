#include "crashreport/symbols/SymbolData.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "crashreport/symbols/SymbolCache.h"
#include "crashreport/symbols/SymbolResolver.h"

namespace {

TRef<TMapFile> SampleMap() {
    TRef<TMapFile> map = MakeRef<TMapFile>();
    uint32_t unit1 = map->AddUnit("Unit1");
    uint32_t stone = map->AddUnit("LevelStone");
    map->AddSegment(0x1000, 0x800, unit1, TSegmentClass::Code);
    map->AddSegment(0x1800, 0x400, stone, TSegmentClass::Code);
    map->AddSegment(0x9000, 0x100, unit1, TSegmentClass::Data);
    map->AddPublic(0x1000, "TForm1::TForm1");
    map->AddPublic(0x1100, "TForm1::NewMenuClick");
    map->AddPublic(0x1180, "TForm1::NewMenuClick"); // repeated names pack to nothing
    map->AddPublic(0x1800, "TLevelStone::SetPosition");
    map->AddLine(0x1100, 385, unit1);
    map->AddLine(0x1108, 386, unit1);
    map->AddLine(0x1104, 2000, unit1); // lines need not grow with the address
    map->AddLine(0x1800, 40, stone);
    map->Finish();
    return map;
}

// Every table of a map, entry by entry.
std::string Tables(const TMapFile& m) {
    std::ostringstream out;
    for (const std::string& unit : m.Units())
        out << unit << ";";
    for (const TMapSegment& s : m.Segments())
        out << "\nS" << s.Start << "+" << s.Length << " u" << s.Unit << " c" << int(s.Class);
    for (const TMapPublic& p : m.Publics())
        out << "\nP" << p.Address << " " << m.PublicName(p);
    for (const TMapLine& l : m.Lines())
        out << "\nL" << l.Address << " " << l.Line << " u" << l.Unit;
    return out.str();
}

TEST(SymbolData, RoundTripIsExactAndEnciphered) {
    TRef<TMapFile> map = SampleMap();
    std::vector<uint8_t> packed = PackSymbolData(*map);
    // Names must not be readable in the file.
    std::string raw(packed.begin(), packed.end());
    EXPECT_EQ(raw.find("NewMenuClick"), std::string::npos);
    EXPECT_EQ(raw.find("Unit1"), std::string::npos);

    TRef<TMapFile> back = MakeRef<TMapFile>();
    ASSERT_TRUE(UnpackSymbolData(packed, *back));
    EXPECT_EQ(Tables(*back), Tables(*map));

    // Another nonce gives other bytes with the same content.
    std::vector<uint8_t> other = PackSymbolData(*map, 12345);
    EXPECT_NE(other, packed);
    ASSERT_TRUE(UnpackSymbolData(other, *back));
    EXPECT_EQ(Tables(*back), Tables(*map));

    TRef<TMapFile> empty = MakeRef<TMapFile>();
    empty->Finish();
    ASSERT_TRUE(UnpackSymbolData(PackSymbolData(*empty), *back));
    EXPECT_TRUE(back->Empty());
}

TEST(SymbolData, DamageIsRefusedAndLeavesTheMapEmpty) {
    std::vector<uint8_t> packed = PackSymbolData(*SampleMap());
    TRef<TMapFile> back = MakeRef<TMapFile>();
    for (size_t i = 0; i < packed.size(); ++i) {
        std::vector<uint8_t> bad = packed;
        bad[i] ^= 0x40;
        if (i >= 5 && i < 8) continue; // the reserved bytes are not checked
        EXPECT_FALSE(UnpackSymbolData(bad, *back)) << "flipped byte " << i;
        EXPECT_TRUE(back->Empty());
    }
    for (size_t size : {size_t(0), size_t(19), packed.size() - 1})
        EXPECT_FALSE(UnpackSymbolData(std::span(packed.data(), size), *back));
    packed.push_back(0);
    EXPECT_FALSE(UnpackSymbolData(packed, *back));
}

TEST(SymbolData, PayloadReaderRefusesBadReferences) {
    TRef<TMapFile> map = MakeRef<TMapFile>();
    const std::pair<const char*, std::vector<uint8_t>> bad[] = {
        {"one unit, a segment of unit index 1", {1, 1, 'U', 1, 0x10, 0x10, 1, 0, 0, 0}},
        {"a public sharing more of the previous name than there is", {0, 0, 1, 0x10, 3, 1, 'A', 0}},
        {"a count far beyond the bytes left", {0xFF, 0xFF, 0xFF, 0x0F}},
        {"a first line repeating a unit it never named", {0, 0, 0, 1, 0, 0, 0}},
    };
    for (const auto& [name, bytes] : bad)
        EXPECT_FALSE(UnpackSymbolPayload(bytes, *map)) << name;
    const uint8_t good[] = {1, 1, 'U', 1, 0x10, 0x10, 0, 0, 1, 0x10, 0, 1, 'A', 1, 0x10, 2, 1};
    ASSERT_TRUE(UnpackSymbolPayload(good, *map));
    EXPECT_EQ(map->Lines()[0].Line, 1);
}

// ---- loading through the platform, and the cache

struct TFakePlatform : ISymbolPlatform {
    std::vector<uint8_t> Embedded;
    std::map<std::string, std::vector<uint8_t>> Files;
    int EmbeddedReads = 0;
    uint64_t Base = 0x400000;

    bool FindModule(uint64_t address, TSymbolModule& module) override {
        if (address < Base || address >= Base + 0x10000) return false;
        module.FileName = "C:\\Games\\Zembrak\\LevelEditor.exe";
        module.Base = Base;
        module.Layout.CodeBase = 0x1000;
        module.Layout.CodeTop = 0x3000;
        return true;
    }
    bool ReadEmbedded(const TSymbolModule&, std::vector<uint8_t>& data) override {
        ++EmbeddedReads;
        data = Embedded;
        return !data.empty();
    }
    bool ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& data) override {
        auto it = Files.find(path);
        if (it == Files.end() || it->second.size() > limit) return false;
        data = it->second;
        return true;
    }
};

std::vector<uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

TEST(Symbols, SourcesAreTriedInOrder) {
    TFakePlatform platform;
    TSymbolModule module;
    ASSERT_TRUE(platform.FindModule(0x401000, module));
    TSymbolSource source;
    EXPECT_FALSE(LoadModuleSymbols(platform, module, &source)->Valid);
    EXPECT_EQ(source, TSymbolSource::None);

    platform.Files["C:\\Games\\Zembrak\\LevelEditor.xun"] = PackSymbolData(*SampleMap());
    EXPECT_TRUE(LoadModuleSymbols(platform, module, &source)->Valid);
    EXPECT_EQ(source, TSymbolSource::PackedFile);

    platform.Files["C:\\Games\\Zembrak\\LevelEditor.map"] =
        Bytes("Publics by Value\n\n 0001:00000000  FromMap\n");
    TRef<TMapFile> map = LoadModuleSymbols(platform, module, &source);
    EXPECT_EQ(source, TSymbolSource::TextMap);
    ASSERT_EQ(map->Publics().size(), 1u);
    EXPECT_EQ(map->Publics()[0].Address, 0x1000u); // offsets count from the code base

    platform.Embedded = PackSymbolData(*SampleMap());
    EXPECT_TRUE(LoadModuleSymbols(platform, module, &source)->Valid);
    EXPECT_EQ(source, TSymbolSource::Embedded);

    // A damaged resource falls through to the next source.
    platform.Embedded[30] ^= 1;
    LoadModuleSymbols(platform, module, &source);
    EXPECT_EQ(source, TSymbolSource::TextMap);
}

TEST(Symbols, AddressInfoAndCache) {
    TFakePlatform platform;
    TSymbolCache cache(platform);
    // Nothing to find: not cached, asked again next time.
    EXPECT_FALSE(cache.AddressInfo(0x401100).Valid);
    EXPECT_FALSE(cache.AddressInfo(0x401100).Valid);
    EXPECT_EQ(platform.EmbeddedReads, 2);

    platform.Embedded = PackSymbolData(*SampleMap());
    TAddressInfo info = cache.AddressInfo(0x40110A);
    ASSERT_TRUE(info.Valid);
    EXPECT_EQ(info.ModuleName, "LevelEditor.exe");
    EXPECT_EQ(info.UnitName, "Unit1");
    EXPECT_EQ(info.FunctionName, "TForm1::NewMenuClick");
    EXPECT_EQ(info.FunctionStart, 0x401100u);
    EXPECT_EQ(info.Line, 386);
    EXPECT_EQ(cache.AddressInfo(0x401801).UnitName, "LevelStone");
    EXPECT_EQ(platform.EmbeddedReads, 3); // loaded once, then cached

    // In the module but beyond the code: valid module, nothing else; no line is ever negative.
    info = cache.AddressInfo(0x403000);
    EXPECT_TRUE(info.Valid);
    EXPECT_TRUE(info.FunctionName.empty());
    EXPECT_TRUE(info.UnitName.empty());
    EXPECT_EQ(info.Line, 0);
    EXPECT_FALSE(cache.AddressInfo(0).Valid);
    EXPECT_FALSE(cache.AddressInfo(0x500000).Valid);

    TRef<TMapFile> map = cache.SymbolsForAddress(0x401000);
    TMapSymbolResolver resolver(map, 0x400000);
    std::string name;
    EXPECT_TRUE(resolver.NameAt(0x401100, name));
    EXPECT_EQ(name, "TForm1::NewMenuClick");
    EXPECT_FALSE(resolver.NameAt(0x401101, name)); // names only at a function's start
    EXPECT_EQ(resolver.LineAt(0x401800), 40);
}

TEST(Symbols, MinDebugInfoKeepsEachFunctionOnce) {
    TMinDebugInfo list;
    list.Add("TForm1::NewMenuClick", "LevelEditor.exe");
    list.Add("TForm1::NewMenuClick", "LevelEditor.exe");
    list.Add("TForm1::NewMenuClick", "other.dll");
    list.Add("", "LevelEditor.exe");
    EXPECT_EQ(list.Items().size(), 2u);
}

} // namespace
