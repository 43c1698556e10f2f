// A driver for unit tests, linked in place of the real one: it records every
// request and answers from a script, falling back to a small cooperative
// controller (mode switches work, every command is accepted) when the script
// has nothing queued. It keeps the driver contract of driver/QelUsbDrv.h: a
// reply that does not fit fails the exchange, Action::Empty is the "no answer"
// of a zero reply length, and the entry points may run on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace trax::test {

using Bytes = std::vector<uint8_t>;

// A reply with a correct big-endian length field: code, error byte, three
// zero bytes, then the payload (which starts at byte 8).
Bytes MakeReply(uint8_t code, uint8_t error, const Bytes& payload = {});
// Same, padded with zero bytes to a total of `length` bytes.
Bytes MakeSizedReply(uint8_t code, uint8_t error, int length);
std::string Hex(const Bytes& bytes);

struct Action {
    enum Kind { Reply, Fail, NoAnswer, Overlong } kind = Reply;
    Bytes bytes;
    int delayMs = 0;
    // Runs on the I/O thread inside the exchange, before the delay.
    std::function<void()> before;
    static Action Answer(Bytes b, int delay = 0) { return Action{Reply, std::move(b), delay, nullptr}; }
    static Action Failure() { return Action{Fail, {}, 0, nullptr}; }
    // The exchange succeeds with zero reply bytes.
    static Action Empty() { return Action{Reply, {}, 0, nullptr}; }
    // The exchange succeeds but claims one byte more than the buffer holds.
    static Action TooLong() { return Action{Overlong, {}, 0, nullptr}; }
};

class ScriptedDriver {
public:
    static ScriptedDriver& Instance();

    // Back to defaults: start-up succeeds, nothing queued, measurement mode.
    void Reset();

    // Start-up results.
    long typeParamResult = 1;
    int initUsbResult = 1;
    int initPidResult = 1;
    int checkStatusResult = 1;

    // Queued actions are used in order, one per exchange, before the default
    // controller answers.
    void Queue(Action action);
    // The next exchange whose command code matches uses this action.
    void QueueFor(uint8_t code, Action action);
    // Every exchange with this command code uses this action from now on.
    void AlwaysFor(uint8_t code, Action action);

    std::vector<Bytes> Requests();
    std::vector<std::string> StartupCalls();
    int ExchangeCount();
    void ClearRecords();
    // Mode of the default controller: 0 measurement, 1 setting.
    int mode = 0;

    // Driver entry points forward here.
    long OnTypeParam(uint16_t productCode, const char* name, long modeArg);
    long OnSetUsbType(long type);
    int OnInitUsb(int32_t value, uint8_t flag, const char* name);
    int OnInitPid(int32_t value, uint8_t flag, unsigned short pid);
    int OnCheckStatus(long flags);
    unsigned long OnExchange(const uint8_t* request, unsigned long length, uint8_t* reply, unsigned long* replyLength);

private:
    Action DefaultAnswer(const Bytes& request);

    std::mutex mutex_;
    std::vector<Action> queue_;
    std::vector<std::pair<uint8_t, Action>> perCommand_;
    std::vector<std::pair<uint8_t, Action>> always_;
    std::vector<Bytes> requests_;
    std::vector<std::string> startupCalls_;
};

// Replaces the engine's limits with short ones for the life of the object.
class ShortEngineLimits {
public:
    explicit ShortEngineLimits(uint32_t replyWaitMs = 200, uint32_t busyLimitMs = 200);
    ~ShortEngineLimits();
};

}  // namespace trax::test
