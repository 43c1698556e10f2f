#include "protocol/Command.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "driver/UsbDriver.h"
#include "record/Recording.h"
#include "trace/Trace.h"

// In the fuzzing build the bytes of a reply record past what the last reply
// filled are made unreadable, so AddressSanitizer reports any decoder that
// reads beyond what arrived (one byte of slack: a text field's terminator may
// be written just past the received bytes).
#if defined(TRAX_FUZZ_REPLY_POISON)
#include <sanitizer/asan_interface.h>
#define TRAX_REPLY_READABLE(data, size) ASAN_UNPOISON_MEMORY_REGION(data, size)
#define TRAX_REPLY_UNREADABLE(data, size) ASAN_POISON_MEMORY_REGION(data, size)
#else
#define TRAX_REPLY_READABLE(data, size) ((void)(data), (void)(size))
#define TRAX_REPLY_UNREADABLE(data, size) ((void)(data), (void)(size))
#endif

namespace trax::protocol {

namespace {

constexpr uint8_t kPacketMarker = 7;
constexpr int32_t kOrdinaryReplyMax = 1046;
constexpr int32_t kStorageReplyMax = 262164;
constexpr int32_t kMaxPacketLength = session::kSessionSendCapacity;

constexpr int kReplyCodeBusy = 68;
constexpr int kReplyCodeError = 255;
constexpr int kNoReply = 70;

// Error byte value meaning "the controller is in the other operating mode".
constexpr uint8_t kErrorOtherMode = 5;

// One row per command the library sends. A request length of 0 marks the
// setting write, whose length depends on its data.
struct CommandInfo {
    uint8_t code;
    uint8_t requestLength;
    uint8_t replyCode;
    int32_t replyMax;
    int32_t noLengthCheck;  // 1: the received count is not compared with the length field
};

constexpr CommandInfo kCommandTable[] = {
    {CmdMeasureMode, 4, 5, kOrdinaryReplyMax, 0},
    {CmdSettingMode, 4, 7, kOrdinaryReplyMax, 0},
    {CmdWriteSetting, 0, 9, kOrdinaryReplyMax, 0},
    {CmdReadSetting, 8, 11, kOrdinaryReplyMax, 0},
    {CmdZero, 6, 13, kOrdinaryReplyMax, 0},
    {CmdTiming, 6, 15, kOrdinaryReplyMax, 0},
    {CmdReset, 5, 17, kOrdinaryReplyMax, 0},
    {CmdCalcData, 6, 21, kOrdinaryReplyMax, 0},
    {CmdPanel, 4, 23, kOrdinaryReplyMax, 0},
    {CmdLight, 6, 25, kOrdinaryReplyMax, 0},
    {CmdProbeSettingMode, 6, 27, kOrdinaryReplyMax, 0},
    {CmdStorageInit, 4, 35, kOrdinaryReplyMax, 0},
    // The storage reply can be longer than its 16-bit length field can say.
    {CmdStorageData, 5, 37, kStorageReplyMax, 1},
    {CmdStorageStart, 4, 39, kOrdinaryReplyMax, 0},
    {CmdStorageStop, 4, 41, kOrdinaryReplyMax, 0},
    {CmdStatus, 4, 43, kOrdinaryReplyMax, 0},
    {CmdFigureClear, 4, 45, kOrdinaryReplyMax, 0},
    {CmdFigureData, 6, 47, kOrdinaryReplyMax, 0},
};

uint8_t replyBufferBytes[kReplyRecordSize];
Reply replyBuffer TRAX_GUARDED_BY(session::callLock){replyBufferBytes, kReplyRecordSize, 0};

// At least the storage reply maximum, rounded up to whole 32-bit slots.
uint8_t storageReplyBytes[kStorageReplyMax + 4];
Reply storageReply TRAX_GUARDED_BY(session::callLock){storageReplyBytes, kStorageReplyMax + 4, 0};

EngineTiming engineTiming = DefaultEngineTiming();

const CommandInfo* FindCommand(uint8_t code) {
    for (const CommandInfo& info : kCommandTable) {
        if (info.code == code) return &info;
    }
    return nullptr;
}

}  // namespace

uint16_t Reply::U16(int32_t offset) const {
    uint16_t value;
    std::memcpy(&value, data + offset, sizeof value);
    return value;
}

uint32_t Reply::U32(int32_t offset) const {
    uint32_t value;
    std::memcpy(&value, data + offset, sizeof value);
    return value;
}

// Stack memory must be readable again when its frame is reused.
LocalReply::~LocalReply() { TRAX_REPLY_READABLE(bytes, sizeof bytes); }

Reply& ReplyBuffer() { return replyBuffer; }
Reply& StorageReply() { return storageReply; }

uint16_t Swap16(uint16_t value) { return static_cast<uint16_t>((value >> 8) | (value << 8)); }

uint32_t Swap32(uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) | (value << 24);
}

