// The recording reader: a strict reader of the flat JSON objects the library
// writes (strings, numbers, true/false/null, arrays of those), nothing more.
#include "sim/RecordingFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

namespace trax::sim {

namespace {

struct Value {
    enum Kind { String, Number, Bool, Null, Array } kind = Null;
    std::string text;  // a string's characters, a number's digits
    double number = 0;
    bool flag = false;
    std::vector<Value> items;  // of an array: scalars only
};

using Object = std::map<std::string, Value>;

class LineReader {
public:
    LineReader(const char* begin, const char* end) : p(begin), stop(end) {}

    // One object spanning the whole line.
    bool ReadObject(Object* out, std::string* problem) {
        Skip();
        if (!Take('{')) return Fail(problem, "not a JSON object");
        Skip();
        if (Take('}')) return End(problem);
        for (;;) {
            Skip();
            std::string key;
            if (!ReadString(&key, problem)) return false;
            Skip();
            if (!Take(':')) return Fail(problem, "':' missing after \"" + Shown(key) + "\"");
            Value value;
            if (!ReadValue(&value, true, problem)) return false;
            if (out->count(key) != 0) return Fail(problem, "\"" + Shown(key) + "\" appears twice");
            (*out)[key] = std::move(value);
            Skip();
            if (Take(',')) continue;
            if (Take('}')) return End(problem);
            return Fail(problem, "',' or '}' expected");
        }
    }

private:
    static std::string Shown(const std::string& text) { return text.size() > 40 ? text.substr(0, 40) + "..." : text; }

    bool End(std::string* problem) {
        Skip();
        return p == stop ? true : Fail(problem, "text after the object");
    }
    bool Fail(std::string* problem, const std::string& what) {
        *problem = what;
        return false;
    }
    void Skip() {
        while (p < stop && (*p == ' ' || *p == '\t' || *p == '\r')) ++p;
    }
    bool Take(char c) {
        if (p < stop && *p == c) {
            ++p;
            return true;
        }
        return false;
    }
    bool Word(const char* word) {
        const size_t n = std::strlen(word);
        if (static_cast<size_t>(stop - p) < n || std::strncmp(p, word, n) != 0) return false;
        p += n;
        return true;
    }

    bool ReadValue(Value* v, bool arrayAllowed, std::string* problem) {
        Skip();
        if (p == stop) return Fail(problem, "a value is missing (the line is cut short)");
        if (*p == '"') {
            v->kind = Value::String;
            return ReadString(&v->text, problem);
        }
        if (Word("true") || Word("false")) {
            v->kind = Value::Bool;
            v->flag = p[-2] == 'u';  // "true" ends in "ue", "false" in "se"
            return true;
        }
        if (Word("null")) {
            v->kind = Value::Null;
            return true;
        }
        if (*p == '[') {
            if (!arrayAllowed) return Fail(problem, "arrays inside arrays are not part of a recording");
            ++p;
            v->kind = Value::Array;
            Skip();
            if (Take(']')) return true;
            for (;;) {
                Value item;
                if (!ReadValue(&item, false, problem)) return false;
                v->items.push_back(std::move(item));
                Skip();
                if (Take(',')) continue;
                if (Take(']')) return true;
                return Fail(problem, "',' or ']' expected in an array");
            }
        }
        if (*p == '-' || (*p >= '0' && *p <= '9')) return ReadNumber(v, problem);
        if (*p == '{') return Fail(problem, "objects inside objects are not part of a recording");
        return Fail(problem, "a value cannot start with '" + std::string(1, *p) + "'");
    }

    // JSON's number grammar, then the conversion of exactly that text.
    bool ReadNumber(Value* v, std::string* problem) {
        const char* start = p;
        Take('-');
        if (Take('0')) {
        } else if (p < stop && *p >= '1' && *p <= '9') {
            while (p < stop && *p >= '0' && *p <= '9') ++p;
        } else {
            return Fail(problem, "a number without digits");
        }
        if (Take('.')) {
            if (p == stop || *p < '0' || *p > '9') return Fail(problem, "a number without digits after '.'");
            while (p < stop && *p >= '0' && *p <= '9') ++p;
        }
        if (p < stop && (*p == 'e' || *p == 'E')) {
            ++p;
            if (!Take('+')) Take('-');
            if (p == stop || *p < '0' || *p > '9') return Fail(problem, "a number with an empty exponent");
            while (p < stop && *p >= '0' && *p <= '9') ++p;
        }
        v->kind = Value::Number;
        v->text.assign(start, p);
        if (v->text.size() > 40) return Fail(problem, "a number of more than 40 characters");
        errno = 0;
        v->number = std::strtod(v->text.c_str(), nullptr);
        if (errno != 0 || !std::isfinite(v->number)) return Fail(problem, "the number " + v->text + " is out of range");
        return true;
    }

