/*
 * trax.h - host interface of the two-head laser displacement-sensor controller.
 *
 * Overview
 * --------
 * Every function is synchronous. It checks its arguments, opens the connection
 * to the controller over USB, exchanges one or more commands with it, converts
 * the reply into its outputs, closes the connection and returns.
 *
 * Results
 * -------
 * Every function returns an int: 1 on success, 0 on any failure. There is no
 * error code. A 0 means one of:
 *   - an argument was out of its range (then nothing was sent at all);
 *   - the library could not start the USB driver when it was loaded (then
 *     every function returns 0 without any traffic);
 *   - the controller did not answer within 10 seconds, answered with a busy
 *     notice for longer than 10 seconds after the request, answered something
 *     malformed, or refused the command (non-zero error byte);
 *   - the controller could not be switched to or from its setting mode.
 * On Windows, when the controller answers with an error reply, its error
 * number (0..255) is also posted to the calling thread as a thread message:
 * message number 0, wParam the error number, lParam 0, readable with
 * PeekMessage. Other systems have no thread message queue; there the error
 * number is not reported.
 *
 * Outputs are written only on success, unless a function says otherwise. A
 * getter with one output requires it: a NULL there returns 0 with nothing
 * sent. So do the records that a function says must be valid. A getter with
 * several outputs skips the null ones.
 *
 * Operating modes
 * ---------------
 * The controller has a measurement mode (its normal state) and a setting mode.
 * Functions that write or read settings switch it to setting mode and back to
 * measurement mode themselves; nothing written is rolled back when a later
 * step fails. Only TRAX_AbleStart leaves the controller in setting mode, until
 * TRAX_AbleStop or TRAX_AbleCancel.
 * The library keeps no copy of the controller's mode. When a setting call
 * fails between its two switches, it still switches the controller back to
 * measurement mode before it returns 0: after a lost USB exchange it does so
 * over a fresh connection, and a switch back that fails is tried once more
 * (the call still returns 0).
 * The same holds when the switch to setting mode itself fails after the
 * controller was asked to enter it (TRAX_SetMode(1) included). Only when the
 * controller cannot be reached at all may it stay in setting mode: then
 * measurement, control and storage calls return 0 until TRAX_SetMode(0) or
 * any setting function brings it back.
 *
 * Threads
 * -------
 * The library may be called from several threads at once. Whole calls are
 * serialised by one process-wide lock: a call runs from its argument check to
 * its return without another call's commands in between, so a reply is never
 * decoded after another call overwrote it. A call made while another runs
 * waits for it (which may be up to several times 10 seconds with a silent
 * controller).
 *
 * Heads
 * -----
 * head 0 = head A, 1 = head B, 2 = both heads where a function allows it.
 *
 * Calling convention (32-bit Windows)
 * -----------------------------------
 * On 32-bit Windows every function is __stdcall (WINAPI), written out as
 * TRAX_CALL on each declaration, so callers compiled with another default
 * convention still call them correctly. Trax.dll exports them by their plain
 * names (TRAX_GetCalcData, not _TRAX_GetCalcData@8) with ordinals 1..69. 64-bit
 * Windows and other systems have a single convention. From other languages:
 * .NET [DllImport("Trax.dll")] (CallingConvention.StdCall is its default); VBA
 * and VB6 `Declare Function TRAX_SetMode Lib "Trax.dll" (ByVal mode As Long)
 * As Long` (PtrSafe in 64-bit Office); LabVIEW's Call Library Function node
 * with the calling convention "stdcall (WINAPI)"; Python ctypes.WinDLL("Trax.dll")
 * on 32-bit (ctypes.CDLL on 64-bit, where both are the same). A build made with
 * the __cdecl variant (TRAX_USE_CDECL) must be declared __cdecl instead:
 * its callers define TRAX_USE_CDECL before including this header.
 */
#ifndef TRAX_H
#define TRAX_H

#include <stdint.h>

#if defined(_WIN32)
#define TRAX_API
#elif defined(TRAX_BUILDING_LIBRARY)
#define TRAX_API __attribute__((visibility("default")))
#else
#define TRAX_API
#endif

/* Calling convention of every function: __stdcall (WINAPI) on 32-bit Windows,
 * the platform's only convention elsewhere. A build made for applications that
 * call with __cdecl defines TRAX_USE_CDECL, for itself and for its callers
 * (see "Calling convention" above). */
