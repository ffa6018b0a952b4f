/* A C host built against an installed onset: it must compile with the
 * installed header, link the installed library and get right answers. */
#include <onset.h>

#include <stdio.h>

int main(void)
{
    /* A steady rise: every full window of 3 jumps by 2 (output 1 of
     * 1, 2, 3 covers samples 0 .. 2). */
    const double trace[5] = {1.0, 2.0, 3.0, 4.0, 5.0};
    double jump[5];
    trace_movmxjump(jump, trace, 5, 3);

    /* Three distinct samples always have kurtosis 1.5. */
    const double three[3] = {-1.0, 0.0, 1.0};
    double kurtosis[3];
    trace_movkurtosis(kurtosis, three, 3, 3);

    if (jump[1] != 2.0 || jump[3] != 2.0 || kurtosis[1] < 1.4999 || kurtosis[1] > 1.5001) {
        fprintf(stderr, "unexpected results: jump %g %g, kurtosis %g\n", jump[1], jump[3],
                kurtosis[1]);
        return 1;
    }
    printf("onset %s: host ok\n", ONSET_VERSION_STRING);
    return 0;
}
