#include "JsonWriter.h"

#include "client/ValueText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace traxctl {

std::string FloatText(float value, int decimals) { return trax::client::ValueText(value, decimals); }

JsonWriter& JsonWriter::BeginObject() {
    Separate();
    out_ << '{';
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    first_.pop_back();
    out_ << '}';
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    Separate();
    out_ << '[';
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    first_.pop_back();
    out_ << ']';
    return *this;
}

JsonWriter& JsonWriter::Key(const std::string& name) {
    Separate();
    Quoted(name);
    out_ << ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(const std::string& text) {
    Separate();
    Quoted(text);
    return *this;
}

JsonWriter& JsonWriter::Number(long long value) {
    Separate();
    out_ << value;
    return *this;
}

JsonWriter& JsonWriter::Number(float value, int decimals) {
    if (!std::isfinite(value)) return Null();
    Separate();
    out_ << FloatText(value, decimals);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    Separate();
    out_ << (value ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::Null() {
    Separate();
    out_ << "null";
    return *this;
}

void JsonWriter::Separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (first_.empty()) return;
    if (!first_.back()) out_ << ',';
    first_.back() = false;
}

void JsonWriter::Quoted(const std::string& text) {
    out_ << '"';
    for (char c : text) {
        switch (c) {
        case '"':
            out_ << "\\\"";
            break;
        case '\\':
            out_ << "\\\\";
            break;
        case '\n':
            out_ << "\\n";
            break;
        case '\t':
            out_ << "\\t";
            break;
        default:
            // The other control characters have no short escape that every
            // reader knows; bytes from 0x80 up pass as they are (UTF-8).
            if (static_cast<unsigned char>(c) < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
                out_ << buf;
            } else {
                out_ << c;
            }
        }
    }
    out_ << '"';
}

}  // namespace traxctl
