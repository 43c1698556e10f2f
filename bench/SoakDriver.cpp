// Driver entry points of the soak: every exchange goes to one simulated
// controller, after a random pause outside the lock.
#include "bench/SoakDriver.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "driver/QelUsbDrv.h"
#include "driver/ReadyStartup.h"
#include "sim/SimController.h"
#include "sim/SimSleep.h"

namespace trax::soak {
namespace {

std::mutex mutex;  // guards the controller, the draws and the link
std::unique_ptr<sim::SimController> controller;
std::mt19937_64 draws;
SoakLink link;
std::atomic<uint64_t> exchanges{0};
std::atomic<uint64_t> faults{0};

}  // namespace

void ConfigureLink(const SoakLink& configured) {
    std::lock_guard<std::mutex> guard(mutex);
    link = configured;
    draws.seed(link.seed);
    controller.reset(new sim::SimController());
}

uint64_t ExchangeTotal() { return exchanges.load(); }
uint64_t InjectedFaultTotal() { return faults.load(); }

}  // namespace trax::soak

using namespace trax::soak;

extern "C" {
unsigned long QelUsbPtrIoPtr(unsigned char* request, unsigned long requestLength, unsigned char* reply,
                             unsigned long* replyLength) {
    uint32_t pause = 0;
    uint32_t draw = 0;
    {
        std::lock_guard<std::mutex> guard(mutex);
        pause = link.maxLatencyUs == 0 ? 0 : static_cast<uint32_t>(draws() % (link.maxLatencyUs + 1));
        draw = static_cast<uint32_t>(draws() % 1000000);
    }
    trax::sim::SleepMicroseconds(pause);

    std::lock_guard<std::mutex> guard(mutex);
    exchanges.fetch_add(1);
    if (draw < link.lostPerMillion) {
        faults.fetch_add(1);
        return 0;
    }
    if (draw < link.lostPerMillion + link.refusedPerMillion) {
        faults.fetch_add(1);
        const uint8_t refusal[8] = {0, 8, 7, 255, 3, 0, 0, 0};
        std::memcpy(reply, refusal, sizeof refusal);
        *replyLength = sizeof refusal;
        return 1;
    }
    std::vector<uint8_t> answer = controller->Exchange(request, requestLength);
    if (answer.size() > *replyLength) return 0;
    std::memcpy(reply, answer.data(), answer.size());
    *replyLength = static_cast<unsigned long>(answer.size());
    return 1;
}
}
