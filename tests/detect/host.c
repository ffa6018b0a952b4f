/* A host in C: three channels of noise with one arrival, fed in chunks of a
 * second; the engine finds it as one event on the three stations. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "onset_detect.h"

#define RATE 100.0
#define SAMPLES 30000
#define ARRIVAL 15000

static double noise(unsigned long long *state)
{
    /* The sum of twelve uniform numbers: close enough to normal. */
    double sum = -6.0;
    for (int i = 0; i < 12; ++i) {
        *state = *state * 6364136223846793005ULL + 1442695040888963407ULL;
        sum += (double)(*state >> 11) / 9007199254740992.0;
    }
    return sum;
}

int main(void)
{
    static double trace[SAMPLES];
    const char *ids[3] = {"XX.A..HHZ", "XX.B..HHZ", "XX.C..HHZ"};
    const long long start = 1704067200LL * 1000000;
    onset_detect_options options;
    onset_detect_defaults(&options);
    char message[200];
    onset_detector *detector = onset_detector_create(&options, message, sizeof message);
    if (!detector) {
        fprintf(stderr, "create: %s\n", message);
        return 1;
    }
    for (int c = 0; c < 3; ++c)
        if (onset_detector_add_channel(detector, ids[c], RATE) != c) return 1;
    for (int c = 0; c < 3; ++c) {
        unsigned long long state = 12345u + (unsigned)c;
        for (int i = 0; i < SAMPLES; ++i) {
            const double t = (i - ARRIVAL - 10 * c) / RATE;
            trace[i] = noise(&state) + (t >= 0.0 ? 40.0 * sin(50.0 * t) * exp(-4.0 * t) : 0.0);
        }
        for (int i = 0; i < SAMPLES; i += 100)
            if (onset_detector_feed(detector, c, start + i * 10000LL, trace + i, 100) != 0) return 1;
    }
    if (onset_detector_flush(detector) != 0) return 1;
    onset_event event;
    int events = 0, status;
    while ((status = onset_detector_next_event(detector, &event)) == 1) {
        ++events;
        printf("event at %lld us, %d stations\n", (long long)(event.earliest - start), event.stations);
        if (event.stations != 3 || event.pick_count != 3 || llabs(event.earliest - start - ARRIVAL * 10000LL) > 50000)
            return 1;
    }
    onset_detector_destroy(detector);
    return status == 0 && events == 1 ? 0 : 1;
}
