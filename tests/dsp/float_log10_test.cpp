// The series' log10 against the C library's at the hardest inputs: those whose logarithm lies
// next to the midpoint between two floats, where only the library may decide.
#include "dsp/float_log10.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

// Two lanes: the series is the same code at every width (the differential test runs each).
TEST(FloatLog10, NearRoundingBoundariesAndOutsideTheSeriesRangeGivesTheLibraryFloat) {
    std::mt19937 random(10);
    std::uniform_real_distribution<float> logs(-30.0f, 30.0f);
    std::vector<double> inputs;
    for (int n = 0; n < 20000; ++n) {
        const float f = logs(random);
        const double midpoint = (static_cast<double>(f) + std::nextafter(f, 100.0f)) / 2;
        inputs.push_back(pow(10.0, midpoint));
        inputs.push_back(std::nextafter(pow(10.0, midpoint), 0.0));
    }
    for (double special : {0.0, -1.0, 1e-310, 1e308, double(INFINITY), double(NAN), 1.0, 10.0, 0.1,
                           1.5, 0.75, 1.25})
        inputs.push_back(special);
    for (size_t i = 0; i + 2 <= inputs.size(); i += 2) {
        Lanes<2>::V v;
        memcpy(&v, &inputs[i], sizeof v);
        float out[2];
        floatLog10<Lanes<2>>(v, out);
        for (size_t k = 0; k < 2; ++k)
            ASSERT_EQ(std::bit_cast<uint32_t>(out[k]),
                      std::bit_cast<uint32_t>(static_cast<float>(log10(inputs[i + k]))))
                << inputs[i + k];
    }
}

}  // namespace
