// Core commands on texts, numbers and byte sets, called the way the image calls them.
#include <cmath>

#include "host_fixture.h"

using namespace rt::testing;

namespace {
std::string Text1(const CommandEntry &c, const char *t) { return TakeText(CallUnchecked(c, ArgText(t))); }
std::string TextN(const CommandEntry &c, const char *t, int32_t n) {
    return TakeText(CallUnchecked(c, ArgText(t), ArgInt(n)));
}
int32_t Int1(const CommandEntry &c, const char *t) { return ResultInt(CallUnchecked(c, ArgText(t))); }
std::vector<std::string> Split(const char *t, const char *sep) {
    return TakeTextArray(CallUnchecked(cmd::SplitText, ArgText(t), ArgText(sep), ArgOmitted()));
}
} // namespace

TEST(TextCommands, LengthLeftRightMiddleCountBytes) {
    EXPECT_EQ(Int1(cmd::TextLength, ""), 0);
    EXPECT_EQ(Int1(cmd::TextLength, "\xC2\xB7\xD3\xC9"), 4); // Chinese characters count two bytes each
    EXPECT_EQ(TextN(cmd::TextLeft, "hello", 2), "he");
    EXPECT_EQ(TextN(cmd::TextLeft, "hello", 50), "hello");
    EXPECT_EQ(TextN(cmd::TextRight, "00FF", 2), "FF");
    EXPECT_EQ(TextN(cmd::TextRight, "F", 2), "F");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::TextMiddle, ArgText("12345678"), ArgInt(7), ArgInt(2))), "78");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::TextMiddle, ArgText("1234"), ArgInt(4), ArgInt(9))), "4");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::TextMiddle, ArgText("1234"), ArgInt(9), ArgInt(1))), "");
}

TEST(TextCommands, UpperAndTrimKeepTwoByteCharacters) {
    // The trail byte 0x61 of a GBK character must not be upper-cased.
    EXPECT_EQ(Text1(cmd::TextUpper, "cz88.net \x81\x61x"), "CZ88.NET \x81\x61X");
    EXPECT_EQ(Text1(cmd::TextTrim, "  \t a b \r\n"), "a b");
    EXPECT_EQ(Text1(cmd::TextTrim, "\xA1\xA1x\xA1\xA1"), "x");       // full-width spaces are blanks
    EXPECT_EQ(Text1(cmd::TextTrim, "\xB0\xA1\xA1\xA1"), "\xB0\xA1"); // ...but not a character ending in A1
    EXPECT_EQ(Text1(cmd::TextTrim, "   "), "");
}

TEST(TextCommands, SpacesAndRepeat) {
    EXPECT_EQ(TakeText(CallUnchecked(cmd::TextSpaces, ArgInt(3))), "   ");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::TextRepeat, ArgInt(4), ArgText("a"))), "aaaa");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::TextRepeat, ArgInt(0), ArgText("a"))), "");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::TextRepeat, ArgInt(3), ArgText(""))), "");
}

TEST(TextCommands, SplitDropsOnlyAnEmptyRemainder) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Split("a|b|", "|"), (V{"a", "b"}));
    EXPECT_EQ(Split("a|b", "|"), (V{"a", "b"}));
    EXPECT_EQ(Split("|", "|"), (V{""}));
    EXPECT_EQ(Split("||", "|"), (V{"", ""}));
    EXPECT_EQ(Split("", "|"), (V{}));
    EXPECT_EQ(Split("1.2..4", "."), (V{"1", "2", "", "4"}));
    EXPECT_EQ(Split("1.2.3.4.", "."), (V{"1", "2", "3", "4"}));
    EXPECT_EQ(TakeTextArray(CallUnchecked(cmd::SplitText, ArgText("a,b"))),
              (V{"a", "b"})); // the separator defaults to ","
    EXPECT_EQ(TakeTextArray(CallUnchecked(cmd::SplitText, ArgText("a.b.c"), ArgText("."), ArgInt(2))), (V{"a", "b"}));
}

