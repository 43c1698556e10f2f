// The libFuzzer target: one exported call, chosen by the input, with its
// arguments and every answer of the controller taken from the input (see
// FuzzInput.h). Beyond what the sanitizers catch, each call must
//   - return 0 or 1;
//   - leave its outputs as they were when it returns 0, where the header
//     promises that (the single-exchange readers);
//   - write nothing beyond what its arguments allow: every output is its own
//     exact-size allocation, so AddressSanitizer sees any write past it;
//   - leave no I/O thread, event or lock behind, and the session closed.
//
// With TRAX_FUZZ_MAKE_SEEDS=<folder> set, the target instead writes a seed for
// every call, answered by the simulated controller, plus a few broken ones.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "protocol/Command.h"
#include "session/DeviceSession.h"
#include "tests/fuzz/FuzzDriver.h"
#include "tests/fuzz/FuzzInput.h"
#include "trax.h"

namespace trax::fuzz {
namespace {

constexpr unsigned char kPattern = 0xA5;
constexpr int kMaxStoredValues = 65536;

// The outputs of one call, each in an allocation of exactly its size.
class Outputs {
public:
    explicit Outputs(uint8_t nullMask) : mask_(nullMask) {}
    ~Outputs() {
        for (Block& block : blocks_) std::free(block.bytes);
    }
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;

    template <typename T>
    T* Make(size_t count = 1) {
        Block block;
        const bool null = blocks_.size() < 8 && (mask_ & (1u << blocks_.size())) != 0;
        if (!null) {
            block.size = sizeof(T) * count;
            block.bytes = static_cast<unsigned char*>(std::malloc(block.size));
            std::memset(block.bytes, kPattern, block.size);
        }
        blocks_.push_back(block);
        return reinterpret_cast<T*>(block.bytes);
    }

