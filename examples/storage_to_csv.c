/*
 * storage_to_csv: one storage run of both heads, written to a CSV file.
 *
 *   storage_to_csv FILE [COUNT]     (default: 1000 values per head)
 *
 * Sets the storage up (target 0, COUNT values, cycle 0), empties it, starts
 * it, waits until both heads hold COUNT values or the controller stops by
 * itself, stops it and reads the values of both heads.
 */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L
#endif

#include <stdio.h>
#include <stdlib.h>
#include <trax.h>

#if defined(_WIN32)
#include <windows.h>
static void pause_ms(int ms) { Sleep((DWORD)ms); }
#else
#include <time.h>
static void pause_ms(int ms) {
    struct timespec t;
    t.tv_sec = ms / 1000;
    t.tv_nsec = (long)(ms % 1000) * 1000000L;
    nanosleep(&t, NULL);
}
#endif

static int fail(const char* call) {
    fprintf(stderr, "%s failed\n", call);
    return 1;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: storage_to_csv FILE [COUNT]\n");
        return 2;
    }
    int count = argc > 2 ? atoi(argv[2]) : 1000;
    if (count < 1 || count > 65536) {
        fprintf(stderr, "COUNT must be 1..65536\n");
        return 2;
    }

    if (!TRAX_SetDataStorage(0, count, 0)) return fail("TRAX_SetDataStorage");
    if (!TRAX_DataStorageInit()) return fail("TRAX_DataStorageInit");
    if (!TRAX_DataStorageStart()) return fail("TRAX_DataStorageStart");

    for (;;) {
        int storing = 0, storedA = 0, storedB = 0;
        if (!TRAX_DataStorageGetStatus(0, &storing, &storedA)) return fail("TRAX_DataStorageGetStatus");
        if (!TRAX_DataStorageGetStatus(1, NULL, &storedB)) return fail("TRAX_DataStorageGetStatus");
        if (!storing || (storedA >= count && storedB >= count)) break;
        pause_ms(50);
    }
    if (!TRAX_DataStorageStop()) return fail("TRAX_DataStorageStop");

    FloatValue* a = malloc(sizeof(FloatValue) * (size_t)count);
    FloatValue* b = malloc(sizeof(FloatValue) * (size_t)count);
    int gotA = 0, gotB = 0;
    if (a == NULL || b == NULL) return fail("malloc");
    if (!TRAX_DataStorageGetData(0, count, a, &gotA)) return fail("TRAX_DataStorageGetData");
    if (!TRAX_DataStorageGetData(1, count, b, &gotB)) return fail("TRAX_DataStorageGetData");

    FILE* out = fopen(argv[1], "w");
    if (out == NULL) return fail("fopen");
    /* An empty cell: that head has no value at this index, or it is not valid. */
    fprintf(out, "index,A,B\n");
    int rows = gotA > gotB ? gotA : gotB;
    for (int i = 0; i < rows; ++i) {
        fprintf(out, "%d,", i);
        if (i < gotA && a[i].status == TRAX_VALUE_VALID) fprintf(out, "%.5f", a[i].value);
        fprintf(out, ",");
        if (i < gotB && b[i].status == TRAX_VALUE_VALID) fprintf(out, "%.5f", b[i].value);
        fprintf(out, "\n");
    }
    fclose(out);
    free(a);
    free(b);
    printf("wrote %d values of head A and %d of head B to %s\n", gotA, gotB, argv[1]);
    return 0;
}