TEST(TextCommands, HalfWidthNormalisesFullWidthForms) {
    // Full-width "１．２" and the ideographic full stop.
    EXPECT_EQ(Text1(cmd::HalfWidth, "\xA3\xB1\xA3\xAE\xA3\xB2\xA1\xA3\xA3\xB3"), "1.2.3");
    EXPECT_EQ(Text1(cmd::HalfWidth, "\xA1\xA1x\xC2\xB7"), " x\xC2\xB7");
}

TEST(NumberCommands, TextToNumberFollowsTheRuntimeRule) {
    auto num = [](const char *t) { return ResultDouble(CallUnchecked(cmd::TextToDouble, ArgText(t))); };
    EXPECT_EQ(num(""), 0);
    EXPECT_EQ(num("0"), 0);
    EXPECT_EQ(num("20"), 20);
    EXPECT_EQ(num("-5"), -5);
    EXPECT_EQ(num("40.7"), 40.7);
    EXPECT_EQ(num("31.99999995"), 31.99999995);
    EXPECT_EQ(num("  12abc"), 12);
    EXPECT_EQ(num("abc"), 0);
    EXPECT_EQ(num("1e3"), 1000);
    EXPECT_EQ(num("1e"), 1);
    EXPECT_EQ(num("-.5"), -0.5);
    EXPECT_TRUE(std::isinf(num("1e999")));
    // Plain integers up to 15 digits are summed directly; longer ones go through the general reader.
    EXPECT_EQ(num("+007"), 7);
    EXPECT_TRUE(std::signbit(num("-0")));
    EXPECT_EQ(num("999999999999999"), 999999999999999.0);
    EXPECT_EQ(num("12345678901234567"), 12345678901234568.0);
}

TEST(NumberCommands, ToleranceAndTruncationOfTheNumbersConvention) {
    double x = ResultDouble(CallUnchecked(cmd::TextToDouble, ArgText("31.99999995")));
    EXPECT_FALSE(FloatLess(x, 32.0)); // within 1e-7 of 32: not smaller
    EXPECT_TRUE(FloatEquals(x, 32.0));
    EXPECT_EQ(FloatToInt64(x), 31); // but truncation still gives 31
    EXPECT_TRUE(FloatLess(31.9999998, 32.0));
    EXPECT_TRUE(FloatGreater(128.0000002, 128.0));
    EXPECT_FALSE(FloatGreater(128.00000005, 128.0));
    EXPECT_TRUE(FloatEquals(0.0, -0.0000001));
    double count = ResultDouble(CallUnchecked(cmd::Divide, ArgDouble(8.0 - 1.0), ArgDouble(7.0)));
    EXPECT_EQ(FloatToInt64(count + 1), 2);
}

TEST(NumberCommands, NumberToTextHexAndInteger) {
    EXPECT_EQ(TakeText(CallUnchecked(cmd::NumberText, ArgInt(15))), "15");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::NumberText, ArgByte(200))), "200");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::NumberText, ArgDouble(40.7))), "40.7");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::NumberText, ArgDouble(64.0))), "64");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::NumberText, ArgDouble(1e300))), "1e+300");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::HexText, ArgInt(255))), "FF");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::HexText, ArgInt(300))), "12C");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::HexText, ArgInt(-1))), "FFFFFFFF");
    EXPECT_EQ(TakeText(CallUnchecked(cmd::HexText, ArgInt(0))), "0");
    EXPECT_EQ(Int1(cmd::TextToInt, "300"), 300);
    EXPECT_EQ(Int1(cmd::TextToInt, "-1"), -1);
    EXPECT_EQ(Int1(cmd::TextToInt, "1.9"), 1);
    EXPECT_EQ(Int1(cmd::TextToInt, "x"), 0);
    EXPECT_EQ(Int1(cmd::TextToInt, "99999999999"), 2147483647);
}

