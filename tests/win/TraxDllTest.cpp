// End-to-end checks of Trax.dll as a Windows program sees it: loaded with
// LoadLibraryA, every function found with GetProcAddress by name and by
// ordinal, and called against the stand-in QelUsbDrv.dll with its simulated
// controller. Trax.dll lies beside this program; the driver is found beside it
// or on the search path.
//
// The stand-in driver reads its configuration from the environment once per
// process, so ctest runs one test per process (--gtest_filter), each with the
// driver settings it needs:
//   Exports        names, ordinals, nothing beyond ordinal 69, unload and reload
//   Families       one representative call of every function family
//   RefuseLoad     (TRAX_SIM_STARTUP_FAIL=1) the load fails in DllMain
//   ErrorReply     (TRAX_SIM_ERROR_REPLY=12) the call fails and the error number
//                  arrives as message 0 in the calling thread's queue
//   Version        the version resource, read through the Windows version API
//   CallingConvention  (32-bit) the functions clean up their arguments the way
//                  the header declares
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "TraxExportNames.h"
#include "trax.h"

#if defined(__i386__)
#include "driver/DriverCall.h"
#endif

namespace {

// Typed lookup by name: the type comes from the declaration in trax.h, so a
// call through the pointer is checked by the compiler like a direct call.
#define TRAX_FN(module, name) Lookup<decltype(&::name)>(module, #name)

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
    FARPROC address = GetProcAddress(module, name);
    if (address == nullptr) {
        ADD_FAILURE() << "GetProcAddress(\"" << name << "\") is NULL";
        return nullptr;
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
}

// Full path of a file in this program's folder.
std::string BesideProgram(const char* file) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return file;
    std::string folder(path, n);
    return folder.substr(0, folder.find_last_of("\\/") + 1) + file;
}

HMODULE LoadTrax() {
    HMODULE module = LoadLibraryA("Trax.dll");
    if (module == nullptr) ADD_FAILURE() << "LoadLibraryA(\"Trax.dll\") failed, error " << GetLastError();
    return module;
}

// Drops whatever the calling thread's queue holds (and creates the queue).
void DrainMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    }
}

TEST(TraxDll, Exports) {
    std::vector<std::string> names(std::begin(kTraxExportNames), std::end(kTraxExportNames));
    EXPECT_EQ(69u, names.size());
    // Ordinals follow the names in byte order.
    std::sort(names.begin(), names.end());
    EXPECT_TRUE(std::adjacent_find(names.begin(), names.end()) == names.end());

    HMODULE module = LoadTrax();
    ASSERT_NE(module, nullptr);
    for (size_t i = 0; i < names.size(); ++i) {
        const WORD ordinal = static_cast<WORD>(i + 1);
        FARPROC byName = GetProcAddress(module, names[i].c_str());
        FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
        if (byName == nullptr) ADD_FAILURE() << (names[i] + " not found by name");
        if (byOrdinal == nullptr) ADD_FAILURE() << ("ordinal " + std::to_string(ordinal) + " not found");
        if (byName != byOrdinal) {
            ADD_FAILURE() << (names[i] + " is not ordinal " + std::to_string(ordinal));
        }
    }
    EXPECT_TRUE(GetProcAddress(module, MAKEINTRESOURCEA(70)) == nullptr);
    // Nothing of the implementation is reachable, and names are case-sensitive.
    EXPECT_TRUE(GetProcAddress(module, "DllMain") == nullptr);
    EXPECT_TRUE(GetProcAddress(module, "trax_setmode") == nullptr);
    EXPECT_TRUE(GetProcAddress(module, "QelUsbPtrIoPtr") == nullptr);

    // The library unloads and loads again (static destruction, a second attach).
    auto setMode = TRAX_FN(module, TRAX_SetMode);
    if (setMode != nullptr) {
        EXPECT_EQ(1, setMode(0));
    }
    EXPECT_TRUE(FreeLibrary(module) != FALSE);
    EXPECT_TRUE(GetModuleHandleA("Trax.dll") == nullptr);
    module = LoadTrax();
    ASSERT_NE(module, nullptr);
    setMode = TRAX_FN(module, TRAX_SetMode);
    if (setMode != nullptr) {
        EXPECT_EQ(1, setMode(0));
    }
    FreeLibrary(module);
}

