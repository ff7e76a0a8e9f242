// Files the program's reader refuses, decoded by libsndfile onto the module's scale (see
// audio_signal.h). Integer samples are read as libsndfile's left-justified 32-bit values and
// scaled here (v / 65536), not by libsndfile's own float scaling.
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/audio_signal.h"
#include "audio/resampler.h"

namespace {

enum SampleKind { INTEGER_SAMPLES, FLOAT_SAMPLES, DOUBLE_SAMPLES };

SampleKind sampleKindOf(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return FLOAT_SAMPLES;
    case SF_FORMAT_DOUBLE:
        return DOUBLE_SAMPLES;
    default:
        return INTEGER_SAMPLES;
    }
}

int32_t bitsOf(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: case SF_FORMAT_DPCM_8:
    case SF_FORMAT_ALAW: case SF_FORMAT_ULAW:
        return 8;
    case SF_FORMAT_DWVW_12:
        return 12;
    case SF_FORMAT_PCM_16: case SF_FORMAT_DPCM_16: case SF_FORMAT_DWVW_16: case SF_FORMAT_ALAC_16:
        return 16;
    case SF_FORMAT_ALAC_20:
        return 20;
    case SF_FORMAT_PCM_24: case SF_FORMAT_DWVW_24: case SF_FORMAT_ALAC_24:
        return 24;
    case SF_FORMAT_PCM_32: case SF_FORMAT_ALAC_32: case SF_FORMAT_FLOAT:
        return 32;
    case SF_FORMAT_DOUBLE:
        return 64;
    default:
        return 0;
    }
}

// "FLAC (Free Lossless Audio Codec), Signed 24 bit PCM": libsndfile's names of the container and
// of the encoding.
void describeFormat(int format, char* text, size_t size)
{
    SF_FORMAT_INFO major = {format & SF_FORMAT_TYPEMASK, nullptr, nullptr};
    SF_FORMAT_INFO subtype = {format & SF_FORMAT_SUBMASK, nullptr, nullptr};
    sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof major);
    sf_command(nullptr, SFC_GET_FORMAT_INFO, &subtype, sizeof subtype);
    snprintf(text, size, "%s, %s", major.name ? major.name : "unknown container",
             subtype.name ? subtype.name : "unknown encoding");
}

double onScale(int value) { return static_cast<double>(value) / 65536.0; }
double onScale(float value) { return static_cast<double>(value) * 32768.0; }
double onScale(double value) { return value * 32768.0; }

// frames interleaved frames of channels values each, into one float per frame.
template <class T>
void convertFrames(const T* in, int64_t frames, int32_t channels, int32_t channel, float* out)
{
    if (channel != AUDIO_MIX_CHANNELS || channels == 1) {
        const int32_t c = channel == AUDIO_MIX_CHANNELS ? 0 : channel;
        for (int64_t i = 0; i < frames; ++i)
            out[i] = static_cast<float>(onScale(in[i * channels + c]));
        return;
    }
    for (int64_t i = 0; i < frames; ++i) {
        double sum = onScale(in[i * channels]);
        for (int32_t c = 1; c < channels; ++c)
            sum = sum + onScale(in[i * channels + c]);
        out[i] = static_cast<float>(sum / channels);
    }
}

// Values per read: 256 KiB of staging for the widest kind.
constexpr int64_t STAGING_VALUES = 32768;

// Where the decoded samples go: into signal->samples (grown when the file holds more than it
// announced), or block by block through a resampler, so that the file's own rate is never held
// whole.
struct Destination {
    AudioSignal* signal;
    ResampleStream* stream;  // null: no resampling; else samples go straight into its input
    int64_t capacity;
    int64_t decoded;         // frames decoded
};

// Room for chunk more samples; null when memory ran out.
float* roomFor(Destination* to, int64_t chunk)
{
    if (to->stream)
        return resampleStreamRoom(to->stream, chunk);
    AudioSignal* signal = to->signal;
    if (signal->count + chunk > to->capacity) {
        const int64_t grown = to->capacity + (to->capacity > chunk ? to->capacity : chunk);
        float* larger = static_cast<float*>(realloc(signal->samples, sizeof(float) * grown));
        if (!larger)
            return nullptr;
        signal->samples = larger;
        to->capacity = grown;
    }
    return signal->samples + signal->count;
}

