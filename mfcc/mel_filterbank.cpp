#include "mfcc/mel_filterbank.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "modules/console.h"

namespace {

// The bin that an edge at or above half the rate takes: the last bin below fftLength / 2.
int32_t topBin(int32_t fftLength) {
    return static_cast<int32_t>(fftLength / 2.0 - 1);
}

// Edge n of filterCount, the mel edges equally spaced from 0 to melTop.
int32_t edgeBin(int32_t n, int32_t filterCount, float melTop, int32_t fftLength,
                int32_t sampleRate) {
    float hz = melEdgeFrequency(n, filterCount, melTop);
    int32_t bin = frequencyToBin(hz, sampleRate, fftLength);
    return bin == -1 ? topBin(fftLength) : bin;
}

// The weights of the last filter must cover its lastBin, which is set to the top bin; pads with
// zero weights when its end edge came out below the top bin.
int coverTopBin(MelFilter* last, int32_t fftLength) {
    int32_t top = topBin(fftLength);
    if (top > last->lastBin) {
        size_t count = static_cast<size_t>(top - last->firstBin + 1);
        float* wider = static_cast<float*>(calloc(count, sizeof(float)));
        if (!wider) return 1;
        for (int32_t k = last->firstBin; k <= last->lastBin; ++k)
            wider[k - last->firstBin] = last->weights[k - last->firstBin];
        free(last->weights);
        last->weights = wider;
    }
    last->lastBin = top;
    return 0;
}

int reportNoMemory(MelFilterbank* bank) {
    releaseMelFilterbank(bank);
    printError("ERROR: Not enough memory for the mel filterbank.\n");
    return 1;
}

}  // namespace

double hzToMel(float hz) {
    return 2595.0 * log10(1.0 + hz / 700.0);
}

float melEdgeFrequency(int32_t n, int32_t filterCount, float melTop) {
    double mel = (static_cast<double>(n) / filterCount) * melTop;
    return static_cast<float>((pow(10.0, mel / 2595.0) - 1.0) * 700.0);
}

int32_t frequencyToBin(float hz, int32_t sampleRate, int32_t fftLength) {
    float halfRate = static_cast<float>(sampleRate / 2.0);  // 11025 Hz gives 5512.5
    float binWidth = static_cast<float>(halfRate / (fftLength / 2.0));
    int32_t bin = static_cast<int32_t>(hz / static_cast<double>(binWidth));
    if (bin < fftLength / 2.0) return bin;
    return -1;
}

int32_t automaticFilterCount(int32_t sampleRate) {
    return static_cast<int32_t>(ceil(3.0 * log(static_cast<double>(sampleRate))));
}

int buildMelFilterbank(MelFilterbank* bank, int32_t filterCount, int32_t fftLength,
                       int32_t sampleRate) {
    bank->filterCount = 0;
    bank->filters = nullptr;
    // Rounding the top mel value to float decides whether the top edge lands just below or just
    // above half the rate.
    float melTop = static_cast<float>(hzToMel(static_cast<float>(sampleRate / 2.0)));

    MelFilter* filters = static_cast<MelFilter*>(calloc(filterCount, sizeof(MelFilter)));
    if (!filters) return reportNoMemory(bank);
    bank->filterCount = filterCount;
    bank->filters = filters;

    int32_t first = 0;
    int32_t peak = edgeBin(1, filterCount, melTop, fftLength, sampleRate);
    for (int32_t j = 1; j <= filterCount; ++j) {
        // The last filter is half a triangle: it peaks and ends on the top edge.
        int32_t end = j < filterCount ? edgeBin(j + 1, filterCount, melTop, fftLength, sampleRate)
                                      : peak;
        MelFilter* filter = &filters[j - 1];
        filter->firstBin = first;
        filter->lastBin = end;
        filter->weights = triangleWeights(first, peak, end);
        if (!filter->weights) return reportNoMemory(bank);
        first = peak;
        peak = end;
    }
    if (coverTopBin(&filters[filterCount - 1], fftLength)) return reportNoMemory(bank);
    return 0;
}

float* triangleWeights(int32_t first, int32_t peak, int32_t end) {
    size_t count = static_cast<size_t>(end - first + 1);
    float* weights = static_cast<float*>(malloc(count * sizeof(float)));
    if (!weights) return nullptr;
    int32_t rise = peak - first;
    for (int32_t i = 1; i <= rise; ++i)
        weights[i - 1] = static_cast<float>(static_cast<double>(i) / rise);
    // The peak bin carries (end - peak) / (end - peak + 1), below 1; the end bin carries 0.
    int32_t fall = end - peak;
    for (int32_t i = 0; i <= fall; ++i)
        weights[rise + i] = static_cast<float>(static_cast<double>(fall - i) / (fall + 1));
    return weights;
}

const MelFilter* filterAt(const MelFilterbank* bank, int32_t j) {
    return &bank->filters[j - 1];
}

void releaseMelFilterbank(MelFilterbank* bank) {
    if (bank->filters) {
        for (int32_t j = 0; j < bank->filterCount; ++j) free(bank->filters[j].weights);
        free(bank->filters);
    }
    bank->filters = nullptr;
    bank->filterCount = 0;
}
