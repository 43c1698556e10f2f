// End-to-end checks of Trax.dll as a Windows program sees it: loaded with
// LoadLibraryA, every function found with GetProcAddress by name and by
// ordinal, and called against the stand-in QelUsbDrv.dll with its simulated
// controller. Trax.dll and QelUsbDrv.dll lie beside this program.
//
// One case per run, chosen by the first argument, because the stand-in driver
// reads its configuration from the environment once per process:
//   exports       names, ordinals, nothing beyond ordinal 69, unload and reload
//   families      one representative call of every function family
//   refuse-load   (TRAX_SIM_STARTUP_FAIL=1) the load fails in DllMain
//   error-reply   (TRAX_SIM_ERROR_REPLY=12) the call fails and the error number
//                 arrives as message 0 in the calling thread's queue
//   version       the version resource, read through the Windows version API
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "TraxExportNames.h"
#include "trax.h"

namespace {

int g_failures = 0;

void Fail(const char* file, int line, const std::string& what) {
    std::fprintf(stderr, "%s:%d: FAILED: %s\n", file, line, what.c_str());
    ++g_failures;
}

#define CHECK(condition)                                        \
    do {                                                        \
        if (!(condition)) Fail(__FILE__, __LINE__, #condition); \
    } while (0)

#define CHECK_EQ(expected, actual)                                                                         \
    do {                                                                                                   \
        const long long e_ = static_cast<long long>(expected);                                             \
        const long long a_ = static_cast<long long>(actual);                                               \
        if (e_ != a_)                                                                                      \
            Fail(__FILE__, __LINE__,                                                                       \
                 std::string(#actual) + " is " + std::to_string(a_) + ", expected " + std::to_string(e_)); \
    } while (0)

// Typed lookup by name: the type comes from the declaration in trax.h, so a
// call through the pointer is checked by the compiler like a direct call.
#define TRAX_FN(module, name) Lookup<decltype(&::name)>(module, #name)

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
    FARPROC address = GetProcAddress(module, name);
    if (address == nullptr) {
        Fail(__FILE__, __LINE__, std::string("GetProcAddress(\"") + name + "\") is NULL");
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
    if (module == nullptr) {
        Fail(__FILE__, __LINE__, "LoadLibraryA(\"Trax.dll\") failed, error " + std::to_string(GetLastError()));
    }
    return module;
}

// Drops whatever the calling thread's queue holds (and creates the queue).
void DrainMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    }
}

int CaseExports() {
    std::vector<std::string> names(std::begin(kTraxExportNames), std::end(kTraxExportNames));
    CHECK_EQ(69, names.size());
    // Ordinals follow the names in byte order.
    std::sort(names.begin(), names.end());
    CHECK(std::adjacent_find(names.begin(), names.end()) == names.end());

    HMODULE module = LoadTrax();
    if (module == nullptr) return 1;
    for (size_t i = 0; i < names.size(); ++i) {
        const WORD ordinal = static_cast<WORD>(i + 1);
        FARPROC byName = GetProcAddress(module, names[i].c_str());
        FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
        if (byName == nullptr) Fail(__FILE__, __LINE__, names[i] + " not found by name");
        if (byOrdinal == nullptr) Fail(__FILE__, __LINE__, "ordinal " + std::to_string(ordinal) + " not found");
        if (byName != byOrdinal) {
            Fail(__FILE__, __LINE__, names[i] + " is not ordinal " + std::to_string(ordinal));
        }
    }
    CHECK(GetProcAddress(module, MAKEINTRESOURCEA(70)) == nullptr);
    // Nothing of the implementation is reachable, and names are case-sensitive.
    CHECK(GetProcAddress(module, "DllMain") == nullptr);
    CHECK(GetProcAddress(module, "trax_setmode") == nullptr);
    CHECK(GetProcAddress(module, "QelUsbPtrIoPtr") == nullptr);

    // The library unloads and loads again (static destruction, a second attach).
    auto setMode = TRAX_FN(module, TRAX_SetMode);
    if (setMode != nullptr) CHECK_EQ(1, setMode(0));
    CHECK(FreeLibrary(module) != FALSE);
    CHECK(GetModuleHandleA("Trax.dll") == nullptr);
    module = LoadTrax();
    if (module == nullptr) return 1;
    setMode = TRAX_FN(module, TRAX_SetMode);
    if (setMode != nullptr) CHECK_EQ(1, setMode(0));
    FreeLibrary(module);
    return 0;
}

int CaseFamilies() {
    HMODULE m = LoadTrax();
    if (m == nullptr) return 1;

    // Session and mode.
    auto setMode = TRAX_FN(m, TRAX_SetMode);
    if (setMode) {
        CHECK_EQ(1, setMode(1));
        CHECK_EQ(1, setMode(0));
        CHECK_EQ(0, setMode(2));  // out of range: refused before any traffic
    }

    // Measured values and figure data.
    if (auto getCalcData = TRAX_FN(m, TRAX_GetCalcData)) {
        FloatValue a{-1, 0.0f}, b{-1, 0.0f};
        CHECK_EQ(1, getCalcData(&a, &b));
        CHECK_EQ(TRAX_VALUE_VALID, a.status);
        CHECK_EQ(TRAX_VALUE_VALID, b.status);
        CHECK(std::isfinite(a.value) && std::isfinite(b.value));
        CHECK(a.value > 0.0f);  // head A reads around +1234.56 um, head B below zero
        CHECK(b.value < 0.0f);
    }
    if (auto getFigureData = TRAX_FN(m, TRAX_GetFigureData)) {
        FigureData figure;
        std::memset(&figure, 0xA5, sizeof figure);
        CHECK_EQ(1, getFigureData(1, &figure));
        for (const FloatValue& v : figure.values) CHECK(v.status >= 0 && v.status <= 3);
        CHECK_EQ(0, getFigureData(2, &figure));
    }
    if (auto clearFigureData = TRAX_FN(m, TRAX_ClearFigureData)) CHECK_EQ(1, clearFigureData());

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
        CHECK_EQ(1, setDataStorage(0, 100, 0));
        int target = -1, count = -1, cycle = -1;
        CHECK_EQ(1, getDataStorage(&target, &count, &cycle));
        CHECK_EQ(0, target);
        CHECK_EQ(100, count);
        CHECK_EQ(0, cycle);
        CHECK_EQ(1, storageInit());
        CHECK_EQ(1, storageStart());
        CHECK_EQ(1, storageStop());
        int state = -1, stored = -1;
        CHECK_EQ(1, storageStatus(0, &state, &stored));
        CHECK_EQ(0, state);
        CHECK_EQ(100, stored);
        std::vector<FloatValue> values(200, FloatValue{-1, 0.0f});
        int returned = -1;
        CHECK_EQ(1, storageData(0, static_cast<int>(values.size()), values.data(), &returned));
        CHECK_EQ(100, returned);
        CHECK_EQ(TRAX_VALUE_VALID, values[0].status);
        CHECK_EQ(-1, values[100].status);  // beyond the returned count: untouched
        CHECK_EQ(0, setDataStorage(0, 0, 0));
    }

    // Light-intensity profile.
    if (auto getLight = TRAX_FN(m, TRAX_GetLight)) {
        LightData light{{-1, -1, -1, -1}};
        int extra = -1;
        std::vector<unsigned char> profile(1024, 0);
        CHECK_EQ(1, getLight(0, 0, &light, &extra, profile.data()));
        for (int v : light.values) CHECK(v >= 0 && v <= 65535);
        CHECK(extra >= 0 && extra <= 65535);
        CHECK(std::any_of(profile.begin(), profile.end(), [](unsigned char c) { return c != 0; }));
    }

    // Control actions.
    if (auto setZero = TRAX_FN(m, TRAX_SetZero)) {
        CHECK_EQ(1, setZero(2, 1));
        CHECK_EQ(1, setZero(2, 0));
        CHECK_EQ(0, setZero(3, 1));
    }
    if (auto setTiming = TRAX_FN(m, TRAX_SetTiming)) CHECK_EQ(1, setTiming(0, 0));
    if (auto setReset = TRAX_FN(m, TRAX_SetReset)) CHECK_EQ(1, setReset(1));
    auto setPanel = TRAX_FN(m, TRAX_SetPanel);
    auto getPanel = TRAX_FN(m, TRAX_GetPanel);
    if (setPanel && getPanel) {
        CHECK_EQ(1, setPanel(1));
        int panel = -1;
        CHECK_EQ(1, getPanel(&panel));
        CHECK_EQ(1, panel);
    }
    if (auto setPanelLock = TRAX_FN(m, TRAX_SetPanelLock)) {
        CHECK_EQ(1, setPanelLock(1));
        CHECK_EQ(1, setPanelLock(0));
    }
    auto setProgramNo = TRAX_FN(m, TRAX_SetProgramNo);
    auto getProgramNo = TRAX_FN(m, TRAX_GetProgramNo);
    if (setProgramNo && getProgramNo) {
        CHECK_EQ(1, setProgramNo(3));
        int programNo = -1;
        CHECK_EQ(1, getProgramNo(&programNo));
        CHECK_EQ(3, programNo);
        CHECK_EQ(1, setProgramNo(0));
        CHECK_EQ(0, setProgramNo(8));
    }
    auto ableStart = TRAX_FN(m, TRAX_AbleStart);
    auto ableStop = TRAX_FN(m, TRAX_AbleStop);
    auto ableCancel = TRAX_FN(m, TRAX_AbleCancel);
    if (ableStart && ableStop && ableCancel) {
        CHECK_EQ(1, ableStart(0));
        CHECK_EQ(1, ableCancel());
        CHECK_EQ(1, ableStart(1));
        CHECK_EQ(1, ableStop());
    }

    // Head and output settings: a write read back, a multi-output getter.
    auto setAverage = TRAX_FN(m, TRAX_SetAverage);
    auto getAverage = TRAX_FN(m, TRAX_GetAverage);
    if (setAverage && getAverage) {
        CHECK_EQ(1, setAverage(1, 4));
        int average = -1;
        CHECK_EQ(1, getAverage(1, &average));
        CHECK_EQ(4, average);
        CHECK_EQ(0, setAverage(1, 10));
        CHECK_EQ(0, setAverage(2, 4));  // per-head settings take no "both"
    }
    auto setOffset = TRAX_FN(m, TRAX_SetOffset);
    auto getOffset = TRAX_FN(m, TRAX_GetOffset);
    if (setOffset && getOffset) {
        CHECK_EQ(1, setOffset(0, -1234));
        int offset = 0;
        CHECK_EQ(1, getOffset(0, &offset));
        CHECK_EQ(-1234, offset);
    }
    auto setTolerance = TRAX_FN(m, TRAX_SetTolerance);
    auto getTolerance = TRAX_FN(m, TRAX_GetTolerance);
    if (setTolerance && getTolerance) {
        int v1 = 0, v2 = 0, v3 = 0;
        CHECK_EQ(1, getTolerance(0, &v1, &v2, &v3));
        CHECK_EQ(1, setTolerance(0, v1, v2, v3));
        CHECK_EQ(1, getTolerance(0, &v1, nullptr, &v3));
    }

    // System settings.
    auto setSamplingCycle = TRAX_FN(m, TRAX_SetSamplingCycle);
    auto getSamplingCycle = TRAX_FN(m, TRAX_GetSamplingCycle);
    if (setSamplingCycle && getSamplingCycle) {
        CHECK_EQ(1, setSamplingCycle(2));
        int cycle = -1;
        CHECK_EQ(1, getSamplingCycle(&cycle));
        CHECK_EQ(2, cycle);
        CHECK_EQ(0, setSamplingCycle(6));
    }
    auto setStorobeTime = TRAX_FN(m, TRAX_SetStorobeTime);
    auto getStorobeTime = TRAX_FN(m, TRAX_GetStorobeTime);
    if (setStorobeTime && getStorobeTime) {
        CHECK_EQ(1, setStorobeTime(3));
        int strobe = -1;
        CHECK_EQ(1, getStorobeTime(&strobe));
        CHECK_EQ(3, strobe);
    }

    // Still in measurement mode after all of it: a measured value reads.
    if (auto getCalcData = TRAX_FN(m, TRAX_GetCalcData)) CHECK_EQ(1, getCalcData(nullptr, nullptr));
    FreeLibrary(m);
    return 0;
}

int CaseRefuseLoad() {
    // The files are there; only the driver start-up fails.
    CHECK(GetFileAttributesA(BesideProgram("Trax.dll").c_str()) != INVALID_FILE_ATTRIBUTES);
    CHECK(GetFileAttributesA(BesideProgram("QelUsbDrv.dll").c_str()) != INVALID_FILE_ATTRIBUTES);
    SetLastError(0);
    HMODULE module = LoadLibraryA("Trax.dll");
    const DWORD error = GetLastError();
    CHECK(module == nullptr);
    // DllMain said FALSE: not a missing file or a missing import.
    CHECK_EQ(ERROR_DLL_INIT_FAILED, error);
    CHECK(GetModuleHandleA("Trax.dll") == nullptr);
    if (module != nullptr) FreeLibrary(module);
    return 0;
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

int CaseErrorReply() {
    HMODULE m = LoadTrax();
    if (m == nullptr) return 1;
    auto getCalcData = TRAX_FN(m, TRAX_GetCalcData);
    if (getCalcData == nullptr) return 1;

    DrainMessages();
    FloatValue a{-1, 0.0f}, b{-1, 0.0f};
    CHECK_EQ(0, getCalcData(&a, &b));
    CHECK_EQ(-1, a.status);  // no output on failure
    MSG msg;
    const bool got = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
    CHECK(got);
    if (got) {
        CHECK_EQ(0, msg.message);
        CHECK_EQ(12, msg.wParam);
        CHECK_EQ(0, msg.lParam);
        CHECK(msg.hwnd == nullptr);
    }
    // One message per error reply.
    CHECK(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) == FALSE);

    // The message goes to the queue of the thread that made the call.
    ThreadCall call{getCalcData, -1, false, {}};
    HANDLE thread = CreateThread(nullptr, 0, CallOnOtherThread, &call, 0, nullptr);
    CHECK(thread != nullptr);
    if (thread != nullptr) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        CHECK_EQ(0, call.result);
        CHECK(call.gotMessage);
        if (call.gotMessage) {
            CHECK_EQ(0, call.msg.message);
            CHECK_EQ(12, call.msg.wParam);
            CHECK_EQ(0, call.msg.lParam);
        }
        CHECK(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) == FALSE);
    }

    // Other commands are not affected, and their success posts nothing.
    if (auto setMode = TRAX_FN(m, TRAX_SetMode)) {
        CHECK_EQ(1, setMode(0));
        CHECK(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) == FALSE);
    }
    FreeLibrary(m);
    return 0;
}

