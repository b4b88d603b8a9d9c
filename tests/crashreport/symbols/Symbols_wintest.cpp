#include "crashreport/symbols/SymbolsWin32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "editor/Unit1.h"

namespace {

// The code address of a non-virtual member function (first word of the member pointer).
const uint8_t* CodeOf(void (TForm1::*method)(TObject*)) {
    const uint8_t* code;
    static_assert(sizeof method >= sizeof code);
    std::memcpy(&code, &method, sizeof code);
    return code;
}

// The line of Unit1.cpp that opens the function's definition.
int DefinitionLine(const char* text) {
    std::ifstream in(ZE_SOURCE_DIR "/editor/Unit1.cpp");
    std::string line;
    for (int number = 1; std::getline(in, line); ++number)
        if (line.find(text) != std::string::npos) return number;
    return -1;
}

TEST(Symbols, OwnFunctionResolvesToUnitNameAndLine) {
    const uint8_t* entry = CodeOf(&TForm1::NewMenuClick);
    ASSERT_EQ(uintptr_t(entry) & 1, 0u) << "not a plain function address";
    int definition = DefinitionLine("void TForm1::NewMenuClick(");
    ASSERT_GT(definition, 0);

    TAddressInfo info = AddressInfo(entry);
    ASSERT_TRUE(info.Valid);
    EXPECT_EQ(info.ModuleName, "win_tests.exe");
    EXPECT_EQ(info.UnitName, "Unit1");
    EXPECT_EQ(info.FunctionName, "TForm1::NewMenuClick");
    EXPECT_EQ(info.FunctionStart, uint64_t(uintptr_t(entry)));
    EXPECT_EQ(info.Line, definition);

    // Inside the function: the same function, a line of its body or of ConfirmDiscard, which
    // the compiler inlines there.
    int inlined = DefinitionLine("bool TForm1::ConfirmDiscard(");
    TAddressInfo inside = AddressInfo(entry + 12);
    EXPECT_EQ(inside.FunctionName, "TForm1::NewMenuClick");
    EXPECT_EQ(inside.FunctionStart, uint64_t(uintptr_t(entry)));
    EXPECT_EQ(inside.UnitName, "Unit1");
    EXPECT_TRUE((inside.Line > definition && inside.Line < definition + 8) ||
                (inside.Line > inlined && inside.Line < definition))
        << inside.Line;
}

TEST(Symbols, DataEmbeddedAndCachedPerModule) {
    TRef<TMapFile> map = SymbolsForAddress(CodeOf(&TForm1::NewMenuClick));
    ASSERT_TRUE(map);
    EXPECT_TRUE(map->Valid);
    EXPECT_EQ(map->Handle, uint64_t(uintptr_t(GetModuleHandleW(nullptr))));
    EXPECT_GT(map->Publics().size(), 500u);
    EXPECT_GT(map->Lines().size(), 1000u);
    EXPECT_EQ(SymbolsForAddress(CodeOf(&TForm1::OpenMenuClick)).Get(), map.Get());

    // The resource itself, and the source it came from.
    TWin32SymbolPlatform platform;
    TSymbolModule module;
    ASSERT_TRUE(platform.FindModule(uint64_t(uintptr_t(CodeOf(&TForm1::NewMenuClick))), module));
    EXPECT_GT(module.Layout.CodeTop, module.Layout.CodeBase);
    TSymbolSource source;
    EXPECT_TRUE(LoadModuleSymbols(platform, module, &source)->Valid);
    EXPECT_EQ(source, TSymbolSource::Embedded);
}

TEST(Symbols, NoModuleNoSymbols) {
    int local = 0;
    EXPECT_FALSE(AddressInfo(&local).Valid); // the stack belongs to no module
    EXPECT_FALSE(AddressInfo(nullptr).Valid);
    // A system DLL without symbol data: not valid, and asked again next time rather than cached.
    const void* system =
        reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "Sleep"));
    ASSERT_NE(system, nullptr);
    EXPECT_FALSE(AddressInfo(system).Valid);
}

} // namespace
