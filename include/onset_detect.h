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

/* ------------------------------------------------------------------------
 * Reading miniSEED
 *
 * A reader takes miniSEED files and folders (searched recursively), or the
 * day files of an SDS archive (ROOT/YEAR/NET/STA/CHA.TYPE/
 * NET.STA.LOC.CHA.TYPE.YEAR.DAY), keeps the channels its patterns select
 * and the samples within its time span, and reads them record by record as
 * the host asks for later times, so that memory holds no more than a slice.
 * Each channel (NET.STA.LOC.CHA) is one trace, its records from any number
 * of files taken in time order. What it meets on the way (a file that is
 * not miniSEED, a record that cannot be decoded, a channel left out) it says
 * in warning lines that the host takes with onset_reader_next_warning.
 * Every record is handed out once: to a detector or to the host.
 *
 * Threads: calls on one reader must not overlap; onset_reader_feed reads
 * the channels side by side on the OpenMP threads.
 *
 * A NULL reader, writer or required output is refused: the call returns
 * ONSET_DETECT_INVALID (or NULL, or sets its outputs to 0), never crashes.
 * ------------------------------------------------------------------------ */

#define ONSET_DETECT_IO (-5) /* a file that cannot be read or written */

typedef struct onset_reader onset_reader;

/* Samples of one channel without a gap, as onset_reader_next_chunk hands
 * them out. */
typedef struct onset_chunk {
    const char *id;         /* NET.STA.LOC.CHA */
    double rate;            /* samples per second */
    int64_t start;          /* the first sample, microseconds since 1970 */
    const double *samples;  /* count samples, owned by the reader, valid
                               until its next call */
    size_t count;
} onset_chunk;

/* A reader of path_count files and folders, or NULL when a path cannot be
 * read (a file that is not miniSEED is only warned about), the span is
 * empty or memory is short; then, if message is not NULL, up to
 * message_size bytes of the reason (terminated) are written there.
 * channels: NET.STA.LOC.CHA patterns with shell wildcards (*, ?, [...]),
 * comma separated; NULL or "" takes every channel. start, end: the samples
 * kept, start <= time < end, in microseconds since 1970; INT64_MIN and
 * INT64_MAX take what the input holds. Every file is indexed here. */
ONSET_DETECT_API onset_reader *onset_reader_open(const char *const *paths, size_t path_count,
                                                 const char *channels, int64_t start, int64_t end,
                                                 char *message, size_t message_size);

/* The same over an SDS archive under root: only the day files of the
 * selected channels whose days meet [start, end) are read, a day at a time.
 * NULL also when root is no folder or holds no such day file. */
ONSET_DETECT_API onset_reader *onset_reader_open_sds(const char *root, const char *channels,
                                                     int64_t start, int64_t end, char *message,
                                                     size_t message_size);

/* Closes the reader's files and frees it. NULL is ignored. */
ONSET_DETECT_API void onset_reader_close(onset_reader *reader);

/* The reason for the last failed call ("" before any failure). */
ONSET_DETECT_API const char *onset_reader_message(const onset_reader *reader);

/* The times the input covers within the reader's span: from *begin (the
 * first record's start, or the first day's midnight) to *end (the last
 * record's end, or the midnight after the last day). *begin >= *end when the
 * input holds nothing. */
ONSET_DETECT_API void onset_reader_span(const onset_reader *reader, int64_t *begin, int64_t *end);

/* The earliest time at which the reader may still feed or hand out a
 * sample (the first record not yet read, or a day before the next day file
 * not yet indexed), microseconds since 1970; INT64_MAX when none is left,
 * and for NULL. A host may skip the slices before it: nothing lies there. */
ONSET_DETECT_API int64_t onset_reader_next_time(const onset_reader *reader);

/* Declares on the detector every channel met so far that holds samples
 * (in the order of their ids, a day of an archive at a time; a channel the
 * detector refuses, say for its rate, is left out with a warning), then
 * feeds each declared channel the samples of its records that start before
 * `until`. The host then calls onset_detector_advance(detector, until) and
 * takes the events that became final; at the end it calls this with
 * INT64_MAX, flushes the detector and calls onset_reader_finish. A reader
 * feeds one detector only, on which the host declares no channel itself.
 * If fed is not NULL, *fed is set to the number of samples fed. Returns 0,
 * a detector's code (ONSET_DETECT_FINISHED after its flush,
 * ONSET_DETECT_NO_MEMORY) or ONSET_DETECT_INVALID for another detector. */
