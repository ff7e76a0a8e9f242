// Literal second implementation of the frame pipeline; see literal_pipeline.h.
// Speed is of no concern here: nothing is cached between frames, every cosine
// is evaluated where it is used, and every conversion is spelled out.
#include "reference/literal_pipeline.h"

#include <math.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace literal {

namespace {

const double kTwoPi = 6.283185307179586;
const double kFourPi = 12.566370614359172;
const double kPi = 3.141592653589793;
const double kFloatEpsilon = 1.1920928955078125e-07;  // 2^-23

// Squaring in the power domain must go through the C library's pow: a compiler
// would otherwise fold pow(x, 2.0) into x * x, which rounds differently for some x.
double (*volatile libraryPow)(double, double) = static_cast<double (*)(double, double)>(&::pow);

float toFloat(double value) { return static_cast<float>(value); }

unsigned trailingZeroBits(unsigned n) {
    unsigned bit = 0;
    while ((n & (1u << bit)) == 0) bit = bit + 1;
    return bit;
}

unsigned reverseBits(unsigned index, unsigned bits) {
    unsigned reversed = 0;
    for (unsigned b = 0; b < bits; b++) {
        reversed = (reversed << 1) | (index & 1u);
        index = index >> 1;
    }
    return reversed;
}

std::string formatted(const char* format, int a, int b) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

struct Filter {
    int firstBin = 0;
    int lastBin = 0;
    std::vector<float> weights;
};

}  // namespace

int msToSamples(int ms, int rate) {
    double seconds = ms / 1000.0;
    double samples = seconds * rate;
    return static_cast<int>(samples);
}

