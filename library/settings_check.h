#pragma once
#include <cstddef>
#include <cstdint>
#include "main/analysis_settings.h"

// Settings inside every option's range that still cannot give finite rows at a rate: a mel
// filter that covers no FFT bin, or a window of fewer than 2 samples. Returns 0 when the settings
// (melFilterCount 0: the automatic count) suit sampleRate, else 1 with a sentence naming them in
// message (messageSize bytes, may be 0).
int nonFiniteRowsReason(const AnalysisSettings* settings, int32_t sampleRate, char* message,
                        size_t messageSize);
