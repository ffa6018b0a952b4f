/*
 * onset-detect: a streaming detection engine over libonset.
 *
 * A detector turns continuous recordings of many channels into picks and
 * events. The host creates it from options, declares its channels, feeds
 * each channel's samples in any chunks, takes back every event as soon as
 * no later sample can change it, flushes at the end and destroys it. Per
 * channel the detector keeps only the look-back its stages need, so memory
 * does not grow with the length of the recording.
 *
 * Results do not depend on how the samples are cut into chunks, nor on the
 * number of OpenMP threads: the same samples give the same events, bit for
 * bit.
 *
 * Threads: calls on one detector must not overlap, except that
 * onset_detector_feed for different channels may run at the same time.
 */
#ifndef ONSET_DETECT_H
#define ONSET_DETECT_H

#include <stddef.h>
#include <stdint.h>

#if defined(ONSET_DETECT_BUILDING)
#define ONSET_DETECT_API __attribute__((visibility("default")))
#else
#define ONSET_DETECT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Return codes. Every call that can fail returns 0 or one of these, and
 * onset_detector_message then says what went wrong. */
#define ONSET_DETECT_INVALID  (-1) /* an argument out of its range */
#define ONSET_DETECT_NO_MEMORY (-2)
#define ONSET_DETECT_RATE     (-3) /* the band does not fit the channel's rate */
#define ONSET_DETECT_FINISHED (-4) /* samples or channels after the flush */

/* ------------------------------------------------------------------------
 * Options
 * ------------------------------------------------------------------------ */

/* Settings of a detector. Fill them with onset_detect_defaults, then change
 * what you need; onset_detector_create checks them. Times are seconds. */
typedef struct onset_detect_options {
    double fmin;            /* Hz, lower edge of the band (2) */
    double fmax;            /* Hz, upper edge, below every Nyquist (20) */
    uint32_t voices;        /* wavelet scales per octave, 1 to 32 (4) */
    double kurtosis_window; /* moving-kurtosis window (1) */
    double jump_window;     /* max-jump window over the kurtosis; 0: the
                               kurtosis window (0) */
    double threshold;       /* rise of the kurtosis that makes an onset (3) */
    double dead_time;       /* at most one onset per channel per dead time (2) */
    double tolerance;       /* half-width of an event's time window (2) */
    int32_t min_stations;   /* distinct stations (NET.STA) of an event (3) */
    double min_snr;         /* an onset counts when the mean square of the
                               band-passed second after it is at least this
                               many times the noise level before it (2) */
    double event_snr;       /* an event needs a P pick that stands out that
                               much (5): a single station must be sure */
} onset_detect_options;

ONSET_DETECT_API void onset_detect_defaults(onset_detect_options *options);

/* "MAJOR.MINOR.PATCH" of the engine. */
ONSET_DETECT_API const char *onset_detect_version(void);

/* ------------------------------------------------------------------------
 * Results
 * ------------------------------------------------------------------------ */

/* One channel's pick of an event. */
typedef struct onset_pick {
    int32_t channel;    /* as returned by onset_detector_add_channel */
    int32_t phase;      /* 'P' or 'S' */
    int64_t time;       /* microseconds since 1970-01-01T00:00:00Z */
    double strength;    /* rise of the kurtosis that made the pick */
    double uncertainty; /* seconds: the arrival lies within time +- this */
} onset_pick;

/* A group of picks on at least min_stations stations. */
typedef struct onset_event {
    int64_t earliest;         /* earliest pick, microseconds since 1970 */
    int32_t stations;         /* distinct stations among the picks */
    int32_t pick_count;
    const onset_pick *picks;  /* pick_count picks in the order of the
                                 channels' ids; owned by the detector, valid
                                 until its next call */
} onset_event;

