#include "Number.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>

#include <nlohmann/json.hpp>

namespace trax::client {

namespace {

// Bytes in the UTF-8 character that starts with `lead`, when the next ones
// continue it; 0 when these bytes are not one well-formed character
// (overlong forms, surrogates and values beyond U+10FFFF included).
std::size_t Utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    }
    return length;
}

std::string RangeText(long long low, long long high) { return std::to_string(low) + ".." + std::to_string(high); }

std::string RangeText(double low, double high) {
    char text[80];
    std::snprintf(text, sizeof text, "%g..%g", low, high);
    return text;
}

template <typename Json>
std::string TypeWords(const Json& value) {
    switch (value.type()) {
    case nlohmann::json::value_t::null:
        return "null";
    case nlohmann::json::value_t::boolean:
        return value.template get<bool>() ? "true" : "false";
    case nlohmann::json::value_t::string:
        // A parsed JSON string is UTF-8 already; Shown still cuts it short.
        return "\"" + Shown(value.template get_ref<const std::string&>(), 40) + "\"";
    case nlohmann::json::value_t::array:
        return "an array";
    case nlohmann::json::value_t::object:
        return "an object";
    case nlohmann::json::value_t::binary:
        return "binary data";
    default:
        // A number's text is short whatever it holds.
        return Shown(value.dump(), 40);
    }
}

template <typename Json>
long long JsonInteger(const Json& value, long long low, long long high, const std::string& what) {
    if (value.is_number_unsigned()) {
        // Unsigned first: above long long's range it must not wrap into range.
        const unsigned long long n = value.template get<unsigned long long>();
        if (high < 0 || n > static_cast<unsigned long long>(high)) {
            throw InputError{what + ": " + std::to_string(n) + " is out of range " + RangeText(low, high)};
        }
        const auto signedValue = static_cast<long long>(n);
        if (signedValue < low) {
            throw InputError{what + ": " + std::to_string(n) + " is out of range " + RangeText(low, high)};
        }
        return signedValue;
    }
    if (value.is_number_integer()) {
        const long long n = value.template get<long long>();
        if (n < low || n > high) {
            throw InputError{what + ": " + std::to_string(n) + " is out of range " + RangeText(low, high)};
        }
        return n;
    }
    throw InputError{what + ": a whole number is expected, not " + TypeWords(value)};
}

}  // namespace

std::string Shown(std::string_view text, std::size_t maxChars) {
    std::string out;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (chars == maxChars) {
            out += "...";
            break;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
            ++i;
        } else if (std::size_t n = c >= 0x80 ? Utf8Length(text, i) : 0; n > 0) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
            ++i;
        }
        ++chars;
    }
    return out;
}

long long ReadInteger(std::string_view text, long long low, long long high, const std::string& what) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string_view digits = text.substr(negative ? 1 : 0);
    bool allDigits = !digits.empty();
    for (char c : digits) allDigits = allDigits && c >= '0' && c <= '9';
    if (!allDigits) throw InputError{what + ": '" + Shown(text) + "' is not a whole number"};
    // Accumulated as a magnitude that stops growing once it is beyond any
    // long long: a thousand digits are out of range, not wrapped.
    constexpr unsigned long long kBeyond = static_cast<unsigned long long>(std::numeric_limits<long long>::max()) + 2;
    unsigned long long magnitude = 0;
    for (char c : digits) {
        magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
        if (magnitude >= kBeyond) break;
    }
    long long value = 0;
    bool inLongLong = false;
    if (!negative && magnitude <= static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
        value = static_cast<long long>(magnitude);
        inLongLong = true;
    } else if (negative && magnitude <= kBeyond - 1) {
        value = magnitude == kBeyond - 1 ? std::numeric_limits<long long>::min() : -static_cast<long long>(magnitude);
        inLongLong = true;
    }
    if (!inLongLong || value < low || value > high) {
        throw InputError{what + ": " + Shown(text) + " is out of range " + RangeText(low, high)};
    }
    return value;
}

double ReadDecimal(std::string_view text, double low, double high, const std::string& what) {
    // The JSON shape of a number, checked by hand: from_chars would also take
    // "inf", "nan" and hexadecimal.
    std::size_t i = 0;
    const auto digitsFrom = [&](std::size_t at) {
        std::size_t n = 0;
        while (at + n < text.size() && text[at + n] >= '0' && text[at + n] <= '9') ++n;
        return n;
    };
    if (i < text.size() && text[i] == '-') ++i;
    std::size_t n = digitsFrom(i);
    bool shaped = n > 0;
    i += n;
    if (shaped && i < text.size() && text[i] == '.') {
        n = digitsFrom(i + 1);
        shaped = n > 0;
        i += 1 + n;
    }
    if (shaped && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        n = digitsFrom(i);
        shaped = n > 0;
        i += n;
    }
    if (!shaped || i != text.size()) throw InputError{what + ": '" + Shown(text) + "' is not a number"};
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    const bool zeroDigitsOnly = text.find_first_of("123456789") == std::string_view::npos ||
                                text.find_first_of("123456789") > text.find_first_of("eE");
    if (result.ec != std::errc() || !std::isfinite(value) || (value == 0 && !zeroDigitsOnly) ||
        !(value >= low && value <= high)) {
        throw InputError{what + ": " + Shown(text) + " is out of range " + RangeText(low, high)};
    }
    return value;
}

long long ReadJsonInteger(const nlohmann::json& value, long long low, long long high, const std::string& what) {
    return JsonInteger(value, low, high, what);
}

long long ReadJsonInteger(const nlohmann::ordered_json& value, long long low, long long high, const std::string& what) {
    return JsonInteger(value, low, high, what);
}

std::string TypeInWords(const nlohmann::json& value) { return TypeWords(value); }
std::string TypeInWords(const nlohmann::ordered_json& value) { return TypeWords(value); }

}  // namespace trax::client