TEST(TraxDll, Families) {
    HMODULE m = LoadTrax();
    ASSERT_NE(m, nullptr);

    // Session and mode.
    auto setMode = TRAX_FN(m, TRAX_SetMode);
    if (setMode) {
        EXPECT_EQ(1, setMode(1));
        EXPECT_EQ(1, setMode(0));
        EXPECT_EQ(0, setMode(2));  // out of range: refused before any traffic
    }

    // Measured values and figure data.
    if (auto getCalcData = TRAX_FN(m, TRAX_GetCalcData)) {
        FloatValue a{-1, 0.0f}, b{-1, 0.0f};
        EXPECT_EQ(1, getCalcData(&a, &b));
        EXPECT_EQ(TRAX_VALUE_VALID, a.status);
        EXPECT_EQ(TRAX_VALUE_VALID, b.status);
        EXPECT_TRUE(std::isfinite(a.value) && std::isfinite(b.value));
        EXPECT_TRUE(a.value > 0.0f);  // head A reads around +1234.56 um, head B below zero
        EXPECT_TRUE(b.value < 0.0f);
    }
    if (auto getFigureData = TRAX_FN(m, TRAX_GetFigureData)) {
        FigureData figure;
        std::memset(&figure, 0xA5, sizeof figure);
        EXPECT_EQ(1, getFigureData(1, &figure));
        for (const FloatValue& v : figure.values) EXPECT_TRUE(v.status >= 0 && v.status <= 3);
        EXPECT_EQ(0, getFigureData(2, &figure));
    }
    if (auto clearFigureData = TRAX_FN(m, TRAX_ClearFigureData)) {
        EXPECT_EQ(1, clearFigureData());
    }

    // Data storage.
    auto setDataStorage = TRAX_FN(m, TRAX_SetDataStorage);
    auto getDataStorage = TRAX_FN(m, TRAX_GetDataStorage);
    auto storageInit = TRAX_FN(m, TRAX_DataStorageInit);
    auto storageStart = TRAX_FN(m, TRAX_DataStorageStart);
    auto storageStop = TRAX_FN(m, TRAX_DataStorageStop);
    auto storageStatus = TRAX_FN(m, TRAX_DataStorageGetStatus);
    auto storageData = TRAX_FN(m, TRAX_DataStorageGetData);
    if (setDataStorage && getDataStorage && storageInit && storageStart && storageStop && storageStatus &&
        storageData) {
        EXPECT_EQ(1, setDataStorage(0, 100, 0));
        int target = -1, count = -1, cycle = -1;
        EXPECT_EQ(1, getDataStorage(&target, &count, &cycle));
        EXPECT_EQ(0, target);
        EXPECT_EQ(100, count);
        EXPECT_EQ(0, cycle);
        EXPECT_EQ(1, storageInit());
        EXPECT_EQ(1, storageStart());
        EXPECT_EQ(1, storageStop());
        int state = -1, stored = -1;
        EXPECT_EQ(1, storageStatus(0, &state, &stored));
        EXPECT_EQ(0, state);
        EXPECT_EQ(100, stored);
        std::vector<FloatValue> values(200, FloatValue{-1, 0.0f});
        int returned = -1;
        EXPECT_EQ(1, storageData(0, static_cast<int>(values.size()), values.data(), &returned));
        EXPECT_EQ(100, returned);
        EXPECT_EQ(TRAX_VALUE_VALID, values[0].status);
        EXPECT_EQ(-1, values[100].status);  // beyond the returned count: untouched
        EXPECT_EQ(0, setDataStorage(0, 0, 0));
    }

    // Light-intensity profile.
    if (auto getLight = TRAX_FN(m, TRAX_GetLight)) {
        LightData light{{-1, -1, -1, -1}};
        int extra = -1;
        std::vector<unsigned char> profile(1024, 0);
        EXPECT_EQ(1, getLight(0, 0, &light, &extra, profile.data()));
        for (int v : light.values) EXPECT_TRUE(v >= 0 && v <= 65535);
        EXPECT_TRUE(extra >= 0 && extra <= 65535);
        EXPECT_TRUE(std::any_of(profile.begin(), profile.end(), [](unsigned char c) { return c != 0; }));
    }

    // Control actions.
    if (auto setZero = TRAX_FN(m, TRAX_SetZero)) {
        EXPECT_EQ(1, setZero(2, 1));
        EXPECT_EQ(1, setZero(2, 0));
        EXPECT_EQ(0, setZero(3, 1));
    }
    if (auto setTiming = TRAX_FN(m, TRAX_SetTiming)) {
        EXPECT_EQ(1, setTiming(0, 0));
    }
    if (auto setReset = TRAX_FN(m, TRAX_SetReset)) {
        EXPECT_EQ(1, setReset(1));
    }
    auto setPanel = TRAX_FN(m, TRAX_SetPanel);
    auto getPanel = TRAX_FN(m, TRAX_GetPanel);
    if (setPanel && getPanel) {
        EXPECT_EQ(1, setPanel(1));
        int panel = -1;
        EXPECT_EQ(1, getPanel(&panel));
        EXPECT_EQ(1, panel);
    }
    if (auto setPanelLock = TRAX_FN(m, TRAX_SetPanelLock)) {
        EXPECT_EQ(1, setPanelLock(1));
        EXPECT_EQ(1, setPanelLock(0));
    }
    auto setProgramNo = TRAX_FN(m, TRAX_SetProgramNo);
    auto getProgramNo = TRAX_FN(m, TRAX_GetProgramNo);
    if (setProgramNo && getProgramNo) {
        EXPECT_EQ(1, setProgramNo(3));
        int programNo = -1;
        EXPECT_EQ(1, getProgramNo(&programNo));
        EXPECT_EQ(3, programNo);
        EXPECT_EQ(1, setProgramNo(0));
        EXPECT_EQ(0, setProgramNo(8));
    }
    auto ableStart = TRAX_FN(m, TRAX_AbleStart);
    auto ableStop = TRAX_FN(m, TRAX_AbleStop);
    auto ableCancel = TRAX_FN(m, TRAX_AbleCancel);
    if (ableStart && ableStop && ableCancel) {
        EXPECT_EQ(1, ableStart(0));
        EXPECT_EQ(1, ableCancel());
        EXPECT_EQ(1, ableStart(1));
        EXPECT_EQ(1, ableStop());
    }

    // Head and output settings: a write read back, a multi-output getter.
    auto setAverage = TRAX_FN(m, TRAX_SetAverage);
    auto getAverage = TRAX_FN(m, TRAX_GetAverage);
    if (setAverage && getAverage) {
        EXPECT_EQ(1, setAverage(1, 4));
        int average = -1;
        EXPECT_EQ(1, getAverage(1, &average));
        EXPECT_EQ(4, average);
        EXPECT_EQ(0, setAverage(1, 10));
        EXPECT_EQ(0, setAverage(2, 4));  // per-head settings take no "both"
    }
    auto setOffset = TRAX_FN(m, TRAX_SetOffset);
    auto getOffset = TRAX_FN(m, TRAX_GetOffset);
    if (setOffset && getOffset) {
        EXPECT_EQ(1, setOffset(0, -1234));
        int offset = 0;
        EXPECT_EQ(1, getOffset(0, &offset));
        EXPECT_EQ(-1234, offset);
    }
    auto setTolerance = TRAX_FN(m, TRAX_SetTolerance);
    auto getTolerance = TRAX_FN(m, TRAX_GetTolerance);
    if (setTolerance && getTolerance) {
        int v1 = 0, v2 = 0, v3 = 0;
        EXPECT_EQ(1, getTolerance(0, &v1, &v2, &v3));
        EXPECT_EQ(1, setTolerance(0, v1, v2, v3));
        EXPECT_EQ(1, getTolerance(0, &v1, nullptr, &v3));
    }

    // System settings.
    auto setSamplingCycle = TRAX_FN(m, TRAX_SetSamplingCycle);
    auto getSamplingCycle = TRAX_FN(m, TRAX_GetSamplingCycle);
    if (setSamplingCycle && getSamplingCycle) {
        EXPECT_EQ(1, setSamplingCycle(2));
        int cycle = -1;
        EXPECT_EQ(1, getSamplingCycle(&cycle));
        EXPECT_EQ(2, cycle);
        EXPECT_EQ(0, setSamplingCycle(6));
    }
    auto setStorobeTime = TRAX_FN(m, TRAX_SetStorobeTime);
    auto getStorobeTime = TRAX_FN(m, TRAX_GetStorobeTime);
    if (setStorobeTime && getStorobeTime) {
        EXPECT_EQ(1, setStorobeTime(3));
        int strobe = -1;
        EXPECT_EQ(1, getStorobeTime(&strobe));
        EXPECT_EQ(3, strobe);
    }

    // Still in measurement mode after all of it: a measured value reads.
    if (auto getCalcData = TRAX_FN(m, TRAX_GetCalcData)) {
        EXPECT_EQ(1, getCalcData(nullptr, nullptr));
    }
    FreeLibrary(m);
}

