#include "tests/fuzz/FuzzDriver.h"

#include <cstring>
#include <memory>
#include <mutex>

#include "driver/QelUsbDrv.h"
#include "driver/ReadyStartup.h"
#include "sim/SimController.h"

namespace trax::fuzz {
namespace {

// The fuzzing thread sets the source between calls; the call's I/O thread
// reads it during the call. The mutex orders the two.
std::mutex mutex;
FuzzInput* input = nullptr;
std::vector<uint8_t>* recording = nullptr;
std::unique_ptr<sim::SimController> controller;

constexpr uint8_t kMarker = 7;

std::vector<uint8_t> Framed(uint8_t code, uint8_t error, const std::vector<uint8_t>& payload) {
    const size_t total = 8 + payload.size();
    std::vector<uint8_t> reply(total, 0);
    // The 16-bit length field says what it can; a longer reply (a storage
    // read) carries its low bits, as the controller's does.
    reply[0] = static_cast<uint8_t>((total >> 8) & 0xFF);
    reply[1] = static_cast<uint8_t>(total & 0xFF);
    reply[2] = kMarker;
    reply[3] = code;
    reply[4] = error;
    if (!payload.empty()) std::memcpy(reply.data() + 8, payload.data(), payload.size());
    return reply;
}

// Caller holds the mutex. The reply as the input describes it, or false for
// a lost exchange.
bool AnswerFromInput(uint8_t requestCode, std::vector<uint8_t>* answer) {
    if (input == nullptr || input->Empty()) return false;
    const uint8_t kind = input->Byte() % 4;
    if (kind == AnswerLost) return false;
    if (kind == AnswerRaw) {
        *answer = input->Bytes(input->Word());
        return true;
    }
    const uint8_t code = kind == AnswerCoded ? input->Byte() : static_cast<uint8_t>(requestCode + 1);
    const uint8_t error = input->Byte();
    *answer = Framed(code, error, input->Bytes(input->Word()));
    return true;
}

void AppendRaw(const std::vector<uint8_t>& reply) {
    recording->push_back(AnswerRaw);
    recording->push_back(static_cast<uint8_t>(reply.size() >> 8));
    recording->push_back(static_cast<uint8_t>(reply.size() & 0xFF));
    recording->insert(recording->end(), reply.begin(), reply.end());
}

}  // namespace

void AnswerFrom(FuzzInput* source) {
    std::lock_guard<std::mutex> guard(mutex);
    input = source;
    recording = nullptr;
}

void Record(std::vector<uint8_t>* answers) {
    std::lock_guard<std::mutex> guard(mutex);
    input = nullptr;
    recording = answers;
    controller.reset(new sim::SimController());
}

}  // namespace trax::fuzz

using namespace trax::fuzz;

extern "C" {
unsigned long QelUsbPtrIoPtr(unsigned char* request, unsigned long requestLength, unsigned char* reply,
                             unsigned long* replyLength) {
    std::lock_guard<std::mutex> guard(mutex);
    std::vector<uint8_t> answer;
    if (recording != nullptr) {
        answer = controller->Exchange(request, requestLength);
        // Only replies that fit the raw encoding's 16-bit length are written down.
        if (answer.size() > 0xFFFF) return 0;
        AppendRaw(answer);
    } else if (!AnswerFromInput(requestLength > 3 ? request[3] : 0, &answer)) {
        return 0;
    }
    if (answer.size() > *replyLength) return 0;
    if (!answer.empty()) std::memcpy(reply, answer.data(), answer.size());
    *replyLength = static_cast<unsigned long>(answer.size());
    return 1;
}
}
