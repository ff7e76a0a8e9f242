// Literal second implementation of the frame pipeline; see literal_pipeline.h. Speed is of no
// concern here: nothing is cached between frames, every cosine is evaluated where it is used, and
// every conversion is spelled out.
#include "reference/literal_pipeline.h"

#include <math.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace literal {

namespace {

const double kTwoPi = 6.283185307179586, kFourPi = 12.566370614359172, kPi = 3.141592653589793;
const double kFloatEpsilon = 1.1920928955078125e-07;  // 2^-23

// Squaring in the power domain must go through the C library's pow: a compiler would otherwise
// fold pow(x, 2.0) into x * x, which rounds differently for some x.
double (*volatile libraryPow)(double, double) = static_cast<double (*)(double, double)>(&::pow);

float toFloat(double value) { return static_cast<float>(value); }

struct Filter {
    int firstBin, lastBin;
    std::vector<float> weights;
};

void subtractMean(std::vector<float>& x) {
    int count = static_cast<int>(x.size());
    float mean = 0;
    for (int i = 0; i < count; i++)
        mean = toFloat(static_cast<double>(x[i]) / count + static_cast<double>(mean));
    for (int i = 0; i < count; i++)
        x[i] = toFloat(static_cast<double>(x[i]) - static_cast<double>(mean));
}

// Backwards, each sample against the unfiltered one before it; the first against the last.
void preEmphasize(std::vector<float>& x, float a) {
    std::vector<float> unfiltered = x;
    int count = static_cast<int>(x.size());
    for (int i = count - 1; i >= 0; i--) {
        float previous = (i >= 1) ? unfiltered[i - 1] : unfiltered[count - 1];
        float product = toFloat(static_cast<double>(a) * static_cast<double>(previous));
        x[i] = toFloat(static_cast<double>(unfiltered[i]) - static_cast<double>(product));
    }
}

// 1 Hamming, 2 triangular, 3 Hann, 4 Blackman; periodic (divided by the length).
std::vector<float> makeWindow(int kind, int length) {
    std::vector<float> w(length > 0 ? length : 0);
    for (int n = 0; n < length; n++) {
        double theta = (n * kTwoPi) / length;
        if (kind == 1) {
            w[n] = toFloat(0.54 - 0.46 * cos(theta));
        } else if (kind == 2) {
            double rising = static_cast<double>(n + n) / length;
            w[n] = toFloat(n <= length / 2.0 ? rising : 2.0 - rising);
        } else if (kind == 3) {
            w[n] = toFloat(0.5 - 0.5 * cos(theta));
        } else {
            double t = 0.42 - 0.5 * cos(theta);
            w[n] = toFloat(0.08 * cos((n * kFourPi) / length) + t);
        }
    }
    return w;
}

// Forward complex radix-2 transform of a real input (positive exponent, unscaled), twiddles from
// the three-term recurrence restarted for every block. False for a length below 2.
bool fft(unsigned pointCount, const std::vector<float>& realIn, std::vector<float>& re,
         std::vector<float>& im) {
    if (pointCount < 2) return false;
    unsigned bits = 0;
    while ((pointCount & (1u << bits)) == 0) bits = bits + 1;
    re.assign(pointCount, 0.0f);
    im.assign(pointCount, 0.0f);
    for (unsigned i = 0; i < pointCount; i++) {
        unsigned reversed = 0, index = i;
        for (unsigned b = 0; b < bits; b++)
            reversed = (reversed << 1) | (index & 1u), index = index >> 1;
        re[reversed] = realIn[i];
    }
    for (unsigned blockSize = 2, half = 1; blockSize <= pointCount;
         half = blockSize, blockSize = blockSize * 2) {
        double delta = kTwoPi / static_cast<double>(blockSize);
        double sineMinus2 = sin(-2.0 * delta), sineMinus1 = sin(-delta);
        double cosineMinus2 = cos(-2.0 * delta), cosineMinus1 = cos(-delta);
        double multiplier = 2.0 * cosineMinus1;
        for (unsigned blockStart = 0; blockStart < pointCount; blockStart += blockSize) {
            double olderCosine = cosineMinus2, newerCosine = cosineMinus1;
            double olderSine = sineMinus2, newerSine = sineMinus1;
            for (unsigned m = 0; m < half; m++) {
                unsigned j = blockStart + m, q = j + half;
                double c = multiplier * newerCosine - olderCosine;
                olderCosine = newerCosine, newerCosine = c;
                double s = multiplier * newerSine - olderSine;
                olderSine = newerSine, newerSine = s;
                double tr = c * static_cast<double>(re[q]) - s * static_cast<double>(im[q]);
                double ti = c * static_cast<double>(im[q]) + s * static_cast<double>(re[q]);
                re[q] = toFloat(static_cast<double>(re[j]) - tr);
                im[q] = toFloat(static_cast<double>(im[j]) - ti);
                re[j] = toFloat(static_cast<double>(re[j]) + tr);
                im[j] = toFloat(static_cast<double>(im[j]) + ti);
            }
        }
    }
    return true;
}

double hzToMel(float hz) { return 2595 * log10(1 + static_cast<double>(hz) / 700); }

int frequencyToBin(float hz, int sampleRate, int fftLength) {
    float halfRate = toFloat(sampleRate / 2.0);
    float binWidth = toFloat(static_cast<double>(halfRate) / (fftLength / 2.0));
    int bin = static_cast<int>(static_cast<double>(hz) / static_cast<double>(binWidth));
    return static_cast<double>(bin) < fftLength / 2.0 ? bin : -1;
}

std::vector<float> triangleWeights(int first, int peak, int end) {
    std::vector<float> w(end - first + 1);
    for (int i = 1; i <= peak - first; i++) w[i - 1] = toFloat(static_cast<double>(i) / (peak - first));
    for (int i = 0; i <= end - peak; i++)
        w[peak - first + i] = toFloat(static_cast<double>(end - peak - i) / (end - peak + 1));
    return w;
}

std::vector<Filter> buildFilterbank(int filterCount, int fftLength, int sampleRate) {
    float melTop = toFloat(hzToMel(toFloat(sampleRate / 2.0)));
    // An edge at or above half the rate takes the topmost bin, the one the last filter ends on anyway.
    int topBin = static_cast<int>(fftLength / 2.0 - 1);
    std::vector<int> edgeBins(filterCount + 1, 0);
    for (int n = 1; n <= filterCount; n++) {
        double mel = (static_cast<double>(n) / filterCount) * static_cast<double>(melTop);
        float frequency = toFloat((pow(10.0, mel / 2595) - 1) * 700);
        int bin = frequencyToBin(frequency, sampleRate, fftLength);
        edgeBins[n] = bin == -1 ? topBin : bin;
    }
    std::vector<Filter> filters;
    for (int j = 1; j <= filterCount; j++) {
        int endBin = (j < filterCount) ? edgeBins[j + 1] : edgeBins[j];
        filters.push_back(
            {edgeBins[j - 1], endBin, triangleWeights(edgeBins[j - 1], edgeBins[j], endBin)});
    }
    filters[filterCount - 1].lastBin = topBin;
    return filters;
}

double filterOutput(const Filter& filter, const std::vector<float>& spectrum) {
    float sum = 0;
    for (int k = filter.firstBin; k <= filter.lastBin; k++) {
        // at(): a bank whose weights did not cover its bins must fail loudly here.
        double term = static_cast<double>(spectrum.at(k)) *
                      static_cast<double>(filter.weights.at(k - filter.firstBin));
        sum = toFloat(static_cast<double>(sum) + term);
    }
    return static_cast<double>(sum) / (filter.lastBin - filter.firstBin + 1);
}

std::vector<float> lifterWeights(int lifterType, int L) {
    std::vector<float> weights;
    for (int i = 1; lifterType != 1 && i <= L; i++) {
        double angle = (i * kPi) / L;
        if (lifterType == 2) {
            weights.push_back(toFloat(1 + static_cast<double>(toFloat(L / 2.0)) * sin(angle)));
        } else {
            weights.push_back(toFloat(1 + (L / 2) * sin(angle * 0.5)));
        }
    }
    return weights;
}

}  // namespace

