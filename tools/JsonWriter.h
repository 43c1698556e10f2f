// traxctl's --json output: a streaming writer that places the commas and
// colons itself and escapes every string, so that no command assembles JSON
// text by hand. One writer writes one value (usually an object); a command
// that prints one value a line (watch) uses one writer a line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace traxctl {

// A float as traxctl prints it: at least `decimals` digits after the point
// (none when negative) and as many more as it takes to read back as the same
// float.
std::string FloatText(float value, int decimals);

class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // The name of the next member; the value follows with one of the calls below.
    JsonWriter& Key(const std::string& name);

    JsonWriter& String(const std::string& text);
    JsonWriter& Number(long long value);
    // Written as FloatText; a value with no JSON number (NaN, infinity) is null.
    JsonWriter& Number(float value, int decimals);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

private:
    // The comma before every value but the first of its array or object, none
    // after a key.
    void Separate();
    void Quoted(const std::string& text);

    std::ostream& out_;
    std::vector<bool> first_;  // per open array or object: nothing written in it yet
    bool afterKey_ = false;
};

}  // namespace traxctl
