/* Orvalix as a library: MFCC analysis of an in-memory signal or a wave file with exactly the
 * numbers the orvalix program writes, and the front end after it (deltas, mean and variance
 * normalisation, energy voice-activity labels). A C interface (C99 and C++): every name begins
 * with orvalix_, Orvalix or ORVALIX_; the calls never print, never end the process, install no
 * signal handler, keep no state between calls and may run on any number of threads at once, each
 * on its own data. Link with the orvalix library (CMake: find_package(Orvalix) and
 * Orvalix::orvalix; pkg-config: orvalix).
 *
 * Conventions:
 * - Every record begins with `size`, the record's size in bytes as the caller was built with it;
 *   the orvalix_default_* calls set it, and records the library fills get it set. Fields are
 *   only ever added at the end: a record handed in tells the library by its size which fields
 *   it holds (a shorter settings record analyses on one thread). The orvalix_default_* calls
 *   and the records the library fills are written whole, so a release that grows a record also
 *   changes the shared library's soname (liborvalix.so.0.2 here): a program keeps the library
 *   its header came with.
 * - Every call returns ORVALIX_OK (0) or a result code, and fills the caller's OrvalixError (may
 *   be null) with that code and a message.
 * - What the library hands out is released with the one release call of its kind:
 *   orvalix_release_features, orvalix_release_signal, orvalix_release_labels,
 *   orvalix_stream_release. */
#ifndef ORVALIX_H
#define ORVALIX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ORVALIX_VERSION_TEXT "0.2.0"

#if defined(ORVALIX_BUILDING_LIBRARY)
#define ORVALIX_API __attribute__((visibility("default")))
#else
#define ORVALIX_API
#endif

/* Result codes: 1..6 are the wave-file codes the program prints (RFX_FILE_ERROR ...). */
enum OrvalixResult {
    ORVALIX_OK = 0,
    ORVALIX_FILE_ERROR = 1,        /* RFX_FILE_ERROR: the file cannot be opened or read */
    ORVALIX_NOT_A_WAVE_FILE = 6,   /* the last wave-file code, RFX_INVALID_FILE */
    ORVALIX_ANALYSIS_FAILED = 100, /* these settings cannot be applied to this signal, or no memory */
    ORVALIX_INVALID_ARGUMENT = 101,/* a null pointer, a setting out of range, a wrong record size */
    ORVALIX_OUTPUT_FAILED = 102,   /* an output file cannot be written */
    ORVALIX_NON_FINITE_ROWS = 103, /* orvalix_check_rows: these settings give rows of infinities or NaN */
    ORVALIX_STREAM_FINISHED = 104, /* a push or finish after orvalix_stream_finish (reset first) */
    ORVALIX_NEEDS_WHOLE_SIGNAL = 105, /* a stream: removeDcOffset, voicedOnly, centred or per-utterance CMVN */
    ORVALIX_AUDIO_UNREADABLE = 106 /* orvalix_load_audio: the file cannot be opened, is no audio, or its decoder failed */
};

typedef struct OrvalixError {
    int32_t code;
    char message[256];
} OrvalixError;

/* Window kinds (the program's -W): 2 is a triangle and 3 a Hann (raised-cosine) window. */
enum OrvalixWindow {
    ORVALIX_WINDOW_HAMMING = 1,
    ORVALIX_WINDOW_TRIANGULAR = 2,
    ORVALIX_WINDOW_HANN = 3,
    ORVALIX_WINDOW_BLACKMAN = 4
};

/* What the analysis uses, with the program's option letter and range. */
typedef struct OrvalixSettings {
    uint32_t size;
    int32_t windowLengthMs;  /* L: analysis window, 1..100 ms (30) */
    int32_t windowShiftMs;   /* S: frame shift, 1..100 ms (10) */
    int32_t melFilterCount;  /* N: 0..100; 0 = automatic (the count used is in the features) */
    int32_t cepstralCount;   /* M: coefficients c1..cM, 1..20 (12) */
    int32_t includeC0;       /* C: written rows and the front end keep c0 (0) */
    int32_t removeDcOffset;  /* V: subtract the signal's mean first (0) */
    int32_t powerOfTwoBelow; /* U: FFT length is the power of two below the window, not above (0) */
    int32_t windowType;      /* W: an OrvalixWindow (1) */
    int32_t lifterType;      /* I: 1 none, 2 raised sine, 3 half raised sine (1) */
    int32_t filterDomain;    /* A: 1 magnitude, 2 power (1) */
    float preEmphasis;       /* H / 100.0 stored as a float (0.97f); 0 turns it off */
    /* Appended after the first release; no option of the program. Threads that analyse a long signal's chunks,
     * started and joined within the call; the rows are the same for any count. 0 or 1: the
     * calling thread alone (1); at most ORVALIX_MAX_THREADS. */
    int32_t threads;
} OrvalixSettings;

