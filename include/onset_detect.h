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
#define ONSET_DETECT_LATE     (-6) /* samples for a time the detector was advanced past */
#define ONSET_DETECT_UNPLACED (-7) /* the station metadata place none of the channels */

/* Times are microseconds since 1970. The engine takes times within 10^17 us
 * (about 3,000 years) of 1970 and refuses others with ONSET_DETECT_INVALID,
 * so that none of its arithmetic on them can overflow. */

/* ------------------------------------------------------------------------
 * Options
 * ------------------------------------------------------------------------ */

/* Settings of a detector. Fill them with onset_detect_defaults, then change
 * what you need; onset_detector_create checks them. Times are seconds. The
 * table below gives each one's default, range, unit and meaning. */
typedef struct onset_detect_options {
    double fmin;            /* Hz, lower edge of the band */
    double fmax;            /* Hz, upper edge, below every Nyquist */
    uint32_t voices;        /* wavelet scales per octave */
    double kurtosis_window; /* moving-kurtosis window */
    double jump_window;     /* max-jump window over the kurtosis; 0: the
                               kurtosis window */
    double threshold;       /* rise of the kurtosis that makes an onset */
    double dead_time;       /* at most one onset per channel per dead time */
    double tolerance;       /* half-width of an event's time window */
    int32_t min_stations;   /* distinct stations (NET.STA) of an event */
    double min_snr;         /* signal to noise of an onset */
    double event_snr;       /* signal to noise of an event's best P pick */
} onset_detect_options;

/* Sets every option to its default. NULL is ignored. */
ONSET_DETECT_API void onset_detect_defaults(onset_detect_options *options);

/* The types of the options' fields. */
#define ONSET_OPTION_REAL   1 /* double */
#define ONSET_OPTION_INT32  2 /* int32_t */
#define ONSET_OPTION_UINT32 3 /* uint32_t */

/* One option, as hosts make flags, keywords and help from it. */
typedef struct onset_option_info {
    const char *name;       /* the field's name, e.g. "kurtosis_window"
                               (onset-detect's flag --kurtosis-window) */
    size_t offset;          /* of the field in onset_detect_options */
    int32_t type;           /* ONSET_OPTION_REAL, _INT32 or _UINT32 */
    double default_value;   /* what onset_detect_defaults sets */
    double lowest;          /* the range: from lowest (included when
                               lowest_included is 1, else excluded) */
    double highest;         /* to highest (included); INFINITY: any finite
                               value; integers are whole numbers */
    int32_t lowest_included;
    int32_t network;        /* 1: an option of the whole network (how
                               stations' picks are grouped), the same for
                               every station; 0: an option of each trace,
                               which may differ per station */
    const char *unit;       /* "Hz", "s" or "" */
    const char *help;       /* what it does: one paragraph, no line breaks */
} onset_option_info;

/* The number of options. */
ONSET_DETECT_API size_t onset_detect_option_count(void);

/* Option number `index` (0 .. count - 1, in the order of the fields), or
 * NULL past the end. The record is the library's, valid while it is
 * loaded. */
ONSET_DETECT_API const onset_option_info *onset_detect_option(size_t index);

/* Whether `value` lies in option `index`'s range: returns 0, or
 * ONSET_DETECT_INVALID (also for an unknown index) and, if message is not
 * NULL, writes up to message_size bytes of the reason (terminated), such as
 * "must be above 0", without the option's name. */
ONSET_DETECT_API int onset_detect_option_check(size_t index, double value, char *message,
                                               size_t message_size);

/* Sets option `index` of *options to `value` (converted to the field's
 * type; check it first with onset_detect_option_check). Returns 0, or
 * ONSET_DETECT_INVALID for NULL options or an unknown index. */
ONSET_DETECT_API int onset_detect_option_set(onset_detect_options *options, size_t index, double value);

/* Whether options can make a detector: each in its range, fmin below fmax.
 * Returns 0, or ONSET_DETECT_INVALID with the reason in message as above
 * (naming the option). */
