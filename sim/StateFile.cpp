#include "sim/StateFile.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <system_error>
#include <utility>
#include <vector>

namespace trax::sim {
namespace {

constexpr const char* kFirstLine = "trax-sim-state 1";
constexpr size_t kValuesPerLine = 16;

template <typename T>
void AppendNumber(std::string* out, T value) {
    char text[24];
    std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
    out->append(text, r.ptr);
}

// Whole token as a number within [low, high].
template <typename T>
bool ParseNumber(const std::string& token, T low, T high, T* out) {
    T value{};
    const char* end = token.data() + token.size();
    std::from_chars_result r = std::from_chars(token.data(), end, value);
    if (token.empty() || r.ec != std::errc() || r.ptr != end || value < low || value > high) return false;
    *out = value;
    return true;
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> tokens;
    std::istringstream in(line);
    std::string token;
    while (in >> token) tokens.push_back(token);
    return tokens;
}

class Parser {
public:
    Parser(const std::string& text, LastingState* state) : in_(text), state_(state) {}

    bool Run(std::string* problem) {
        bool ok = Parse();
        if (!ok) *problem = lineNumber_ == 0 ? problem_ : "line " + std::to_string(lineNumber_) + ": " + problem_;
        return ok;
    }

private:
    // The next line that is not blank or a comment, split into tokens; false at the end.
    bool NextLine(std::vector<std::string>* tokens) {
        std::string line;
        while (std::getline(in_, line)) {
            ++lineNumber_;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            *tokens = Split(line);
            if (!tokens->empty() && (*tokens)[0][0] != '#') return true;
        }
        return false;
    }

    bool Fail(const std::string& why) {
        problem_ = why;
        return false;
    }

    bool Parse() {
        std::vector<std::string> t;
        if (!NextLine(&t)) return Fail("empty, expected '" + std::string(kFirstLine) + "'");
        if (t.size() != 2 || t[0] != "trax-sim-state" || t[1] != "1") {
            return Fail("expected '" + std::string(kFirstLine) + "'");
        }
        std::vector<int32_t> stored[2];
        bool storing = false;
        uint64_t runStart = 0;
        while (NextLine(&t)) {
            const std::string& key = t[0];
            if (key == "end" && t.size() == 1) {
                if (NextLine(&t)) return Fail("text after 'end'");
                state_->storage.Restore(storing, runStart, std::move(stored[0]), std::move(stored[1]));
                return true;
            }
            if (key == "setting" && t.size() == 5) {
                if (!Setting(t)) return false;
            } else if (key == "panel" && t.size() == 2) {
                if (!ParseNumber(t[1], 1, 3, &state_->panel)) return Fail("panel must be 1, 2 or 3");
            } else if (key == "storage" && t.size() == 3) {
                if (t[1] != "stopped" && t[1] != "storing") return Fail("storage must be 'stopped' or 'storing'");
                storing = t[1] == "storing";
                if (!ParseNumber<uint64_t>(t[2], 0, std::numeric_limits<uint64_t>::max(), &runStart)) {
                    return Fail("bad run start");
                }
            } else if (key == "stored" && t.size() == 3) {
                if (t[1] != "A" && t[1] != "B") return Fail("stored values of head A or B");
                if (!Stored(t[2], &stored[t[1] == "A" ? 0 : 1])) return false;
            } else {
                return Fail("unknown record '" + key + "' or wrong number of fields");
            }
        }
        return Fail("no 'end' line: the file is cut short");
    }

    bool Setting(const std::vector<std::string>& t) {
        int category = 0, item = 0;
        if (!ParseNumber(t[1], 0, 255, &category) || !ParseNumber(t[2], 0, 255, &item)) {
            return Fail("setting address must be two numbers 0..255");
        }
        const ItemSpec* layout = SettingStore::Find(static_cast<uint8_t>(category), static_cast<uint8_t>(item));
        if (layout == nullptr) return Fail("no setting " + t[1] + " " + t[2]);
        uint8_t head = 0;
        if (layout->scope == Scope::PerHead && (t[3] == "A" || t[3] == "B")) {
            head = t[3] == "A" ? 0 : 1;
        } else if (!(layout->scope == Scope::Controller && t[3] == "-")) {
            return Fail("setting " + t[1] + " " + t[2] + " needs head " +
                        (layout->scope == Scope::PerHead ? "A or B" : "'-'"));
        }
        std::string data = t[4];
        if (layout->fieldCount == 0) {
            int byte = 0;
            if (!ParseNumber(t[4], 0, 255, &byte)) return Fail("setting value must be a number 0..255");
            data.assign(1, static_cast<char>(byte));
        }
        uint8_t result = state_->settings.Write(static_cast<uint8_t>(category), head, static_cast<uint8_t>(item),
                                                reinterpret_cast<const uint8_t*>(data.data()), data.size());
        if (result != 0) return Fail("setting " + t[1] + " " + t[2] + " refuses '" + t[4] + "'");
        return true;
    }