void SwapField16(Reply& reply, int32_t offset) {
    const uint16_t value = Swap16(reply.U16(offset));
    std::memcpy(reply.data + offset, &value, sizeof value);
}

void SwapField32(Reply& reply, int32_t offset) {
    const uint32_t value = Swap32(reply.U32(offset));
    std::memcpy(reply.data + offset, &value, sizeof value);
}

void BuildHeader(uint8_t* packet, uint8_t code, uint16_t length) {
    packet[0] = static_cast<uint8_t>(length >> 8);
    packet[1] = static_cast<uint8_t>(length & 0xFF);
    packet[2] = kPacketMarker;
    packet[3] = code;
}

uint8_t HeadToWire(int32_t head) { return head == 2 ? 0xFF : static_cast<uint8_t>(head); }

EngineTiming DefaultEngineTiming() { return EngineTiming{&platform::NowMilliseconds, 10000, 10000}; }

void SetEngineTiming(const EngineTiming& timing) { engineTiming = timing; }

namespace {

void SwapReplyLength(uint8_t* record) {
    uint16_t length;
    std::memcpy(&length, record, sizeof length);
    length = Swap16(length);
    std::memcpy(record, &length, sizeof length);
}

int SendPacket(session::DeviceSession& session, const uint8_t* packet, int32_t length) {
    trace::OnRequest(packet, length);
    return session.Send(packet, length);
}

// *took: how many bytes this read took into the record (0: none, the record
// still holds an earlier reply).
int ReadReply(session::DeviceSession& session, Reply& reply, int32_t noLengthCheck, int32_t replyMax, int32_t* took) {
    uint32_t taken = 0;
    *took = 0;
    TRAX_REPLY_READABLE(reply.data, static_cast<size_t>(reply.size));
    if (session.Receive(reply.data, replyMax, 0, &taken) != 1 || taken == 0) return kNoReply;
    *took = static_cast<int32_t>(taken);
    // From here on the record holds this reply, whatever it turns out to be.
    reply.received = static_cast<int32_t>(taken);
    trace::OnReply(reply.data, reply.received);
    if (reply.received + 1 < reply.size) {
        TRAX_REPLY_UNREADABLE(reply.data + reply.received + 1, static_cast<size_t>(reply.size - reply.received - 1));
    }
    if (taken < 4) {
        trace::NoteMalformedReply(-1, reply.data, reply.received);
        return kNoReply;
    }
    SwapReplyLength(reply.data);
    if (noLengthCheck != 1 && taken != reply.U16(0)) {
        // The bytes taken are dropped; the wait for a proper reply goes on.
        // What the controller sends can be wrong without any fault of the
        // library, so this is a reason in the trace log, not an assertion.
        trace::NoteMalformedReply(reply.U16(0), reply.data, reply.received);
        return kNoReply;
    }
    return reply.data[3];
}

// The recording's line of one exchange: what the reply record still holds of
// it and, when it failed, what the channel had queued beyond that (dropped
// by the purge that follows).
void Record(session::DeviceSession& session, const uint8_t* request, int32_t length, uint64_t startUs,
            record::Ending ending, const Reply& reply, int32_t pendingTake, bool succeeded) {
    static std::vector<uint8_t> leftover;
    uint32_t unread = 0;
    if (!succeeded) {
        leftover.resize(static_cast<size_t>(session::kSessionReceiveCapacity));
        if (session.Receive(leftover.data(), session::kSessionReceiveCapacity, 1, &unread) != 1) unread = 0;
    }
    record::Exchange exchange{};
    exchange.request = request;
    exchange.requestLength = length;
    exchange.startUs = startUs;
    exchange.ending = ending;
    exchange.lastTake = pendingTake > 0 ? reply.data : nullptr;
    exchange.lastTakeLength = pendingTake;
    exchange.lastTakeLengthSwapped = pendingTake >= 4;
    exchange.leftover = leftover.data();
    exchange.leftoverLength = static_cast<int32_t>(unread);
    record::Write(exchange);
}

int Transact(session::DeviceSession& session, const uint8_t* packet, int32_t length, Reply& reply, int32_t replyMax,
             int32_t expectedCode, int32_t noLengthCheck) {
    const platform::LockHandle transactionLock = session.TransactionLock();
    if (!platform::TakeLock(transactionLock)) {
        TRAX_ASSERT_FAILED();
        return 0;
    }
    if (replyMax > reply.size) {
        TRAX_ASSERT_FAILED();
        replyMax = reply.size;
    }
    uint8_t sendBuffer[transport::kRequestBufferSize];
    int result = 0;
    // The recording's view of the exchange; looked at only when it is on.
    const bool recording = record::On();
    record::Ending ending = record::Ending::Answered;
    uint64_t startUs = 0;
    int32_t pendingTake = 0;  // bytes of this exchange still in the reply record
    // Whether the controller answered: a reply that carries its error byte,
    // with whatever code, says where the controller stands. A lost exchange,
    // or a reply cut before its error byte, leaves that open.
    bool answered = false;
    if (length > 0 && length <= static_cast<int32_t>(sizeof sendBuffer)) {
        std::memcpy(sendBuffer, packet, static_cast<size_t>(length));
        const unsigned command = packet[3 < length ? 3 : 0];
        if (recording) startUs = platform::NowMicroseconds();
        if (SendPacket(session, sendBuffer, length) == 1) {
            // One request, then as many wake-ups as it takes to see its
            // answer. Each wait is the whole reply limit again: a controller
            // that keeps the channel busy with other bytes (a reply whose
            // length field disagrees, which ReadReply drops) is still given
            // the full limit for the real answer. The busy limit below counts
            // from the send, so busy notices cannot stretch a call for ever.
            const uint64_t t0 = engineTiming.now();
            // The limit is read after the clock: an injected clock may set it.
            // A stand-in answering from a recording answers at once or never.
            uint32_t replyWaitMs = engineTiming.replyWaitMs;
            const uint32_t answerWaitMs = driver::ReplayAnswerWaitMs();
            if (answerWaitMs != 0 && answerWaitMs < replyWaitMs) replyWaitMs = answerWaitMs;
            bool busySeen = false;
            bool waiting = true;
            while (waiting) {
                if (platform::WaitOne(session.ReplyEvent(), replyWaitMs) != platform::WaitResult::Signalled0) {
                    trace::Note(trace::Reason::NoReply, "%u ms%s, command %u", engineTiming.replyWaitMs,
                                busySeen ? " after a busy reply" : "", command);
                    ending = record::Ending::NoReply;
                    break;
                }
                const int32_t status = session.LastStatus();
                if (status != 1) {
                    trace::Note(trace::Reason::ExchangeFailed, "the driver returned 0, command %u", command);
                    ending = status == transport::kStatusCut ? record::Ending::CutReply : record::Ending::DriverFailure;
                    break;
                }
                int32_t took = 0;
                const int code = ReadReply(session, reply, noLengthCheck, replyMax, &took);
                if (recording && took > 0) pendingTake = took;
                // The wait goes on, and a further record would overwrite this
                // one: the recording keeps it now.
                const auto keepPending = [&] {
                    if (!recording || pendingTake == 0) return;
                    record::KeepTake(reply.data, pendingTake, pendingTake >= 4);
                    pendingTake = 0;
                };
                if (code == kNoReply) {
                    keepPending();
                    continue;
                }
                if (code == expectedCode) {
                    answered = reply.Has(kErrorByteReplyLength);
                    result = 1;
                    break;
                }
                // A busy notice says the controller has the request and will
                // answer it later; its reply arrives as another record on the
                // same channel, so the request is never sent again.
                if (code == kReplyCodeBusy) {
                    busySeen = true;
                    if (engineTiming.now() < t0 + engineTiming.busyLimitMs) {
                        // Wake our own next wait so the ring is looked at again;
                        // the request is never sent twice.
                        platform::SignalEvent(session.ReplyEvent());
                        keepPending();
                        continue;
                    }
                    trace::Note(trace::Reason::BusyTooLong, "%u ms, command %u", engineTiming.busyLimitMs, command);
                    break;
                }
                answered = reply.Has(kErrorByteReplyLength);
                if (code == kReplyCodeError && reply.received >= 5) {
                    trace::Note(trace::Reason::Refused, "error reply, error %u, command %u", reply.data[4], command);
                    platform::PostNotification(session.NotifyWindow(), session.NotifyMessage(),
                                               static_cast<uintptr_t>(reply.data[4]), 0);
                } else {
                    trace::Note(trace::Reason::MalformedReply, "reply code %d where %d was expected, command %u", code,
                                expectedCode, command);
                }
                waiting = false;
            }
        } else {
            trace::Note(trace::Reason::ExchangeFailed,
                        "the request was not sent: the channel's I/O thread has ended, command %u", command);
            ending = record::Ending::NotSent;
        }
        if (recording) Record(session, sendBuffer, length, startUs, ending, reply, pendingTake, result == 1);
    } else {
        TRAX_ASSERT_FAILED();
    }
    // After a failure nothing of this exchange may reach the next one: a
    // reply that arrives late, or the rest of a malformed one, would be
    // taken as the answer to the next request. Both rings are emptied and
    // the channel's error state cleared while the transaction lock is still
    // held, so no other request can slip in between.
    if (result != 1) {
        (void)session.ClearErrors();  // the USB kind has no error state to clear
        (void)session.Purge();        // fails only without a channel, when nothing is queued
    }
    if (!answered) session.CountUnanswered();
    (void)platform::ReleaseLock(transactionLock);  // taken above, so it is let go
    return result;
}

}  // namespace