namespace {

void subtractMean(std::vector<float>& x) {
    int count = static_cast<int>(x.size());
    float mean = 0;
    for (int i = 0; i < count; i++) {
        double share = static_cast<double>(x[i]) / count;
        mean = toFloat(share + static_cast<double>(mean));
    }
    for (int i = 0; i < count; i++) {
        x[i] = toFloat(static_cast<double>(x[i]) - static_cast<double>(mean));
    }
}

void preEmphasize(std::vector<float>& x, float a) {
    std::vector<float> unfiltered = x;
    int count = static_cast<int>(x.size());
    for (int i = count - 1; i >= 0; i--) {
        float previous = (i >= 1) ? unfiltered[i - 1] : unfiltered[count - 1];
        float product = toFloat(static_cast<double>(a) * static_cast<double>(previous));
        x[i] = toFloat(static_cast<double>(unfiltered[i]) - static_cast<double>(product));
    }
}

std::vector<float> makeWindow(int kind, int length) {
    std::vector<float> w(length > 0 ? length : 0);
    for (int n = 0; n < length; n++) {
        double theta = (n * kTwoPi) / length;
        if (kind == 1) {
            w[n] = toFloat(0.54 - 0.46 * cos(theta));
        } else if (kind == 2) {
            double rising = static_cast<double>(n + n) / length;
            if (n <= length / 2.0) {
                w[n] = toFloat(rising);
            } else {
                w[n] = toFloat(2.0 - rising);
            }
        } else if (kind == 3) {
            w[n] = toFloat(0.5 - 0.5 * cos(theta));
        } else {
            double t = 0.42 - 0.5 * cos(theta);
            double phi = (n * kFourPi) / length;
            w[n] = toFloat(0.08 * cos(phi) + t);
        }
    }
    return w;
}

// Forward complex radix-2 transform of a real input (positive exponent, unscaled), twiddles from
// the three-term recurrence restarted for every block. False for a length below 2.
bool fft(unsigned pointCount, const std::vector<float>& realIn, std::vector<float>& realOut,
         std::vector<float>& imagOut) {
    if (pointCount < 2) return false;
    double angleNumerator = kTwoPi;
    unsigned bits = trailingZeroBits(pointCount);

    realOut.assign(pointCount, 0.0f);
    imagOut.assign(pointCount, 0.0f);
    for (unsigned i = 0; i < pointCount; i++) {
        unsigned j = reverseBits(i, bits);
        realOut[j] = realIn[i];
    }

    unsigned half = 1;
    for (unsigned blockSize = 2; blockSize <= pointCount; blockSize = blockSize * 2) {
        double delta = angleNumerator / static_cast<double>(blockSize);
        double sineMinus2 = sin(-2.0 * delta);
        double sineMinus1 = sin(-delta);
        double cosineMinus2 = cos(-2.0 * delta);
        double cosineMinus1 = cos(-delta);
        double multiplier = 2.0 * cosineMinus1;

        for (unsigned blockStart = 0; blockStart < pointCount; blockStart += blockSize) {
            // Every block starts the recurrence from the same seeds.
            double olderCosine = cosineMinus2;
            double newerCosine = cosineMinus1;
            double olderSine = sineMinus2;
            double newerSine = sineMinus1;
            for (unsigned m = 0; m < half; m++) {
                unsigned j = blockStart + m;
                unsigned q = j + half;

                double c = multiplier * newerCosine - olderCosine;
                olderCosine = newerCosine;
                newerCosine = c;
                double s = multiplier * newerSine - olderSine;
                olderSine = newerSine;
                newerSine = s;

                double tr = c * static_cast<double>(realOut[q]) - s * static_cast<double>(imagOut[q]);
                double ti = c * static_cast<double>(imagOut[q]) + s * static_cast<double>(realOut[q]);

                realOut[q] = toFloat(static_cast<double>(realOut[j]) - tr);
                imagOut[q] = toFloat(static_cast<double>(imagOut[j]) - ti);
                realOut[j] = toFloat(static_cast<double>(realOut[j]) + tr);
                imagOut[j] = toFloat(static_cast<double>(imagOut[j]) + ti);
            }
        }
        half = blockSize;
    }
    return true;
}

double hzToMel(float hz) {
    double ratio = static_cast<double>(hz) / 700;
    double sum = 1 + ratio;
    return 2595 * log10(sum);
}

int frequencyToBin(float hz, int sampleRate, int fftLength) {
    float halfRate = toFloat(sampleRate / 2.0);
    float binWidth = toFloat(static_cast<double>(halfRate) / (fftLength / 2.0));
    double quotient = static_cast<double>(hz) / static_cast<double>(binWidth);
    int bin = static_cast<int>(quotient);
    if (static_cast<double>(bin) < fftLength / 2.0) return bin;
    return -1;
}

int automaticFilterCount(int sampleRate) {
    double product = 3 * log(static_cast<double>(sampleRate));
    return static_cast<int>(ceil(product));
}

std::vector<float> triangleWeights(int first, int peak, int end) {
    std::vector<float> w(end - first + 1);
    for (int i = 1; i <= peak - first; i++) {
        w[i - 1] = toFloat(static_cast<double>(i) / (peak - first));
    }
    for (int i = 0; i <= end - peak; i++) {
        w[peak - first + i] = toFloat(static_cast<double>(end - peak - i) / (end - peak + 1));
    }
    return w;
}

std::vector<Filter> buildFilterbank(int filterCount, int fftLength, int sampleRate) {
    float halfRate = toFloat(sampleRate / 2.0);
    float melTop = toFloat(hzToMel(halfRate));

    // An edge at or above half the rate takes the topmost bin, the one the last
    // filter is made to end on anyway.
    int topBin = static_cast<int>(fftLength / 2.0 - 1);

    std::vector<int> edgeBins(filterCount + 1, 0);
    for (int n = 1; n <= filterCount; n++) {
        double mel = (static_cast<double>(n) / filterCount) * static_cast<double>(melTop);
        double power = pow(10.0, mel / 2595);
        float frequency = toFloat((power - 1) * 700);
        int bin = frequencyToBin(frequency, sampleRate, fftLength);
        if (bin == -1) bin = topBin;
        edgeBins[n] = bin;
    }

    std::vector<Filter> filters;
    for (int j = 1; j <= filterCount; j++) {
        int endBin = (j < filterCount) ? edgeBins[j + 1] : edgeBins[j];
        filters.push_back({edgeBins[j - 1], endBin, triangleWeights(edgeBins[j - 1], edgeBins[j], endBin)});
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

int fftLengthFor(int frameLength, int powerOfTwoBelow) {
    int length = 1;
    while (length < frameLength) length = length * 2;
    if (powerOfTwoBelow != 0 && frameLength < length) length = length / 2;
    if (length < 1) length = 1;
    return length;
}

std::vector<float> lifterWeights(int lifterType, int cepstralCount) {
    std::vector<float> weights;
    int L = cepstralCount;
    if (lifterType == 1) return weights;
    for (int i = 1; i <= L; i++) {
        double angle = (i * kPi) / L;
        if (lifterType == 2) {
            float halfCount = toFloat(L / 2.0);
            weights.push_back(toFloat(1 + static_cast<double>(halfCount) * sin(angle)));
        } else {
            int halfCount = L / 2;
            weights.push_back(toFloat(1 + halfCount * sin(angle * 0.5)));
        }
    }
    return weights;
}

}  // namespace

Analysis analyseFull(std::vector<float> signal, int sampleRate, const Options& options) {
    Analysis result;
    int samplesRead = static_cast<int>(signal.size());

    // Conditioning and window.
    result.frameLength = msToSamples(options.windowLengthMs, sampleRate);
    if (options.removeDcOffset != 0) subtractMean(signal);
    float emphasis = toFloat(options.emphasisPercent / 100.0);
    if (emphasis > 0) preEmphasize(signal, emphasis);
    std::vector<float> window = makeWindow(options.windowType, result.frameLength);

    // Set-up of the frame loop.
    result.fftLength = fftLengthFor(result.frameLength, options.powerOfTwoBelow);
    result.shiftSamples = msToSamples(options.windowShiftMs, sampleRate);
    if (result.shiftSamples < 1) {
        result.status = 1;
        result.error = formatted("ERROR: Window shift of %d ms is below one sample at %d Hz.\n",
                                 options.windowShiftMs, sampleRate);
        return result;
    }
    result.filterCount = options.melFilterCount;
    if (result.filterCount == 0) result.filterCount = automaticFilterCount(sampleRate);
    std::vector<Filter> bank = buildFilterbank(result.filterCount, result.fftLength, sampleRate);
    std::vector<float> lifter = lifterWeights(options.lifterType, options.cepstralCount);

    int frameStart = 0;
    while (frameStart + result.frameLength < samplesRead) {
        // Window the frame into a zeroed buffer, centred unless the FFT is the
        // power of two below the frame (then left-aligned and cut by the FFT).
        int bufferLength = result.fftLength > result.frameLength ? result.fftLength : result.frameLength;
        std::vector<float> buffer(bufferLength, 0.0f);
        int offset = 0;
        if (options.powerOfTwoBelow != 1) {
            offset = static_cast<int>((result.fftLength - result.frameLength) / 2.0);
        }
        for (int i = 0; i < result.frameLength; i++) {
            buffer[offset + i] = toFloat(static_cast<double>(window[i]) *
                                         static_cast<double>(signal[frameStart + i]));
        }

        std::vector<float> realOut;
        std::vector<float> imagOut;
        if (!fft(static_cast<unsigned>(result.fftLength), buffer, realOut, imagOut)) {
            result.status = 1;
            result.error = formatted(
                ">>> Error in fftmisc: argument %d to NumberOfBitsNeeded is too small.\n",
                result.fftLength, 0);
            result.rows.clear();
            return result;
        }

        std::vector<float> magnitude(result.fftLength);
        for (int k = 0; k < result.fftLength; k++) {
            float imaginary = toFloat(static_cast<double>(imagOut[k]) + kFloatEpsilon);
            double re = realOut[k];
            double im = imaginary;
            magnitude[k] = toFloat(sqrt(re * re + im * im));
        }

        std::vector<float> energies(result.filterCount);
        for (int j = 1; j <= result.filterCount; j++) {
            double average = filterOutput(bank[j - 1], magnitude);
            if (options.filterDomain == 1) {
                energies[j - 1] = toFloat(log10(average));
            } else {
                energies[j - 1] = toFloat(log10(libraryPow(average, 2)));
            }
        }

        std::vector<float> row(options.cepstralCount + 1, 0.0f);
        int N = result.filterCount;
        for (int i = 0; i <= options.cepstralCount; i++) {
            float sum = 0;
            for (int j = 1; j <= N; j++) {
                double angle = (i * (j - 0.5)) * (kPi / N);
                sum = toFloat(static_cast<double>(sum) + cos(angle) * static_cast<double>(energies[j - 1]));
            }
            row[i] = sum;
        }

        if (options.lifterType != 1) {
            for (int i = 1; i <= options.cepstralCount; i++) {
                row[i] = toFloat(static_cast<double>(row[i]) * static_cast<double>(lifter[i - 1]));
            }
        }

        result.rows.push_back(row);
        frameStart = frameStart + result.shiftSamples;
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
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    if (bytes.size() < 44) return false;
    if (std::string(bytes.begin() + 8, bytes.begin() + 12) != "WAVE") return false;
    if (std::string(bytes.begin() + 12, bytes.begin() + 16) != "fmt ") return false;

    wave.channels = bytes[22] | (bytes[23] << 8);
    wave.sampleRate = static_cast<int>(static_cast<uint32_t>(bytes[24]) | (static_cast<uint32_t>(bytes[25]) << 8) |
                                       (static_cast<uint32_t>(bytes[26]) << 16) |
                                       (static_cast<uint32_t>(bytes[27]) << 24));
    wave.bitsPerSample = bytes[34] | (bytes[35] << 8);
    if (wave.channels != 1 && wave.channels != 2) return false;
    if (wave.bitsPerSample != 8 && wave.bitsPerSample != 16) return false;

    size_t bytesPerSample = static_cast<size_t>(wave.bitsPerSample / 8);
    size_t frameCount = (bytes.size() - 44) / wave.channels / bytesPerSample;
    wave.samples.clear();
    for (size_t frame = 0; frame < frameCount; frame++) {
        int values[2] = {0, 0};
        for (int channel = 0; channel < wave.channels; channel++) {
            size_t at = 44 + (frame * wave.channels + channel) * bytesPerSample;
            if (bytesPerSample == 1) {
                values[channel] = bytes[at];
            } else {
                values[channel] = static_cast<int16_t>(static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8)));
            }
        }
        if (wave.channels == 1) {
            wave.samples.push_back(static_cast<float>(values[0]));
        } else {
            wave.samples.push_back(toFloat((values[0] + values[1]) / 2.0));
        }
    }
    return true;
}

}  // namespace literal