#define ORVALIX_MAX_THREADS 64

/* A signal, or what a wave file holds. */
typedef struct OrvalixSignal {
    uint32_t size;
    float* samples;        /* count samples on the 16-bit scale; null when only described */
    int64_t count;         /* samples read: the signal length for all analysis */
    int64_t announced;     /* samples the header announces (more than count when cut short) */
    int32_t sampleRate;
    int32_t channels;      /* two channels are read as their mono mix */
    int32_t bitsPerSample;
    /* Filled by orvalix_load_audio (and, for wave files, by the calls above): */
    int32_t sourceRate;    /* the file's rate; sampleRate differs when it was resampled */
    int32_t decoder;       /* an OrvalixDecoder: who read the samples */
    char format[96];       /* the container and encoding, e.g. "FLAC (Free Lossless Audio Codec),
                              Signed 24 bit PCM" */
} OrvalixSignal;

/* Rows of floats, row after row: c0, c1..cM (columnCount = cepstralCount + 1), log filter
 * energies, or whatever a front-end call made of them. */
typedef struct OrvalixFeatures {
    uint32_t size;
    int32_t frameCount;
    int32_t columnCount;
    int32_t filterCount;   /* the mel filters the analysis used */
    float* values;         /* frameCount * columnCount floats; null when frameCount is 0 */
} OrvalixFeatures;

ORVALIX_API const char* orvalix_version(void);
/* The name the program prints for a result ("RFX_FILE_ERROR", "ORVALIX_ANALYSIS_FAILED"). */
ORVALIX_API const char* orvalix_result_name(int32_t result);
/* Frames the analysis computes side by side on this processor: 8, 4, 2 or 1. */
ORVALIX_API int32_t orvalix_lane_width(void);

/* The settings of a command line without options. */
ORVALIX_API OrvalixSettings orvalix_default_settings(void);
/* Options in the program's own syntax ("-L25", "-M13", "-C", one per element) over *settings,
 * read by the program's own parser with its ranges; the message is the program's error line
 * ("ERROR: Parameter L(1) = 0 is out of range [1,100]."). Options the analysis does not use
 * (-D -E -R -F -O -Q) are accepted and checked, and change nothing. */
ORVALIX_API int orvalix_parse_options(int count, const char* const* options,
                                      OrvalixSettings* settings, OrvalixError* error);
/* ORVALIX_OK when every field is within its range; else ORVALIX_INVALID_ARGUMENT naming it. */
ORVALIX_API int orvalix_check_settings(const OrvalixSettings* settings, OrvalixError* error);

/* Settings within every range can still give rows of infinities or NaN at some rates: a mel
 * filter that covers no FFT bin, or a window of fewer than 2 samples. ORVALIX_OK when these
 * settings suit sampleRate, else ORVALIX_NON_FINITE_ROWS with a sentence naming them. The
 * analysis itself goes on as the program's does; this only tells. */
ORVALIX_API int orvalix_check_rows(const OrvalixSettings* settings, int32_t sampleRate,
                                   OrvalixError* error);

/* Loads a wave file as the program does (16-bit samples as -32768..32767, 8-bit as 0..255, two
 * channels as their mono mix). A file cut short is read as far as it goes (count < announced). */
ORVALIX_API int orvalix_load_wave(const char* name, OrvalixSignal* signal, OrvalixError* error);
ORVALIX_API void orvalix_release_signal(OrvalixSignal* signal);

/* The coefficients of every frame of count samples at sampleRate Hz; the samples are not
 * changed. A long signal is conditioned and analysed a chunk at a time (only a few chunks are
 * held besides the features); a shorter one, or any with removeDcOffset, is copied once. */
ORVALIX_API int orvalix_analyse(const float* samples, int64_t count, int32_t sampleRate,
                                const OrvalixSettings* settings, OrvalixFeatures* features,
                                OrvalixError* error);
/* The base-10 log filter energies of every frame instead (melFilterCount columns): the very
 * floats the analysis hands to its cosine transform. */
ORVALIX_API int orvalix_analyse_filterbank(const float* samples, int64_t count, int32_t sampleRate,
                                           const OrvalixSettings* settings,
                                           OrvalixFeatures* features, OrvalixError* error);
