#pragma once
// The front-end steps over feature matrices (docs/frontend.md gives every formula). Each returns
// 0, or 1 for settings out of range or no memory (a result matrix is then empty). The C
// interface (library/interface_front_end.cpp) names what was wrong.
#include <cstdint>
#include "orvalix.h"

int addDeltaColumns(const OrvalixFeatures* input, int32_t order, int32_t window,
                    OrvalixFeatures* output);
OrvalixCmvnSettings defaultCmvnSettings();
int normaliseFeatures(const OrvalixFeatures* input, const OrvalixCmvnSettings* settings,
                      OrvalixFeatures* output);
OrvalixVadSettings defaultVadSettings();
int labelVoicedFrames(const OrvalixFeatures* features, const OrvalixVadSettings* settings,
                      uint8_t* labels);
int selectVoicedRows(const OrvalixFeatures* input, const uint8_t* labels, OrvalixFeatures* output);
