#include "sim/SimController.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "sim/LightProfile.h"
#include "sim/StateFile.h"
#include "sim/WireFormat.h"

namespace trax::sim {
namespace {

enum class Belongs : uint8_t { Both, Measurement, Setting };

struct CommandSpec {
    uint8_t code;
    uint8_t requestLength;  // 0: variable (setting write, 7 bytes and more)
    Belongs mode;
};

// Every command the controller knows; anything else is an unknown command.
const CommandSpec kCommands[] = {
    {4, 4, Belongs::Both},         {6, 4, Belongs::Both},         {8, 0, Belongs::Setting},
    {10, 8, Belongs::Setting},     {12, 6, Belongs::Measurement}, {14, 6, Belongs::Measurement},
    {16, 5, Belongs::Measurement}, {20, 6, Belongs::Measurement}, {22, 4, Belongs::Measurement},
    {24, 6, Belongs::Measurement}, {26, 6, Belongs::Setting},     {34, 4, Belongs::Measurement},
    {36, 5, Belongs::Measurement}, {38, 4, Belongs::Measurement}, {40, 4, Belongs::Measurement},
    {42, 4, Belongs::Measurement}, {44, 4, Belongs::Measurement}, {46, 6, Belongs::Measurement},
};

constexpr size_t kMinimumWrite = kRequestHeaderLength + 3;  // category, head, item
constexpr size_t kMaximumWrite = kMinimumWrite + kMaxSettingData;
constexpr size_t kLightReplyLength = 22 + LightProfile::kPixels;  // 1046

const CommandSpec* FindCommand(uint8_t code) {
    for (const CommandSpec& c : kCommands) {
        if (c.code == code) return &c;
    }
    return nullptr;
}

std::vector<uint8_t> ErrorReply(uint8_t number) { return MakeReply(kReplyCodeError, number, kHeaderLength); }

// Header-only reply with the command's usual code: an acknowledgement (error 0)
// or a refusal (the error number), no payload.
std::vector<uint8_t> Answer(uint8_t code, uint8_t error) { return MakeReply(code + 1, error, kHeaderLength); }

// Reply with a result byte 8 = 0 ("done").
std::vector<uint8_t> Done(uint8_t code) { return MakeReply(code + 1, 0, kHeaderLength + 1); }

bool IsHeadByte(uint8_t b) { return b == 0 || b == 1 || b == setting::kNoHead; }

}  // namespace

SimController::SimController(const ControllerConfig& config) : config_(config), measurement_(config.seed) {
    if (!config_.stateFile.empty()) LoadState();
}

void SimController::LoadState() {
    LastingState loaded;
    std::string problem;
    switch (LoadStateFile(config_.stateFile, &loaded, &problem)) {
    case LoadResult::Missing:
        return;
    case LoadResult::Refused:
        stateProblem_ = "trax-sim: TRAX_SIM_STATE file '" + config_.stateFile + "': " + problem +
                        "; starting from the default state";
        std::fprintf(stderr, "%s\n", stateProblem_.c_str());
        return;
    case LoadResult::Loaded:
        settings_ = loaded.settings;
        panel_ = loaded.panel;
        storage_ = std::move(loaded.storage);
        return;
    }
}

void SimController::SaveState() {
    std::string problem;
    if (SaveStateFile(config_.stateFile, settings_, panel_, storage_, &problem)) {
        if (saveFailing_) stateProblem_.clear();
        saveFailing_ = false;
        return;
    }
    stateProblem_ = "trax-sim: TRAX_SIM_STATE: controller state not saved: " + problem;
    if (!saveFailing_) std::fprintf(stderr, "%s\n", stateProblem_.c_str());
    saveFailing_ = true;
}

int32_t SimController::Offset(int head) const {
    return settings_.Value(setting::kOutputCategory, static_cast<uint8_t>(head), setting::kOffset);
}

uint8_t SimController::DisplayUnit(int head) const {
    return static_cast<uint8_t>(
        settings_.Value(setting::kOutputCategory, static_cast<uint8_t>(head), setting::kDisplayUnit));
}

std::vector<uint8_t> SimController::Exchange(const uint8_t* request, size_t length) {
    lastingChanged_ = false;
    Reply reply = Handle(request, length);
    if (lastingChanged_ && !config_.stateFile.empty()) SaveState();
    return reply;
}

SimController::Reply SimController::Handle(const uint8_t* request, size_t length) {
    // The controller's storage clock runs on while the host is away; every
    // exchange stands for one such stretch.
    const uint32_t storageCount =
        static_cast<uint32_t>(settings_.Value(setting::kSystemCategory, 0, setting::kStorageCount));
    lastingChanged_ = storage_.Advance(
        config_.storageValuesPerExchange, storageCount,
        settings_.Value(setting::kSystemCategory, 0, setting::kStorageCycle),
        [this](int head, uint64_t sample) { return measurement_.ShownAt(head, sample, Offset(head)); });

    if (request == nullptr || length < kRequestHeaderLength || Get16(request) != length) {
        return ErrorReply(error::kLengthField);
    }
    if (request[2] != kMarker) return ErrorReply(error::kMarker);
    uint8_t code = request[3];
    const CommandSpec* command = FindCommand(code);
    if (command == nullptr) return ErrorReply(error::kUnknownCommand);
    bool lengthOk = command->requestLength != 0 ? length == command->requestLength
                                                : length >= kMinimumWrite && length <= kMaximumWrite;
    if (!lengthOk) return ErrorReply(error::kRequestLength);

    if (config_.errorCommand == code) return ErrorReply(static_cast<uint8_t>(config_.errorNumber));
    if (config_.busyCommand == code) return MakeReply(kReplyCodeBusy, 0, kHeaderLength);

    bool inSetting = mode_ == Mode::Setting;
    if ((command->mode == Belongs::Measurement && inSetting) || (command->mode == Belongs::Setting && !inSetting)) {
        return Answer(code, error::kWrongMode);
    }
    return Dispatch(code, request, length);
}

SimController::Reply SimController::Dispatch(uint8_t code, const uint8_t* request, size_t length) {
    switch (code) {
    case 4:
        if (ableRunning_) return Answer(code, error::kWrongMode);
        mode_ = Mode::Measurement;
        return Answer(code, 0);
    case 6:
        mode_ = Mode::Setting;
        return Answer(code, 0);
    case 8:
        return WriteSetting(request, length);
    case 10:
        return ReadSetting(request);
    case 12:
    case 14:
    case 16:
        return HeadAction(code, request);
    case 20:
        return MeasuredValues(request);
    case 22:
        return PanelState();
    case 24:
        return LightIntensity(request);
    case 26:
        // In setting mode the probe is answered, unless the Able adjustment holds it.
        return Answer(code, ableRunning_ ? error::kWrongMode : 0);
    case 34:
        storage_.Init();
        lastingChanged_ = true;
        return Answer(code, 0);
    case 36:
        return StorageData(request);
    case 38:
        storage_.Start(measurement_.Now());
        lastingChanged_ = true;
        return Answer(code, 0);
    case 40:
        storage_.Stop();
        lastingChanged_ = true;
        return Answer(code, 0);
    case 42:
        return Status();
    case 44:
        measurement_.ClearFigures();
        return Answer(code, 0);
    case 46:
        return FigureData(request);
    default:
        return ErrorReply(error::kUnknownCommand);
    }
}

SimController::Reply SimController::WriteSetting(const uint8_t* request, size_t length) {
    uint8_t category = request[4], head = request[5], item = request[6];
    const uint8_t* data = request + 7;
    size_t dataLength = length - 7;

    if (category == setting::kHeadCategory &&
        (item == setting::kAbleStart || item == setting::kAbleStop || item == setting::kAbleCancel)) {
        if (dataLength != 0) return Answer(8, error::kSettingLength);
        if (item == setting::kAbleStart) {
            if (head > 1) return Answer(8, error::kSettingAddress);
            if (ableRunning_) return Answer(8, error::kState);
            ableRunning_ = true;
        } else {
            if (!IsHeadByte(head)) return Answer(8, error::kSettingAddress);
            ableRunning_ = false;
        }
        return Done(8);
    }
    uint8_t result = settings_.Write(category, head, item, data, dataLength);
    if (result == 0) lastingChanged_ = true;
    return result == 0 ? Done(8) : Answer(8, result);
}

SimController::Reply SimController::ReadSetting(const uint8_t* request) {
    std::vector<uint8_t> data;
    uint8_t result = settings_.Read(request[4], request[5], request[6], &data);
    if (result != 0) return Answer(10, result);
    Reply reply = MakeReply(11, 0, kHeaderLength + data.size());
    std::copy(data.begin(), data.end(), reply.begin() + kHeaderLength);
    return reply;
}

SimController::Reply SimController::HeadAction(uint8_t code, const uint8_t* request) {
    // 12 zero and 14 timing: byte 4 on/off, byte 5 head; 16 reset: byte 4 head.
    uint8_t head = code == 16 ? request[4] : request[5];
    uint8_t onOff = code == 16 ? 1 : request[4];
    if (!IsHeadByte(head) || onOff > 1) return Answer(code, error::kParameter);
    for (int h = 0; h < 2; ++h) {
        if (head != setting::kNoHead && head != h) continue;
        if (code == 12) measurement_.SetZero(h, onOff == 1, Offset(h));
        if (code == 14) measurement_.SetHold(h, onOff == 1, Offset(h));
        if (code == 16) measurement_.Reset(h);
    }
    return Done(code);
}

SimController::Reply SimController::MeasuredValues(const uint8_t* request) {
    uint8_t panelFlag = request[4], head = request[5];
    if (panelFlag > 1 || !IsHeadByte(head)) return Answer(20, error::kParameter);
    int32_t offsets[2] = {Offset(0), Offset(1)};
    int32_t values[2];
    if (panelFlag == 1) {
        int panel = head == 0 ? 1 : head == 1 ? 2 : 3;
        if (panel != panel_) lastingChanged_ = true;
        panel_ = panel;
        values[0] = measurement_.Shown(0, offsets[0]);
        values[1] = measurement_.Shown(1, offsets[1]);
    } else {
        measurement_.Read(offsets, values);
    }
    Reply reply = MakeReply(21, 0, 20);
    reply[10] = static_cast<uint8_t>((DisplayUnit(0) << 4) | (DisplayUnit(1) & 0x0F));
    reply[11] = UnitSystem();
    PutSigned32(&reply[12], values[0]);
    PutSigned32(&reply[16], values[1]);
    return reply;
}

SimController::Reply SimController::PanelState() {
    Reply reply = MakeReply(23, 0, 28);
    reply[9] = static_cast<uint8_t>(panel_ << 2);
    PutSigned32(&reply[12], measurement_.Shown(0, Offset(0)));
    PutSigned32(&reply[16], measurement_.Shown(1, Offset(1)));
    PutSigned32(&reply[20], settings_.Value(setting::kPanelLockCategory, 0, setting::kPanelLock));
    PutSigned32(&reply[24], settings_.Value(setting::kProgramCategory, 0, setting::kProgramNo));
    return reply;
}

SimController::Reply SimController::LightIntensity(const uint8_t* request) {
    uint8_t head = request[4], selector = request[5];
    if (head > 1 || selector > 3) return Answer(24, error::kParameter);
    LightProfile p = MakeLightProfile(head, selector, measurement_.Signal(head, measurement_.Now()), config_.seed,
                                      measurement_.Now());
    Reply reply = MakeReply(25, 0, kLightReplyLength);
    Put16(&reply[10], p.extra);
    Put16(&reply[12], p.litPixels);
    for (size_t i = 0; i < 4; ++i) Put16(&reply[14 + 2 * i], p.light[i]);
    std::copy(p.samples, p.samples + LightProfile::kPixels, reply.begin() + 22);
    return reply;
}

SimController::Reply SimController::StorageData(const uint8_t* request) {
    uint8_t head = request[4];
    if (head > 1) return Answer(36, error::kParameter);
    const std::vector<int32_t>& values = storage_.Values(head);
    Reply reply = MakeReply(37, 0, 16 + 4 * values.size());
    reply[8] = DisplayUnit(head);
    reply[9] = UnitSystem();
    Put32(&reply[12], static_cast<uint32_t>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) PutSigned32(&reply[16 + 4 * i], values[i]);
    return reply;
}

SimController::Reply SimController::Status() {
    Reply reply = MakeReply(43, 0, 20);
    Put32(&reply[8], storage_.Count(0));
    Put32(&reply[12], storage_.Count(1));
    reply[16] = storage_.Storing() ? 1 : 0;
    return reply;
}

SimController::Reply SimController::FigureData(const uint8_t* request) {
    uint8_t head = request[4];
    if (head > 1) return Answer(46, error::kParameter);
    FigureRecord f = measurement_.Figures(head, Offset(head));
    Reply reply = MakeReply(47, 0, 60);
    reply[10] = DisplayUnit(head);
    reply[11] = UnitSystem();
    for (size_t i = 0; i < 7; ++i) PutSigned32(&reply[16 + 4 * i], f.values[i]);
    for (size_t i = 0; i < 4; ++i) PutSigned32(&reply[44 + 4 * i], f.integers[i]);
    return reply;
}

}  // namespace trax::sim
