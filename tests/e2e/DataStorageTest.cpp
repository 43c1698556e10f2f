// Data storage runs: configure, start, poll until done, stop, read back, and
// compare what was stored with the measured values of the same heads.
#include <algorithm>
#include <cmath>
#include <vector>

#include "E2eSupport.h"

namespace {

using e2e::InMillimetreBand;

constexpr int kCapacity = 65536;
// Storage cycle code -> samples between stored values.
constexpr int kInterval[10] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};

// Configures and runs one storage run to its end. The controller stores far
// faster than the host polls, so the run ends within a few status reads.
void RunStorage(int count, int cycle) {
    ASSERT_EQ(TRAX_SetDataStorage(0, count, cycle), 1);
    ASSERT_EQ(TRAX_DataStorageInit(), 1);
    int state = -1, stored = -1;
    ASSERT_EQ(TRAX_DataStorageGetStatus(0, &state, &stored), 1);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(stored, 0);

    ASSERT_EQ(TRAX_DataStorageStart(), 1);
    int polls = 0;
    do {
        ASSERT_EQ(TRAX_DataStorageGetStatus(0, &state, nullptr), 1);
    } while (state == 1 && ++polls < 100);
    EXPECT_EQ(state, 0) << "still storing after " << polls << " status reads";
    ASSERT_EQ(TRAX_DataStorageStop(), 1);
}

std::vector<FloatValue> ReadStored(int head, int expectedCount) {
    std::vector<FloatValue> values(kCapacity, e2e::Untouched());
    int returned = -1;
    EXPECT_EQ(TRAX_DataStorageGetData(head, kCapacity, values.data(), &returned), 1);
    EXPECT_EQ(returned, expectedCount);
    values.resize(static_cast<size_t>(std::max(returned, 0)));
    return values;
}

class DataStorage : public e2e::MeasuringTest {};

struct RunCase {
    int count;
    int cycle;
};

TEST_F(DataStorage, RunReturnsTheConfiguredCountOfSignalValues) {
    const RunCase cases[] = {{500, 0}, {1, 9}, {3000, 3}, {kCapacity, 0}};
    for (const RunCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "count " << c.count << ", cycle " << c.cycle);
        RunStorage(c.count, c.cycle);
        if (HasFatalFailure()) return;

        for (int head = 0; head < 2; ++head) {
            int state = -1, stored = -1;
            ASSERT_EQ(TRAX_DataStorageGetStatus(head, &state, &stored), 1);
            EXPECT_EQ(state, 0);
            EXPECT_EQ(stored, c.count) << "head " << head;
        }

        // A measured value read now has the unit, resolution and band that
        // every stored value must have.
        FloatValue now[2];
        e2e::ReadBoth(now);
        for (int head = 0; head < 2; ++head) {
            SCOPED_TRACE(head);
            ASSERT_TRUE(InMillimetreBand(now[head], head));
            std::vector<FloatValue> values = ReadStored(head, c.count);
            ASSERT_EQ(values.size(), static_cast<size_t>(c.count));

            // Between two stored values the sine moves by at most its slope
            // times the interval, plus the noise and one display step.
            const e2e::HeadSignal& s = e2e::kSignal[head];
            const double maxStep = (2 * e2e::kPi * s.amplitude / s.period * kInterval[c.cycle] + 2 * e2e::kNoise) /
                                       e2e::kCountsPerMillimetre +
                                   0.001;
            int outside = 0, offGrid = 0, jumps = 0;
            for (size_t i = 0; i < values.size(); ++i) {
                if (!InMillimetreBand(values[i], head)) ++outside;
                if (!e2e::OnStepGrid(values[i].value, 1000)) ++offGrid;
                if (i > 0 && std::fabs(values[i].value - values[i - 1].value) > maxStep) ++jumps;
            }
            EXPECT_EQ(outside, 0);
            EXPECT_EQ(offGrid, 0);
            EXPECT_EQ(jumps, 0) << "stored values should follow the signal sample by sample";
            if (c.count >= 500) {
                auto [low, high] =
                    std::minmax_element(values.begin(), values.end(),
                                        [](const FloatValue& a, const FloatValue& b) { return a.value < b.value; });
                EXPECT_GT(high->value - low->value, 0.1f) << "a run this long sees the sine move";
            }
        }
    }
}

