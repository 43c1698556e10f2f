#include <climits>
#include <cstring>

#include "api/CallFrame.h"
#include "api/MeasureCommands.h"
#include "api/SettingTable.h"
#include "measure/Conversion.h"

namespace trax::api {

namespace {

using protocol::Reply;

constexpr int32_t kStorageUnitCode = 8;
constexpr int32_t kStorageUnitSystem = 9;
constexpr int32_t kStorageCount = 12;
constexpr int32_t kStorageValues = 16;
constexpr uint32_t kStorageMaxValues = 65536;

int RunPlain(session::DeviceSession& session, Reply& reply, uint8_t code) {
    return protocol::RunCommand(session, code, nullptr, 0, reply);
}

// Everything a head's value array needs in one pass over the slots, which
// StorageReadData has already turned to host order.
void ConvertStoredValues(const Reply& reply, int32_t count, int32_t row, int32_t column, FloatValue* out) {
    const measure::UnitScale scale(row, column);
    const uint8_t* slot = reply.data + kStorageValues;
    for (int32_t i = 0; i < count; ++i, slot += 4) {
        int32_t raw;
        std::memcpy(&raw, slot, sizeof raw);
        scale.Convert(&out[i], raw);
    }
}

}  // namespace

int StorageInit(session::DeviceSession& session, Reply& reply) {
    return protocol::Accepted(RunPlain(session, reply, protocol::CmdStorageInit), reply,
                              protocol::kErrorByteReplyLength)
               ? 1
               : 0;
}

int StorageStart(session::DeviceSession& session, Reply& reply) {
    return RunPlain(session, reply, protocol::CmdStorageStart);
}

int StorageStop(session::DeviceSession& session, Reply& reply) {
    return protocol::Accepted(RunPlain(session, reply, protocol::CmdStorageStop), reply,
                              protocol::kErrorByteReplyLength)
               ? 1
               : 0;
}

int StorageReadData(session::DeviceSession& session, Reply& reply, uint8_t head) {
    const int sent = protocol::RunCommand(session, protocol::CmdStorageData, &head, 1, reply);
    if (!protocol::Accepted(sent, reply, kStorageValues)) return 0;
    protocol::SwapField32(reply, kStorageCount);
    // Unsigned on purpose: a negative count is as impossible as a huge one.
    const uint32_t count = reply.U32(kStorageCount);
    if (count > kStorageMaxValues) {
        trace::Note(trace::Reason::MalformedReply, "stored-value count %u is over the %u the controller holds", count,
                    kStorageMaxValues);
        return 0;
    }
    // The reply's length field cannot describe it, so the bytes that arrived
    // are the only measure of how many slots are real.
    uint32_t slots = static_cast<uint32_t>(reply.received - kStorageValues) / 4;
    if (slots < count) {
        trace::Note(trace::Reason::ReplyTooShort, "the count says %u values, %u arrived", count, slots);
        return 0;
    }
    if (slots > kStorageMaxValues) slots = kStorageMaxValues;
    uint8_t* slot = reply.data + kStorageValues;
    for (uint32_t i = 0; i < slots; ++i, slot += 4) {
        uint32_t value;
        std::memcpy(&value, slot, sizeof value);
        value = protocol::Swap32(value);
        std::memcpy(slot, &value, sizeof value);
    }
    return 1;
}

}  // namespace trax::api

using namespace trax;

namespace {

int RunStorageCommand(int (*command)(session::DeviceSession&, protocol::Reply&)) {
    return api::WithSession([command](session::DeviceSession& s) TRAX_IN_CALL {
        protocol::Reply& reply = protocol::ReplyBuffer();
        return protocol::Accepted(command(s, reply), reply, protocol::kErrorByteReplyLength) ? 1 : 0;
    });
}

}  // namespace

TRAX_EXPORT TRAX_DataStorageInit(void) {
    TRAX_TRACE_CALL();
    return RunStorageCommand(&api::StorageInit);
}

TRAX_EXPORT TRAX_DataStorageStart(void) {
    TRAX_TRACE_CALL();
    return RunStorageCommand(&api::StorageStart);
}

TRAX_EXPORT TRAX_DataStorageStop(void) {
    TRAX_TRACE_CALL();
    return RunStorageCommand(&api::StorageStop);
}

TRAX_EXPORT TRAX_DataStorageGetStatus(int head, int* storageState, int* storedCount) {
    TRAX_TRACE_CALL(head, storageState, storedCount);
    if (!api::InRange(head, 0, 1)) return 0;
    return api::WithSession([&](session::DeviceSession& s) TRAX_IN_CALL {
        protocol::Reply& reply = protocol::ReplyBuffer();
        if (!protocol::Accepted(protocol::ReadStatus(s, reply), reply, protocol::kStatusReplyLength)) return 0;
        if (storedCount != nullptr) {
            const int32_t offset = head == 0 ? protocol::kStatusCountA : protocol::kStatusCountB;
            *storedCount = static_cast<int>(reply.U32(offset));
        }
        if (storageState != nullptr) *storageState = reply.Byte(protocol::kStatusStoring) == 1 ? 1 : 0;
        return 1;
    });
}

TRAX_EXPORT TRAX_DataStorageGetData(int head, int maxCount, FloatValue* values, int* returnedCount) {
    TRAX_TRACE_CALL(head, maxCount, values, returnedCount);
    if (!api::InRange(maxCount, 1, INT_MAX) || !api::InRange(head, 0, 1)) return 0;
    return api::WithSession([&](session::DeviceSession& s) TRAX_IN_CALL {
        protocol::Reply& reply = protocol::StorageReply();
        if (api::StorageReadData(s, reply, static_cast<uint8_t>(head)) != 1) return 0;
        const uint8_t system = reply.Byte(api::kStorageUnitSystem);
        const int32_t row = system == 1 ? 1 : 0;
        const int32_t column = reply.Byte(api::kStorageUnitCode);
        const auto stored = static_cast<int32_t>(reply.U32(api::kStorageCount));
        const int32_t n = stored < maxCount ? stored : maxCount;
        if (returnedCount != nullptr) *returnedCount = n;
        if (values != nullptr) api::ConvertStoredValues(reply, n, row, column, values);
        // An unknown unit system still hands out what it got, read as metric,
        // but the caller must not take it for a clean read.
        return api::KnownUnitSystem(system) ? 1 : 0;
    });
}

TRAX_EXPORT TRAX_SetDataStorage(int target, int count, int cycle) {
    TRAX_TRACE_CALL(target, count, cycle);
    return api::SetSetting(api::Setting::DataStorage, target, count, cycle);
}

TRAX_EXPORT TRAX_GetDataStorage(int* target, int* count, int* cycle) {
    TRAX_TRACE_CALL(target, count, cycle);
    return api::GetSetting(api::Setting::DataStorage, target, count, cycle);
}