ONSET_DETECT_API int onset_reader_feed(onset_reader *reader, onset_detector *detector, int64_t until,
                                       uint64_t *fed);

/* Hands out the next samples without a gap of one channel, from the records
 * that start before `until`: channel by channel in the order of their ids,
 * each in time order. Consecutive records are joined into one chunk where a
 * detector would place them next to each other. Returns 1 and fills *chunk,
 * 0 when no record before `until` is left, or ONSET_DETECT_NO_MEMORY. */
ONSET_DETECT_API int onset_reader_next_chunk(onset_reader *reader, int64_t until, onset_chunk *chunk);

/* After the detector's flush: warns about every channel the reader declared
 * that proved unusable (all gaps, or no stretch as long as the windows need)
 * and about every text (log) channel, and sets *usable_stations (if not
 * NULL) to the number of stations (NET.STA) with a usable channel. detector
 * may be NULL for a reader that fed none: then only text channels are
 * warned about. Returns 0 or ONSET_DETECT_INVALID for a detector it did not
 * feed. */
ONSET_DETECT_API int onset_reader_finish(onset_reader *reader, const onset_detector *detector,
                                         int32_t *usable_stations);

/* The id of the detector's channel number `channel` as the reader declared
 * it, or NULL. The text belongs to the reader. */
ONSET_DETECT_API const char *onset_reader_channel_id(const onset_reader *reader, int32_t channel);

/* The oldest warning line not yet taken (without a newline), valid until the
 * next call on the reader, or NULL when there is none. Each line is said
 * once. */
ONSET_DETECT_API const char *onset_reader_next_warning(onset_reader *reader);

/* ------------------------------------------------------------------------
 * Writing miniSEED: one channel's whole counts as Steim-2 records of 4096
 * bytes.
 * ------------------------------------------------------------------------ */

typedef struct onset_writer onset_writer;

/* A writer that creates (or truncates) the file at path, for channel id
 * NET.STA.LOC.CHA at rate samples per second; NULL, with the reason in
 * message as for onset_reader_open, when the file cannot be made. */
ONSET_DETECT_API onset_writer *onset_writer_open(const char *path, const char *id, double rate,
                                                 char *message, size_t message_size);

/* Appends count samples that follow the previous ones without a gap; start
 * (microseconds since 1970) is the first sample's time on the first call
 * and is not read afterwards. Returns 0, ONSET_DETECT_IO or
 * ONSET_DETECT_NO_MEMORY; after a failure every later call fails too. */
ONSET_DETECT_API int onset_writer_write(onset_writer *writer, int64_t start, const int32_t *counts,
                                        size_t count);

/* Writes what is left as a last, shorter record, closes the file and frees
 * the writer. Returns 0, or ONSET_DETECT_IO (or the code of an earlier
 * failed write) with the reason in message. */
ONSET_DETECT_API int onset_writer_close(onset_writer *writer, char *message, size_t message_size);

/* ------------------------------------------------------------------------
 * The stages of one trace, for pictures
 * ------------------------------------------------------------------------ */

/* Runs count samples of one channel (rate samples per second, the first at
 * `start` microseconds since 1970; samples that are not finite are gaps)
 * through the band-pass and the onset strength of a detector made with
 * these options, and writes the band-passed samples to `filtered` and the
 * onset strength to `strength` (count values each; either may be NULL):
 * the same values the detector computes from the same samples, NaN where
 * it computes none (gaps, and the edges of each stretch where the windows
 * do not fit). Returns 0, ONSET_DETECT_INVALID (bad options, with the
 * reason in message), ONSET_DETECT_RATE or ONSET_DETECT_NO_MEMORY. */
ONSET_DETECT_API int onset_detect_stages(const onset_detect_options *options, double rate, int64_t start,
                                         const double *samples, size_t count, double *filtered,
                                         double *strength, char *message, size_t message_size);

#ifdef __cplusplus
}
#endif

#endif /* ONSET_DETECT_H */
