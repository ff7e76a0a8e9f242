#pragma once
#include <cstddef>
#include <cstdint>

// Audio files of any common format as one channel of floats, for callers of the library (the
// orvalix program never reads through this module: it reads 8/16-bit PCM wave files alone).
//
// Which decoder: every file the program's own wave reader accepts (8- or 16-bit integer PCM wave,
// one or two channels, plain or WAVE_FORMAT_EXTENSIBLE) is read by that reader, so its samples
// are the program's to the bit. Everything else goes to libsndfile: 24/32-bit integer, float and
// double wave files (plain or extensible), A-law and mu-law, more than two channels, FLAC,
// Ogg Vorbis/Opus, MP3, AIFF, CAF, W64 and whatever else it reads.
//
// The scale: the program's 16-bit scale, each conversion done in double and rounded to float once
// (exact wherever the value fits a float's 24 bits):
//   16-bit integer v               -> v
//   8-bit wave through the reader  -> its unsigned byte 0..255, as the program analyses it
//   other b-bit integer v          -> v * 2^(16 - b)   (8-bit v * 256, 24-bit v / 256, 32-bit v / 65536)
//   A-law, mu-law                  -> the G.711 16-bit value
//   float or double x              -> x * 32768       (also lossy codecs, whose decoders give floats)
// Channels: one chosen (0-based), or the mix float(sum / n) of the n channel values in channel
// order, summed in double: for two channels float((L + R) / 2.0), the program's stereo mix.
struct AudioSignal {
    float* samples;         // count samples at sampleRate; release with releaseAudioSignal
    int64_t count;
    int32_t sampleRate;     // after resampling, if any was asked for
    int32_t sourceRate;     // the file's rate
    int32_t channels;       // the file's channels
    int32_t bitsPerSample;  // the file's sample size: 8..32, 32 float, 64 double, 0 lossy codec
    int32_t decoder;        // AUDIO_DECODER_WAVE_READER or AUDIO_DECODER_LIBSNDFILE
    char format[96];        // e.g. "FLAC (Free Lossless Audio Codec), Signed 24 bit PCM"
};

enum : int32_t { AUDIO_DECODER_WAVE_READER = 1, AUDIO_DECODER_LIBSNDFILE = 2 };
constexpr int32_t AUDIO_MIX_CHANNELS = -1;
constexpr int32_t AUDIO_KEEP_RATE = 0;

// Decodes path into *signal: channel AUDIO_MIX_CHANNELS or 0-based, rate AUDIO_KEEP_RATE or the
// rate to resample to (audio/resampler.h). Returns 0, or 1 with *signal empty and a one-line
// reason in error (the path, the format when known, libsndfile's or the reader's reason).
// Prints nothing; safe from many threads, except that libsndfile keeps the reason a file could
// not be opened at all in one global, so two failures at once may swap their reasons.
int decodeAudioFile(const char* path, int32_t channel, int32_t rate, AudioSignal* signal,
                    char* error, size_t errorSize);
void releaseAudioSignal(AudioSignal* signal);

// The two decoders. The reader's fills every field but sampleRate, and returns
// AUDIO_REFUSED_BY_WAVE_READER (nothing read, no error) for files the program would refuse.
// libsndfile's resamples on the way to rate (AUDIO_KEEP_RATE: none), block by block as it
// decodes, and sets sampleRate.
constexpr int AUDIO_REFUSED_BY_WAVE_READER = 2;
int readWithWaveReader(const char* path, int32_t channel, AudioSignal* signal, char* error,
                       size_t errorSize);
int readWithSndfile(const char* path, int32_t channel, int32_t rate, AudioSignal* signal,
                    char* error, size_t errorSize);
// 0 when channel is AUDIO_MIX_CHANNELS or one of the file's; else 1 with the reason in error.
int checkChannel(const char* path, int32_t channel, int32_t channels, char* error,
                 size_t errorSize);
