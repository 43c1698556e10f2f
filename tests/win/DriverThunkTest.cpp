// The driver-call thunk of 32-bit Windows: functions of either calling
// convention are called correctly, the convention is recorded, and the stack
// is whole afterwards even when a function removes a wrong number of bytes.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/DriverCall.h"

namespace trax::driver {
namespace {

// Both conventions, with results that depend on every argument and its place.
extern "C" {
__attribute__((cdecl, noinline)) uint32_t CdeclOne(uint32_t a) { return a * 3 + 1; }
__attribute__((stdcall, noinline)) uint32_t StdcallOne(uint32_t a) { return a * 3 + 1; }
__attribute__((cdecl, noinline)) uint32_t CdeclFour(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a - b * 2 + c * 3 - d * 4;
}
__attribute__((stdcall, noinline)) uint32_t StdcallFour(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a - b * 2 + c * 3 - d * 4;
}
// The driver's InitUsb shape: a 5-byte record by value, then a pointer.
#pragma pack(push, 1)
struct Packed5 {
    int32_t value;
    uint8_t flag;
};
#pragma pack(pop)
__attribute__((stdcall, noinline)) uint32_t StdcallRecord(Packed5 p, const char* text) {
    return static_cast<uint32_t>(p.value) + p.flag * 1000u + static_cast<uint32_t>(std::strlen(text));
}
__attribute__((cdecl, noinline)) uint32_t CdeclRecord(Packed5 p, const char* text) {
    return static_cast<uint32_t>(p.value) + p.flag * 1000u + static_cast<uint32_t>(std::strlen(text));
}
}

uint32_t Word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

TEST(DriverThunk, CallsEitherConventionAndRecordsIt) {
    const char* text = "VoraxUSB_U-0";
    Packed5 record{7, 2};
    uint32_t recordWords[2] = {0, 0};
    std::memcpy(recordWords, &record, sizeof record);
    const struct {
        const char* name;
        const void* function;
        std::vector<uint32_t> args;
        uint32_t result;
        Convention convention;
        const char* observed;
    } cases[] = {
        {"CdeclOne", reinterpret_cast<const void*>(&CdeclOne), {5}, 16, Convention::Cdecl, "cdecl"},
        {"StdcallOne", reinterpret_cast<const void*>(&StdcallOne), {5}, 16, Convention::Stdcall, "stdcall"},
        {"CdeclFour", reinterpret_cast<const void*>(&CdeclFour), {100, 1, 2, 3}, 92, Convention::Cdecl, "cdecl"},
        {"StdcallFour",
         reinterpret_cast<const void*>(&StdcallFour),
         {100, 1, 2, 3},
         92,
         Convention::Stdcall,
         "stdcall"},
        {"StdcallRecord",
         reinterpret_cast<const void*>(&StdcallRecord),
         {recordWords[0], recordWords[1], Word(text)},
         2019,
         Convention::Stdcall,
         "stdcall"},
        {"CdeclRecord",
         reinterpret_cast<const void*>(&CdeclRecord),
         {recordWords[0], recordWords[1], Word(text)},
         2019,
         Convention::Cdecl,
         "cdecl"},
        // Called with one word too many: a __stdcall function then removes
        // fewer bytes than were pushed. The result is still right, the
        // convention unknown, and the stack restored all the same.
        {"StdcallOne+1", reinterpret_cast<const void*>(&StdcallOne), {5, 99}, 16, Convention::Unknown, "unknown"},
        {"CdeclOne+1", reinterpret_cast<const void*>(&CdeclOne), {5, 99}, 16, Convention::Cdecl, "cdecl"},
    };
    // Many rounds: a stack pointer left off by even 4 bytes per call would
    // wreck this frame long before the end.
    volatile uint32_t guard = 0x5eed1234;
    for (int round = 0; round < 1000; ++round) {
        for (const auto& c : cases) {
            Convention seen = Convention::Cdecl == c.convention ? Convention::Stdcall : Convention::Cdecl;
            const uint32_t result =
                CallEitherConvention(c.function, c.args.data(), static_cast<uint32_t>(c.args.size()), &seen);
            if (round == 0 || result != c.result || seen != c.convention) {
                ASSERT_EQ(c.result, result) << c.name << " round " << round;
                ASSERT_EQ(c.convention, seen) << c.name << " round " << round;
                ASSERT_STREQ(c.observed, ObservedConvention()) << c.name;
            }
        }
    }
    EXPECT_EQ(0x5eed1234u, guard);
}

// The stand-in driver the search path offers (the run picks the __stdcall or
// the __cdecl build through WINEPATH and names it in
// TRAX_EXPECT_DRIVER_CONVENTION), called in its start-up order.
TEST(DriverThunk, StandInDriverOnTheSearchPath) {
    HMODULE driver = LoadLibraryA("QelUsbDrv.dll");
    ASSERT_NE(driver, nullptr) << "QelUsbDrv.dll is neither beside the program nor on the search path";
    auto function = [&](const char* name) {
        const void* f = reinterpret_cast<const void*>(GetProcAddress(driver, name));
        EXPECT_NE(f, nullptr) << name;
        return f;
    };
    const void* typeParam = function("InitQelUsbTypeParam");
    const void* setType = function("SetUsbType");
    const void* initUsb = function("InitUsb");
    const void* initPid = function("InitPid");
    const void* status = function("CheckUsbDllStatus");
    ASSERT_TRUE(typeParam && setType && initUsb && initPid && status);

    sQELUSBTYPEPARAM param;
    std::memset(&param, 0, sizeof param);
    param.productCode = 10;
    std::strcpy(param.deviceName, "VoraxUSB_U-0");
    const uint32_t typeArgs[] = {Word(&param), 1};
    const uint32_t setTypeArgs[] = {2};
    const uint32_t initUsbArgs[] = {0, 0, Word(param.deviceName)};
    const uint32_t initPidArgs[] = {0, 0, 10};
    const uint32_t statusArgs[] = {0};
    Convention seen[5] = {};
    EXPECT_EQ(1u, CallEitherConvention(typeParam, typeArgs, 2, &seen[0]));
    CallEitherConvention(setType, setTypeArgs, 1, &seen[1]);
    EXPECT_NE(0u, CallEitherConvention(initUsb, initUsbArgs, 3, &seen[2]));
    EXPECT_NE(0u, CallEitherConvention(initPid, initPidArgs, 3, &seen[3]));
    EXPECT_EQ(1u, CallEitherConvention(status, statusArgs, 1, &seen[4]));
    for (Convention c : seen) EXPECT_EQ(seen[0], c);
    EXPECT_NE(Convention::Unknown, seen[0]);

    const char* expected = std::getenv("TRAX_EXPECT_DRIVER_CONVENTION");
    if (expected != nullptr && expected[0] != '\0') {
        EXPECT_STREQ(expected, ObservedConvention());
    }
    FreeLibrary(driver);
}

}  // namespace
}  // namespace trax::driver