    bool Untouched(size_t index, size_t from = 0) const {
        const Block& block = blocks_.at(index);
        for (size_t i = from; i < block.size; ++i) {
            if (block.bytes[i] != kPattern) return false;
        }
        return true;
    }
    bool AllUntouched() const {
        for (size_t i = 0; i < blocks_.size(); ++i) {
            if (!Untouched(i)) return false;
        }
        return true;
    }

private:
    struct Block {
        unsigned char* bytes = nullptr;
        size_t size = 0;
    };
    uint8_t mask_;
    std::vector<Block> blocks_;
};

struct Row {
    const char* name;
    // The header promises untouched outputs on every 0. The setting getters
    // and the storage readers say otherwise (outputs read before a failing
    // step, or before a failed switch back, stay written).
    bool untouchedOnFailure;
    int (*run)(FuzzInput& in, Outputs& out);
};

// A call whose arguments are all ints, read from the input in order (a
// braced list is evaluated left to right).
template <typename... Args, size_t... I>
int CallWithInts(int(TRAX_CALL* f)(Args...), const int* values, std::index_sequence<I...>) {
    return f(values[I]...);
}
template <typename... Args>
int IntsCall(int(TRAX_CALL* f)(Args...), FuzzInput& in) {
    const int values[sizeof...(Args) + 1] = {((void)sizeof(Args), in.Int())..., 0};
    return CallWithInts(f, values, std::index_sequence_for<Args...>{});
}

// A getter of int outputs, each its own exact-size block made in order, after
// a head read from the input when the getter takes one.
template <typename... Outs, size_t... I>
int CallWithOutputs(int(TRAX_CALL* f)(Outs...), int* const* outputs, std::index_sequence<I...>) {
    return f(outputs[I]...);
}
template <typename... Outs>
int OutputsCall(int(TRAX_CALL* f)(Outs...), FuzzInput&, Outputs& out) {
    int* const outputs[] = {out.Make<int>(((void)sizeof(Outs), 1))...};
    return CallWithOutputs(f, outputs, std::index_sequence_for<Outs...>{});
}
template <typename... Outs, size_t... I>
int CallWithHeadOutputs(int(TRAX_CALL* f)(int, Outs...), int head, int* const* outputs, std::index_sequence<I...>) {
    return f(head, outputs[I]...);
}
template <typename... Outs>
int HeadOutputsCall(int(TRAX_CALL* f)(int, Outs...), FuzzInput& in, Outputs& out) {
    const int head = in.Int();
    int* const outputs[] = {out.Make<int>(((void)sizeof(Outs), 1))...};
    return CallWithHeadOutputs(f, head, outputs, std::index_sequence_for<Outs...>{});
}

#define SET(f)                                                             \
    {                                                                      \
#f, true, [](FuzzInput & in, Outputs&) { return IntsCall(f, in); } \
    }
#define GET(f)                                                                           \
    {                                                                                    \
#f, false, [](FuzzInput & in, Outputs & out) { return OutputsCall(f, in, out); } \
    }
#define GETH(f)                                                                              \
    {                                                                                        \
#f, false, [](FuzzInput & in, Outputs & out) { return HeadOutputsCall(f, in, out); } \
    }

const Row kRows[] = {
    SET(TRAX_SetMode),
    {"TRAX_GetCalcData", true,
     [](FuzzInput&, Outputs& out) {
         FloatValue* a = out.Make<FloatValue>();
         FloatValue* b = out.Make<FloatValue>();
         return TRAX_GetCalcData(a, b);
     }},
    {"TRAX_GetFigureData", true,
     [](FuzzInput& in, Outputs& out) {
         const int head = in.Int();
         return TRAX_GetFigureData(head, out.Make<FigureData>());
     }},
    SET(TRAX_ClearFigureData),
    SET(TRAX_DataStorageInit),
    SET(TRAX_DataStorageStart),
    SET(TRAX_DataStorageStop),
    {"TRAX_DataStorageGetStatus", true,
     [](FuzzInput& in, Outputs& out) {
         const int head = in.Int();
         int* state = out.Make<int>();
         int* count = out.Make<int>();
         return TRAX_DataStorageGetStatus(head, state, count);
     }},
    {"TRAX_DataStorageGetData", false,
     [](FuzzInput& in, Outputs& out) {
         const int head = in.Int();
         const int maxCount = in.Int();
         // The caller's array holds maxCount records; the library never
         // hands out more than 65536, so a larger promise needs no more room.
         const int room = maxCount < 1 ? 1 : (maxCount > kMaxStoredValues ? kMaxStoredValues : maxCount);
         FloatValue* values = out.Make<FloatValue>(static_cast<size_t>(room));
         int* returned = out.Make<int>();
         const int result = TRAX_DataStorageGetData(head, maxCount, values, returned);
         if (result == 0 && out.AllUntouched()) return result;
         // Whatever was written, records past the returned count stay as they were.
         if (returned == nullptr || *returned < 0 || *returned > room) {
             if (values != nullptr && returned != nullptr && !out.Untouched(0)) {
                 std::fprintf(stderr, "values written with an impossible returned count %d\n", *returned);
                 std::abort();
             }
             return result;
         }
         if (values != nullptr && !out.Untouched(0, sizeof(FloatValue) * static_cast<size_t>(*returned))) {
             std::fprintf(stderr, "values written past the returned count %d\n", *returned);
             std::abort();
         }
         return result;
     }},
    SET(TRAX_SetDataStorage),
    {"TRAX_GetDataStorage", false,
     [](FuzzInput&, Outputs& out) {
         int* target = out.Make<int>();
         int* count = out.Make<int>();
         int* cycle = out.Make<int>();
         return TRAX_GetDataStorage(target, count, cycle);
     }},
    {"TRAX_GetLight", true,
     [](FuzzInput& in, Outputs& out) {
         const int head = in.Int();
         const int selector = in.Int();
         LightData* data = out.Make<LightData>();
         int* extra = out.Make<int>();
         unsigned char* profile = out.Make<unsigned char>(1024);
         return TRAX_GetLight(head, selector, data, extra, profile);
     }},
    SET(TRAX_SetZero),
    SET(TRAX_SetTiming),
    SET(TRAX_SetReset),
    SET(TRAX_SetPanel),
    {"TRAX_GetPanel", true, [](FuzzInput&, Outputs& out) { return TRAX_GetPanel(out.Make<int>()); }},
    SET(TRAX_SetPanelLock),
    SET(TRAX_SetProgramNo),
    GET(TRAX_GetProgramNo),
    SET(TRAX_AbleStart),
    SET(TRAX_AbleStop),
    SET(TRAX_AbleCancel),
    SET(TRAX_SetAbleMode),
    GETH(TRAX_GetAbleMode),
    SET(TRAX_SetAbleMinMax),
    GETH(TRAX_GetAbleMinMax),
    SET(TRAX_SetMeasureMode),
    GETH(TRAX_GetMeasureMode),
    SET(TRAX_SetNumAlarm),
    GETH(TRAX_GetNumAlarm),
    SET(TRAX_SetAlarmLevel),
    GETH(TRAX_GetAlarmLevel),
    SET(TRAX_SetReflectionMode),
    GETH(TRAX_GetReflectionMode),
    SET(TRAX_SetCalcMethod),
    GETH(TRAX_GetCalcMethod),
    {"TRAX_SetScaling", true,
     [](FuzzInput& in, Outputs&) {
         int v[6];
         for (int& value : v) value = in.Int();
         return TRAX_SetScaling(v[0], v[1], v[2], v[3], v[4], v[5]);
     }},
    {"TRAX_GetScaling", false,
     [](FuzzInput& in, Outputs& out) {
         const int head = in.Int();
         const int selector = in.Int();
         int* a = out.Make<int>();
         int* b = out.Make<int>();
         int* c = out.Make<int>();
         int* d = out.Make<int>();
         return TRAX_GetScaling(head, selector, a, b, c, d);
     }},
    SET(TRAX_SetFilterMode),
    GETH(TRAX_GetFilterMode),
    SET(TRAX_SetAverage),
    GETH(TRAX_GetAverage),
    SET(TRAX_SetCutOffFrequency),
    GETH(TRAX_GetCutOffFrequency),
    SET(TRAX_SetCalcMode),
    GETH(TRAX_GetCalcMode),
    SET(TRAX_SetTriggerMode),
    GETH(TRAX_GetTriggerMode),
    SET(TRAX_SetOffset),
    GETH(TRAX_GetOffset),
    SET(TRAX_SetDisplayUnit),
    GETH(TRAX_GetDisplayUnit),
    SET(TRAX_SetAnalogScaling),
    GETH(TRAX_GetAnalogScaling),
    SET(TRAX_SetAnalogThrough),
    GETH(TRAX_GetAnalogThrough),
    SET(TRAX_SetTolerance),
    GETH(TRAX_GetTolerance),
    SET(TRAX_SetSamplingCycle),
    GET(TRAX_GetSamplingCycle),
    SET(TRAX_SetMutualInterferencePrevention),
    GET(TRAX_GetMutualInterferencePrevention),
    SET(TRAX_SetTimingSynchronization),
    GET(TRAX_GetTimingSynchronization),
    SET(TRAX_SetToleranceComparatorOutputFormat),
    GET(TRAX_GetToleranceComparatorOutputFormat),
    SET(TRAX_SetStorobeTime),
    GET(TRAX_GetStorobeTime),
};
constexpr size_t kRowCount = sizeof kRows / sizeof kRows[0];
static_assert(kRowCount == 69, "one row per exported function");

int handleBaseline = 0;

[[noreturn]] void Finding(const Row& row, const char* what) {
    std::fprintf(stderr, "%s: %s\n", row.name, what);
    std::abort();
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
}

// Calls whose seeds also get broken variants: every reader with its own
// decoding, a setter and a two-item getter.
bool WithBrokenSeeds(const char* name) {
    for (const char* chosen : {"TRAX_GetCalcData", "TRAX_GetFigureData", "TRAX_DataStorageGetStatus",
                               "TRAX_DataStorageGetData", "TRAX_GetLight", "TRAX_GetPanel", "TRAX_SetAverage",
                               "TRAX_GetTolerance", "TRAX_GetDataStorage", "TRAX_AbleStop"}) {
        if (std::strcmp(name, chosen) == 0) return true;
    }
    return false;
}

// One seed per call with every argument 1, answered by the simulated
// controller; then broken variants of a few of them.
void MakeSeeds(const std::string& folder) {
    for (size_t index = 0; index < kRowCount; ++index) {
        for (uint8_t argument : {uint8_t{9}}) {
            std::vector<uint8_t> arguments(16, argument);
            FuzzInput in(arguments.data(), arguments.size());
            std::vector<uint8_t> answers;
            Record(&answers);
            Outputs out(0);
            kRows[index].run(in, out);
            std::vector<uint8_t> seed{static_cast<uint8_t>(index), 0};
            seed.insert(seed.end(), arguments.begin(), arguments.begin() + static_cast<long>(in.Position()));
            const size_t prefix = seed.size();
            seed.insert(seed.end(), answers.begin(), answers.end());
            const std::string name = folder + "/" + kRows[index].name;
            WriteFile(name, seed);
            if (answers.empty() || !WithBrokenSeeds(kRows[index].name)) continue;
            // The first exchange lost, refused, busy; the last answer cut short.
            std::vector<uint8_t> lost(seed.begin(), seed.begin() + static_cast<long>(prefix));
            lost.push_back(AnswerLost);
            WriteFile(name + "-lost", lost);
            std::vector<uint8_t> refused = lost;
            refused.back() = AnswerCoded;
            refused.insert(refused.end(), {255, 12, 0, 0});
            WriteFile(name + "-refused", refused);
            std::vector<uint8_t> busy = lost;
            busy.back() = AnswerCoded;
            busy.insert(busy.end(), {68, 0, 0, 0});
            WriteFile(name + "-busy", busy);
            std::vector<uint8_t> cut = seed;
            cut.resize(seed.size() - (seed.size() - prefix) / 3);
            WriteFile(name + "-cut", cut);
        }
    }
}

}  // namespace
}  // namespace trax::fuzz