int msToSamples(int ms, int rate) {
    double seconds = ms / 1000.0;
    return static_cast<int>(seconds * rate);
}

Analysis analyseFull(std::vector<float> signal, int sampleRate, const Options& options) {
    Analysis result;
    int samplesRead = static_cast<int>(signal.size());
    char text[256];

    // Conditioning and window.
    int frameLength = msToSamples(options.windowLengthMs, sampleRate);
    if (options.removeDcOffset != 0) subtractMean(signal);
    float emphasis = toFloat(options.emphasisPercent / 100.0);
    if (emphasis > 0) preEmphasize(signal, emphasis);
    std::vector<float> window = makeWindow(options.windowType, frameLength);

    // Set-up of the frame loop.
    int fftLength = 1;
    while (fftLength < frameLength) fftLength = fftLength * 2;
    if (options.powerOfTwoBelow != 0 && frameLength < fftLength) fftLength = fftLength / 2;
    if (fftLength < 1) fftLength = 1;
    int shiftSamples = msToSamples(options.windowShiftMs, sampleRate);
    if (shiftSamples < 1) {
        std::snprintf(text, sizeof text, "ERROR: Window shift of %d ms is below one sample at %d Hz.\n",
                      options.windowShiftMs, sampleRate);
        result.status = 1, result.error = text;
        return result;
    }
    result.filterCount = options.melFilterCount;
    if (result.filterCount == 0)
        result.filterCount = static_cast<int>(ceil(3 * log(static_cast<double>(sampleRate))));
    std::vector<Filter> bank = buildFilterbank(result.filterCount, fftLength, sampleRate);
    std::vector<float> lifter = lifterWeights(options.lifterType, options.cepstralCount);

    for (int frameStart = 0; frameStart + frameLength < samplesRead;
         frameStart = frameStart + shiftSamples) {
        // Window the frame into a zeroed buffer, centred unless the FFT is the power of two below
        // the frame (then left-aligned and cut by the FFT).
        std::vector<float> buffer(fftLength > frameLength ? fftLength : frameLength, 0.0f);
        int offset =
            options.powerOfTwoBelow != 1 ? static_cast<int>((fftLength - frameLength) / 2.0) : 0;
        for (int i = 0; i < frameLength; i++)
            buffer[offset + i] =
                toFloat(static_cast<double>(window[i]) * static_cast<double>(signal[frameStart + i]));

        std::vector<float> realOut, imagOut;
        if (!fft(static_cast<unsigned>(fftLength), buffer, realOut, imagOut)) {
            std::snprintf(text, sizeof text,
                          ">>> Error in fftmisc: argument %d to NumberOfBitsNeeded is too small.\n",
                          fftLength);
            result.status = 1, result.error = text, result.rows.clear(), result.logEnergies.clear();
            return result;
        }
        std::vector<float> magnitude(fftLength);
        for (int k = 0; k < fftLength; k++) {
            double re = realOut[k], im = toFloat(static_cast<double>(imagOut[k]) + kFloatEpsilon);
            magnitude[k] = toFloat(sqrt(re * re + im * im));
        }
        std::vector<float> energies(result.filterCount);
        for (int j = 1; j <= result.filterCount; j++) {
            double average = filterOutput(bank[j - 1], magnitude);
            energies[j - 1] =
                toFloat(log10(options.filterDomain == 1 ? average : libraryPow(average, 2)));
        }
        std::vector<float> row(options.cepstralCount + 1, 0.0f);
        int N = result.filterCount;
        for (int i = 0; i <= options.cepstralCount; i++) {
            float sum = 0;
            for (int j = 1; j <= N; j++) {
                double angle = (i * (j - 0.5)) * (kPi / N);
                sum = toFloat(static_cast<double>(sum) +
                              cos(angle) * static_cast<double>(energies[j - 1]));
            }
            row[i] = sum;
        }
        for (int i = 1; options.lifterType != 1 && i <= options.cepstralCount; i++)
            row[i] = toFloat(static_cast<double>(row[i]) * static_cast<double>(lifter[i - 1]));
        result.rows.push_back(row);
        result.logEnergies.push_back(energies);
    }
    return result;
}

