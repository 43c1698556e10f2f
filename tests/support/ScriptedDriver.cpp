#include "tests/support/ScriptedDriver.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "driver/QelUsbDrv.h"
#include "protocol/Command.h"

namespace trax::test {

Bytes MakeReply(uint8_t code, uint8_t error, const Bytes& payload) {
    const size_t total = 8 + payload.size();
    Bytes reply(total, 0);
    reply[0] = static_cast<uint8_t>(total >> 8);
    reply[1] = static_cast<uint8_t>(total & 0xFF);
    reply[2] = 7;
    reply[3] = code;
    reply[4] = error;
    for (size_t i = 0; i < payload.size(); ++i) reply[8 + i] = payload[i];
    return reply;
}

Bytes MakeSizedReply(uint8_t code, uint8_t error, int length) {
    return MakeReply(code, error, Bytes(static_cast<size_t>(length > 8 ? length - 8 : 0), 0));
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    char buffer[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += buffer;
    }
    return text;
}

ScriptedDriver& ScriptedDriver::Instance() {
    static ScriptedDriver driver;
    return driver;
}

void ScriptedDriver::Reset() {
    std::lock_guard<std::mutex> guard(mutex_);
    typeParamResult = 1;
    initUsbResult = 1;
    initPidResult = 1;
    checkStatusResult = 1;
    mode = 0;
    queue_.clear();
    perCommand_.clear();
    always_.clear();
    requests_.clear();
    startupCalls_.clear();
}

void ScriptedDriver::Queue(Action action) {
    std::lock_guard<std::mutex> guard(mutex_);
    queue_.push_back(std::move(action));
}

void ScriptedDriver::QueueFor(uint8_t code, Action action) {
    std::lock_guard<std::mutex> guard(mutex_);
    perCommand_.emplace_back(code, std::move(action));
}

void ScriptedDriver::AlwaysFor(uint8_t code, Action action) {
    std::lock_guard<std::mutex> guard(mutex_);
    always_.emplace_back(code, std::move(action));
}

std::vector<Bytes> ScriptedDriver::Requests() {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
}

std::vector<std::string> ScriptedDriver::StartupCalls() {
    std::lock_guard<std::mutex> guard(mutex_);
    return startupCalls_;
}

int ScriptedDriver::ExchangeCount() {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(requests_.size());
}

void ScriptedDriver::ClearRecords() {
    std::lock_guard<std::mutex> guard(mutex_);
    requests_.clear();
    startupCalls_.clear();
}

long ScriptedDriver::OnTypeParam(uint16_t productCode, const char* name, long modeArg) {
    std::lock_guard<std::mutex> guard(mutex_);
    startupCalls_.push_back("InitQelUsbTypeParam(" + std::to_string(productCode) + "," + name + "," +
                            std::to_string(modeArg) + ")");
    return typeParamResult;
}

long ScriptedDriver::OnSetUsbType(long type) {
    std::lock_guard<std::mutex> guard(mutex_);
    startupCalls_.push_back("SetUsbType(" + std::to_string(type) + ")");
    return 0;
}

int ScriptedDriver::OnInitUsb(int32_t value, uint8_t flag, const char* name) {
    std::lock_guard<std::mutex> guard(mutex_);
    startupCalls_.push_back("InitUsb(" + std::to_string(value) + "," + std::to_string(flag) + "," + name + ")");
    return initUsbResult;
}

int ScriptedDriver::OnInitPid(int32_t value, uint8_t flag, unsigned short pid) {
    std::lock_guard<std::mutex> guard(mutex_);
    startupCalls_.push_back("InitPid(" + std::to_string(value) + "," + std::to_string(flag) + "," +
                            std::to_string(pid) + ")");
    return initPidResult;
}

// Runs on the I/O thread, so the result is read under the lock like every
// other scripted value.
int ScriptedDriver::OnCheckStatus(long /*flags*/) {
    std::lock_guard<std::mutex> guard(mutex_);
    return checkStatusResult;
}

Action ScriptedDriver::DefaultAnswer(const Bytes& request) {
    const uint8_t code = request.size() > 3 ? request[3] : 0;
    const uint8_t replyCode = static_cast<uint8_t>(code + 1);
    switch (code) {
    case protocol::CmdMeasureMode:
        mode = 0;
        return Action::Answer(MakeSizedReply(replyCode, 0, 8));
    case protocol::CmdSettingMode:
        mode = 1;
        return Action::Answer(MakeSizedReply(replyCode, 0, 8));
    case protocol::CmdStatus:
        return Action::Answer(MakeSizedReply(replyCode, mode == 1 ? 5 : 0, 20));
    case protocol::CmdProbeSettingMode:
        return Action::Answer(MakeSizedReply(replyCode, mode == 1 ? 0 : 5, 8));
    case protocol::CmdWriteSetting:
        return Action::Answer(MakeSizedReply(replyCode, mode == 1 ? 0 : 5, 12));
    case protocol::CmdReadSetting:
        // Setting data long enough for every field a getter reads.
        return Action::Answer(MakeReply(replyCode, mode == 1 ? 0 : 5, Bytes(48, '0')));
    case protocol::CmdCalcData:
        return Action::Answer(MakeSizedReply(replyCode, 0, 20));
    case protocol::CmdPanel:
        return Action::Answer(MakeSizedReply(replyCode, 0, 28));
    case protocol::CmdLight:
        return Action::Answer(MakeSizedReply(replyCode, 0, 1046));
    case protocol::CmdFigureData:
        return Action::Answer(MakeSizedReply(replyCode, 0, 60));
    case protocol::CmdStorageData:
        return Action::Answer(MakeSizedReply(replyCode, 0, 16));
    default:
        return Action::Answer(MakeSizedReply(replyCode, 0, 12));
    }
}

unsigned long ScriptedDriver::OnExchange(const uint8_t* request, unsigned long length, uint8_t* reply,
                                         unsigned long* replyLength) {
    Action action;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        Bytes bytes(request, request + length);
        requests_.push_back(bytes);
        const uint8_t code = bytes.size() > 3 ? bytes[3] : 0;
        bool found = false;
        for (auto it = perCommand_.begin(); it != perCommand_.end(); ++it) {
            if (it->first == code) {
                action = it->second;
                perCommand_.erase(it);
                found = true;
                break;
            }
        }
        if (!found) {
            for (const auto& entry : always_) {
                if (entry.first == code) {
                    action = entry.second;
                    found = true;
                    break;
                }
            }
        }
        if (!found && !queue_.empty()) {
            action = queue_.front();
            queue_.erase(queue_.begin());
            found = true;
        }
        if (!found) action = DefaultAnswer(bytes);
    }
    if (action.before) action.before();
    if (action.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(action.delayMs));
    if (action.kind == Action::Fail) return 0;
    if (action.kind == Action::Overlong) {
        *replyLength += 1;
        return 1;
    }
    if (action.kind == Action::NoAnswer) {
        *replyLength = 0;
        return 1;
    }
    if (action.bytes.size() > *replyLength) return 0;
    if (!action.bytes.empty()) std::memcpy(reply, action.bytes.data(), action.bytes.size());
    *replyLength = static_cast<unsigned long>(action.bytes.size());
    return 1;
}