#if defined(_WIN32) && !defined(_WIN64) && !defined(TRAX_USE_CDECL)
#define TRAX_CALL __stdcall
#else
#define TRAX_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status of a converted value (FloatValue.status). */
#define TRAX_VALUE_VALID 0         /* value holds the measured value in the display unit */
#define TRAX_VALUE_OVER_POSITIVE 1 /* at or above the display range; value is +infinity */
#define TRAX_VALUE_OVER_NEGATIVE 2 /* at or below the display range; value is -infinity */
#define TRAX_VALUE_INVALID 3       /* no valid value; value has all bits set (a NaN) */

/* One measured value, converted to the head's display unit and rounded to its
 * display resolution. 8 bytes; arrays of it have a stride of 8. */
typedef struct FloatValue {
    int32_t status; /* TRAX_VALUE_* */
    float value;
} FloatValue;

/* Figure data of one head. 72 bytes. */
typedef struct FigureData {
    FloatValue values[7]; /* figure values 0..6, in the head's display unit */
    int32_t integers[4];  /* figure integers 0..3, as the controller sends them */
} FigureData;

/* Light figures that go with a light-intensity profile. 16 bytes. */
typedef struct LightData {
    int32_t values[4]; /* light figures 0..3, each 0..65535 */
} LightData;

#ifdef __cplusplus
static_assert(sizeof(FloatValue) == 8, "FloatValue is 8 bytes");
static_assert(sizeof(FigureData) == 72, "FigureData is 72 bytes");
static_assert(sizeof(LightData) == 16, "LightData is 16 bytes");
#else
typedef char trax_check_float_value_size[sizeof(FloatValue) == 8 ? 1 : -1];
typedef char trax_check_figure_data_size[sizeof(FigureData) == 72 ? 1 : -1];
typedef char trax_check_light_data_size[sizeof(LightData) == 16 ? 1 : -1];
#endif

/* ---- Operating mode ------------------------------------------------------ */

/* Switches the controller to measurement mode (mode 0) or setting mode
 * (mode 1), asking it for its current mode first.
 * @param[in] mode 0..1
 * @return 1 when the controller is in the requested mode. */
TRAX_API int TRAX_CALL TRAX_SetMode(int mode);

/* ---- Measured values and figure data ------------------------------------- */

/* Reads the current measured value of both heads.
 * @param[out] valueA head A's value, or NULL to skip it
 * @param[out] valueB head B's value, or NULL to skip it
 * @return 1 on success (the command is sent even when both are NULL). */
TRAX_API int TRAX_CALL TRAX_GetCalcData(FloatValue* valueA, FloatValue* valueB);

/* Reads the figure data of one head.
 * @param[in]  head 0..1
 * @param[out] data must be valid (NULL returns 0, nothing sent); the whole
 *             record is filled on success. */
TRAX_API int TRAX_CALL TRAX_GetFigureData(int head, FigureData* data);

/* Clears the controller's figure data (both heads). */
TRAX_API int TRAX_CALL TRAX_ClearFigureData(void);

/* ---- Data storage --------------------------------------------------------- */

/* Initialises the controller's data storage. */
TRAX_API int TRAX_CALL TRAX_DataStorageInit(void);
/* Starts storing measured values. */
TRAX_API int TRAX_CALL TRAX_DataStorageStart(void);
/* Stops storing measured values. */
TRAX_API int TRAX_CALL TRAX_DataStorageStop(void);

/* Reports the storage state and one head's number of stored values.
 * @param[in]  head 0..1
 * @param[out] storageState 1 while storing, else 0; may be NULL
 * @param[out] storedCount number of values the head holds; may be NULL */
TRAX_API int TRAX_CALL TRAX_DataStorageGetStatus(int head, int* storageState, int* storedCount);

/* Reads the stored values of one head (up to 65536) and converts them.
 * @param[in]  head 0..1
 * @param[in]  maxCount capacity of values, greater than 0
 * @param[out] values array of maxCount records, or NULL for the count alone;
 *             elements beyond the returned count are left untouched
 * @param[out] returnedCount min(stored, maxCount); may be NULL
 * @return 1 on success. A reply with an unknown unit system still fills the
 *         outputs (converted as metric) but returns 0. */
TRAX_API int TRAX_CALL TRAX_DataStorageGetData(int head, int maxCount, FloatValue* values, int* returnedCount);

/* Writes the three storage settings (setting mode is entered and left).
 * @param[in] target 0..3, count 1..65536 (values to store), cycle 0..9 */
TRAX_API int TRAX_CALL TRAX_SetDataStorage(int target, int count, int cycle);
/* Reads the three storage settings; each output may be NULL. Outputs read
 * before a failing step stay written. */
TRAX_API int TRAX_CALL TRAX_GetDataStorage(int* target, int* count, int* cycle);

