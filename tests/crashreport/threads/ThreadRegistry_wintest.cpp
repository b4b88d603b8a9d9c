// The thread registry as two modules of one process see it: one shared block under its
// process-specific name, the first thread named "main thread", names and creators visible to both,
// and the records kept until the last module leaves.
#include <gtest/gtest.h>

#include "crashreport/base/Text.h"
#include "crashreport/threads/ThreadRegistryWin32.h"

TEST(ThreadRegistry, SharedBetweenModules) {
    TThreadRegistry& first = TThreadRegistry::Instance();
    ASSERT_TRUE(first.Open());
    EXPECT_EQ(ThreadNameBufferName(0x1A4), L"xunExceptThreadNameBuf000001A4");
    TKernelHandle byName(
        ::OpenFileMappingW(FILE_MAP_READ, FALSE, ThreadNameBufferName(::GetCurrentProcessId()).c_str()));
    EXPECT_TRUE(byName);

    TThreadRegistry other; // another module's copy
    ASSERT_TRUE(other.Open());
    EXPECT_EQ(other.MainThreadId(), first.MainThreadId());
    first.SetName(DWORD(-1), "tester");
    other.SetCreator(4242, ::GetCurrentThreadId(), 0x401234, "TLoaderThread");

    TThreadEntry entry;
    ASSERT_TRUE(other.Lock(50));
    ASSERT_TRUE(other.Find(other.MainThreadId(), entry));
    EXPECT_EQ(entry.Name, other.MainThreadId() == ::GetCurrentThreadId() ? "tester" : "main thread");
    ASSERT_TRUE(other.Find(::GetCurrentThreadId(), entry));
    EXPECT_EQ(entry.Name, "tester");
    other.Unlock();
    ASSERT_TRUE(first.Lock(50));
    ASSERT_TRUE(first.Find(4242, entry));
    EXPECT_EQ(entry.ClassName, "TLoaderThread");
    EXPECT_EQ(entry.CreatorAddress, 0x401234u);
    first.Unlock();

    other.Close(); // the block and its records stay for the module still in it
    ASSERT_TRUE(first.Lock(50));
    EXPECT_TRUE(first.Find(4242, entry));
    first.Unlock();
    first.Remove(4242);
    first.SetName(DWORD(-1), first.MainThreadId() == ::GetCurrentThreadId() ? "main thread" : "");
    ASSERT_TRUE(first.Lock(50));
    EXPECT_FALSE(first.Find(4242, entry));
    first.Unlock();
}

TEST(ThreadRegistry, NamingExceptionNamesTheThread) {
    TThreadRegistry& r = TThreadRegistry::Instance();
    ASSERT_TRUE(r.Open());
    // Laid out as the convention's record is, then raised and caught by a vectored handler.
    struct TNaming {
        DWORD Type;
        const char* Name;
        DWORD ThreadId;
        DWORD Flags;
    } naming{0x1000, "worker of the test", 4343, 0};
    static bool handled;
    handled = false;
    PVOID handler = ::AddVectoredExceptionHandler(1, [](EXCEPTION_POINTERS* p) -> LONG WINAPI {
        if (p->ExceptionRecord->ExceptionCode != 0x406D1388) return EXCEPTION_CONTINUE_SEARCH;
        handled = HandleThreadNamingException(*p->ExceptionRecord);
        return EXCEPTION_CONTINUE_EXECUTION;
    });
    ::RaiseException(0x406D1388, 0, sizeof naming / sizeof(ULONG_PTR), reinterpret_cast<ULONG_PTR*>(&naming));
    ::RemoveVectoredExceptionHandler(handler);
    EXPECT_TRUE(handled);
    TThreadEntry entry;
    ASSERT_TRUE(r.Lock(50));
    ASSERT_TRUE(r.Find(4343, entry));
    EXPECT_EQ(entry.Name, "worker of the test");
    r.Unlock();
    r.Remove(4343);

    EXCEPTION_RECORD other{};
    other.ExceptionCode = 0x406D1388;
    other.NumberParameters = 4;
    other.ExceptionInformation[0] = 0x1001; // not the naming record
    EXPECT_FALSE(HandleThreadNamingException(other));
    other.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    EXPECT_FALSE(HandleThreadNamingException(other));
}
