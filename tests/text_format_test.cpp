// The bounded text helpers: formats behave like the Windows C runtime's and never write past the
// destination, whose last character is always the terminator.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/text.h"
#include "winsim/sim.h"

namespace {

std::string Narrow(const char* format, ...) {
    char out[64];
    std::memset(out, 'Z', sizeof out);
    va_list args;
    va_start(args, format);
    ZelFormatVA(out, sizeof out, format, args);
    va_end(args);
    return out;
}

TEST(TextFormat, NarrowConversions) {
    struct Case {
        std::string got, want;
    } cases[] = {
        {Narrow("%8.8lX", static_cast<DWORD>(-13)), "FFFFFFF3"},
        {Narrow("%8.8lX", 0x2u), "00000002"},
        {Narrow("%d|%u|%i", -5, 4000000000u, 7), "-5|4000000000|7"},
        {Narrow("%08X|%x|%#x", 0xABCu, 255u, 255u), "00000ABC|ff|0xff"},
        {Narrow("%5d|%-5d|%05d", 42, 42, -42), "   42|42   |-0042"},
        {Narrow("%s and %ws", "narrow", u"wide"), "narrow and wide"},
        {Narrow("%hs|%ls", "h", u"l"), "h|l"},
        {Narrow("%.3s|%6s|%-4s|", "abcdef", "ab", "c"), "abc|    ab|c   |"},
        {Narrow("%ws", u"caf\u00e9"), "caf?"},
        {Narrow("%s", static_cast<const char*>(nullptr)), "(null)"},
        {Narrow("100%% %c", 'x'), "100% x"},
        {Narrow("%lld", -9000000000LL), "-9000000000"},
        {Narrow("%q stays"), "%q stays"},
        {Narrow("%*d|%.*s", 4, 7, 2, "xyz"), "   7|xy"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(TextFormat, WideFormatTakesWideStrings) {
    WCHAR out[64];
    ASSERT_TRUE(ZelFormat(out, 64, TEXT("%s\\%s\\Device Parameters"), TEXT("Ports"), TEXT("0000")));
    EXPECT_EQ(sim::U8(out), "Ports\\0000\\Device Parameters");
    ASSERT_TRUE(ZelFormat(out, 64, TEXT("Error %d in %s: %hs"), 2, TEXT("ctx"), "text"));
    EXPECT_EQ(sim::U8(out), "Error 2 in ctx: text");
}

TEST(TextFormat, CutsAtCapacityAndTerminates) {
    for (size_t capacity : {1u, 2u, 5u, 8u}) {
        SCOPED_TRACE(capacity);
        WCHAR out[9];
        for (auto& c : out) c = u'#';
        bool fits = ZelFormat(out, capacity, TEXT("COM%d"), 123);
        EXPECT_EQ(fits, capacity > 6);
        EXPECT_EQ(sim::U8(out), std::string("COM123").substr(0, capacity - 1));
        EXPECT_EQ(out[capacity], u'#') << "wrote past the capacity";
    }
    char narrow[4] = {'#', '#', '#', '#'};
    EXPECT_FALSE(ZelFormatA(narrow, 0, "x"));
    EXPECT_EQ(narrow[0], '#');
}

TEST(TextCopy, BoundedCopyAndConcatenation) {
    WCHAR out[6] = {u'#', u'#', u'#', u'#', u'#', u'#'};
    EXPECT_TRUE(ZelStrCopy(out, 5, TEXT("abcd")));
    EXPECT_EQ(sim::U8(out), "abcd");
    EXPECT_FALSE(ZelStrCopy(out, 5, TEXT("abcdef")));
    EXPECT_EQ(sim::U8(out), "abcd");
    EXPECT_EQ(out[5], u'#');
    EXPECT_TRUE(ZelStrCopy(out, 5, TEXT("ab")));
    EXPECT_FALSE(ZelStrCat(out, 5, TEXT("cde")));
    EXPECT_EQ(sim::U8(out), "abcd");
    EXPECT_EQ(ZelStrLen(TEXT("")), 0u);
}

TEST(TextCompare, IgnoresCaseOnly) {
    EXPECT_TRUE(ZelStrEqualNoCase(TEXT("*ZelDevice"), TEXT("*zeldevice")));
    EXPECT_FALSE(ZelStrEqualNoCase(TEXT("*zeldevice"), TEXT("*zeldevice2")));
    EXPECT_FALSE(ZelStrEqualNoCase(TEXT("*zeldevic"), TEXT("*zeldevice")));
    EXPECT_TRUE(ZelStrEqualNoCase(TEXT("\u00c9"), TEXT("\u00e9")));
}

TEST(TextParse, FollowsBaseTenLongRules) {
    struct Case {
        const WCHAR* text;
        LONG want;
    } cases[] = {
        {TEXT(""), 0},           {TEXT("12x"), 12},         {TEXT("  -7"), -7},        {TEXT("+5"), 5},
        {TEXT("x12"), 0},        {TEXT("2147483647"), INT32_MAX}, {TEXT("99999999999"), INT32_MAX},
        {TEXT("-2147483648"), INT32_MIN}, {TEXT("-99999999999"), INT32_MIN}, {TEXT("\t 300"), 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(sim::U8(c.text));
        EXPECT_EQ(ZelParseLong(c.text), c.want);
    }
}

}  // namespace
