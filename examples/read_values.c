/*
 * read_values: reads the measured values of both heads in a loop.
 *
 *   read_values [COUNT [INTERVAL_MS]]     (defaults: 10 readings, 200 ms apart)
 *
 * Every TRAX_* function returns 1 on success and 0 on failure; on failure
 * its outputs are not written.
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

static void print_value(const char* head, const FloatValue* v) {
    switch (v->status) {
    case TRAX_VALUE_VALID:
        printf("%s %10.5f", head, v->value);
        break;
    case TRAX_VALUE_OVER_POSITIVE:
        printf("%s      over+", head);
        break;
    case TRAX_VALUE_OVER_NEGATIVE:
        printf("%s      over-", head);
        break;
    default:
        printf("%s    invalid", head);
        break;
    }
}

int main(int argc, char** argv) {
    int count = argc > 1 ? atoi(argv[1]) : 10;
    int interval = argc > 2 ? atoi(argv[2]) : 200;
    int unitA = 0, unitB = 0;

    /* The values come in each head's display unit (a setting, code 0..5). */
    if (!TRAX_GetDisplayUnit(0, &unitA) || !TRAX_GetDisplayUnit(1, &unitB)) {
        fprintf(stderr, "TRAX_GetDisplayUnit failed\n");
        return 1;
    }
    printf("display unit codes: A %d, B %d\n", unitA, unitB);

    for (int i = 0; i < count; ++i) {
        FloatValue a, b;
        if (!TRAX_GetCalcData(&a, &b)) {
            fprintf(stderr, "TRAX_GetCalcData failed\n");
            return 1;
        }
        printf("%4d  ", i);
        print_value("A", &a);
        printf("   ");
        print_value("B", &b);
        printf("\n");
        if (i + 1 < count && interval > 0) pause_ms(interval);
    }
    return 0;
}