ShortEngineLimits::ShortEngineLimits(uint32_t replyWaitMs, uint32_t busyLimitMs) {
    protocol::EngineTiming timing = protocol::DefaultEngineTiming();
    timing.replyWaitMs = replyWaitMs;
    timing.busyLimitMs = busyLimitMs;
    protocol::SetEngineTiming(timing);
}

ShortEngineLimits::~ShortEngineLimits() { protocol::SetEngineTiming(protocol::DefaultEngineTiming()); }

}  // namespace trax::test

using trax::test::ScriptedDriver;

extern "C" {
long InitQelUsbTypeParam(sQELUSBTYPEPARAM* param, long mode) {
    return ScriptedDriver::Instance().OnTypeParam(param->productCode, param->deviceName, mode);
}
long SetUsbType(long type) { return ScriptedDriver::Instance().OnSetUsbType(type); }
int InitUsb(sUSBPARAM param, const char* deviceName) {
    return ScriptedDriver::Instance().OnInitUsb(param.value, param.flag, deviceName);
}
int InitPid(sUSBPARAM param, unsigned short productCode) {
    return ScriptedDriver::Instance().OnInitPid(param.value, param.flag, productCode);
}
int CheckUsbDllStatus(long flags) { return ScriptedDriver::Instance().OnCheckStatus(flags); }
unsigned long QelUsbPtrIoPtr(unsigned char* request, unsigned long requestLength, unsigned char* reply,
                             unsigned long* replyLength) {
    return ScriptedDriver::Instance().OnExchange(request, requestLength, reply, replyLength);
}
}