std::string QueryString(const std::vector<char>& block, const char* key) {
    std::string path = std::string("\\StringFileInfo\\040904b0\\") + key;
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block.data(), path.c_str(), &value, &length) == FALSE || value == nullptr) return "<none>";
    return std::string(static_cast<const char*>(value));
}

int CaseVersion() {
    const std::string dll = BesideProgram("Trax.dll");

    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(dll.c_str(), &handle);
    CHECK(size > 0);
    if (size == 0) return 1;
    std::vector<char> block(size);
    CHECK(GetFileVersionInfoA(dll.c_str(), 0, size, block.data()) != FALSE);

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    CHECK(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) != FALSE);
    if (fixed != nullptr) {
        CHECK_EQ(0x00020002, fixed->dwFileVersionMS);
        CHECK_EQ(0x00000000, fixed->dwFileVersionLS);
        CHECK_EQ(0x00020002, fixed->dwProductVersionMS);
        CHECK_EQ(0x00000000, fixed->dwProductVersionLS);
        CHECK_EQ(VFT_DLL, fixed->dwFileType);
    }
    const struct {
        const char* key;
        const char* expected;
    } strings[] = {
        {"FileVersion", "2, 2, 0, 0"}, {"ProductVersion", "2, 2, 0, 0"}, {"FileDescription", "Trax"},
        {"InternalName", "Trax"},      {"OriginalFilename", "Trax.dll"},
    };
    for (const auto& s : strings) {
        const std::string actual = QueryString(block, s.key);
        std::printf("%s = \"%s\"\n", s.key, actual.c_str());
        if (actual != s.expected) {
            Fail(__FILE__, __LINE__, std::string(s.key) + " is \"" + actual + "\", expected \"" + s.expected + "\"");
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string which = argc > 1 ? argv[1] : "";
    int status = 0;
    if (which == "exports") {
        status = CaseExports();
    } else if (which == "families") {
        status = CaseFamilies();
    } else if (which == "refuse-load") {
        status = CaseRefuseLoad();
    } else if (which == "error-reply") {
        status = CaseErrorReply();
    } else if (which == "version") {
        status = CaseVersion();
    } else {
        std::fprintf(stderr, "usage: %s exports|families|refuse-load|error-reply|version\n", argv[0]);
        return 2;
    }
    if (status != 0 && g_failures == 0) ++g_failures;
    std::printf("%s: %s (%d failure%s)\n", which.c_str(), g_failures == 0 ? "passed" : "FAILED", g_failures,
                g_failures == 1 ? "" : "s");
    return g_failures == 0 ? 0 : 1;
}
