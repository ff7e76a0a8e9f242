// orvalix-stream: MFCC rows of a wave stream or raw PCM, written as soon as each is ready.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "library/stream.h"
#include "main/analysis_settings.h"
#include "library/float_format.h"
#include "options/command_line.h"
#include "options/option_table.h"
#include "programs/stream/sample_input.h"

namespace {

const char USAGE[] =
    "Usage: orvalix-stream [--exact] [--raw RATE [--channels N]] INPUT [-options]\n"
    "Reads a wave stream (or with --raw, 16-bit little-endian PCM of N = 1 or 2 channels at RATE\n"
    "Hz) from INPUT, a file or - for standard input, and writes the orvalix program's text lines\n"
    "on standard output, each row as soon as the sample after its frame has been read.\n"
    "The options are orvalix's (-C, -L25, -M13, ...; -V1 is refused).\n"
    "Live by default: with pre-emphasis on, row 0 is written at once with the first sample\n"
    "filtered against 0, so it may differ from orvalix's first line; every other row equals it.\n"
    "--exact: orvalix's output file byte for byte; with pre-emphasis on (not -H0) row 0 needs the\n"
    "last sample, so then every row is written at the end.\n";

struct Arguments {
    const char* input = nullptr;
    bool exact = false;
    int32_t rawRate = 0;  // 0: a wave stream
    int32_t channels = 1;
    int32_t values[OPTION_ROW_COUNT];
};

int usageError(const char* line) {
    fprintf(stderr, "%s\n%s", line, USAGE);
    return 2;
}

// A whole decimal number in [low, high], or -1.
int32_t numberIn(const char* text, int32_t low, int32_t high) {
    char* end = nullptr;
    errno = 0;
    const long value = text ? strtol(text, &end, 10) : 0;
    if (!text || *text == '\0' || *end != '\0' || errno || value < low || value > high) return -1;
    return static_cast<int32_t>(value);
}

// Returns -1 when the arguments are good, else the exit status (usage text printed).
int parseArguments(int argc, char** argv, Arguments* a) {
    for (int row = 0; row < OPTION_ROW_COUNT; ++row) a->values[row] = optionDefault(row);
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        char line[160] = "";
        if (!strcmp(arg, "--help")) {
            fputs(USAGE, stdout);
            return 0;
        } else if (!strcmp(arg, "--exact")) {
            a->exact = true;
        } else if (!strcmp(arg, "--raw")) {
            if ((a->rawRate = numberIn(i + 1 < argc ? argv[++i] : nullptr, 1, 0x7FFFFFFF)) < 0)
                return usageError("ERROR: --raw needs a rate in Hz.");
        } else if (!strcmp(arg, "--channels")) {
            if ((a->channels = numberIn(i + 1 < argc ? argv[++i] : nullptr, 1, 2)) < 0)
                return usageError("ERROR: --channels needs 1 or 2.");
        } else if (arg[0] == '-' && arg[1] == '-') {
            snprintf(line, sizeof line, "ERROR: Unknown option %.100s.", arg);
            return usageError(line);
        } else if (arg[0] == '-' && arg[1] != '\0') {
            const int length = applyOptionTo(arg, a->values, line, sizeof line);
            if (length > 0) {
                line[length - 1] = '\0';  // without its line end
                return usageError(line);
            }
        } else if (a->input) {
            return usageError("ERROR: Too many parameters");
        } else {
            a->input = arg;
        }
    }
    if (!a->input) return usageError("ERROR: Too few parameters");
    if (a->channels != 1 && !a->rawRate) return usageError("ERROR: --channels goes with --raw.");
    return -1;
}

// The program's line of each row: "%f " per coefficient from c0 or c1 to cM, then "\n".
bool writeRows(const RowRun& run, int32_t first, int32_t last) {
    char line[64 * 21 + 2];
    for (int64_t r = 0; r < run.count; ++r) {
        const float* row = run.values + r * run.width;
        size_t used = 0;
        for (int32_t j = first; j <= last; ++j) {
            used += formatFixedSix(row[j], line + used);
            line[used++] = ' ';
        }
        line[used++] = '\n';
        if (fwrite(line, 1, used, stdout) != used) return false;
    }
    return true;
}

// Writes and drops the ready rows (all runs), flushed; false when standard output fails.
bool writeReady(AnalysisStream* stream, int32_t first) {
    bool wrote = false;
    for (RowRun run = peekRows(stream); run.count > 0; run = peekRows(stream)) {
        if (!writeRows(run, first, stream->settings.cepstralCount)) return false;
        dropRows(stream, run.count);
        wrote = true;
    }
    return !wrote || fflush(stdout) == 0;
}

int failWith(const char* text) {
    fprintf(stderr, "%s\n", text);
    return 1;
}

int run(const Arguments& a) {
    const int fd = strcmp(a.input, "-") ? open(a.input, O_RDONLY | O_CLOEXEC) : 0;
    if (fd < 0) {
        fprintf(stderr, "ERROR: Cannot read %s: %s\n", a.input, strerror(errno));
        return 1;
    }
    char error[200] = "";
    SampleInput input;
    if (a.rawRate) openRawInput(&input, fd, a.rawRate, a.channels);
    else if (openWaveInput(&input, fd, error, sizeof error)) return failWith(error);

    StreamSettings settings{};
    settingsFromOptionValues(a.values, &settings.analysis);
    settings.sampleRate = input.sampleRate;
    settings.mode = a.exact ? STREAM_EXACT : STREAM_LIVE;
    settings.rows = ROWS_CEPSTRA;
    AnalysisStream stream;
    if (openStream(settings, &stream, error, sizeof error) != STREAM_OK) return failWith(error);
    const int32_t first = settings.analysis.includeC0 ? 0 : 1;
    // Exact with pre-emphasis: row 0 comes at the end, so every row waits to keep frame order.
    const bool holdRows = stream.holdsRowZero;

    constexpr int64_t BLOCK_FRAMES = 16384;
    std::vector<int16_t> slots(BLOCK_FRAMES * 2);
    int status = 0;
    for (;;) {
        const int64_t frames = readFrames(&input, slots.data(), BLOCK_FRAMES);
        if (frames < 0) {
            fprintf(stderr, "ERROR: Cannot read %s: %s\n", a.input, strerror(errno));
            status = 1;
            break;
        }
        if (frames == 0) break;
        const int pushed = pushInt16(&stream, slots.data(), frames, input.channels);
        if (pushed != STREAM_OK) {
            status = failWith(streamResultText(pushed));
            break;
        }
        if (!holdRows && !writeReady(&stream, first)) {
            status = failWith("ERROR: Cannot write the rows to standard output.");
            break;
        }
    }
    if (status == 0) {
        const int finished = finishStream(&stream);
        if (finished != STREAM_OK) status = failWith(streamResultText(finished));
        else if (!writeReady(&stream, first) || fflush(stdout) != 0)
            status = failWith("ERROR: Cannot write the rows to standard output.");
    }
    releaseStream(&stream);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    const int status = parseArguments(argc, argv, &arguments);
    if (status >= 0) return status;
    return run(arguments);
}