int RunCommand(session::DeviceSession& session, uint8_t code, const uint8_t* arguments, int32_t argumentCount,
               Reply& reply) {
    const CommandInfo* info = FindCommand(code);
    const int32_t length = 4 + argumentCount;
    if (info == nullptr || length > kMaxPacketLength || (info->requestLength != 0 && info->requestLength != length)) {
        TRAX_ASSERT_FAILED();
        return 0;
    }
    uint8_t packet[kMaxPacketLength];
    BuildHeader(packet, code, static_cast<uint16_t>(length));
    if (argumentCount > 0) std::memcpy(packet + 4, arguments, static_cast<size_t>(argumentCount));
    return Transact(session, packet, length, reply, info->replyMax, info->replyCode, info->noLengthCheck);
}

bool Accepted(int transactionResult, const Reply& reply, int32_t minLength) {
    if (transactionResult != 1) return false;  // the engine has said why
    const uint8_t error = reply.ErrorByte();
    if (reply.Has(minLength) && error == 0) return true;
    if (error != 0 && reply.Has(kErrorByteReplyLength)) {
        trace::Note(trace::Reason::Refused, "error %u, command %u", error, trace::LastCommand());
    } else {
        trace::Note(trace::Reason::ReplyTooShort, "%d bytes arrived, its fields need %d, command %u", reply.received,
                    minLength, trace::LastCommand());
    }
    return false;
}

