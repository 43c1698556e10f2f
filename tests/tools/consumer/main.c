/* Reads both heads once through the installed library. */
#include <stdio.h>
#include <trax.h>

int main(void) {
    FloatValue a, b;
    if (!TRAX_GetCalcData(&a, &b)) {
        fprintf(stderr, "TRAX_GetCalcData failed\n");
        return 1;
    }
    printf("A %d %.3f B %d %.3f\n", a.status, a.value, b.status, b.value);
    return 0;
}
