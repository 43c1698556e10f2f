// The one reader of numbers from outside: ranges checked before conversion,
// refusals that show the text as sent, safely.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "client/Number.h"

namespace tc = trax::client;

namespace {

// The message of the InputError that reading `run` throws; "" when it reads.
template <typename Read>
std::string Refusal(Read run) {
    try {
        run();
    } catch (const tc::InputError& e) {
        return e.message;
    }
    return "";
}

TEST(Number, TextIntegersAreReadWithinTheirRangeOnly) {
    struct Row {
        std::string text;
        long long low, high;
        const char* refusal;  // "" when read
    } const rows[] = {
        {"0", 0, 7, ""},
        {"-12", -99, 99, ""},
        {"-9223372036854775808", -9223372036854775807LL - 1, 0, ""},
        {"9223372036854775807", 0, 9223372036854775807LL, ""},
        {"9223372036854775808", 0, 9223372036854775807LL, "n: 9223372036854775808 is out of range"},
        {"18446744073709551516", -999999, 999999, "n: 18446744073709551516 is out of range -999999..999999"},
        {"-9223372036854775809", -9223372036854775807LL - 1, 0, "is out of range"},
        {std::string(1000, '9'), 0, 10, "n: 9999999999999999999999999999999999999999... is out of range 0..10"},
        {"8", 0, 7, "n: 8 is out of range 0..7"},
        {"", 0, 7, "n: '' is not a whole number"},
        {"-", 0, 7, "is not a whole number"},
        {"+5", 0, 7, "is not a whole number"},
        {" 5", 0, 7, "is not a whole number"},
        {"5 ", 0, 7, "is not a whole number"},
        {"1e3", 0, 7, "is not a whole number"},
        {"0x10", 0, 99, "is not a whole number"},
        {"1.0", 0, 7, "is not a whole number"},
        {"\xff", 0, 7, "n: '\\xFF' is not a whole number"},
        {"5\n", 0, 7, "n: '5\\x0A' is not a whole number"},
    };
    for (const Row& r : rows) {
        const std::string refusal = Refusal([&] { tc::ReadInteger(r.text, r.low, r.high, "n"); });
        if (r.refusal[0] == '\0') {
            EXPECT_EQ(refusal, "") << r.text;
        } else {
            EXPECT_NE(refusal.find(r.refusal), std::string::npos) << r.text << " -> " << refusal;
        }
    }
    EXPECT_EQ(tc::ReadInteger("-12", -99, 99, "n"), -12);
    EXPECT_EQ(tc::ReadInteger("-9223372036854775808", -9223372036854775807LL - 1, 0, "n"), -9223372036854775807LL - 1);
}

TEST(Number, DecimalsRefuseWhatNoRangeHolds) {
    struct Row {
        const char* text;
        const char* refusal;  // "" when read within 0.01..20
    } const rows[] = {
        {"2.5", ""},
        {"20", ""},
        {"1e1", ""},
        {"0.01", ""},
        {"1e-300", "rate: 1e-300 is out of range 0.01..20"},
        {"1e999", "rate: 1e999 is out of range"},
        {"-1e999", "is out of range"},
        {"1e-400", "is out of range"},
        {"0", "is out of range"},
        {"-0", "is out of range"},
        {"-0.0", "is out of range"},
        {"nan", "rate: 'nan' is not a number"},
        {"inf", "is not a number"},
        {"Infinity", "is not a number"},
        {"0x1p3", "is not a number"},
        {"1.", "is not a number"},
        {".5", "is not a number"},
        {"", "is not a number"},
    };
    for (const Row& r : rows) {
        const std::string refusal = Refusal([&] { tc::ReadDecimal(r.text, 0.01, 20, "rate"); });
        if (r.refusal[0] == '\0') {
            EXPECT_EQ(refusal, "") << r.text;
        } else {
            EXPECT_NE(refusal.find(r.refusal), std::string::npos) << r.text << " -> " << refusal;
        }
    }
    EXPECT_EQ(tc::ReadDecimal("2.5", 0.01, 20, "rate"), 2.5);
}

TEST(Number, JsonIntegersNeverWrap) {
    using nlohmann::json;
    struct Row {
        const char* text;
        const char* refusal;  // "" when read within -999999..999999
    } const rows[] = {
        {"-100", ""},
        {"999999", ""},
        {"18446744073709551516", "offset: 18446744073709551516 is out of range -999999..999999"},
        {"9223372036854775808", "offset: 9223372036854775808 is out of range -999999..999999"},
        {"-9223372036854775808", "offset: -9223372036854775808 is out of range -999999..999999"},
        {"1.5", "offset: a whole number is expected, not 1.5"},
        {"-0.0", "offset: a whole number is expected, not -0.0"},
        {"true", "offset: a whole number is expected, not true"},
        {"null", "offset: a whole number is expected, not null"},
        {"\"5\"", "offset: a whole number is expected, not \"5\""},
        {"[[[[1]]]]", "offset: a whole number is expected, not an array"},
        {"{\"a\":[1,2,3]}", "offset: a whole number is expected, not an object"},
    };
    for (const Row& r : rows) {
        const json value = json::parse(r.text);
        const std::string refusal = Refusal([&] { tc::ReadJsonInteger(value, -999999, 999999, "offset"); });
        EXPECT_EQ(refusal, r.refusal) << r.text;
    }
}

TEST(Number, EchoedTextIsSafeAndNeverSplitsACharacter) {
    struct Row {
        std::string text;
        std::size_t max;
        std::string shown;
    } const rows[] = {
        {"abc", 40, "abc"},
        {"\xff\xfe", 40, "\\xFF\\xFE"},
        {"\xc3\xa9t\xc3\xa9", 40, "\xc3\xa9t\xc3\xa9"},
        {"\xc3\xa9t\xc3\xa9", 2, "\xc3\xa9t..."},
        {"a\xc3", 40, "a\\xC3"},
        {"\xe2\x82", 40, "\\xE2\\x82"},
        {"\xed\xa0\x80", 40, "\\xED\\xA0\\x80"},
        {"\xc0\xaf", 40, "\\xC0\\xAF"},
        {"\xf0\x9f\x98\x80x", 1, "\xf0\x9f\x98\x80..."},
        {std::string("a\0b", 3), 40, "a\\x00b"},
        {"back\\slash\"", 40, "back\\x5Cslash\""},
    };
    for (const Row& r : rows) EXPECT_EQ(tc::Shown(r.text, r.max), r.shown) << r.text;
}

}  // namespace