TEST(TraxDll, RefuseLoad) {
    // The files are there; only the driver start-up fails.
    EXPECT_TRUE(GetFileAttributesA(BesideProgram("Trax.dll").c_str()) != INVALID_FILE_ATTRIBUTES);
    char driver[MAX_PATH];
    EXPECT_NE(0u, SearchPathA(nullptr, "QelUsbDrv.dll", nullptr, MAX_PATH, driver, nullptr));
    SetLastError(0);
    HMODULE module = LoadLibraryA("Trax.dll");
    const DWORD error = GetLastError();
    EXPECT_TRUE(module == nullptr);
    // DllMain said FALSE: not a missing file or a missing import.
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), error);
    EXPECT_TRUE(GetModuleHandleA("Trax.dll") == nullptr);
    if (module != nullptr) FreeLibrary(module);
}

struct ThreadCall {
    decltype(&::TRAX_GetCalcData) getCalcData;
    int result;
    bool gotMessage;
    MSG msg;
};

DWORD WINAPI CallOnOtherThread(LPVOID parameter) {
    auto* call = static_cast<ThreadCall*>(parameter);
    DrainMessages();
    FloatValue a{}, b{};
    call->result = call->getCalcData(&a, &b);
    call->gotMessage = PeekMessageA(&call->msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
    return 0;
}

TEST(TraxDll, ErrorReply) {
    HMODULE m = LoadTrax();
    ASSERT_NE(m, nullptr);
    auto getCalcData = TRAX_FN(m, TRAX_GetCalcData);
    ASSERT_NE(getCalcData, nullptr);

    DrainMessages();
    FloatValue a{-1, 0.0f}, b{-1, 0.0f};
    EXPECT_EQ(0, getCalcData(&a, &b));
    EXPECT_EQ(-1, a.status);  // no output on failure
    MSG msg;
    const bool got = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
    EXPECT_TRUE(got);
    if (got) {
        EXPECT_EQ(0u, msg.message);
        EXPECT_EQ(12u, msg.wParam);
        EXPECT_EQ(0, msg.lParam);
        EXPECT_TRUE(msg.hwnd == nullptr);
    }
    // One message per error reply.
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) == FALSE);

    // The message goes to the queue of the thread that made the call.
    ThreadCall call{getCalcData, -1, false, {}};
    HANDLE thread = CreateThread(nullptr, 0, CallOnOtherThread, &call, 0, nullptr);
    EXPECT_TRUE(thread != nullptr);
    if (thread != nullptr) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        EXPECT_EQ(0, call.result);
        EXPECT_TRUE(call.gotMessage);
        if (call.gotMessage) {
            EXPECT_EQ(0u, call.msg.message);
            EXPECT_EQ(12u, call.msg.wParam);
            EXPECT_EQ(0, call.msg.lParam);
        }
        EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) == FALSE);
    }

    // Other commands are not affected, and their success posts nothing.
    if (auto setMode = TRAX_FN(m, TRAX_SetMode)) {
        EXPECT_EQ(1, setMode(0));
        EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) == FALSE);
    }
    FreeLibrary(m);
}