std::string formatFeatures(const Rows& rows, int includeC0) {
    std::string text;
    char number[512];
    for (const std::vector<float>& row : rows) {
        for (size_t j = (includeC0 != 0) ? 0 : 1; j < row.size(); j++) {
            std::snprintf(number, sizeof number, "%f ", static_cast<double>(row[j]));
            text += number;
        }
        text += "\n";
    }
    return text;
}

bool readCanonicalWave(const std::string& path, Wave& wave) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::vector<unsigned char> b((std::istreambuf_iterator<char>(file)),
                                 std::istreambuf_iterator<char>());
    if (b.size() < 44 || std::string(b.begin() + 8, b.begin() + 16) != "WAVEfmt ") return false;
    int channels = b[22] | (b[23] << 8), bits = b[34] | (b[35] << 8);
    wave.sampleRate =
        static_cast<int>(b[24] | (b[25] << 8) | (b[26] << 16) | (static_cast<uint32_t>(b[27]) << 24));
    if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16)) return false;
    size_t bytesPerSample = static_cast<size_t>(bits / 8),
           frameCount = (b.size() - 44) / channels / bytesPerSample;
    wave.samples.clear();
    for (size_t frame = 0; frame < frameCount; frame++) {
        int values[2] = {0, 0};
        for (int channel = 0; channel < channels; channel++) {
            size_t at = 44 + (frame * channels + channel) * bytesPerSample;
            values[channel] =
                bytesPerSample == 1
                    ? b[at]
                    : static_cast<int16_t>(static_cast<uint16_t>(b[at] | (b[at + 1] << 8)));
        }
        wave.samples.push_back(channels == 1 ? static_cast<float>(values[0])
                                             : toFloat((values[0] + values[1]) / 2.0));
    }
    return true;
}

}  // namespace literal
