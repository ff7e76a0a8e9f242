// orvalix-stream: MFCC rows of a wave stream or raw PCM, written as soon as each is ready.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "orvalix.h"
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
    OrvalixSettings settings;
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
    a->settings = orvalix_default_settings();
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
            OrvalixError error;
            if (orvalix_parse_options(1, &arg, &a->settings, &error) != ORVALIX_OK)
                return usageError(error.message);
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
bool writeRows(const float* rows, int32_t count, int32_t width, int32_t first) {
    char line[64 * 21 + 2];
    for (int32_t r = 0; r < count; ++r) {
        const float* row = rows + static_cast<int64_t>(r) * width;
        size_t used = 0;
        for (int32_t j = first; j < width; ++j) {
            used += orvalix_format_coefficient(row[j], line + used);
            line[used++] = ' ';
        }
        line[used++] = '\n';
        if (fwrite(line, 1, used, stdout) != used) return false;
    }
    return true;
}

// Writes the ready rows, flushed; false when standard output fails.
bool writeReady(OrvalixStream* stream, int32_t first, std::vector<float>* rows) {
    const int32_t width = orvalix_stream_row_width(stream);
    const int32_t most = static_cast<int32_t>(rows->size() / width);
    bool wrote = false;
    int32_t count = 0;
    while (orvalix_stream_rows(stream, rows->data(), most, &count, nullptr, nullptr) == ORVALIX_OK &&
           count > 0) {
        if (!writeRows(rows->data(), count, width, first)) return false;
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
    char reason[200] = "";
    SampleInput input;
    if (a.rawRate) openRawInput(&input, fd, a.rawRate, a.channels);
    else if (openWaveInput(&input, fd, reason, sizeof reason)) return failWith(reason);

    OrvalixStreamOptions options = orvalix_default_stream_options();
    options.mode = a.exact ? ORVALIX_STREAM_EXACT : ORVALIX_STREAM_LIVE;
    OrvalixStream* stream = nullptr;
    OrvalixError error;
    if (orvalix_stream_open(&a.settings, input.sampleRate, &options, &stream, &error) != ORVALIX_OK)
        return failWith(error.message);
    const int32_t first = a.settings.includeC0 ? 0 : 1;
    // Exact with pre-emphasis: row 0 comes at the end, so every row waits to keep frame order.
    const bool holdRows = a.exact && a.settings.preEmphasis > 0;

    constexpr int64_t BLOCK_FRAMES = 16384;
    std::vector<int16_t> slots(BLOCK_FRAMES * 2);
    std::vector<float> rows(static_cast<size_t>(orvalix_stream_row_width(stream)) * 1024);
    int status = 0;
    for (;;) {
        const int64_t frames = readFrames(&input, slots.data(), BLOCK_FRAMES);
        if (frames < 0) {
            fprintf(stderr, "ERROR: Cannot read %s: %s\n", a.input, strerror(errno));
            status = 1;
            break;
        }
        if (frames == 0) break;
        if (orvalix_stream_push_int16(stream, slots.data(), frames, input.channels, &error) != ORVALIX_OK) {
            status = failWith(error.message);
            break;
        }
        if (!holdRows && !writeReady(stream, first, &rows)) {
            status = failWith("ERROR: Cannot write the rows to standard output.");
            break;
        }
    }
    if (status == 0) {
        if (orvalix_stream_finish(stream, &error) != ORVALIX_OK) status = failWith(error.message);
        else if (!writeReady(stream, first, &rows) || fflush(stdout) != 0)
            status = failWith("ERROR: Cannot write the rows to standard output.");
    }
    orvalix_stream_release(stream);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    const int status = parseArguments(argc, argv, &arguments);
    if (status >= 0) return status;
    return run(arguments);
}