std::string QueryString(const std::vector<char>& block, const char* key) {
    std::string path = std::string("\\StringFileInfo\\040904b0\\") + key;
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block.data(), path.c_str(), &value, &length) == FALSE || value == nullptr) return "<none>";
    return std::string(static_cast<const char*>(value));
}

TEST(TraxDll, Version) {
    const std::string dll = BesideProgram("Trax.dll");

    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(dll.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    EXPECT_TRUE(GetFileVersionInfoA(dll.c_str(), 0, size, block.data()) != FALSE);

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    EXPECT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) != FALSE);
    if (fixed != nullptr) {
        EXPECT_EQ(0x00020002u, fixed->dwFileVersionMS);
        EXPECT_EQ(0x00000000u, fixed->dwFileVersionLS);
        EXPECT_EQ(0x00020002u, fixed->dwProductVersionMS);
        EXPECT_EQ(0x00000000u, fixed->dwProductVersionLS);
        EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
    }
    const struct {
        const char* key;
        const char* expected;
    } strings[] = {
        {"FileVersion", "2, 2, 0, 0"}, {"ProductVersion", "2, 2, 0, 0"}, {"FileDescription", "Trax"},
        {"InternalName", "Trax"},      {"OriginalFilename", "Trax.dll"},
    };
    for (const auto& s : strings) {
        EXPECT_EQ(s.expected, QueryString(block, s.key)) << s.key;
    }
}