int WriteSetting(session::DeviceSession& session, Reply& reply, uint8_t category, uint8_t head, uint8_t item,
                 const uint8_t* data, int32_t length) {
    uint8_t arguments[3 + kMaxSettingData];
    if (length < 0 || length > kMaxSettingData) {
        TRAX_ASSERT_FAILED();
        return 0;
    }
    arguments[0] = category;
    arguments[1] = head;
    arguments[2] = item;
    if (length > 0) std::memcpy(arguments + 3, data, static_cast<size_t>(length));
    const int sent = RunCommand(session, CmdWriteSetting, arguments, 3 + length, reply);
    if (!Accepted(sent, reply, kSettingData + 1)) return 0;
    const uint8_t outcome = reply.Byte(kSettingData);
    if (outcome == 0 || outcome == 2) return 1;
    trace::Note(trace::Reason::Refused, "setting write result %u, category %u item %u", outcome, category, item);
    return 0;
}

int ReadSetting(session::DeviceSession& session, Reply& reply, uint8_t category, uint8_t head, uint8_t item) {
    const uint8_t arguments[4] = {category, head, item, 0};
    return Accepted(RunCommand(session, CmdReadSetting, arguments, 4, reply), reply, kSettingData) ? 1 : 0;
}

int ReadStatus(session::DeviceSession& session, Reply& reply) {
    const int result = RunCommand(session, CmdStatus, nullptr, 0, reply);
    if (result == 1 && reply.Has(kStatusCountB + 4)) {
        SwapField32(reply, kStatusCountA);
        SwapField32(reply, kStatusCountB);
    }
    return result;
}