    static int HexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    bool ReadString(std::string* out, std::string* problem) {
        if (!Take('"')) return Fail(problem, "a string was expected");
        out->clear();
        for (;;) {
            if (p == stop) return Fail(problem, "a string is not closed (the line is cut short)");
            const auto c = static_cast<unsigned char>(*p++);
            if (c == '"') return true;
            if (c < 0x20) return Fail(problem, "a control character inside a string");
            if (c != '\\') {
                out->push_back(static_cast<char>(c));
                continue;
            }
            if (p == stop) return Fail(problem, "a string is not closed (the line is cut short)");
            const char e = *p++;
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out->push_back(e);
                break;
            case 'b':
                out->push_back('\b');
                break;
            case 'f':
                out->push_back('\f');
                break;
            case 'n':
                out->push_back('\n');
                break;
            case 'r':
                out->push_back('\r');
                break;
            case 't':
                out->push_back('\t');
                break;
            case 'u': {
                unsigned code = 0;
                for (int i = 0; i < 4; ++i) {
                    const int d = p < stop ? HexDigit(*p) : -1;
                    if (d < 0) return Fail(problem, "a \\u escape without four hexadecimal digits");
                    code = code * 16 + static_cast<unsigned>(d);
                    ++p;
                }
                // Names and descriptions only: anything outside ASCII is kept
                // as a question mark rather than decoded.
                out->push_back(code < 0x80 ? static_cast<char>(code) : '?');
                break;
            }
            default:
                return Fail(problem, std::string("an unknown escape '\\") + e + "' in a string");
            }
        }
    }

    const char* p;
    const char* stop;
};

const Value* Find(const Object& object, const char* key, Value::Kind kind) {
    const auto it = object.find(key);
    return it != object.end() && it->second.kind == kind ? &it->second : nullptr;
}

bool WholeNumber(const Value& v, double low, double high, uint64_t* out) {
    if (v.kind != Value::Number || v.number != std::floor(v.number) || v.number < low || v.number > high) return false;
    *out = static_cast<uint64_t>(v.number);
    return true;
}

// "00 06 07 14": two hexadecimal digits a byte, single spaces between.
bool ParseHex(const std::string& text, std::vector<uint8_t>* out, std::string* problem) {
    out->clear();
    if (text.empty()) return true;
    if (text.size() % 3 != 2) {
        *problem = "are not bytes in hexadecimal (\"00 06 07 14\")";
        return false;
    }
    out->reserve(text.size() / 3 + 1);
    for (size_t i = 0; i < text.size(); i += 3) {
        int value = 0;
        for (size_t j = i; j < i + 2; ++j) {
            const char c = text[j];
            const int d = (c >= '0' && c <= '9')   ? c - '0'
                          : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                          : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                   : -1;
            if (d < 0) {
                *problem = "hold '" + std::string(1, c) + "' at character " + std::to_string(j + 1) +
                           ", which is not a hexadecimal digit";
                return false;
            }
            value = value * 16 + d;
        }
        if (i + 2 < text.size() && text[i + 2] != ' ') {
            *problem = "are not bytes separated by single spaces (character " + std::to_string(i + 3) + ")";
            return false;
        }
        out->push_back(static_cast<uint8_t>(value));
    }
    return true;
}

bool ParseEnding(const std::string& text, RecordedEnding* out) {
    static const RecordedEnding kAll[] = {RecordedEnding::Answered, RecordedEnding::NoReply,
                                          RecordedEnding::DriverFailure, RecordedEnding::CutReply,
                                          RecordedEnding::NotSent};
    for (RecordedEnding e : kAll) {
        if (text == RecordedEndingText(e)) {
            *out = e;
            return true;
        }
    }
    return false;
}

bool ParseHeader(const Object& header, Recording* out, std::string* problem) {
    const Value* format = Find(header, "format", Value::String);
    if (format == nullptr || format->text != "trax-recording") {
        *problem = "line 1: not a trax recording (its first line has no \"format\":\"trax-recording\")";
        return false;
    }
    uint64_t version = 0;
    const auto it = header.find("version");
    if (it == header.end() || !WholeNumber(it->second, 1, 1e9, &version)) {
        *problem = "line 1: the recording's format version is missing or not a whole number from 1";
        return false;
    }
    out->version = static_cast<int>(version);
    if (const Value* v = Find(header, "library", Value::String)) out->library = v->text;
    if (out->version > kRecordingFormatVersion) {
        *problem = "the recording is format version " + std::to_string(version) + " (made by library " +
                   (out->library.empty() ? std::string("version not known") : out->library) +
                   "), newer than this driver reads (version " + std::to_string(kRecordingFormatVersion) +
                   "): it is refused rather than misread; replay it with the stand-in driver of that library";
        return false;
    }
    if (const Value* v = Find(header, "system", Value::String)) out->system = v->text;
    if (const Value* v = Find(header, "stand_in", Value::Bool)) out->standIn = v->flag;
    if (const Value* v = Find(header, "driver", Value::String)) out->driver = v->text;
    if (const Value* v = Find(header, "driver_file", Value::String)) out->driverFile = v->text;
    return true;
}

bool ParseExchange(const Object& object, RecordedExchange* e, std::string* problem) {
    const auto number = [&](const char* key, double high, uint64_t* target) {
        const auto it = object.find(key);
        if (it != object.end() && WholeNumber(it->second, 0, high, target)) return true;
        *problem = std::string("\"") + key + "\" is missing or not a whole number from 0 to " +
                   std::to_string(static_cast<unsigned long long>(high));
        return false;
    };
    if (!number("n", 1e15, &e->number) || !number("thread", 4294967295.0, &e->thread)) return false;
    const Value* end = Find(object, "end", Value::String);
    if (end == nullptr || !ParseEnding(end->text, &e->ending)) {
        *problem =
            "\"end\" is missing or not one of \"answered\", \"no reply\", \"driver failure\", "
            "\"cut reply\", \"not sent\"";
        return false;
    }
    const Value* request = Find(object, "request", Value::String);
    const Value* reply = Find(object, "reply", Value::String);
    if (request == nullptr || reply == nullptr) {
        *problem = "\"request\" or \"reply\" is missing";
        return false;
    }
    std::string why;
    if (!ParseHex(request->text, &e->request, &why)) {
        *problem = "the request's bytes " + why;
        return false;
    }
    if (e->request.empty()) {
        *problem = "the request has no bytes";
        return false;
    }
    if (!ParseHex(reply->text, &e->reply, &why)) {
        *problem = "the reply's bytes " + why;
        return false;
    }
    if (const Value* call = Find(object, "call", Value::String)) {
        e->call = call->text;
        if (!number("call_n", 1e15, &e->callNumber)) return false;
    }
    if (const Value* args = Find(object, "args", Value::Array)) {
        for (const Value& item : args->items) {
            if (item.kind == Value::Number && item.number == std::floor(item.number) && std::fabs(item.number) < 1e15) {
                e->arguments.push_back(static_cast<long long>(item.number));
                e->pointerArguments.push_back(false);
            } else if (item.kind == Value::Null || (item.kind == Value::String && item.text == "*")) {
                e->arguments.push_back(item.kind == Value::Null ? 0 : 1);
                e->pointerArguments.push_back(true);
            } else {
                *problem = "\"args\" holds something that is neither a whole number, \"*\" nor null";
                return false;
            }
        }
    }
    const auto took = object.find("took_ms");
    if (took != object.end() && took->second.kind == Value::Number && took->second.number >= 0 &&
        took->second.number < 1e9) {
        e->tookMs = took->second.number;
    }
    return true;
}

}  // namespace

