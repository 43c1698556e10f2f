// The libFuzzer target of traxctl publish's message handling: a command
// topic's name and payload as a stranger on the broker sends them, against a
// fake controller. The first byte picks the command, the rest is the payload.
// Beyond what the sanitizers catch:
//   - RunCommand never throws, and its answer is valid JSON with a status;
//   - a refused command (4xx) reached the controller not once;
//   - the topic and response-topic checks and the metrics endpoint's request
//     reader take the same bytes without fault.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "publish/Commands.h"
#include "publish/MetricsEndpoint.h"
#include "tests/publish/FakeController.h"

namespace {

const char* const kCommands[] = {"settings", "settings-file", "settings-read", "zero",   "timing",
                                 "reset",    "storage-start", "storage-stop",  "unknown"};

[[noreturn]] void Broken(const char* what, const std::string& text) {
    std::fprintf(stderr, "publish fuzz: %s: %s\n", what, text.substr(0, 300).c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const char* name = kCommands[data[0] % (sizeof kCommands / sizeof kCommands[0])];
    const std::string payload(reinterpret_cast<const char*>(data + 1), size - 1);
    trax::publish::FakeController controller;
    controller.fail = (data[0] & 0x80) != 0;
    const trax::publish::CommandOutcome out = trax::publish::RunCommand(name, payload, controller);
    const std::string text = out.Text();
    const nlohmann::json answer = nlohmann::json::parse(text, nullptr, false);
    if (answer.is_discarded() || !answer.is_object() || !answer.contains("status")) Broken("answer", text);
    if (out.status >= 400 && out.status < 500 && !controller.calls.empty()) Broken("refused yet called", text);
    (void)trax::publish::CommandName("line/pc1", payload);
    (void)trax::publish::UsableResponseTopic(payload);
    (void)trax::publish::MetricsReply(payload, 9100, [] { return std::string("trax_up 1\n"); });
    return 0;
}
