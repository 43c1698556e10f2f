#include "api/CallFrame.h"
#include "api/MeasureCommands.h"
#include "measure/Conversion.h"

namespace trax::api {

namespace {

using protocol::Reply;

constexpr int32_t kFigureUnitCode = 10;
constexpr int32_t kFigureUnitSystem = 11;
constexpr int32_t kFigureValues = 16;
constexpr int32_t kFigureIntegers = 44;
constexpr int32_t kFigureValueCount = 7;
constexpr int32_t kFigureIntegerCount = 4;
constexpr int32_t kFigureReplyLength = kFigureIntegers + 4 * kFigureIntegerCount;

}  // namespace

int RequestCalcData(session::DeviceSession& session, Reply& reply, uint8_t panelFlag, uint8_t headByte) {
    const uint8_t arguments[2] = {panelFlag, headByte};
    const int sent = protocol::RunCommand(session, protocol::CmdCalcData, arguments, 2, reply);
    if (!protocol::Accepted(sent, reply, kCalcReplyLength)) return 0;
    protocol::SwapField32(reply, kCalcValueA);
    protocol::SwapField32(reply, kCalcValueB);
    return 1;
}

int RequestFigureData(session::DeviceSession& session, Reply& reply, uint8_t head) {
    const uint8_t arguments[2] = {head, 0xFF};
    const int sent = protocol::RunCommand(session, protocol::CmdFigureData, arguments, 2, reply);
    if (!protocol::Accepted(sent, reply, kFigureReplyLength)) return 0;
    for (int32_t offset = kFigureValues; offset < kFigureReplyLength; offset += 4) {
        protocol::SwapField32(reply, offset);
    }
    return 1;
}

int RequestFigureClear(session::DeviceSession& session, Reply& reply) {
    const int sent = protocol::RunCommand(session, protocol::CmdFigureClear, nullptr, 0, reply);
    return protocol::Accepted(sent, reply, protocol::kErrorByteReplyLength) ? 1 : 0;
}

}  // namespace trax::api

using namespace trax;

TRAX_EXPORT TRAX_GetCalcData(FloatValue* valueA, FloatValue* valueB) {
    TRAX_TRACE_CALL(valueA, valueB);
    return api::WithSession([&](session::DeviceSession& s) TRAX_IN_CALL {
        protocol::Reply& reply = protocol::ReplyBuffer();
        if (api::RequestCalcData(s, reply, api::kCalcReadValues, 0xFF) != 1) return 0;
        const uint8_t system = reply.Byte(api::kCalcUnitSystem);
        if (!api::KnownUnitSystem(system)) return 0;
        const uint8_t codes = reply.Byte(api::kCalcUnitCodes);
        if (valueA != nullptr) {
            measure::ConvertMeasuredValue(valueA, static_cast<int32_t>(reply.U32(api::kCalcValueA)), system,
                                          codes >> 4);
        }
        if (valueB != nullptr) {
            measure::ConvertMeasuredValue(valueB, static_cast<int32_t>(reply.U32(api::kCalcValueB)), system,
                                          codes & 0x0F);
        }
        return 1;
    });
}

TRAX_EXPORT TRAX_GetFigureData(int head, FigureData* data) {
    TRAX_TRACE_CALL(head, data);
    if (!api::InRange(head, 0, 1) || !api::Required(data, "data")) return 0;
    return api::WithSession([&](session::DeviceSession& s) TRAX_IN_CALL {
        protocol::Reply& reply = protocol::ReplyBuffer();
        if (api::RequestFigureData(s, reply, protocol::HeadToWire(head)) != 1) return 0;
        const uint8_t system = reply.Byte(api::kFigureUnitSystem);
        if (!api::KnownUnitSystem(system)) return 0;
        const uint8_t code = reply.Byte(api::kFigureUnitCode);
        for (int32_t i = 0; i < api::kFigureValueCount; ++i) {
            const auto raw = static_cast<int32_t>(reply.U32(api::kFigureValues + 4 * i));
            measure::ConvertMeasuredValue(&data->values[i], raw, system, code);
        }
        for (int32_t i = 0; i < api::kFigureIntegerCount; ++i) {
            data->integers[i] = static_cast<int32_t>(reply.U32(api::kFigureIntegers + 4 * i));
        }
        return 1;
    });
}

TRAX_EXPORT TRAX_ClearFigureData(void) {
    TRAX_TRACE_CALL();
    return api::WithSession([](session::DeviceSession& s)
                                TRAX_IN_CALL { return api::RequestFigureClear(s, protocol::ReplyBuffer()); });
}