ONSET_DETECT_API int onset_detect_check(const onset_detect_options *options, char *message,
                                        size_t message_size);

/* "MAJOR.MINOR.PATCH" of the engine. */
ONSET_DETECT_API const char *onset_detect_version(void);

/* ------------------------------------------------------------------------
 * The reach of the stages in time
 * ------------------------------------------------------------------------ */

/* How far in time a detector's results depend on the samples, in seconds.
 * A result (an onset, a pick, an event) depends on no sample more than
 * look_back before it; an event is final once the samples up to wait after
 * its earliest pick have come. Hosts that cut a recording into blocks and
 * detect each apart read this much beyond the blocks' edges. */
typedef struct onset_reach {
    double strength;   /* the onset strength: the piece it is worked out in
                          and its kurtosis and max-jump windows */
    double bandpass;   /* the band-pass: its kernel, or, for a long kernel
                          whose outputs come in blocks, the transform of
                          one block */
    double noise;      /* the noise level before an onset */
    double dead_time;  /* an onset suppresses the next ones this long */
    double wave_train; /* an event's late stations and S waves; events a
                          train apart trade picks */
    double grouping;   /* captures are cut at pauses, after this at the
                          latest */
    double look_back;  /* the sum of the above */
    double wait;       /* how long after its earliest pick an event waits */
} onset_reach;

/* Fills *reach for a detector made with `options`, for channels of `rate`
 * samples per second, or, with rate 0, a bound for every rate the band
 * allows. Returns 0, ONSET_DETECT_INVALID (bad options, NULL arguments),
 * ONSET_DETECT_RATE or ONSET_DETECT_NO_MEMORY, with the reason in message
 * as for onset_detector_create. */
ONSET_DETECT_API int onset_detect_reach(const onset_detect_options *options, double rate,
                                        onset_reach *reach, char *message, size_t message_size);

/* ------------------------------------------------------------------------
 * Results
 * ------------------------------------------------------------------------ */

/* One station's pick of an event: its P or its S, on the channel it was
 * picked on (see onset_detector_add_channel for stations). */
typedef struct onset_pick {
    int32_t channel;    /* as returned by onset_detector_add_channel */
    int32_t phase;      /* 'P' or 'S' */
    int64_t time;       /* microseconds since 1970-01-01T00:00:00Z */
    double strength;    /* rise of the kurtosis that made the pick; 0 for
                           an S searched after its P, and for a pick made
                           in a window its event gave */
    double uncertainty; /* seconds: the arrival lies within time +- this */
    int32_t polarity;   /* first motion: 'U' up (positive), 'D' down
                           (negative), or 0 where it is not clear. Clear:
                           the pick is sharp (uncertainty at most 0.05 s,
                           a sample at the least), and on the raw samples
                           the first one that leaves the straight line
                           through the half kurtosis window of noise before
                           the pick by more than twice the noise's largest
                           deviation comes within the uncertainty and
                           0.05 s beyond it, none before it having strayed
                           beyond that largest deviation the other way.
                           An S found by searching after its P, inside
                           the P's coda, has none */
} onset_pick;

/* What became of an event's location (onset_origin.status). */
#define ONSET_ORIGIN_LOCATED        1 /* located */
#define ONSET_ORIGIN_LARGE_GAP      2 /* located, but the stations used leave
                                         a gap of more than 300 degrees of
                                         azimuth around it: poorly placed */
#define ONSET_ORIGIN_TOO_FEW_PHASES 3 /* not located: too few phases with
                                         coordinates that one origin
                                         explains */

/* One pick of an event as its location takes it: arrivals[k] is picks[k]'s. */
typedef struct onset_arrival {
    double residual;    /* seconds, observed - computed; NaN when not located
                           or the channel has no coordinates */
    double distance_km; /* from the epicentre to the channel's site */
    double azimuth;     /* degrees clockwise from north of the site, seen
                           from the epicentre */
    int32_t used;       /* 1: in the location; 0: an outlier left out, or not
                           located */
    int32_t phase;      /* 'P' or 'S': the wave the location takes it for,
                           which may differ from the pick's own label */
} onset_arrival;