const char* RecordedEndingText(RecordedEnding ending) {
    switch (ending) {
    case RecordedEnding::Answered:
        return "answered";
    case RecordedEnding::NoReply:
        return "no reply";
    case RecordedEnding::DriverFailure:
        return "driver failure";
    case RecordedEnding::CutReply:
        return "cut reply";
    case RecordedEnding::NotSent:
        return "not sent";
    }
    return "unknown";
}

std::string HexText(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

bool ParseRecording(const std::string& text, Recording* out, std::string* problem) {
    *out = Recording{};
    size_t at = 0;
    uint64_t lineNumber = 0;
    bool headerSeen = false;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        const bool lastUnended = end == std::string::npos;
        if (lastUnended) end = text.size();
        ++lineNumber;
        const char* begin = text.data() + at;
        const char* stop = text.data() + end;
        at = end + 1;
        if (begin == stop || (stop - begin == 1 && *begin == '\r')) continue;
        Object object;
        std::string why;
        LineReader reader(begin, stop);
        const bool parsed = reader.ReadObject(&object, &why);
        if (!parsed && lastUnended && headerSeen) {
            // What a crash during the write of the last exchange leaves.
            out->warning = "line " + std::to_string(lineNumber) +
                           " is cut short, as a crash while writing it leaves it; the " +
                           std::to_string(out->exchanges.size()) + " exchanges before it are replayed";
            return true;
        }
        if (!parsed) {
            *problem = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        }
        if (!headerSeen) {
            if (!ParseHeader(object, out, problem)) return false;
            headerSeen = true;
            continue;
        }
        RecordedExchange exchange;
        exchange.line = lineNumber;
        if (!ParseExchange(object, &exchange, &why)) {
            *problem = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        }
        out->exchanges.push_back(std::move(exchange));
    }
    if (!headerSeen) {
        *problem = "the recording is empty (not even its first line)";
        return false;
    }
    return true;
}

bool ReadRecordingFile(const std::string& path, Recording* out, std::string* problem) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *problem = "cannot read '" + path + "': " + std::strerror(errno);
        return false;
    }
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0 || static_cast<uint64_t>(size) > kMaxRecordingBytes) {
        *problem = "'" + path + "' is larger than " + std::to_string(kMaxRecordingBytes >> 20) +
                   " MiB, more than a recording this driver replays";
        return false;
    }
    file.seekg(0, std::ios::beg);
    std::string text(static_cast<size_t>(size), '\0');
    if (size > 0 && !file.read(&text[0], static_cast<std::streamsize>(size))) {
        *problem = "cannot read '" + path + "'";
        return false;
    }
    if (!ParseRecording(text, out, problem)) {
        *problem = "'" + path + "': " + *problem;
        return false;
    }
    return true;
}

}  // namespace trax::sim