namespace {

int RequestMeasureMode(session::DeviceSession& session, Reply& reply) {
    return RunCommand(session, CmdMeasureMode, nullptr, 0, reply);
}

int RequestSettingMode(session::DeviceSession& session, Reply& reply) {
    return Accepted(RunCommand(session, CmdSettingMode, nullptr, 0, reply), reply, kErrorByteReplyLength) ? 1 : 0;
}

int ProbeSettingMode(session::DeviceSession& session, Reply& reply) {
    const uint8_t arguments[2] = {0, 0xFF};
    return RunCommand(session, CmdProbeSettingMode, arguments, 2, reply);
}

int QueryMode(session::DeviceSession& session, int* mode) {
    *mode = ModeUndetermined;
    LocalReply local;
    Reply& reply = local.reply;
    if (ReadStatus(session, reply) != 1) return 0;
    const uint8_t statusError = reply.ErrorByte();
    if (statusError == 0) {
        *mode = ModeMeasure;
        return 1;
    }
    if (statusError != kErrorOtherMode) {
        trace::Note(trace::Reason::Refused, "error %u, command %u", statusError, CmdStatus);
        return 0;
    }

    if (ProbeSettingMode(session, reply) != 1) return 1;  // mode stays undetermined
    const uint8_t probeError = reply.ErrorByte();
    if (probeError == 0) {
        *mode = ModeSetting;
        return 1;
    }
    if (probeError != kErrorOtherMode) {
        trace::Note(trace::Reason::Refused, "error %u, command %u", probeError, CmdProbeSettingMode);
        return 0;
    }

    // The controller may be inside the Able adjustment; cancelling it both
    // answers the question and leaves a plain setting mode. When the cancel
    // is refused, its error byte decides. When the cancel got no answer, the
    // record still holds the probe's reply: that says nothing about the
    // cancel, which may never have arrived, so nothing is decided from it.
    const uint32_t unanswered = session.UnansweredExchanges();
    if (WriteSetting(session, reply, 0, 0xFF, 9, nullptr, 0) == 1) {
        *mode = ModeSetting;
        return 1;
    }
    if (session.UnansweredExchanges() != unanswered) {
        trace::Note(trace::Reason::ModeSwitchFailed, "the Able cancel (command 8) of the mode query got no answer");
        return 0;
    }
    if (reply.ErrorByte() == kErrorOtherMode) {
        *mode = ModeSetting;
        return 1;
    }
    return 0;
}

// The trace log's word for a failed step of a mode switch.
int SwitchFailed(int mode, const char* step) {
    trace::Note(trace::Reason::ModeSwitchFailed, "to %s mode, at %s", mode == ModeSetting ? "setting" : "measurement",
                step);
    return 0;
}

const char* ModeName(int mode) {
    return mode == ModeMeasure ? "measurement" : mode == ModeSetting ? "setting" : "undetermined";
}

}  // namespace

int SwitchMode(session::DeviceSession& session, int mode, bool* settingRequested) {
    LocalReply local;
    Reply& reply = local.reply;
    int current = ModeUndetermined;
    char step[64];
    if (mode == ModeMeasure) {
        if (RequestMeasureMode(session, reply) != 1) return SwitchFailed(mode, "the request (command 4)");
        const uint8_t error = reply.ErrorByte();
        if (error == 0) return 1;
        if (error != kErrorOtherMode) {
            std::snprintf(step, sizeof step, "the request (command 4): error %u", error);
            return SwitchFailed(mode, step);
        }
        if (QueryMode(session, &current) != 1) return SwitchFailed(mode, "the mode query after the request");
        if (current == ModeMeasure) return 1;
        std::snprintf(step, sizeof step, "the mode query after the request: %s mode", ModeName(current));
        return SwitchFailed(mode, step);
    }
    if (mode == ModeSetting) {
        if (QueryMode(session, &current) != 1) return SwitchFailed(mode, "the first mode query");
        if (current == ModeSetting) return 1;
        if (current != ModeMeasure) return SwitchFailed(mode, "the first mode query: undetermined mode");
        // From here the controller may have entered setting mode unseen,
        // unless it answers that it did not: it refuses the request, or the
        // status after it still says measurement mode.
        if (settingRequested != nullptr) *settingRequested = true;
        const uint32_t unanswered = session.UnansweredExchanges();
        if (RequestSettingMode(session, reply) != 1) {
            if (settingRequested != nullptr && session.UnansweredExchanges() == unanswered) *settingRequested = false;
            return SwitchFailed(mode, "the request (command 6)");
        }
        const int queried = QueryMode(session, &current);
        if (queried == 1 && current == ModeSetting) return 1;
        // Every exchange since the request got an answer (an error reply is
        // one): the controller is in a state it told, and nothing more is
        // sent. Only a lost exchange leaves room for a setting mode unseen.
        if (settingRequested != nullptr && session.UnansweredExchanges() == unanswered) *settingRequested = false;
        if (queried != 1) return SwitchFailed(mode, "the mode query after the request");
        std::snprintf(step, sizeof step, "the mode query after the request: %s mode", ModeName(current));
        return SwitchFailed(mode, step);
    }
    TRAX_ASSERT_FAILED();
    return 0;
}

}  // namespace trax::protocol