/* Reads and analyses a wave file exactly as the program does (long files a chunk at a time, in
 * bounded memory). info (may be null) describes the file; its samples stay null. */
ORVALIX_API int orvalix_analyse_file(const char* name, const OrvalixSettings* settings,
                                     OrvalixFeatures* features, OrvalixSignal* info,
                                     OrvalixError* error);
ORVALIX_API void orvalix_release_features(OrvalixFeatures* features);

/* Formats one coefficient exactly as the program's "%f" (six decimals); out holds 64 bytes. */
ORVALIX_API size_t orvalix_format_coefficient(float value, char* out);

enum OrvalixWriteMode {
    ORVALIX_WRITE_CREATE = 0, /* the name must be free when the file is complete */
    ORVALIX_WRITE_REPLACE = 1 /* an existing file (through links) is replaced, keeping its mode */
};
/* Writes rows as the program's output file: c0 (includeC0 non-zero) or c1 to the last column,
 * "%f " each, one line per frame. The file takes its name only when complete; nothing but a
 * regular file is ever replaced (a FIFO or device named as output is written into). */
ORVALIX_API int orvalix_write_text(const OrvalixFeatures* features, int32_t includeC0,
                                   const char* name, int32_t mode, OrvalixError* error);

/* ----------------------------------------------------------------------------------------------
 * The front end after the analysis (docs/frontend.md gives every formula). Each call reads any
 * feature matrix and leaves it unchanged; values are computed in double and stored as floats. */

/* Every row followed by its order-1 (and, for order 2, order-2) deltas over window frames on
 * each side, as Kaldi's add-deltas: columnCount * (order + 1) columns. order 1..2, window 1..100. */
ORVALIX_API int orvalix_deltas(const OrvalixFeatures* input, int32_t order, int32_t window,
                               OrvalixFeatures* output, OrvalixError* error);

enum OrvalixCmvnMode { ORVALIX_CMVN_UTTERANCE = 1, ORVALIX_CMVN_SLIDING = 2 };

/* Mean (and variance) normalisation. The defaults are those of Kaldi's apply-cmvn-sliding. */
typedef struct OrvalixCmvnSettings {
    uint32_t size;
    int32_t mode;               /* ORVALIX_CMVN_SLIDING (default) or ORVALIX_CMVN_UTTERANCE */
    int32_t normaliseVariance;  /* also divide by the standard deviation (0) */
    int32_t window;             /* sliding: window in frames, at least 1 (600) */
    int32_t minWindow;          /* sliding to the left: frames used at least at the start,
                                   1..window (100); not read when centred */
    int32_t centred;            /* sliding: the window around the frame, not up to it (0) */
} OrvalixCmvnSettings;

ORVALIX_API OrvalixCmvnSettings orvalix_default_cmvn_settings(void);
/* output may be input itself: the rows are then normalised in place. */
ORVALIX_API int orvalix_cmvn(const OrvalixFeatures* input, const OrvalixCmvnSettings* settings,
                             OrvalixFeatures* output, OrvalixError* error);

/* energyColumn value that takes each frame's energy as the sum of its row (log filter energies). */
#define ORVALIX_VAD_ROW_SUM (-1)

/* Energy voice-activity decision in the manner of Kaldi's compute-vad, on c0 by default. */
typedef struct OrvalixVadSettings {
    uint32_t size;
    double energyThreshold;      /* added to energyMeanScale * the mean energy (-2.5) */
    double energyMeanScale;      /* 0 or more (1) */
    int32_t framesContext;       /* frames on each side that vote, 0 or more (15) */
    double proportionThreshold;  /* share of the voting frames above the threshold, 0..1 open (0.4) */
    int32_t energyColumn;        /* column holding the energy (0: c0), or ORVALIX_VAD_ROW_SUM */
} OrvalixVadSettings;

ORVALIX_API OrvalixVadSettings orvalix_default_vad_settings(void);

/* One label per frame: 1 voiced, 0 not. */
typedef struct OrvalixLabels {
    uint32_t size;
    int32_t count;
    uint8_t* values;
} OrvalixLabels;

ORVALIX_API int orvalix_vad(const OrvalixFeatures* features, const OrvalixVadSettings* settings,
                            OrvalixLabels* labels, OrvalixError* error);
ORVALIX_API void orvalix_release_labels(OrvalixLabels* labels);

/* The rows whose label is non-zero, in their order. output may be input itself. */
ORVALIX_API int orvalix_select_voiced(const OrvalixFeatures* input, const OrvalixLabels* labels,
                                      OrvalixFeatures* output, OrvalixError* error);