/* ---- Light-intensity profile --------------------------------------------- */

/* Reads the light-intensity profile of one head; up to three attempts.
 * @param[in]  head 0..1
 * @param[in]  selector 0..3, passed to the controller
 * @param[out] data must be valid: light figures 0..3 (each 0..65535)
 * @param[out] extraValue the further figure (0..65535); may be NULL
 * @param[out] profile must be valid and hold 1024 bytes: one byte per sample
 * A NULL data or profile returns 0 with nothing sent. */
TRAX_API int TRAX_CALL TRAX_GetLight(int head, int selector, LightData* data, int* extraValue, unsigned char* profile);

/* ---- Control actions ------------------------------------------------------ */

/* Zero set (onOff 1) or clear (onOff 0). head 0..2. */
TRAX_API int TRAX_CALL TRAX_SetZero(int head, int onOff);
/* Timing input on (onOff 1) or off (onOff 0; sends on, then off). head 0..2. */
TRAX_API int TRAX_CALL TRAX_SetTiming(int head, int onOff);
/* Resets a head. head 0..2. */
TRAX_API int TRAX_CALL TRAX_SetReset(int head);
/* Selects the panel: panel 0 = head A, 1 = head B, 2 = both. */
TRAX_API int TRAX_CALL TRAX_SetPanel(int panel);
/* Reads the panel selection into panel (0, 1 or 2); must be valid (NULL
 * returns 0, nothing sent). Returns 0 and leaves panel untouched when the
 * controller reports no panel. */
TRAX_API int TRAX_CALL TRAX_GetPanel(int* panel);
/* Locks (1) or unlocks (0) the controller's panel. */
TRAX_API int TRAX_CALL TRAX_SetPanelLock(int locked);
/* Selects the program number, 0..7. */
TRAX_API int TRAX_CALL TRAX_SetProgramNo(int programNo);
/* Reads the program number (0..255 as the controller reports it); the pointer
 * must be valid (NULL returns 0, nothing sent). */
TRAX_API int TRAX_CALL TRAX_GetProgramNo(int* programNo);
/* Starts the Able adjustment of head 0..1. On success the controller stays in
 * setting mode until TRAX_AbleStop or TRAX_AbleCancel. */
TRAX_API int TRAX_CALL TRAX_AbleStart(int head);
/* Ends the Able adjustment and returns to measurement mode. The switch back
 * is made even when the controller refuses the stop; with no adjustment
 * running the controller refuses it and the result is 0. */
TRAX_API int TRAX_CALL TRAX_AbleStop(void);
/* Cancels the Able adjustment and returns to measurement mode; the result
 * follows the same rule as TRAX_AbleStop. */
TRAX_API int TRAX_CALL TRAX_AbleCancel(void);

/* ---- Head and output settings ---------------------------------------------
 * Every function takes head 0..1 first (2 is not accepted). Setters test every
 * range (inclusive) before anything is sent. A getter with one output requires
 * it (NULL returns 0, nothing sent); getters with several outputs skip NULLs.
 * A getter whose switch back to measurement mode fails returns 0 with its
 * outputs already written. */

TRAX_API int TRAX_CALL TRAX_SetAbleMode(int head, int ableMode); /* ableMode 0..1 */
TRAX_API int TRAX_CALL TRAX_GetAbleMode(int head, int* ableMode);
TRAX_API int TRAX_CALL TRAX_SetAbleMinMax(int head, int min, int max); /* 1..99 each, min <= max */
TRAX_API int TRAX_CALL TRAX_GetAbleMinMax(int head, int* min, int* max);
TRAX_API int TRAX_CALL TRAX_SetMeasureMode(int head, int measureMode); /* 0..4 */
TRAX_API int TRAX_CALL TRAX_GetMeasureMode(int head, int* measureMode);
TRAX_API int TRAX_CALL TRAX_SetNumAlarm(int head, int numAlarm); /* 0..999 */
TRAX_API int TRAX_CALL TRAX_GetNumAlarm(int head, int* numAlarm);
TRAX_API int TRAX_CALL TRAX_SetAlarmLevel(int head, int alarmLevel); /* 0..9 */
TRAX_API int TRAX_CALL TRAX_GetAlarmLevel(int head, int* alarmLevel);
TRAX_API int TRAX_CALL TRAX_SetReflectionMode(int head, int reflectionMode); /* 0..1 */
TRAX_API int TRAX_CALL TRAX_GetReflectionMode(int head, int* reflectionMode);
/* method 0..5, parameter 0..9; written (and read) one after the other. */
TRAX_API int TRAX_CALL TRAX_SetCalcMethod(int head, int method, int parameter);
TRAX_API int TRAX_CALL TRAX_GetCalcMethod(int head, int* method, int* parameter);
/* selector 0..1 picks one of two scaling sets; value1..value4 each
 * -999999..999999. */