// With both heads held, every stored value is the held measured value itself.
TEST_F(DataStorage, StoredValuesEqualTheHeldMeasuredValue) {
    ASSERT_EQ(TRAX_SetTiming(2, 1), 1);
    FloatValue held[2];
    e2e::ReadBoth(held);
    RunStorage(200, 2);
    for (int head = 0; head < 2; ++head) {
        std::vector<FloatValue> values = ReadStored(head, 200);
        int differing = 0;
        for (const FloatValue& v : values) {
            if (v.status != held[head].status || v.value != held[head].value) ++differing;
        }
        EXPECT_EQ(differing, 0) << "head " << head << " held at " << held[head].value;
    }
}

// The stored raw values are converted with the display unit in force at the
// read: the same run reads 1000 times larger in micrometres.
TEST_F(DataStorage, StoredValuesFollowTheDisplayUnitAtTheRead) {
    RunStorage(300, 0);
    std::vector<FloatValue> millimetres[2];
    for (int head = 0; head < 2; ++head) millimetres[head] = ReadStored(head, 300);
    ASSERT_EQ(TRAX_SetDisplayUnit(0, 5), 1);  // um, two decimals
    for (int head = 0; head < 2; ++head) {
        std::vector<FloatValue> micrometres = ReadStored(head, 300);
        ASSERT_EQ(micrometres.size(), millimetres[head].size());
        int mismatched = 0;
        for (size_t i = 0; i < micrometres.size(); ++i) {
            const FloatValue& now = micrometres[i];
            const FloatValue& before = millimetres[head][i];
            // mm with three decimals is um rounded to a whole micrometre;
            // head B stays in millimetres.
            bool same =
                head == 0 ? std::fabs(now.value - before.value * 1000) <= 0.5 + 1e-3 : now.value == before.value;
            if (now.status != TRAX_VALUE_VALID || !same) ++mismatched;
        }
        EXPECT_EQ(mismatched, 0) << "head " << head;
    }
}

TEST_F(DataStorage, ReadStopsAtMaxCountAndLeavesTheRestUntouched) {
    RunStorage(200, 0);
    std::vector<FloatValue> all = ReadStored(1, 200);

    std::vector<FloatValue> some(51, e2e::Untouched());
    int returned = -1;
    ASSERT_EQ(TRAX_DataStorageGetData(1, 50, some.data(), &returned), 1);
    EXPECT_EQ(returned, 50);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(some[i].value, all[i].value) << i;
    EXPECT_EQ(some[50].status, e2e::Untouched().status);
    EXPECT_EQ(some[50].value, e2e::kUntouched);

    returned = -1;
    ASSERT_EQ(TRAX_DataStorageGetData(1, kCapacity, nullptr, &returned), 1);
    EXPECT_EQ(returned, 200);
}

TEST_F(DataStorage, InitEmptiesTheStorage) {
    RunStorage(100, 0);
    ASSERT_EQ(TRAX_DataStorageInit(), 1);
    for (int head = 0; head < 2; ++head) {
        int state = -1, stored = -1;
        ASSERT_EQ(TRAX_DataStorageGetStatus(head, &state, &stored), 1);
        EXPECT_EQ(stored, 0);
        FloatValue untouched = e2e::Untouched();
        int returned = -1;
        ASSERT_EQ(TRAX_DataStorageGetData(head, 1, &untouched, &returned), 1);
        EXPECT_EQ(returned, 0);
        EXPECT_EQ(untouched.value, e2e::kUntouched);
    }
}

}  // namespace