/* What became of one channel so far. */
typedef struct onset_channel_report {
    uint64_t samples;      /* samples used */
    uint64_t missing;      /* samples of the gaps between them: missing, not
                              finite, or in a flat line (0.2 s or more of one
                              value, which no working sensor records) */
    uint64_t overlapped;   /* samples dropped because they were already given */
    uint64_t longest_run;  /* longest stretch without gaps, in samples */
    uint64_t needed_run;   /* the windows' need: shorter stretches are unused */
    uint64_t onsets;       /* onsets picked */
} onset_channel_report;

/* ------------------------------------------------------------------------
 * The detector
 * ------------------------------------------------------------------------ */

typedef struct onset_detector onset_detector;

/* A detector, or NULL when the options are out of range or memory is short;
 * then, if message is not NULL, up to message_size bytes of the reason
 * (terminated) are written there. */
ONSET_DETECT_API onset_detector *onset_detector_create(const onset_detect_options *options,
                                                       char *message, size_t message_size);

/* Frees the detector and everything it handed out. NULL is ignored. */
ONSET_DETECT_API void onset_detector_destroy(onset_detector *detector);

/* The reason for the last failed call ("" before any failure). The text
 * belongs to the detector. */
ONSET_DETECT_API const char *onset_detector_message(const onset_detector *detector);

/* Declares a channel: id "NET.STA.LOC.CHA" (the station NET.STA is what
 * counts towards min_stations) and rate in samples per second. Returns its
 * index (0, 1, ... in order of declaration), ONSET_DETECT_RATE when fmax is
 * not below the rate's Nyquist frequency, ONSET_DETECT_INVALID for an empty
 * or repeated id or a rate that is not a positive number, or
 * ONSET_DETECT_FINISHED after the flush. Declare every channel before the
 * first call of onset_detector_advance: events handed out before a channel
 * was declared never hold its picks. */
ONSET_DETECT_API int32_t onset_detector_add_channel(onset_detector *detector, const char *id,
                                                   double rate);

/* Feeds count samples of a channel, the first at `start` (microseconds since
 * 1970), one every 1/rate seconds. Chunks may come in any sizes. A chunk
 * that begins after the end of the previous one leaves a gap; one that
 * begins before it has its already-covered samples dropped. Samples that
 * are not finite are gaps. Short gaps (up to the band-pass filter's length)
 * are bridged for the filter; longer ones end the stretch the filter runs
 * over. The detector works on the samples when enough have come. Returns 0,
 * ONSET_DETECT_INVALID for an unknown channel, ONSET_DETECT_NO_MEMORY or
 * ONSET_DETECT_FINISHED. The samples are only read. */
ONSET_DETECT_API int onset_detector_feed(onset_detector *detector, int32_t channel, int64_t start,
                                         const double *samples, size_t count);

/* Promises that no channel will get a sample before `time` beyond what it
 * was fed: data missing before it are gaps. The detector finishes what it
 * can, so that events up to about `time` become final. Returns 0 or
 * ONSET_DETECT_NO_MEMORY. */
ONSET_DETECT_API int onset_detector_advance(onset_detector *detector, int64_t time);

/* Ends the input: every channel's last stretch is finished and every event
 * becomes final. Later feeds fail with ONSET_DETECT_FINISHED. Returns 0 or
 * ONSET_DETECT_NO_MEMORY. */
ONSET_DETECT_API int onset_detector_flush(onset_detector *detector);

/* Takes the next final event in time order (of the earliest picks): returns
 * 1 and fills *event, 0 when no further event is final yet, or
 * ONSET_DETECT_NO_MEMORY. */
ONSET_DETECT_API int onset_detector_next_event(onset_detector *detector, onset_event *event);

/* Fills *report for a channel; returns 0 or ONSET_DETECT_INVALID. */
ONSET_DETECT_API int onset_detector_channel_report(const onset_detector *detector, int32_t channel,
                                                   onset_channel_report *report);

#ifdef __cplusplus
}
#endif

#endif /* ONSET_DETECT_H */