/* Where an event lies: the origin found by travel times through the
 * velocity model. Coordinates are NaN and the time 0 when it is not
 * located. */
typedef struct onset_origin {
    int64_t time;                     /* origin time, microseconds since 1970 */
    double latitude;                  /* degrees north */
    double longitude;                 /* degrees east, -180 to 180 */
    double depth_km;                  /* below sea level */
    double horizontal_uncertainty_km; /* one standard deviation: the largest
                                         semi-axis of the epicentre's */
    double depth_uncertainty_km;      /* one standard deviation */
    double rms_residual;              /* seconds, of the phases used */
    double azimuthal_gap;             /* degrees: the widest angle around the
                                         epicentre without a station used */
    int32_t phases_used;
    int32_t status;                   /* ONSET_ORIGIN_* */
    const onset_arrival *arrivals;    /* one per pick, in the picks' order;
                                         owned as the picks are */
} onset_origin;

/* A group of picks on at least min_stations stations. */
typedef struct onset_event {
    int64_t earliest;         /* earliest pick, microseconds since 1970; of a
                                 located event, the earliest taken as P */
    int32_t stations;         /* distinct stations among the picks */
    int32_t pick_count;
    const onset_pick *picks;  /* pick_count picks in the order of the
                                 channels' ids; owned by the detector, valid
                                 until its next call */
    const onset_origin *origin; /* NULL unless the detector locates events
                                   (onset_detector_locate); valid as long
                                   as the picks */
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

/* Options for the channels of the stations (NET.STA) that `pattern`
 * matches, with shell wildcards (*, ?, [...]), in place of the detector's
 * own: e.g. a higher threshold on noisy stations. Call it before the first
 * channel is declared. Where several patterns match a station, the one set
 * last wins. Only the per-trace options are taken from `options`; those of
 * the whole network (network 1 in the table) stay the detector's. Each
 * channel gets the per-rate settings of its own options, so channels that
 * no pattern matches give the very results they give without any. Returns
 * 0, or ONSET_DETECT_INVALID (options out of range, an empty pattern, a
 * channel already declared) with the reason in onset_detector_message. */
ONSET_DETECT_API int onset_detector_station_options(onset_detector *detector, const char *pattern,
                                                    const onset_detect_options *options);

/* Locates the events: from now on picks become events by travel time.
 * `stations` is a file of station metadata: FDSN StationXML (its channels'
 * coordinates, or its stations') or CSV with the columns
 * network,station,latitude,longitude,elevation_m (a station's for all its
 * channels). `velocity_model` is a CSV file with the columns
 * depth_km,vp_km_s,vs_km_s (km below sea level, increasing; negative above
 * it): velocities constant from each depth down to the next (the layers'
 * tops), or, with `graded` 1, varying linearly between them; NULL or ""
 * takes the default model, the crust of IASP91 (5.8/3.36 km/s from 0, 6.5/
 * 3.75 from 20 km, 8.04/4.47 from the Moho at 35 km). Call it before the
 * first channel is declared. The events the grouping makes, pooled where
 * their picks come within twice the tolerance of one another, are
 * associated again: each becomes the picks one origin explains as P or S
 * within 0.5 s (relabelled where the picker took an S for a P), with 5
 * phases on min_stations stations at least (a group's P picks alone
 * propose its origin where they suffice); overlapping events come apart,
 * split ones together, and two origins within a second are one event, the
 * better fit. What no origin explains of a group stays an event, not
 * located, where its P picks are on min_stations stations; other picks no
 * origin explains are dropped. Such a group is located from its picks that
 * agree (4 phases on 3 stations at least) and stands, located, where the
 * windows below give it 5 phases or more its origin explains. Picks of a channel the
 * metadata do not place stay with their group's event, not located. A
 * located event then looks, at each placed station it lacks a P or an S
 * of, for that arrival in the band-passed samples within 1 s of the time
 * its origin predicts: the split best by AIC, kept where what follows it
 * has three times the mean square of what precedes it and it lies within
 * 0.5 s of the prediction (strength 0, no first motion; on the vertical for
 * a P, the horizontals for an S); the event is located again with them.
 * Such picks come with their events only, not through
 * onset_detector_next_pick. Every event then carries an origin
 * (onset_event.origin). Events wait for the pool they belong to, and for
 * the samples of its windows: the longest S travel time across the
 * volume searched, and a second, more than without. Returns 0, or
 * ONSET_DETECT_INVALID (a file that cannot be read, an impossible value:
 * the message names the file and the line or element; a channel already
 * declared), or ONSET_DETECT_NO_MEMORY. The first advance or flush fails
 * with ONSET_DETECT_UNPLACED when the metadata place none of the channels
 * declared. */
ONSET_DETECT_API int onset_detector_locate(onset_detector *detector, const char *stations,
                                           const char *velocity_model, int32_t graded);

/* Whether the station metadata place channel `channel`: 1 when they give
 * its coordinates (or its station's), 0 when not or the detector does not
 * locate, ONSET_DETECT_INVALID for an unknown channel. */
ONSET_DETECT_API int onset_detector_placed(const onset_detector *detector, int32_t channel);

/* Frees the detector and everything it handed out. NULL is ignored. */
ONSET_DETECT_API void onset_detector_destroy(onset_detector *detector);

/* The reason for the last failed call ("" before any failure). The text
 * belongs to the detector. */
ONSET_DETECT_API const char *onset_detector_message(const onset_detector *detector);

/* Declares a channel: id "NET.STA.LOC.CHA" (the station NET.STA is what
 * counts towards min_stations) and rate in samples per second.
 *
 * Channels pick as stations: those of one NET.STA.LOC whose codes share all
 * but the last letter (band and instrument, as in HHZ, HHN, HHE) and end in
 * Z, N, E, 1 or 2 are the components of one station; any other channel is
 * a station of its own. A station gives at most one P and one S per wave
 * train: the P picked on its vertical (the horizontals' onsets within 0.3 s
 * of it are the same arrival), the S after it on a horizontal (its own
 * onset there, else the S searched on its samples after the P). A vertical
 * alone gives its own P and S; horizontals alone are picked as one channel.
 * An S joins the event of its station's P and never begins one. An event
 * that is not located and has S picks on two stations or more looks for
 * the S of each station it lacks one of where its S waves crossed the
 * network: from 0.5 s before its earliest S pick to 0.5 s after its latest
 * (and 0.5 s after the station's P), the split best by AIC kept where what
 * follows it has three times the mean square of what precedes it (strength
 * 0, on the horizontals; such picks come with their events only, not
 * through onset_detector_next_pick); the event waits for the samples of
 * that span. A station that then has its S but no P looks for its P the
 * same way, on its vertical, within 0.5 s of where its S and the origin
 * time put it for a velocity ratio of 1.732 (the origin time: the median
 * over the stations with both phases of P - (S - P) / 0.732), after the
 * event's earliest pick, up to 0.5 s after its latest P pick and 0.5 s
 * before the station's S, and within twice the tolerance of the earliest
 * pick. Returns its
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
 * ONSET_DETECT_INVALID for an unknown channel or samples beyond the times it
 * takes, ONSET_DETECT_LATE when a sample not fed before lies before the time
 * of an onset_detector_advance already made (nothing of the chunk is taken),
 * ONSET_DETECT_NO_MEMORY or ONSET_DETECT_FINISHED. The samples are only
 * read. */
ONSET_DETECT_API int onset_detector_feed(onset_detector *detector, int32_t channel, int64_t start,
                                         const double *samples, size_t count);

/* Promises that no channel will get a sample before `time` beyond what it
 * was fed: data missing before it are gaps. The detector finishes what it
 * can, so that events up to about `time` become final. Returns 0,
 * ONSET_DETECT_INVALID for a time beyond those it takes, or
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

/* From now on the detector keeps every pick as soon as it is final (the
 * picks it groups into events, P and S, whether or not they end up in one)
 * for onset_detector_next_pick: a host that passes picks on to an
 * associator need not wait for their events. A detector whose host never
 * asks keeps none. Returns 0 or ONSET_DETECT_INVALID (NULL detector). */
ONSET_DETECT_API int onset_detector_keep_picks(onset_detector *detector);

/* Takes the next final pick, in the order they became final: returns 1
 * and fills *pick, 0 when no further pick is final yet, or
 * ONSET_DETECT_NO_MEMORY. A station's P (its channels NET.STA.LOC and the
 * band and instrument codes pick together) is final as soon as the samples
 * that decide it have come, while the search for its S goes on (up to 15 s
 * after it, or to the station's next P); the S follows once found, so it
 * may come after later P picks of its station. Of one station the P picks
 * come in time order, and so do the S picks, each after its own P; picks of
 * different stations come in no particular order. Each pick is handed out
 * once, and no later than the event that holds it. */
ONSET_DETECT_API int onset_detector_next_pick(onset_detector *detector, onset_pick *pick);

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
 * Every record is handed out once: to the host, or to a run (below) that
 * feeds a detector with it.
 *
 * Threads: calls on one reader must not overlap.
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

/* Why `channels`, `start` and `end` leave nothing of an input that holds
 * something: files and folders (paths, path_count) or, when root is not
 * NULL, an SDS archive, with the channels, start and end as for
 * onset_reader_open and onset_reader_open_sds. Writes the reason (in the
 * words of onset-detect's flags --channels, --start and --end, naming the
 * patterns and, for an archive, a few of the channels it holds, or the
 * times and the span there is) to message, up to message_size bytes
 * (terminated), and returns 1; writes "" and returns 0 when the selection
 * leaves something or is not the cause (the input itself holds nothing, a
 * path cannot be read); ONSET_DETECT_INVALID for NULL paths with a count or
 * a NULL message. The input is indexed again, once per question. */
ONSET_DETECT_API int onset_reader_selection_problem(const char *const *paths, size_t path_count, const char *root,
                                                    const char *channels, int64_t start, int64_t end,
                                                    char *message, size_t message_size);

/* Closes the reader's files and frees it. NULL is ignored. */
ONSET_DETECT_API void onset_reader_close(onset_reader *reader);

/* The reason for the last failed call ("" before any failure). */
ONSET_DETECT_API const char *onset_reader_message(const onset_reader *reader);

/* The times the input covers within the reader's span: from *begin (the
 * first record's start, or the first day's midnight) to *end (the last
 * record's end, or the midnight after the last day). *begin >= *end when the
 * input holds nothing. */
ONSET_DETECT_API void onset_reader_span(const onset_reader *reader, int64_t *begin, int64_t *end);

/* Hands out the next samples without a gap of one channel, from the records
 * that start before `until`: channel by channel in the order of their ids,
 * each in time order. Consecutive records are joined into one chunk where a
 * detector would place them next to each other. Returns 1 and fills *chunk,
 * 0 when no record before `until` is left, or ONSET_DETECT_NO_MEMORY. */
ONSET_DETECT_API int onset_reader_next_chunk(onset_reader *reader, int64_t until, onset_chunk *chunk);

/* The end of reading: warns about every text (log) channel. A run over the
 * reader does this itself. NULL is ignored. */
ONSET_DETECT_API void onset_reader_finish(onset_reader *reader);

/* The oldest warning line not yet taken (without a newline), valid until the
 * next call on the reader, or NULL when there is none. Each line is said
 * once. */
ONSET_DETECT_API const char *onset_reader_next_warning(onset_reader *reader);

/* ------------------------------------------------------------------------
 * Runs: the driving loop
 *
 * A run makes a detector and drives it: over a reader, slice by slice (the
 * records of every channel that start before the slice's end are fed side
 * by side, then the detector advances to it), or over channels the host
 * adds and feeds. It declares the channels (one whose rate the options
 * cannot use is left out with a warning), and at the end flushes the
 * detector and judges every channel: one without a stretch as long as the
 * windows need is left out with a warning. The warnings of the run and of
 * its reader come, in order, from onset_run_next_warning. This is what
 * onset-detect and the Python package run:
 *
 *   onset_run *run = onset_run_create(&options, reader, 3600.0, message, sizeof message);
 *   int more;
 *   do {
 *       more = onset_run_step(run);          (1, 0 after the last slice, or a code)
 *       while (onset_run_next_warning(run)) ...
 *       while (onset_run_next_event(run, &event) == 1) ...
 *   } while (more == 1);
 *   onset_run_usable_stations(run); onset_run_destroy(run); onset_reader_close(reader);
 *
 * Threads: calls on one run must not overlap, except onset_run_feed for
 * different channels; a step reads and feeds the channels side by side on
 * the OpenMP threads.
 * ------------------------------------------------------------------------ */

typedef struct onset_run onset_run;

/* A run of a detector made with `options` over what `reader` reads, chunk
 * seconds of every channel a slice (the events do not depend on it), or,
 * with reader NULL, over the channels the host adds (chunk is not read). NULL when the options
 * are out of range, chunk is not above 0, the reader already has a run or
 * memory is short; then the reason is in message as for
 * onset_detector_create. The run borrows the reader: destroy the run
 * first. */
ONSET_DETECT_API onset_run *onset_run_create(const onset_detect_options *options, onset_reader *reader,
                                             double chunk, char *message, size_t message_size);

/* A run over a live SeedLink server, `server` "HOST:PORT" (or HOST, port
 * 18000), with the stations and channels that `channels` selects
 * (NET.STA.LOC.CHA patterns with shell wildcards, comma separated; NULL or
 * "" every one the server has). It speaks SeedLink 4 where the server offers
 * it, else 3.1, and takes miniSEED 2 records. A dropped connection is made
 * again after a wait that doubles with each failure (1 s to a minute), and
 * every station resumes after its last record taken. With state_file (NULL
 * or "": none) the last sequence number of every station is kept there,
 * read at the start and written every second, at onset_run_finish and at
 * onset_run_destroy, so that a restart neither loses nor repeats records.
 *
 * Each onset_run_step waits up to half a second for records, feeds those
 * that came (each declares its channel when new), and returns 1 for as long
 * as the host likes; the host ends the run with onset_run_finish. Records
 * come out of order and late: overlaps are dropped, gaps are gaps. A
 * channel that falls silent holds back the others' results for max_latency
 * seconds of wall-clock time at most: the run advances to the data time
 * reached by now less max_latency, the data time being told by the records'
 * arrivals (the median over the channels of how far a channel's latest
 * record ends from when it came), so that the clocks of the stations and of
 * this machine need not agree, and a replay of old data or a faster one
 * works alike. Samples that come for times already passed are left out with
 * a warning. max_latency must exceed the time a record spans plus its
 * delay on the way (512-byte records at 100 Hz span 2 to 8 s).
 *
 * NULL when the options are out of range, max_latency is not from 0 to 1e9,
 * the patterns or the state file are malformed, the first connection fails
 * or the server refuses a selection (a wrong address or setting, not a
 * passing fault), or memory is short; then the reason is in message as for
 * onset_detector_create. */
ONSET_DETECT_API onset_run *onset_run_create_seedlink(const onset_detect_options *options, const char *server,
                                                      const char *channels, const char *state_file,
                                                      double max_latency, char *message, size_t message_size);

/* onset_detector_station_options of the run's detector: before its first
 * step, or before its host adds the first channel. The run leaves out a
 * channel whose rate its own options cannot use. */
ONSET_DETECT_API int onset_run_station_options(onset_run *run, const char *pattern,
                                               const onset_detect_options *options);

/* onset_detector_locate of the run's detector: before its first step, or
 * before its host adds the first channel. A run over a reader refuses, with
 * ONSET_DETECT_UNPLACED, at its first step before any sample is read, when
 * the metadata place none of the channels; each channel they do not place
 * is warned about once ("ID: no coordinates in FILE, picked but not
 * located"). */
ONSET_DETECT_API int onset_run_locate(onset_run *run, const char *stations, const char *velocity_model,
                                      int32_t graded);

/* Frees the run, its detector and everything they handed out. NULL is
 * ignored. */
ONSET_DETECT_API void onset_run_destroy(onset_run *run);

/* The reason for the last failed call ("" before any failure). */
ONSET_DETECT_API const char *onset_run_message(const onset_run *run);

/* Reads and feeds the next slice and lets the detector finish what it can;
 * the last step also finishes the run (onset_run_finish). Returns 1 while
 * slices remain, 0 after the last (and on later calls), ONSET_DETECT_IO
 * when a file cannot be read (or a live run's state file written),
 * ONSET_DETECT_NO_MEMORY, or
 * ONSET_DETECT_INVALID for a run without a reader or a NULL run. Take the
 * events and warnings after each step. */
ONSET_DETECT_API int onset_run_step(onset_run *run);

/* For a run without a reader: declares a channel as
 * onset_detector_add_channel does, except that a rate the options cannot
 * use (ONSET_DETECT_RATE, or ONSET_DETECT_INVALID for one that is not a
 * positive number) leaves the channel out with a warning. */
ONSET_DETECT_API int32_t onset_run_add_channel(onset_run *run, const char *id, double rate);

/* For a run without a reader: onset_detector_feed. */
ONSET_DETECT_API int onset_run_feed(onset_run *run, int32_t channel, int64_t start, const double *samples,
                                    size_t count);

/* For a run without a reader: one miniSEED record of `length` bytes (as a
 * SeedLink client or a file hands it over), decoded and fed to its channel,
 * which is declared as by onset_run_add_channel when new. A record that
 * cannot be decoded, of a text channel, or that changes its channel's rate is
 * left out with a warning; its samples before the time of an
 * onset_run_advance already made are left out with a warning, the rest fed.
 * Returns 0, ONSET_DETECT_INVALID (a run over a reader, NULL bytes with a
 * length), ONSET_DETECT_NO_MEMORY or ONSET_DETECT_FINISHED. */
ONSET_DETECT_API int onset_run_feed_record(onset_run *run, const void *record, size_t length);

/* For a run without a reader: onset_detector_advance. */
ONSET_DETECT_API int onset_run_advance(onset_run *run, int64_t time);

/* Ends the input: flushes the detector (every event becomes final), warns
 * about every channel that proved unusable, in the order of their numbers,
 * and then the reader about its text channels; a run over SeedLink writes
 * its state file. Later calls do nothing. Returns 0, ONSET_DETECT_NO_MEMORY,
 * ONSET_DETECT_IO (the state file cannot be written) or
 * ONSET_DETECT_INVALID (NULL run). */
ONSET_DETECT_API int onset_run_finish(onset_run *run);

/* onset_detector_next_event of the run's detector. */
ONSET_DETECT_API int onset_run_next_event(onset_run *run, onset_event *event);

/* onset_detector_keep_picks and onset_detector_next_pick of the run's
 * detector. */
ONSET_DETECT_API int onset_run_keep_picks(onset_run *run);
ONSET_DETECT_API int onset_run_next_pick(onset_run *run, onset_pick *pick);

/* The oldest warning line not yet taken (without a newline), valid until the
 * next call on the run, or NULL when there is none. Each line is said
 * once. */
ONSET_DETECT_API const char *onset_run_next_warning(onset_run *run);

/* The id of channel number `channel` (the picks' channel), or NULL. The
 * text belongs to the run. */
ONSET_DETECT_API const char *onset_run_channel_id(const onset_run *run, int32_t channel);

/* Fills *report for channel number `channel` of the run's detector (what
 * was used, missing, overlapped ...); returns 0, or ONSET_DETECT_INVALID for
 * an unknown channel or NULL arguments. */
ONSET_DETECT_API int onset_run_channel_report(const onset_run *run, int32_t channel, onset_channel_report *report);

/* Whether the channel's samples so far can be used: "" when they can, else
 * the words of its warning after "ID left out: ". NULL for an unknown
 * channel. Valid until the next call on the run. */
ONSET_DETECT_API const char *onset_run_verdict(onset_run *run, int32_t channel);

/* The number of stations (NET.STA) with a usable channel so far, or
 * ONSET_DETECT_INVALID for a NULL run. */
ONSET_DETECT_API int32_t onset_run_usable_stations(const onset_run *run);

/* The end of the last slice read (INT64_MAX after the last; INT64_MIN
 * before the first) and the samples fed so far; NULL outputs are skipped.
 * Returns 0, or ONSET_DETECT_INVALID for a NULL run. */
ONSET_DETECT_API int onset_run_progress(const onset_run *run, int64_t *reached, uint64_t *samples);

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
 * do not fit). Returns 0, ONSET_DETECT_INVALID (bad options or times, with
 * the reason in message), ONSET_DETECT_RATE or ONSET_DETECT_NO_MEMORY. */