// Reads every frame into the destination. Returns 0, or 1 with *failure naming what ran out.
int readAllFrames(SNDFILE* file, const SF_INFO& info, SampleKind kind, int32_t channel,
                  Destination* to, const char** failure)
{
    const int64_t chunk = STAGING_VALUES / info.channels > 0 ? STAGING_VALUES / info.channels : 1;
    void* staging = malloc(static_cast<size_t>(chunk) * info.channels * sizeof(double));
    *failure = "not enough memory";
    if (!staging)
        return 1;
    for (;;) {
        float* out = roomFor(to, chunk);
        if (!out) {
            free(staging);
            return 1;
        }
        sf_count_t got = 0;
        if (kind == INTEGER_SAMPLES) {
            got = sf_readf_int(file, static_cast<int*>(staging), chunk);
            convertFrames(static_cast<int*>(staging), got, info.channels, channel, out);
        } else if (kind == FLOAT_SAMPLES) {
            got = sf_readf_float(file, static_cast<float*>(staging), chunk);
            convertFrames(static_cast<float*>(staging), got, info.channels, channel, out);
        } else {
            got = sf_readf_double(file, static_cast<double*>(staging), chunk);
            convertFrames(static_cast<double*>(staging), got, info.channels, channel, out);
        }
        if (got <= 0)
            break;
        to->decoded += got;
        if (!to->stream) {
            to->signal->count += got;
        } else if (takeResampleInputs(to->stream, got)) {
            free(staging);
            return 1;
        }
    }
    free(staging);
    *failure = nullptr;
    if (sf_error(file) != SF_ERR_NO_ERROR)
        return 1;
    // A cut file: libsndfile may stop early without an error (FLAC does). MPEG's announced count
    // is an estimate from the file size, so it is not held against the file.
    const bool countExact = info.frames != SF_COUNT_MAX &&
                            (info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_MPEG_LAYER_I &&
                            (info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_MPEG_LAYER_II &&
                            (info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_MPEG_LAYER_III;
    if (countExact && to->decoded < info.frames) {
        *failure = "the file ends before the samples it announces";
        return 1;
    }
    if (to->stream && finishResampleStream(to->stream, &to->signal->samples, &to->signal->count)) {
        *failure = "not enough memory";
        return 1;
    }
    return 0;
}

// Sets up the destination: resampling when rate is neither AUDIO_KEEP_RATE nor the file's.
// Returns 0, or 1 with the reason in error.
int prepareDestination(const char* path, const SF_INFO& info, int32_t rate, Destination* to,
                       ResampleStream* stream, char* error, size_t errorSize)
{
    const int64_t chunk = STAGING_VALUES / info.channels > 0 ? STAGING_VALUES / info.channels : 1;
    const int64_t announced = info.frames > 0 && info.frames < (int64_t(1) << 40) ? info.frames : 0;
    if (rate == AUDIO_KEEP_RATE || rate == info.samplerate) {
        to->capacity = announced > 0 ? announced : chunk;
        to->signal->samples = static_cast<float*>(malloc(sizeof(float) * to->capacity));
    } else {
        if (beginResampleStream(stream, info.samplerate, rate, announced)) {
            snprintf(error, errorSize, "%s: cannot resample from %d Hz to %d Hz: the ratio of the rates "
                     "needs too large a filter, or memory ran out", path, info.samplerate, rate);
            return 1;
        }
        to->stream = stream;
    }
    if (!to->stream && to->signal->samples == nullptr) {
        snprintf(error, errorSize, "%s: not enough memory", path);
        return 1;
    }
    return 0;
}

// As the wave reader opens: without blocking on a FIFO, and a regular file only. Returns the
// descriptor, or -1 with the reason.
int openRegularInput(const char* path, char* reason, size_t size)
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status;
    const char* failure = nullptr;
    if (fd < 0 || fstat(fd, &status) != 0)
        failure = strerror_r(errno, reason, size);
    else if (!S_ISREG(status.st_mode))
        failure = "not a regular file";
    else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        failure = strerror_r(errno, reason, size);
    if (failure == nullptr)
        return fd;
    if (failure != reason)
        snprintf(reason, size, "%s", failure);
    if (fd >= 0)
        close(fd);
    return -1;
}

}  // namespace

int readWithSndfile(const char* path, int32_t channel, int32_t rate, AudioSignal* signal,
                    char* error, size_t errorSize)
{
    char reason[128];
    const int fd = openRegularInput(path, reason, sizeof reason);
    if (fd < 0) {
        snprintf(error, errorSize, "%s: cannot open: %s", path, reason);
        return 1;
    }
    SF_INFO info;
    memset(&info, 0, sizeof info);
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    if (file == nullptr) {
        snprintf(error, errorSize, "%s: cannot decode: %s", path,
                 sf_error_number(sf_error(nullptr)));
        close(fd);
        return 1;
    }
    signal->sourceRate = info.samplerate;
    signal->channels = info.channels;
    signal->bitsPerSample = bitsOf(info.format & SF_FORMAT_SUBMASK);
    signal->decoder = AUDIO_DECODER_LIBSNDFILE;
    describeFormat(info.format, signal->format, sizeof signal->format);
    int failed = checkChannel(path, channel, info.channels, error, errorSize);
    Destination to = {signal, nullptr, 0, 0};
    ResampleStream stream;
    memset(&stream, 0, sizeof stream);
    failed = failed || prepareDestination(path, info, rate, &to, &stream, error, errorSize);
    const char* failure = nullptr;
    if (!failed && readAllFrames(file, info, sampleKindOf(info.format & SF_FORMAT_SUBMASK), channel,
                                 &to, &failure)) {
        snprintf(error, errorSize, "%s (%s): decoding failed after %lld samples: %s", path,
                 signal->format, static_cast<long long>(to.decoded),
                 failure ? failure : sf_strerror(file));
        failed = 1;
    }
    if (!failed)
        signal->sampleRate = to.stream ? rate : info.samplerate;
    releaseResampleStream(&stream);
    sf_close(file);
    close(fd);
    return failed;
}