TEST(ByteSetCommands, ConvertSliceAndReadValues) {
    ByteSet b = ResultBytes(CallUnchecked(cmd::TextToBytes, ArgText("\x01\x02\x03\x84")));
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::BytesLength, ArgBytes(b))), 4);
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::BytesToValue, ArgBytes(b), ArgInt(3), ArgOmitted())), int32_t(0x84030201));
    ByteSet three = ResultBytes(CallUnchecked(cmd::BytesLeft, ArgBytes(b), ArgInt(3)));
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::BytesToValue, ArgBytes(three), ArgInt(3), ArgOmitted())),
              0x030201); // 24-bit value
    EXPECT_EQ(TakeBytes(CallUnchecked(cmd::BytesRight, ArgBytes(b), ArgInt(2))), "\x03\x84");
    EXPECT_EQ(TakeBytes(CallUnchecked(cmd::BytesRight, ArgBytes(b), ArgInt(9))), "\x01\x02\x03\x84");
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::BytesToValue, ArgBytes(b), ArgInt(1), ArgInt(4))), 0x84);
    ByteSet empty = MakeBytes("");
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::BytesToValue, ArgBytes(empty), ArgInt(3), ArgOmitted())), 0);
    EXPECT_EQ(ResultInt(CallUnchecked(cmd::BytesLength, ArgOmitted())), 0);
    FreeBlock(empty);
    FreeBlock(three);
    FreeBlock(b);
}

TEST(BadArguments, EndInTheErrorServiceWithTheRightKind) {
    EXPECT_EXIT(CallUnchecked(cmd::TextLength, ArgInt(5)), ::testing::ExitedWithCode(1),
                "Runtime error 2: .* in core command 0x130 .argument 1 is not a text");
    EXPECT_EXIT(CallUnchecked(cmd::BytesLength, ArgText("x")), ::testing::ExitedWithCode(1), ErrorPattern(2));
    EXPECT_EXIT(CallUnchecked(cmd::TextToDouble, ArgBytes(nullptr)), ::testing::ExitedWithCode(1), ErrorPattern(2));
    EXPECT_EXIT(CallUnchecked(cmd::TextLeft, ArgText("abc"), ArgInt(-1)), ::testing::ExitedWithCode(1),
                "Runtime error 10: negative count in core command 0x134");
    EXPECT_EXIT(CallUnchecked(cmd::TextRepeat, ArgInt(-3), ArgText("a")), ::testing::ExitedWithCode(1),
                ErrorPattern(10));
    EXPECT_EXIT(CallUnchecked(cmd::TextMiddle, ArgText("abc"), ArgInt(0), ArgInt(1)), ::testing::ExitedWithCode(1),
                ErrorPattern(4));
    EXPECT_EXIT(CallUnchecked(cmd::TextRepeat, ArgInt(2000000000), ArgText("ab")), ::testing::ExitedWithCode(1),
                ErrorPattern(21));
    EXPECT_EXIT(CallUnchecked(cmd::BytesToValue, ArgBytes(nullptr), ArgInt(99)), ::testing::ExitedWithCode(1),
                ErrorPattern(2));
    // Numbers that no command has.
    EXPECT_EXIT(RtCoreCommand(0x9998, 0, nullptr), ::testing::ExitedWithCode(1),
                "Runtime error 20: unknown command in core command 0x9998");
    EXPECT_EXIT(RtCoreCommand(0x131, 0, nullptr), ::testing::ExitedWithCode(1), ErrorPattern(20));
    EXPECT_EXIT(CallUnchecked(cmd::ListAppendRow), ::testing::ExitedWithCode(1), "library row 1");
    EXPECT_EXIT(CallUnchecked(cmd::TextToDouble, ArgDouble(1e300)), ::testing::ExitedWithCode(1), ErrorPattern(2));
}

TEST(TextForATerminal, ControlCharactersAreReplaced) {
    const struct {
        const char *in, *out;
    } cases[] = {{"plain \xE4\xB8\xAD", "plain \xE4\xB8\xAD"}, // UTF-8 stays
                 {"\x1B[2J\x1B]0;x\x07", "?[2J?]0;x?"},        // escape sequences lose their ESC and BEL
                 {"a\x7F\tb\r\n", "a??b??"},                   // DEL and C0 controls
                 {"c\xC2\x9B"
                  "1m",
                  "c?1m"}, // the C1 control sequence introducer
                 {"d\x9B"
                  "1m\xB2\xE2",
                  "d?1m\xB2\xE2"}}; // the same as one 8-bit byte; GBK bytes stay
    for (const auto &c : cases) EXPECT_EQ(rt::ReplaceControls(c.in), c.out) << c.in;
}
