// Nothing is cached between frames, every cosine evaluated where it is used: speed is no concern.
#include "reference/literal_pipeline.h"

#include <math.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace literal {

namespace {

const double kTwoPi = 6.283185307179586, kFourPi = 12.566370614359172, kPi = 3.141592653589793;
const double kFloatEpsilon = 1.1920928955078125e-07;  // 2^-23

// Squaring in the power domain goes through the C library's pow: a compiler would fold
// pow(x, 2.0) into x * x, which rounds differently for some x.
double (*volatile libraryPow)(double, double) = static_cast<double (*)(double, double)>(&::pow);

// A float meets a double operand as a double (exactly); each double result rounds to float here.
float toFloat(double value) { return static_cast<float>(value); }

void subtractMean(std::vector<float>& x) {
    float mean = 0;
    for (float sample : x) mean = toFloat(double(sample) / static_cast<int>(x.size()) + mean);
    for (float& sample : x) sample = toFloat(double(sample) - mean);
}

// Backwards, each sample against the unfiltered one before it; the first against the last.
void preEmphasize(std::vector<float>& x, float a) {
    const std::vector<float> unfiltered = x;
    for (size_t i = x.size(); i-- > 0;) {
        const float previous = unfiltered[i >= 1 ? i - 1 : x.size() - 1];
        x[i] = toFloat(double(unfiltered[i]) - toFloat(double(a) * previous));
    }
}

// 1 Hamming, 2 triangular, 3 Hann, 4 Blackman; periodic (divided by the length).
std::vector<float> makeWindow(int kind, int length) {
    std::vector<float> w(length > 0 ? length : 0);
    for (int n = 0; n < length; n++) {
        const double theta = (n * kTwoPi) / length, rising = double(n + n) / length;
        w[n] = toFloat(kind == 1 ? 0.54 - 0.46 * cos(theta)
                       : kind == 2 ? (n <= length / 2.0 ? rising : 2.0 - rising)
                       : kind == 3 ? 0.5 - 0.5 * cos(theta)
                       : 0.08 * cos((n * kFourPi) / length) + (0.42 - 0.5 * cos(theta)));
    }
    return w;
}

// Forward complex radix-2 transform of a real input (positive exponent, unscaled), twiddles from
// the three-term recurrence restarted for every block. At least two points.
void fft(unsigned n, const std::vector<float>& realIn, std::vector<float>& re,
         std::vector<float>& im) {
    unsigned bits = 0;
    while ((n & (1u << bits)) == 0) bits = bits + 1;
    re.assign(n, 0.0f);
    im.assign(n, 0.0f);
    for (unsigned i = 0; i < n; i++) {
        unsigned reversed = 0;
        for (unsigned b = 0; b < bits; b++) reversed = (reversed << 1) | ((i >> b) & 1u);
        re[reversed] = realIn[i];
    }
    for (unsigned blockSize = 2, half = 1; blockSize <= n; half = blockSize, blockSize *= 2) {
        const double delta = kTwoPi / blockSize, multiplier = 2.0 * cos(-delta);
        for (unsigned blockStart = 0; blockStart < n; blockStart += blockSize) {
            double olderCosine = cos(-2.0 * delta), newerCosine = cos(-delta);
            double olderSine = sin(-2.0 * delta), newerSine = sin(-delta);
            for (unsigned j = blockStart; j < blockStart + half; j++) {
                const double c = multiplier * newerCosine - olderCosine;
                olderCosine = newerCosine, newerCosine = c;
                const double s = multiplier * newerSine - olderSine;
                olderSine = newerSine, newerSine = s;
                const unsigned q = j + half;
                const double tr = c * re[q] - s * im[q], ti = c * im[q] + s * re[q];
                re[q] = toFloat(re[j] - tr);
                im[q] = toFloat(im[j] - ti);
                re[j] = toFloat(re[j] + tr);
                im[j] = toFloat(im[j] + ti);
            }
        }
    }
}

// The bins of the filters' corners: filter j (from 1) rises from edge j - 1 to its peak at edge j
// and falls to edge j + 1; the last one falls nowhere (its edge j + 1 is its peak). An edge at or
// above half the rate takes the topmost bin, the one the last filter ends on anyway.
std::vector<int> filterEdges(int filterCount, int fftLength, int sampleRate, int topBin) {
    const float halfRate = toFloat(sampleRate / 2.0);
    const float melTop = toFloat(2595 * log10(1 + double(halfRate) / 700));
    const float binWidth = toFloat(double(halfRate) / (fftLength / 2.0));
    std::vector<int> edges(filterCount + 2, 0);
    for (int n = 1; n <= filterCount; n++) {
        const double mel = (double(n) / filterCount) * melTop;
        const float frequency = toFloat((pow(10.0, mel / 2595) - 1) * 700);
        const int bin = static_cast<int>(double(frequency) / binWidth);
        edges[n] = bin < fftLength / 2.0 ? bin : topBin;
    }
    edges[filterCount + 1] = edges[filterCount];
    return edges;
}

}  // namespace

int msToSamples(int ms, int rate) { return static_cast<int>(ms / 1000.0 * rate); }