#if defined(__i386__)
// The exports remove their own arguments (__stdcall) unless this build is the
// __cdecl variant; the caller's declaration in trax.h says the same. Called
// through the driver thunk, which measures how far the stack pointer moved.
TEST(TraxDll, CallingConvention) {
#if defined(TRAX_USE_CDECL)
    const trax::driver::Convention expected = trax::driver::Convention::Cdecl;
#else
    const trax::driver::Convention expected = trax::driver::Convention::Stdcall;
#endif
    HMODULE m = LoadTrax();
    ASSERT_NE(m, nullptr);
    const struct {
        const char* name;
        std::vector<uint32_t> args;
        uint32_t result;
    } calls[] = {
        {"TRAX_SetMode", {0}, 1},
        {"TRAX_SetMode", {5}, 0},  // refused before any traffic, same clean-up
        {"TRAX_GetCalcData", {0, 0}, 1},
        {"TRAX_SetDataStorage", {0, 100, 0}, 1},
        {"TRAX_GetScaling", {0, 0, 0, 0, 0, 0}, 1},
    };
    for (const auto& call : calls) {
        const FARPROC function = GetProcAddress(m, call.name);
        ASSERT_NE(function, nullptr) << call.name;
        trax::driver::Convention seen = trax::driver::Convention::Unknown;
        const uint32_t result = trax::driver::CallEitherConvention(
            reinterpret_cast<const void*>(function), call.args.data(), static_cast<uint32_t>(call.args.size()), &seen);
        EXPECT_EQ(call.result, result) << call.name;
        EXPECT_EQ(expected, seen) << call.name;
    }
    FreeLibrary(m);
}
#endif

}  // namespace
