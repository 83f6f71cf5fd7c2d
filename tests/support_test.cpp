// The image's support routines, run through the direct host.
#include <cfenv>
#include <cstring>

#include "host_fixture.h"

using namespace rt::testing;

TEST(TextLength, CountsBytesAtEveryAlignment) {
    alignas(16) char buffer[64];
    for (size_t start = 0; start < 16; ++start) {
        for (size_t len = 0; len < 40; ++len) {
            std::memset(buffer, 'x', sizeof buffer);
            buffer[start + len] = 0;
            EXPECT_EQ(TextLength(buffer + start), len) << "start " << start << " length " << len;
        }
    }
    EXPECT_EQ(TextLength(nullptr), 0u);
    EXPECT_EQ(TextLength("\xC2\xB7\xD3\xC9"), 4u); // two GBK characters are four bytes
}

TEST(JoinTexts, JoinsInArgumentOrderAndSkipsNulls) {
    EXPECT_EQ(Owned(JoinTexts("ab", "", "cd")).str(), "abcd");
    EXPECT_EQ(Owned(JoinTexts("only", (const char *)nullptr)).str(), "only");
    // Joining with the shared empty text gives a new copy, not the argument itself.
    const char *first = "copy me";
    Owned copy(JoinTexts(first, ""));
    EXPECT_NE(copy.text(), first);
    EXPECT_EQ(copy.str(), first);
    EXPECT_EQ(rt::Runtime::BlockSize(copy.get()), 8u);
    // More parts than the join keeps lengths for.
    EXPECT_EQ(Owned(JoinTexts("a", "b", "c", "d", "e", "f", "g", "h", "ij", "", "k")).str(), "abcdefghijk");
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RT_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define RT_TEST_ASAN 1
#endif

TEST(RuntimeBlocks, ABlockFreedTwiceIsHandedOutOnlyOnce) {
#ifdef RT_TEST_ASAN
    GTEST_SKIP() << "AddressSanitizer reports the second free itself";
#else
    void *block = RtAlloc(8);
    RtFree(block);
    RtFree(block); // a program fault, left alone: the block must not be kept twice
    void *first = RtAlloc(8);
    void *second = RtAlloc(8);
    EXPECT_NE(first, second);
    RtFree(first);
    RtFree(second);
#endif
}

TEST(ArrayElementCount, MultipliesDimensions) {
    const uint32_t empty[] = {1, 0};
    EXPECT_EQ(ArrayElementCount((Array)empty).count, 0u);
    const uint32_t none[] = {0};
    EXPECT_EQ(ArrayElementCount((Array)none).count, 0u);
    const uint32_t grid[] = {2, 3, 4, 0};
    ArrayElements e = ArrayElementCount((Array)grid);
    EXPECT_EQ(e.count, 12u);
    EXPECT_EQ(e.first, (void *)(grid + 3));
    EXPECT_EQ(ArrayElementCountOrZero(nullptr).count, 0u);
    EXPECT_EQ(ArrayElementCountOrZero((Array)grid).count, 12u);
}

TEST(FloatToInt64, TruncatesTowardZeroWhateverTheRoundingMode) {
    for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(mode);
        EXPECT_EQ(FloatToInt64(2.9), 2);
        EXPECT_EQ(FloatToInt64(-2.9), -2);
        EXPECT_EQ(FloatToInt64(0.5), 0);
        EXPECT_EQ(FloatToInt64(4294967295.0), 4294967295LL);
    }
    std::fesetround(FE_TONEAREST);
}

TEST(CompareText, OrdersUnsignedBytesAndTreatsNullAsEmpty) {
    EXPECT_EQ(CompareText("abc", "abc"), 0);
    EXPECT_EQ(CompareText(nullptr, ""), 0);
    EXPECT_EQ(CompareText("", nullptr), 0);
    EXPECT_EQ(CompareText("ab", "abc"), -1); // a proper prefix is smaller
    EXPECT_EQ(CompareText("abc", "ab"), 1);
    EXPECT_EQ(CompareText("\x80", "\x7f"), 1); // bytes compare unsigned
    EXPECT_EQ(CompareText("192.0.2.1", "192.0.2.10"), -1);
}

TEST(ArrayAccess, IndexesAreCheckedThroughTheErrorService) {
    Array parts =
        ResultBytes(rt::Runtime::Instance().CoreCommand(0x190, std::vector<RtTriple>{ArgText("a.b"), ArgText(".")}));
    EXPECT_STREQ(TextArrayAt(parts, 2, 0x04010001, 7), "b");
    EXPECT_EXIT(TextArrayAt(parts, 3, 0x04010001, 7), ::testing::ExitedWithCode(1),
                "Runtime error 1: array index above its bound in subroutine 0x4010001 at position 7");
    EXPECT_EXIT(TextArrayAt(parts, 0, 0x04010002, 9), ::testing::ExitedWithCode(1),
                "Runtime error 4: array index below 1 in subroutine 0x4010002 at position 9");
    ByteSet bytes = MakeBytes("\x01\x02");
    EXPECT_EQ(ByteSetAt(bytes, 2, 1, 1), 2);
    EXPECT_EXIT(ByteSetAt(bytes, 3, 1, 1), ::testing::ExitedWithCode(1), ErrorPattern(1));
    FreeBlock(bytes);
    FreeTextArray(parts);
}

TEST(ErrorService, ReportsKindSubroutineAndPosition) {
    EXPECT_EXIT(RtError(RtErrorStackMoved, 0x04010005, 42), ::testing::ExitedWithCode(1),
                "Runtime error 6: a DLL command moved the stack pointer in subroutine 0x4010005 at position 42");
    EXPECT_EXIT(RtError(RtErrorNegativeCount, 0x04010006, 3), ::testing::ExitedWithCode(1), "negative count");
    // A DLL command's thunk passes no subroutine and the command's index: the message names the command.
    EXPECT_EXIT(RtError(RtErrorStackMoved, 0, 12), ::testing::ExitedWithCode(1),
                "moved the stack pointer in DLL command 12 \\(lstrlenA in kernel32.dll\\)");
}

TEST(ArrayElementCount, ReadsArraysPackedWithoutAlignment) {
    alignas(8) uint8_t packed[16] = {0xEE, 1, 0, 0, 0, 1, 0, 0, 0, 0x02}; // a one-byte set at offset 1
    ArrayElements e = ArrayElementCount((Array)(packed + 1));
    EXPECT_EQ(e.count, 1u);
    EXPECT_EQ(*(uint8_t *)e.first, 2);
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::BytesLength, ArgBytes(packed + 1))), 1);
}