Analysis analyseFull(std::vector<float> signal, int sampleRate, const Options& options) {
    Analysis result;
    const int samplesRead = static_cast<int>(signal.size());
    const int frameLength = msToSamples(options.windowLengthMs, sampleRate);
    if (options.removeDcOffset != 0) subtractMean(signal);
    const float emphasis = toFloat(options.emphasisPercent / 100.0);
    if (emphasis > 0) preEmphasize(signal, emphasis);
    const std::vector<float> window = makeWindow(options.windowType, frameLength);

    int fftLength = 1;
    while (fftLength < frameLength) fftLength = fftLength * 2;
    if (options.powerOfTwoBelow != 0 && frameLength < fftLength) fftLength = fftLength / 2;
    if (fftLength < 1) fftLength = 1;
    const int shiftSamples = msToSamples(options.windowShiftMs, sampleRate);
    char text[256] = "";
    if (shiftSamples < 1) {
        snprintf(text, sizeof text, "ERROR: Window shift of %d ms is below one sample at %d Hz.\n",
                 options.windowShiftMs, sampleRate);
    } else if (fftLength < 2 && frameLength < samplesRead) {  // the first frame's transform fails
        snprintf(text, sizeof text,
                 ">>> Error in fftmisc: argument %d to NumberOfBitsNeeded is too small.\n",
                 fftLength);
    }
    result.status = text[0] != '\0' ? 1 : 0, result.error = text;
    if (result.status != 0) return result;
    result.filterCount = options.melFilterCount;
    if (result.filterCount == 0) result.filterCount = int(ceil(3 * log(double(sampleRate))));
    const int N = result.filterCount, L = options.cepstralCount;
    const int topBin = static_cast<int>(fftLength / 2.0 - 1);
    const std::vector<int> edges = filterEdges(N, fftLength, sampleRate, topBin);

    for (int frameStart = 0; frameStart + frameLength < samplesRead; frameStart += shiftSamples) {
        // The windowed frame in a zeroed buffer, centred unless the transform is the power of two
        // below the frame (then left-aligned and cut by the transform).
        std::vector<float> buffer(fftLength > frameLength ? fftLength : frameLength, 0.0f);
        const int offset = options.powerOfTwoBelow != 1 ? int((fftLength - frameLength) / 2.0) : 0;
        for (int i = 0; i < frameLength; i++)
            buffer[offset + i] = toFloat(double(window[i]) * signal[frameStart + i]);

        std::vector<float> realOut, imagOut;
        fft(fftLength, buffer, realOut, imagOut);
        std::vector<float> magnitude(fftLength);
        for (int k = 0; k < fftLength; k++) {
            const double re = realOut[k], im = toFloat(imagOut[k] + kFloatEpsilon);
            magnitude[k] = toFloat(sqrt(re * re + im * im));
        }
        std::vector<float> energies(N);
        for (int j = 1; j <= N; j++) {
            // Filter j's float running sum of magnitude times its triangle's weight over the bins
            // from edge j - 1 to its last one, divided by their count.
            const int first = edges[j - 1], peak = edges[j], end = edges[j + 1];
            const int last = j < N ? end : topBin;
            float sum = 0;
            for (int k = first; k <= last; k++) {
                if (k > end) throw std::logic_error("a bin beyond the filter's triangle");
                const float weight = k < peak ? toFloat(double(k - first + 1) / (peak - first))
                                              : toFloat(double(end - k) / (end - peak + 1));
                sum = toFloat(sum + double(magnitude.at(k)) * weight);
            }
            const double average = double(sum) / (last - first + 1);
            energies[j - 1] =
                toFloat(log10(options.filterDomain == 1 ? average : libraryPow(average, 2)));
        }
        std::vector<float> row(L + 1, 0.0f);
        for (int i = 0; i <= L; i++)
            for (int j = 1; j <= N; j++)
                row[i] = toFloat(row[i] + cos((i * (j - 0.5)) * (kPi / N)) * energies[j - 1]);
        for (int i = 1; options.lifterType != 1 && i <= L; i++) {  // 2 raised sine, 3 half sine
            const double angle = (i * kPi) / L, halfLength = toFloat(L / 2.0);
            row[i] = toFloat(double(row[i]) * (options.lifterType == 2
                                                   ? toFloat(1 + halfLength * sin(angle))
                                                   : toFloat(1 + (L / 2) * sin(angle * 0.5))));
        }
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
            snprintf(number, sizeof number, "%f ", double(row[j]));
            text += number;
        }
        text += "\n";
    }
    return text;
}

bool readCanonicalWave(const std::string& path, Wave& wave) {
    std::ifstream file(path, std::ios::binary);  // one that does not open reads as no byte
    const std::vector<unsigned char> b((std::istreambuf_iterator<char>(file)), {});
    auto field = [&b](size_t at, int bytes) {  // little-endian, unsigned
        uint32_t value = 0;
        for (int i = bytes - 1; i >= 0; i--) value = value << 8 | b[at + i];
        return value;
    };
    if (b.size() < 44 || std::string(b.begin() + 8, b.begin() + 16) != "WAVEfmt ") return false;
    const uint32_t channels = field(22, 2), bits = field(34, 2);
    wave.sampleRate = static_cast<int>(field(24, 4));
    if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16)) return false;
    const size_t width = bits / 8, frameCount = (b.size() - 44) / channels / width;
    wave.samples.clear();
    for (size_t frame = 0; frame < frameCount; frame++) {
        int values[2] = {0, 0};
        for (size_t channel = 0; channel < channels; channel++) {
            const size_t at = 44 + (frame * channels + channel) * width;
            values[channel] = width == 1 ? b[at] : static_cast<int16_t>(field(at, 2));
        }
        wave.samples.push_back(channels == 1 ? float(values[0])
                                             : toFloat((values[0] + values[1]) / 2.0));
    }
    return true;
}

}  // namespace literal
