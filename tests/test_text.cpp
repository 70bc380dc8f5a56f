#include "Text.h"

#include <gtest/gtest.h>

#include <optional>

namespace
{

TEST(TryTextToInt, AcceptsOnlyTheNumberForms)
{
    struct Case {
        std::string_view text;
        std::optional<int32_t> expected;
    };
    // clang-format off
    const Case cases[] = {
        {"0", 0}, {"007", 7}, {"  \t42", 42}, {"+5", 5}, {"-0", 0},
        {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
        {"2147483648", {}}, {"-2147483649", {}}, {"99999999999999999999", {}},
        {"0x1F", 31}, {"0X1f", 31}, {"$1F", 31}, {"x1f", 31}, {"XaB", 0xAB},
        {"$7FFFFFFF", INT32_MAX}, {"$FFFFFFFF", -1}, {"$80000000", INT32_MIN},
        {"-$1", -1}, {"+0x10", 16}, {"-$80000000", INT32_MIN}, {"$00000001", 1},
        {"$100000000", {}}, {"$000000001", {}},
        {"", {}}, {"  ", {}}, {"+", {}}, {"-", {}}, {"$", {}}, {"0x", {}}, {"x", {}},
        {"12 ", {}}, {"12a", {}}, {"1.5", {}}, {"0x1G", {}}, {"- 1", {}}, {"$-1", {}},
        {"+-1", {}}, {"--1", {}}, {"0$1", {}}, {"1e3", {}}, {"\n1", {}},
    };
    // clang-format on
    for (const Case &c : cases) {
        int32_t value = 12345;
        const bool ok = TryTextToInt(c.text, value);
        EXPECT_EQ(ok, c.expected.has_value()) << '"' << c.text << '"';
        EXPECT_EQ(value, c.expected.value_or(12345)) << '"' << c.text << '"';
    }
    EXPECT_EQ(TextToIntDef("$10", -7), 16);
    EXPECT_EQ(TextToIntDef("ten", -7), -7);
}

TEST(Cp1250, EveryByteRoundTrips)
{
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    const std::string utf8 = Cp1250ToUtf8(all);
    EXPECT_EQ(Utf8Length(utf8), 256u);
    EXPECT_EQ(Utf8ToCp1250(utf8), all);
    // Bytes the code page leaves undefined become the C1 control of their value.
    EXPECT_EQ(Cp1250ToUtf8("\x81\x98"), "\u0081\u0098");
    EXPECT_EQ(Cp1250ToUtf8("\x80\xA0\xFF"), "€\u00A0˙");
}

TEST(Cp1250, CzechTextMapsToItsBytes)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"Připojení", "P\xF8ipojen\xED"},
        {"Rozhraní", "Rozhran\xED"},
        {"Číslo portu", "\xC8\xEDslo portu"},
        {"Bázová adresa", "B\xE1zov\xE1 adresa"},
        {"ŘŠŤŽŮ ěščřžýáíéúů", "\xD8\x8A\x8D\x8E\xD9 \xEC\x9A\xE8\xF8\x9E\xFD\xE1\xED\xE9\xFA\xF9"},
        {"€ß ł", "\x80\xDF \xB3"},
    };
    for (const auto &[utf8, bytes] : cases) {
        EXPECT_EQ(Utf8ToCp1250(utf8), bytes) << utf8;
        EXPECT_EQ(Cp1250ToUtf8(bytes), utf8) << utf8;
    }
}

TEST(Cp1250, UnencodableAndMalformedBecomeQuestionMarks)
{
    // clang-format off
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"あ", "?"}, {"a😀b", "a?b"},
        // U+0080 and U+00A1 are close to the table but not in it.
        {"\u0080\u00A1", "??"},
        {"\x80", "?"}, {"\xFF", "?"}, {"\xE2\x82", "??"}, {"\xE2\x82" "A", "??A"},
        {"\xC0\xAF", "??"}, {"\xE0\x80\xAF", "???"}, {"\xF0\x82\x82\xAC", "????"},
        {"\xED\xA0\x80", "???"}, {"\xF4\x90\x80\x80", "????"},
        {"\xF8\x88\x80\x80\x80", "?????"},
    };
    // clang-format on
    for (const auto &[utf8, bytes] : cases) {
        EXPECT_EQ(Utf8ToCp1250(utf8), bytes);
        EXPECT_EQ(Utf8Length(utf8), bytes.size());
    }
    const std::string withNul("a\0b", 3);
    EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(withNul)), withNul);
}

} // namespace

// "v" or "ve" as the number is read aloud in the locative.
TEST(CzechText, InCountChoosesVOrVeByHowTheNumberIsRead)
{
    // clang-format off
    const std::pair<uint64_t, std::string_view> cases[] = {
        {0, "v 0"}, {1, "v 1"}, {2, "ve 2"}, {3, "ve 3"}, {4, "ve 4"}, {5, "v 5"}, {7, "v 7"},
        {10, "v 10"}, {11, "v 11"}, {12, "ve 12"}, {14, "ve 14"}, {15, "v 15"}, {19, "v 19"},
        {20, "ve 20"}, {23, "ve 23"}, {40, "ve 40"}, {49, "ve 49"}, {50, "v 50"}, {66, "v 66"},
        {99, "v 99"}, {100, "ve 100"}, {199, "ve 199"}, {200, "ve 200"}, {499, "ve 499"},
        {500, "v 500"}, {1000, "v 1000"}, {1999, "v 1999"}, {2000, "ve 2000"},
        {5000, "v 5000"}, {12000, "ve 12000"}, {100000, "ve 100000"}, {1000000, "v 1000000"},
        {3000000, "ve 3000000"}, {1000000000, "v 1000000000"}, {40000000000, "ve 40000000000"},
    };
    // clang-format on
    for (const auto &[n, text] : cases)
        EXPECT_EQ(InCount(n), text);
}
