// Traces over the real machine code of our own exes, natively: the exe named by ZE_TRACE_IMAGE is
// mapped as the loader would map it, a stack of return addresses along a call chain found in its
// code (with stale frames between) is traced, and the trace must name exactly that chain.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/crashreport/stacktrace/ExeImage.h"

namespace {

TEST(StackTraceImage, ChainThroughOwnCode) {
    const char* path = std::getenv("ZE_TRACE_IMAGE");
    ASSERT_NE(path, nullptr) << "ZE_TRACE_IMAGE names the exe";
    TExeImage exe;
    ASSERT_TRUE(exe.Load(path)) << path;
    TSymbolCache symbols(exe);
    TRef<TMapFile> map = symbols.SymbolsForAddress(exe.Base + exe.Layout.CodeBase);
    ASSERT_TRUE(map && map->Valid) << "no symbol data beside " << path;
    for (size_t depth : {3, 8}) {
        TImageChain chain;
        ASSERT_TRUE(FindImageChain(exe, *map, depth, chain));
        TImageProcess process(exe, chain);
        TStackTraceCache cache(exe, symbols, exe.Base);
        for (int pass = 0; pass < 2; ++pass) { // cold, then with the caches filled
            TTraceResult result = process.Trace(cache, chain.Top);
            std::vector<std::string> names;
            for (const TTraceLine& line : result.Lines)
                names.push_back(line.Function);
            EXPECT_EQ(names, chain.Expected) << "depth " << depth << ", pass " << pass;
        }
    }
}

} // namespace