/* The whole chain after the analysis, in its fixed order: voice-activity labels (on the rows as
 * analysed: c0, or the row sum of log filter energies), then the columns arranged (c0 dropped
 * unless includeC0, or moved last with c0Last), deltas, normalisation, and the voiced rows alone.
 * The rows are the analysis' own: c0..cM, or log filter energies (filterbankRows), whose columns
 * all stay. */
typedef struct OrvalixFrontEnd {
    uint32_t size;
    int32_t filterbankRows;  /* the rows are log filter energies, not cepstra (0) */
    int32_t includeC0;       /* keep c0 (0: it is dropped) */
    int32_t c0Last;          /* with includeC0: c0 after cM, as HTK orders it (0) */
    int32_t deltaOrder;      /* 0, 1 or 2 (0) */
    int32_t deltaWindow;     /* 1..100 (2) */
    int32_t cmvn;            /* normalise (0) */
    OrvalixCmvnSettings cmvnSettings;
    int32_t voicedOnly;      /* keep the voiced rows only (0) */
    OrvalixVadSettings vadSettings; /* energyColumn is set from filterbankRows by the call */
} OrvalixFrontEnd;

ORVALIX_API OrvalixFrontEnd orvalix_default_front_end(void);
/* Replaces *features by the finished rows. labels (may be null) receive one label per analysed
 * frame, before any row is dropped. */
ORVALIX_API int orvalix_front_end(OrvalixFeatures* features, const OrvalixFrontEnd* frontEnd,
                                  OrvalixLabels* labels, OrvalixError* error);

/* ----------------------------------------------------------------------------------------------
 * Streams: a signal pushed in pieces as it arrives, each frame's row handed out, with its frame
 * index, as soon as the sample after the frame's last sample has been pushed. For any split of
 * the pushes the rows equal orvalix_analyse's on the whole signal, bit for bit, the frame rule
 * included (a frame is analysed while at least one sample follows it, so the frame that ends
 * with the last sample has no row). Memory: the tables, about a frame and 64k samples, and the
 * rows not yet taken, however long the stream; a push allocates nothing once the queue has
 * grown to the rows a push completes.
 *
 * Row 0: pre-emphasis filters the first sample against the signal's LAST one, so with
 * preEmphasis > 0 row 0 depends on the end of the signal.
 * - ORVALIX_STREAM_EXACT (default): row 0 is handed out at orvalix_stream_finish. If no row was
 *   taken before, it comes first and the finished stream's rows are in frame order; else it is a
 *   run of its own (firstFrame 0) after the rows already handed out.
 * - ORVALIX_STREAM_LIVE: row 0 comes at once, its first sample filtered against 0; it is the
 *   only row that may differ from the whole signal's.
 * With preEmphasis 0 row 0 is exact at once in both modes.
 *
 * The front end (useFrontEnd) takes the rows in frame order and hands out what orvalix_front_end
 * gives for the same rows (in the live mode: with the live row 0, so the rows whose deltas or
 * normalisation reach row 0 follow it). A row waits for the rows it depends on: order * window
 * frames for the deltas; for the sliding normalisation (up to each frame, not centred) row t
 * waits for row minWindow - 1. In the exact mode with preEmphasis > 0 every front-end row comes
 * at the finish (all depend on row 0). Labels (wantLabels) come at the finish: the threshold
 * follows the mean energy of every frame; one double per frame is kept until then. voicedOnly,
 * centred and per-utterance normalisation need the whole signal and are refused. */

typedef struct OrvalixStream OrvalixStream;

enum OrvalixStreamMode { ORVALIX_STREAM_EXACT = 0, ORVALIX_STREAM_LIVE = 1 };
enum OrvalixStreamRowKind { ORVALIX_ROWS_CEPSTRA = 0, ORVALIX_ROWS_FILTERBANK = 1 };

typedef struct OrvalixStreamOptions {
    uint32_t size;
    int32_t mode;         /* an OrvalixStreamMode (ORVALIX_STREAM_EXACT) */
    int32_t rowKind;      /* c0..cM, or the log filter energies of orvalix_analyse_filterbank */
    int32_t batchFrames;  /* 0 or 1: each row at once; n > 1: ready frames wait until n of them
                             are analysed together (faster; a row up to n - 1 shifts late) */
    int32_t lanes;        /* frames side by side: 0 the processor's widest, or 1, 2, 4, 8 */
    int32_t useFrontEnd;  /* hand out the rows through frontEnd (0) */
    OrvalixFrontEnd frontEnd;  /* filterbankRows follows rowKind */
    int32_t wantLabels;   /* with useFrontEnd: voice-activity labels, at the finish (0) */
} OrvalixStreamOptions;