    bool Stored(const std::string& countText, std::vector<int32_t>* values) {
        uint32_t count = 0;
        if (!ParseNumber<uint32_t>(countText, 0, StorageModel::kCapacity, &count)) {
            return Fail("stored count must be 0.." + std::to_string(StorageModel::kCapacity));
        }
        values->clear();
        values->reserve(count);
        std::vector<std::string> t;
        while (values->size() < count) {
            if (!NextLine(&t)) return Fail("file ends within the stored values");
            for (const std::string& token : t) {
                int32_t v = 0;
                if (values->size() == count) return Fail("more stored values than their count");
                if (!ParseNumber(token, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), &v)) {
                    return Fail("bad stored value '" + token + "'");
                }
                values->push_back(v);
            }
        }
        return true;
    }

    std::istringstream in_;
    LastingState* state_;
    int lineNumber_ = 0;
    std::string problem_;
};

}  // namespace

std::string FormatState(const SettingStore& settings, int panel, const StorageModel& storage) {
    std::string out = kFirstLine;
    out += "\n# category item head value\n";
    for (size_t i = 0; i < SettingStore::ItemCount(); ++i) {
        const ItemSpec& layout = SettingStore::Item(i);
        int heads = layout.scope == Scope::PerHead ? 2 : 1;
        for (int head = 0; head < heads; ++head) {
            out += "setting ";
            AppendNumber(&out, static_cast<int>(layout.category));
            out += ' ';
            AppendNumber(&out, static_cast<int>(layout.item));
            out += layout.scope == Scope::PerHead ? (head == 0 ? " A " : " B ") : " - ";
            uint8_t h = static_cast<uint8_t>(head);
            if (layout.fieldCount == 0) {
                AppendNumber(&out, settings.Value(layout.category, h, layout.item));
            } else {
                for (int f = 0; f < layout.fieldCount; ++f) {
                    if (f != 0) out += ',';
                    int32_t value = settings.Value(layout.category, h, layout.item, f);
                    out += SettingStore::FormatWritten(layout.fields[f], value);
                }
            }
            out += '\n';
        }
    }
    out += "panel ";
    AppendNumber(&out, panel);
    out += storage.Storing() ? "\nstorage storing " : "\nstorage stopped ";
    AppendNumber(&out, storage.RunStart());
    out += '\n';
    for (int head = 0; head < 2; ++head) {
        const std::vector<int32_t>& values = storage.Values(head);
        out += head == 0 ? "stored A " : "stored B ";
        AppendNumber(&out, values.size());
        for (size_t i = 0; i < values.size(); ++i) {
            out += i % kValuesPerLine == 0 ? '\n' : ' ';
            AppendNumber(&out, values[i]);
        }
        out += '\n';
    }
    out += "end\n";
    return out;
}

bool ParseState(const std::string& text, LastingState* state, std::string* problem) {
    return Parser(text, state).Run(problem);
}

LoadResult LoadStateFile(const std::string& path, LastingState* state, std::string* problem) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::path(path), ec) && !ec) return LoadResult::Missing;
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::string text;
    if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.is_open() || in.bad()) {
        *problem = "cannot be read";
        return LoadResult::Refused;
    }
    return ParseState(text, state, problem) ? LoadResult::Loaded : LoadResult::Refused;
}

bool SaveStateFile(const std::string& path, const SettingStore& settings, int panel, const StorageModel& storage,
                   std::string* problem) {
    const std::filesystem::path target = std::filesystem::path(path);
    std::filesystem::path temporary = target;
    temporary += ".tmp";
    const std::string text = FormatState(settings, panel, storage);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size())) || !out.flush()) {
            *problem = "cannot write " + temporary.string();
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, target, ec);
    if (ec) {
        *problem = "cannot rename " + temporary.string() + ": " + ec.message();
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return false;
    }
    return true;
}

}  // namespace trax::sim
