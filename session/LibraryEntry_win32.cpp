// Process-attach entry of Trax.dll. Only the attach does work; a failed driver
// start-up makes the load itself fail.
#include <windows.h>

#include "session/DeviceSession.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID /*reserved*/) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    return trax::session::ProcessAttach() == 1 ? TRUE : FALSE;
}