using namespace trax::fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)trax::session::ProcessAttach();  // start-up is not what is fuzzed
    trax::platform::SetAssertionHook([](const char*, int) {});
    // A reply that is dropped or never comes costs a millisecond, not 10 s.
    // A good reply that is slower than that only makes the call fail, which
    // every oracle allows.
    trax::protocol::EngineTiming timing = trax::protocol::DefaultEngineTiming();
    timing.replyWaitMs = 1;
    timing.busyLimitMs = 1;
    trax::protocol::SetEngineTiming(timing);
    handleBaseline = trax::platform::LiveHandleCount();
    if (const char* folder = std::getenv("TRAX_FUZZ_MAKE_SEEDS")) {
        MakeSeeds(folder);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    FuzzInput in(data, size);
    const Row& row = kRows[in.Byte() % kRowCount];
    Outputs out(in.Byte());
    AnswerFrom(&in);
    const int result = row.run(in, out);
    AnswerFrom(nullptr);

    if (result != 0 && result != 1) Finding(row, "result is neither 0 nor 1");
    if (result == 0 && row.untouchedOnFailure && !out.AllUntouched()) Finding(row, "a failed call wrote its outputs");
    trax::session::DeviceSession& session = trax::session::TheSession();
    if (session.OpenCount() != 0 || session.Exists() != 0) Finding(row, "the session was left open");
    if (trax::platform::LiveHandleCount() != handleBaseline) Finding(row, "a thread, event or lock outlived the call");
    return 0;
}