ORVALIX_API OrvalixStreamOptions orvalix_default_stream_options(void);
/* Builds every table once. *stream is null on failure: ORVALIX_INVALID_ARGUMENT (a null or
 * out-of-range setting), ORVALIX_NEEDS_WHOLE_SIGNAL, ORVALIX_ANALYSIS_FAILED (a rate at which
 * the shift is below one sample or the window below two, or no memory). */
ORVALIX_API int orvalix_stream_open(const OrvalixSettings* settings, int32_t sampleRate,
                                    const OrvalixStreamOptions* options, OrvalixStream** stream,
                                    OrvalixError* error);
/* frameCount frames of `channels` (1 or 2) interleaved samples on the program's scale
 * (16 bit: -32768..32767); two channels are pushed as the program's mono mix. Rows the samples
 * complete are ready when the call returns. A refused push changes nothing. */
ORVALIX_API int orvalix_stream_push_float(OrvalixStream* stream, const float* samples,
                                          int64_t frameCount, int32_t channels, OrvalixError* error);
ORVALIX_API int orvalix_stream_push_int16(OrvalixStream* stream, const int16_t* samples,
                                          int64_t frameCount, int32_t channels, OrvalixError* error);
/* Floats in each row handed out (0 for a null stream). */
ORVALIX_API int32_t orvalix_stream_row_width(const OrvalixStream* stream);
/* Copies up to maxRows ready rows of consecutive frames into out (maxRows * row width floats)
 * and removes them: *rowCount of them (0: none ready), the first of frame *firstFrame. Call
 * again until *rowCount is 0 to take every ready run. */
ORVALIX_API int orvalix_stream_rows(OrvalixStream* stream, float* out, int32_t maxRows,
                                    int32_t* rowCount, int64_t* firstFrame, OrvalixError* error);
/* After the finish, with wantLabels: up to maxLabels labels (1 voiced) of frames from
 * *firstFrame on, in frame order, as orvalix_front_end labels the analysed rows. */
ORVALIX_API int orvalix_stream_labels(OrvalixStream* stream, uint8_t* out, int32_t maxLabels,
                                      int32_t* labelCount, int64_t* firstFrame, OrvalixError* error);
/* Ends the signal: the rows still waiting (row 0 of the exact mode, the front end's last rows)
 * become ready. A second call gives ORVALIX_STREAM_FINISHED. */
ORVALIX_API int orvalix_stream_finish(OrvalixStream* stream, OrvalixError* error);
/* Starts a new signal with the same tables; rows and labels not taken are dropped. */
ORVALIX_API int orvalix_stream_reset(OrvalixStream* stream, OrvalixError* error);
ORVALIX_API void orvalix_stream_release(OrvalixStream* stream);

/* ----------------------------------------------------------------------------------------------
 * Audio files of every common format (docs/audio.md): FLAC, Ogg Vorbis and Opus, MP3, AIFF, CAF,
 * W64 and wave files of any encoding, on the 16-bit scale, optionally resampled. */

enum OrvalixDecoder {
    ORVALIX_DECODER_WAVE_READER = 1, /* the program's own wave reader: its samples to the bit */
    ORVALIX_DECODER_LIBSNDFILE = 2   /* everything the program's reader refuses */
};

#define ORVALIX_MIX_CHANNELS (-1)
#define ORVALIX_KEEP_RATE 0

/* Loads any audio file as one channel of floats on the program's 16-bit scale: a 16-bit value v
 * stays v, 24-bit v / 256, float x becomes x * 32768. What the program's wave reader reads (8- or
 * 16-bit PCM wave, one or two channels) goes through that reader; the rest through libsndfile.
 * channel: 0-based, or ORVALIX_MIX_CHANNELS for the mix of all (two as the program mixes them).
 * rate: ORVALIX_KEEP_RATE, or the rate to resample to (windowed sinc, the same floats on every
 * machine). Fails with ORVALIX_AUDIO_UNREADABLE (the message names the file, its format when
 * known and the decoder's reason) or ORVALIX_INVALID_ARGUMENT. Release with
 * orvalix_release_signal. */
ORVALIX_API int orvalix_load_audio(const char* name, int32_t channel, int32_t rate,
                                   OrvalixSignal* signal, OrvalixError* error);

#ifdef __cplusplus
}
#endif

#endif
