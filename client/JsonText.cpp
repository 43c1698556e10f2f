#include "JsonText.h"

#include <vector>

#include <nlohmann/json.hpp>

#include "Number.h"

namespace trax::client {

namespace {

// Where a value stands: "heads.A.offset", "values[2]".
struct Frame {
    bool array = false;
    std::string key;       // objects: the member being read
    long long index = -1;  // arrays: the element being read
};

std::string PathText(const std::vector<Frame>& frames) {
    std::string path;
    for (const Frame& f : frames) {
        if (f.array) {
            if (f.index >= 0) path += "[" + std::to_string(f.index) + "]";
        } else if (!f.key.empty()) {
            path += (path.empty() ? "" : ".") + Shown(f.key, 40);
        }
    }
    return path;
}

// "line 3, column 7" of a byte offset; columns count characters, not bytes.
std::string Place(std::string_view text, std::size_t position) {
    if (position > text.size()) position = text.size();
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < position; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            ++line;
            column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// The DOM parser's events, passed on while the depth stays within the limit;
// the first problem stops the parse and is kept in words.
template <typename Json>
class LimitedSax {
public:
    using number_integer_t = typename Json::number_integer_t;
    using number_unsigned_t = typename Json::number_unsigned_t;
    using number_float_t = typename Json::number_float_t;
    using string_t = typename Json::string_t;
    using binary_t = typename Json::binary_t;

    LimitedSax(Json& result, std::string_view text, int maxDepth)
        : dom_(result, false), text_(text), maxDepth_(maxDepth) {}

    bool null() { return Value() && dom_.null(); }
    bool boolean(bool v) { return Value() && dom_.boolean(v); }
    bool number_integer(number_integer_t v) { return Value() && dom_.number_integer(v); }
    bool number_unsigned(number_unsigned_t v) { return Value() && dom_.number_unsigned(v); }
    bool number_float(number_float_t v, const string_t& s) { return Value() && dom_.number_float(v, s); }
    bool string(string_t& v) { return Value() && dom_.string(v); }
    bool binary(binary_t& v) { return Value() && dom_.binary(v); }
    bool start_object(std::size_t n) { return Value() && Open(false) && dom_.start_object(n); }
    bool key(string_t& k) {
        frames_.back().key = k;
        return dom_.key(k);
    }
    bool end_object() {
        frames_.pop_back();
        return dom_.end_object();
    }
    bool start_array(std::size_t n) { return Value() && Open(true) && dom_.start_array(n); }
    bool end_array() {
        frames_.pop_back();
        return dom_.end_array();
    }
    bool parse_error(std::size_t position, const std::string& token, const nlohmann::detail::exception& e) {
        const std::string what = e.what();
        std::string words;
        if (e.id == 406) {
            words = Shown(token, 40) + " is beyond the range of any number";
        } else if (what.find("unexpected end of input") != std::string::npos || token.empty() ||
                   position >= text_.size()) {
            words = text_.find_first_not_of(" \t\r\n") == std::string_view::npos
                        ? "there is no JSON value here"
                        : "the text ends before the JSON is complete";
        } else if (what.find("ill-formed UTF-8") != std::string::npos) {
            words = "a string holds bytes that are not UTF-8";
        } else if (what.find("control character") != std::string::npos) {
            words = "a string holds a control character (JSON writes it as \\n, \\t or \\u00XX)";
        } else if (what.find("expected end of input") != std::string::npos) {
            words = "more text follows the JSON value: " + Shown(token, 20);
        } else {
            words = "JSON does not allow " + Shown(token, 20) + " here";
        }
        problem_ = Place(text_, position) + ": " + words;
        return false;
    }

    const std::string& Problem() const { return problem_; }

private:
    // Counts an element of the array being read, for the path.
    bool Value() {
        if (!frames_.empty() && frames_.back().array) ++frames_.back().index;
        return true;
    }
    bool Open(bool array) {
        if (static_cast<int>(frames_.size()) >= maxDepth_) {
            const std::string path = PathText(frames_);
            problem_ =
                (path.empty() ? "" : path + ": ") + "nested deeper than " + std::to_string(maxDepth_) + " levels";
            return false;
        }
        frames_.push_back(Frame{array, "", -1});
        return true;
    }

    nlohmann::detail::json_sax_dom_parser<Json> dom_;
    std::string_view text_;
    const int maxDepth_;
    std::vector<Frame> frames_;
    std::string problem_;
};

template <typename Json>
Json Parse(std::string_view text, int maxDepth) {
    Json result;
    LimitedSax<Json> sax(result, text, maxDepth);
    const bool ok = Json::sax_parse(text.begin(), text.end(), &sax, nlohmann::json::input_format_t::json, true);
    if (!ok || !sax.Problem().empty()) {
        // What was built up to the problem is let go without recursion (the
        // library's destructor walks with its own stack), and is within the
        // depth limit anyway.
        throw InputError{sax.Problem().empty() ? "not JSON" : sax.Problem()};
    }
    return result;
}

}  // namespace

nlohmann::json ParseJson(std::string_view text, int maxDepth) { return Parse<nlohmann::json>(text, maxDepth); }

nlohmann::ordered_json ParseOrderedJson(std::string_view text, int maxDepth) {
    return Parse<nlohmann::ordered_json>(text, maxDepth);
}

}  // namespace trax::client
