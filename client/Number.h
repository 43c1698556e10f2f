// Numbers from outside (a command line, a query string, a JSON body, a
// settings file) read in one place, each against an explicit range before
// anything converts it: nothing wraps, nothing rounds into range, and a
// refusal shows the number as it was sent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace trax::client {

// Input that cannot be trusted: the message says what and why, with the text
// as sent (made safe by Shown). Thrown before anything reaches the controller.
struct InputError {
    std::string message;
};

// Text from outside made safe to echo: printable ASCII and whole UTF-8
// characters stay, every other byte becomes \xNN, and text longer than
// maxChars characters is cut at a character boundary and ends in "...".
std::string Shown(std::string_view text, std::size_t maxChars = 40);

// A whole decimal number ("-12", "7") within [low, high]. No sign but a
// leading '-', no spaces, no fraction, no exponent. `what` names it in the
// message: "offset: 1000000 is out of range -999999..999999".
long long ReadInteger(std::string_view text, long long low, long long high, const std::string& what);

// A decimal number ("2.5", "1e1") within [low, high]; NaN, infinities and
// numbers beyond double's range are refused, as is one that underflows to 0.
double ReadDecimal(std::string_view text, double low, double high, const std::string& what);

// A JSON integer within [low, high]: unsigned numbers beyond long long,
// floats, booleans and every other type are refused. The message names the
// type of what was sent, never its content beyond a number's text.
long long ReadJsonInteger(const nlohmann::json& value, long long low, long long high, const std::string& what);
long long ReadJsonInteger(const nlohmann::ordered_json& value, long long low, long long high, const std::string& what);

// What a JSON value is, for messages that must not echo a whole subtree:
// "an object", "an array", true, a number's text, a string's first
// characters in quotes.
std::string TypeInWords(const nlohmann::json& value);
std::string TypeInWords(const nlohmann::ordered_json& value);

}  // namespace trax::client
