/* A host in C: three channels of noise with one arrival, fed in chunks of a
 * second; the engine finds it as one event on the three stations. Written
 * to miniSEED and read back through the engine's reader, the same event
 * comes out; the onset strength of a channel rises above the threshold at
 * its pick. */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

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

/* The counts of channel c. */
static void make_trace(int c, double *trace)
{
    unsigned long long state = 12345u + (unsigned)c;
    for (int i = 0; i < SAMPLES; ++i) {
        const double t = (i - ARRIVAL - 10 * c) / RATE;
        trace[i] = round(100.0 * (noise(&state) + (t >= 0.0 ? 40.0 * sin(50.0 * t) * exp(-4.0 * t) : 0.0)));
    }
}

static int detector_event(void *detector, onset_event *event) { return onset_detector_next_event(detector, event); }
static int run_event(void *run, onset_event *event) { return onset_run_next_event(run, event); }

/* The one event a source hands out, checked; returns its earliest pick or
 * -1. */
static long long one_event(int (*next_event)(void *, onset_event *), void *source, long long start)
{
    onset_event event;
    int events = 0, status;
    long long earliest = -1;
    while ((status = next_event(source, &event)) == 1) {
        ++events;
        earliest = event.earliest;
        printf("event at %lld us, %d stations\n", (long long)(event.earliest - start), event.stations);
        if (event.stations != 3 || event.pick_count != 3 || llabs(event.earliest - start - ARRIVAL * 10000LL) > 50000)
            return -1;
    }
    return status == 0 && events == 1 ? earliest : -1;
}

/* The three channels written as miniSEED, a file each, read back by a run
 * in slices of 7.5 s; returns its event's earliest pick or -1. */
static long long through_files(const onset_detect_options *options, const char *const ids[3], long long start)
{
    static double trace[SAMPLES];
    static int32_t counts[SAMPLES];
    char files[3][80], message[200];
    const char *names[3];
    for (int c = 0; c < 3; ++c) {
        snprintf(files[c], sizeof files[c], "/tmp/onset-host-%ld.%d.mseed", (long)getpid(), c);
        names[c] = files[c];
        make_trace(c, trace);
        for (int i = 0; i < SAMPLES; ++i) counts[i] = (int32_t)trace[i];
        onset_writer *writer = onset_writer_open(files[c], ids[c], RATE, message, sizeof message);
        if (!writer || onset_writer_write(writer, start, counts, SAMPLES) != 0 ||
            onset_writer_close(writer, message, sizeof message) != 0)
            return -1;
    }
    onset_reader *reader = onset_reader_open(names, 3, "XX.*", INT64_MIN, INT64_MAX, message, sizeof message);
    onset_run *run = reader ? onset_run_create(options, reader, 7.5, message, sizeof message) : NULL;
    long long earliest = -1;
    int more = run ? 1 : -1;
    while (more == 1) more = onset_run_step(run);
    if (more == 0 && onset_run_usable_stations(run) == 3 && onset_run_next_warning(run) == NULL)
        earliest = one_event(run_event, run, start);
    onset_run_destroy(run);
    onset_reader_close(reader);
    for (int c = 0; c < 3; ++c) remove(files[c]);
    return earliest;
}

int main(void)
{
    static double trace[SAMPLES], strength[SAMPLES];
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
        make_trace(c, trace);
        for (int i = 0; i < SAMPLES; i += 100)
            if (onset_detector_feed(detector, c, start + i * 10000LL, trace + i, 100) != 0) return 1;
    }
    if (onset_detector_flush(detector) != 0) return 1;
    const long long earliest = one_event(detector_event, detector, start);
    onset_detector_destroy(detector);
    if (earliest < 0 || through_files(&options, ids, start) != earliest) return 1;

    /* Channel 0's strength: no value at the very edges, above the
     * threshold within a second of the arrival, below it far from it. */
    make_trace(0, trace);
    if (onset_detect_stages(&options, RATE, start, trace, SAMPLES, NULL, strength, message, sizeof message) != 0)
        return 1;
    double near = 0.0, far = 0.0;
    for (int i = 0; i < SAMPLES; ++i) {
        if (isnan(strength[i])) continue;
        if (abs(i - ARRIVAL) < 100) near = fmax(near, strength[i]);
        else if (abs(i - ARRIVAL) > 500) far = fmax(far, strength[i]);
    }
    printf("strength %.1f at the arrival, %.1f elsewhere\n", near, far);
    return isnan(strength[0]) && isnan(strength[SAMPLES - 1]) && near > options.threshold && far < options.threshold
               ? 0
               : 1;
}
