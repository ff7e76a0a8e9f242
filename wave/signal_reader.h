#pragma once
#include <cstdint>
#include "wave/result_codes.h"
#include "wave/wav_audio_file.h"
#include "wave/wave_loader.h"

// The loader's second opening on its own, for callers that take the signal a block at a time:
// opens the file and prints the report, then delivers the floats loadWaveFile would hold, at
// most capacity of them. Implemented with the loader, whose reads these are.
struct SignalReader {
    WavAudioFile file;
    uint32_t limit;       // samples to deliver
    uint32_t frameSlots;  // 2 for a two-channel file (delivered as its mono mix), else 1
    uint32_t delivered;
};
RFXRET openSignalReader(SignalReader* reader, const char* name, int32_t capacity,
                        SignalInfo* info, StageConsole console);
// Up to maxSamples further samples into out; *count says how many. Stops at the first failed
// read, whose code it returns (the samples before it are counted).
RFXRET readSignalBlock(SignalReader* reader, float* out, uint32_t maxSamples, uint32_t* count);
// The input opened as loadWaveFile opens it: its size learnt (queryWaveSize), then opened for
// reading with the file report printed (CONSOLE_PRINTS). On failure the loader's message is
// printed likewise and its code returned.
RFXRET openWaveReader(const char* name, SignalReader* reader, SignalInfo* info,
                      StageConsole console);
// The rest of the signal of an open reader as one array (*signal, freed by the caller), with the
// loader's messages: what loadWaveFile does after its two openings.
RFXRET readWholeSignal(SignalReader* reader, float** signal, SignalInfo* info,
                       StageConsole console);
