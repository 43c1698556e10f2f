#include "tests/fault/FaultDriver.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "driver/QelUsbDrv.h"
#include "driver/ReadyStartup.h"
#include "platform/Platform.h"
#include "protocol/Command.h"
#include "sim/SimController.h"

namespace trax::fault {
namespace {

// The I/O thread runs the exchanges while the test thread plans and resets
// between calls; one mutex guards everything.
std::mutex mutex;
std::unique_ptr<sim::SimController> controller;
int exchanges = 0;
int plannedIndex = -1;
Fault plannedFault = Fault::None;
int spoiltCommand = -1;

int waitsStarted = 0;  // transactions that started their wait since the plan
std::condition_variable waitStarted;

constexpr uint32_t kSweepWaitMs = 2000;
constexpr uint32_t kLateWaitMs = 30;
constexpr auto kLateAnswerFallback = std::chrono::milliseconds(500);

constexpr uint8_t kErrorReplyCode = 255;
constexpr uint8_t kInjectedErrorNumber = 3;
constexpr uint8_t kShortReplyLength = 4;

}  // namespace

void ResetController() {
    std::lock_guard<std::mutex> guard(mutex);
    controller.reset(new sim::SimController());
    exchanges = 0;
    plannedIndex = -1;
    plannedFault = Fault::None;
    spoiltCommand = -1;
}

void PlanFault(int index, Fault fault) {
    std::lock_guard<std::mutex> guard(mutex);
    exchanges = 0;
    waitsStarted = 0;
    plannedIndex = index;
    plannedFault = fault;
    spoiltCommand = -1;
}

int ExchangeCount() {
    std::lock_guard<std::mutex> guard(mutex);
    return exchanges;
}

int SpoiltCommand() {
    std::lock_guard<std::mutex> guard(mutex);
    return spoiltCommand;
}

namespace {

// Runs on the calling thread right before each wait, so the limit it sets
// is the one that wait uses.
uint64_t SweepClock() {
    bool lateWait = false;
    {
        std::lock_guard<std::mutex> guard(mutex);
        ++waitsStarted;
        lateWait = plannedFault == Fault::LateReply && waitsStarted == plannedIndex + 1;
    }
    waitStarted.notify_all();
    protocol::EngineTiming timing{&SweepClock, lateWait ? kLateWaitMs : kSweepWaitMs, kSweepWaitMs};
    protocol::SetEngineTiming(timing);
    return platform::NowMilliseconds();
}

}  // namespace

void UseSweepTiming() { protocol::SetEngineTiming(protocol::EngineTiming{&SweepClock, kSweepWaitMs, kSweepWaitMs}); }

}  // namespace trax::fault

using namespace trax::fault;

extern "C" {
unsigned long QelUsbPtrIoPtr(unsigned char* request, unsigned long requestLength, unsigned char* reply,
                             unsigned long* replyLength) {
    std::unique_lock<std::mutex> guard(mutex);
    if (!controller) controller.reset(new trax::sim::SimController());
    const Fault fault = exchanges++ == plannedIndex ? plannedFault : Fault::None;
    if (fault != Fault::None) spoiltCommand = requestLength > 3 ? request[3] : 0;
    if (fault == Fault::LostRequest) return 0;
    if (fault == Fault::ErrorReply) {
        const uint8_t refusal[8] = {0, 8, 7, kErrorReplyCode, kInjectedErrorNumber, 0, 0, 0};
        std::memcpy(reply, refusal, sizeof refusal);
        *replyLength = sizeof refusal;
        return 1;
    }
    std::vector<uint8_t> answer = controller->Exchange(request, requestLength);
    if (fault == Fault::LostReply) return 0;
    if (fault == Fault::LateReply) {
        // Until the transaction after the late one starts its wait.
        waitStarted.wait_for(guard, kLateAnswerFallback, [] { return waitsStarted >= plannedIndex + 2; });
    }
    if (fault == Fault::ShortReply && answer.size() > kShortReplyLength) {
        // Consistent in itself (the length field says 4), so the engine takes
        // it; what reads it must notice that the error byte never came.
        answer.resize(kShortReplyLength);
        answer[0] = 0;
        answer[1] = kShortReplyLength;
    }
    if (answer.size() > *replyLength) return 0;
    std::memcpy(reply, answer.data(), answer.size());
    *replyLength = static_cast<unsigned long>(answer.size());
    return 1;
}
}