ONSET_DETECT_API int onset_detect_stages(const onset_detect_options *options, double rate, int64_t start,
                                         const double *samples, size_t count, double *filtered,
                                         double *strength, char *message, size_t message_size);

/* What became of a candidate onset (onset_candidate.verdict): a pick ('P'
 * or 'S'), or dropped, and why. */
#define ONSET_CANDIDATE_LOW_SNR 1   /* the second after it does not stand out
                                       of the noise by min_snr */
#define ONSET_CANDIDATE_DEAD_TIME 2 /* within dead_time of the channel's last P */
#define ONSET_CANDIDATE_CODA 3      /* inside a wave train: its coda, or a rise
                                       after its S */
#define ONSET_CANDIDATE_WARM_UP 4   /* before the windows behind it are full: the
                                       band-pass filter's half length and the
                                       kurtosis and max-jump windows from the
                                       start of the data or of a stretch after a
                                       gap */

/* One excursion of the onset strength above the threshold, as the detector
 * judges it on this channel alone. */
typedef struct onset_candidate {
    int64_t time;     /* the onset it was refined to, microseconds since 1970 */
    int64_t peak;     /* its highest strength, microseconds since 1970 */
    double strength;  /* at the peak */
    double snr;       /* mean square of the second after the onset over the
                         noise level before it, where measured (a P, or one
                         dropped as ONSET_CANDIDATE_LOW_SNR; infinite when
                         the noise was not known); NaN otherwise */
    int32_t verdict;  /* 'P', 'S' or an ONSET_CANDIDATE_ code */
} onset_candidate;

/* onset_detect_stages, and besides every candidate onset in time order: the
 * first `capacity` of them are written to `candidates` (NULL when capacity
 * is 0) and their number to *found (not NULL). When *found > capacity, call
 * again with room for *found. Which candidates become picks depends on what
 * came before, so a trace cut into pieces may judge them otherwise near the
 * cuts; the onsets a detector finds on a channel fed these samples (before
 * it groups them into events) are the 'P' and 'S' candidates, and the S it
 * searches after each P (see onset_pick). Returns as
 * onset_detect_stages does. */
ONSET_DETECT_API int onset_detect_candidates(const onset_detect_options *options, double rate, int64_t start,
                                             const double *samples, size_t count, double *filtered,
                                             double *strength, onset_candidate *candidates, size_t capacity,
                                             size_t *found, char *message, size_t message_size);

#ifdef __cplusplus
}
#endif

#endif /* ONSET_DETECT_H */
