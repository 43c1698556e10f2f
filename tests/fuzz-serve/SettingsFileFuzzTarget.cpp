// libFuzzer target over settings files: parse and check, the way traxctl
// settings load and POST /api/settings-file read them. Oracle: nothing
// crashes; a refusal is short, UTF-8 and names where (a key path, or a line
// and column); a file that is accepted writes back as one that reads the same.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "client/SettingsFile.h"

namespace tc = trax::client;

namespace {

[[noreturn]] void Broken(const char* what, const std::string& detail) {
    std::fprintf(stderr, "oracle: %s: %.300s\n", what, detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    tc::SettingsDocument doc;
    try {
        doc = tc::ParseSettings(text);
    } catch (const tc::SettingsFileError& e) {
        if (e.message.empty() || e.message.size() > 600) Broken("a refusal too long or empty", e.message);
        // A JSON string of it must dump: the message is UTF-8.
        try {
            (void)nlohmann::json(e.message).dump();
        } catch (const nlohmann::json::exception&) {
            Broken("a refusal that is not UTF-8", e.message);
        }
        // Where: a key path or a line and column, or the file as a whole.
        if (e.message.find(": ") == std::string::npos && e.message != "a JSON object is expected")
            Broken("a refusal that does not say where", e.message);
        return 0;
    }
    const std::string written = tc::SettingsJson(doc);
    tc::SettingsDocument again;
    try {
        again = tc::ParseSettings(written);
    } catch (const tc::SettingsFileError& e) {
        Broken("a file written from an accepted one is refused", e.message);
    }
    if (!tc::DiffSettings(doc, again).empty() || again.program != doc.program) Broken("a round trip changed", written);
    return 0;
}