TRAX_API int TRAX_CALL TRAX_SetScaling(int head, int selector, int value1, int value2, int value3, int value4);
TRAX_API int TRAX_CALL TRAX_GetScaling(int head, int selector, int* value1, int* value2, int* value3, int* value4);
TRAX_API int TRAX_CALL TRAX_SetFilterMode(int head, int filterMode); /* 0..2 */
TRAX_API int TRAX_CALL TRAX_GetFilterMode(int head, int* filterMode);
TRAX_API int TRAX_CALL TRAX_SetAverage(int head, int average); /* 0..9 */
TRAX_API int TRAX_CALL TRAX_GetAverage(int head, int* average);
TRAX_API int TRAX_CALL TRAX_SetCutOffFrequency(int head, int cutOffFrequency); /* 0..8 */
TRAX_API int TRAX_CALL TRAX_GetCutOffFrequency(int head, int* cutOffFrequency);
TRAX_API int TRAX_CALL TRAX_SetCalcMode(int head, int calcMode); /* 0..5 */
TRAX_API int TRAX_CALL TRAX_GetCalcMode(int head, int* calcMode);
TRAX_API int TRAX_CALL TRAX_SetTriggerMode(int head, int triggerMode); /* 0..1 */
TRAX_API int TRAX_CALL TRAX_GetTriggerMode(int head, int* triggerMode);
TRAX_API int TRAX_CALL TRAX_SetOffset(int head, int offset); /* -999999..999999 */
TRAX_API int TRAX_CALL TRAX_GetOffset(int head, int* offset);
/* displayUnit 0..5: the display unit and resolution of the head's values. */
TRAX_API int TRAX_CALL TRAX_SetDisplayUnit(int head, int displayUnit);
TRAX_API int TRAX_CALL TRAX_GetDisplayUnit(int head, int* displayUnit);
/* value1 and value3 -999999..999999; value2 and value4 -99999..99999. The
 * controller's text field for value2 and value4 holds five digits, so a
 * magnitude of 100000 or more is rejected like any out-of-range argument
 * (result 0, nothing sent). */
TRAX_API int TRAX_CALL TRAX_SetAnalogScaling(int head, int value1, int value2, int value3, int value4);
TRAX_API int TRAX_CALL TRAX_GetAnalogScaling(int head, int* value1, int* value2, int* value3, int* value4);
TRAX_API int TRAX_CALL TRAX_SetAnalogThrough(int head, int analogThrough); /* 0..1 */
TRAX_API int TRAX_CALL TRAX_GetAnalogThrough(int head, int* analogThrough);
/* value1, value2 -999999..999999; value3 0..999999. The set writes value3 as
 * 0 first, then value1 and value2, then value3. */
TRAX_API int TRAX_CALL TRAX_SetTolerance(int head, int value1, int value2, int value3);
TRAX_API int TRAX_CALL TRAX_GetTolerance(int head, int* value1, int* value2, int* value3);

/* ---- System settings ------------------------------------------------------
 * Controller-wide; each getter requires its output (NULL returns 0, nothing
 * sent) and passes the controller's byte (0..255) through unchanged. */

TRAX_API int TRAX_CALL TRAX_SetSamplingCycle(int samplingCycle); /* 0..5 */
TRAX_API int TRAX_CALL TRAX_GetSamplingCycle(int* samplingCycle);
TRAX_API int TRAX_CALL TRAX_SetMutualInterferencePrevention(int prevention); /* 0..1 */
TRAX_API int TRAX_CALL TRAX_GetMutualInterferencePrevention(int* prevention);
TRAX_API int TRAX_CALL TRAX_SetTimingSynchronization(int synchronization); /* 0..1 */
TRAX_API int TRAX_CALL TRAX_GetTimingSynchronization(int* synchronization);
TRAX_API int TRAX_CALL TRAX_SetToleranceComparatorOutputFormat(int outputFormat); /* 0..2 */
TRAX_API int TRAX_CALL TRAX_GetToleranceComparatorOutputFormat(int* outputFormat);
TRAX_API int TRAX_CALL TRAX_SetStorobeTime(int storobeTime); /* 0..3 */
TRAX_API int TRAX_CALL TRAX_GetStorobeTime(int* storobeTime);

#ifdef __cplusplus
}
#endif

#endif /* TRAX_H */
