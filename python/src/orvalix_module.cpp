// The compiled half of the orvalix Python package: a thin layer over the public header. Results
// come back as result codes; the Python half (orvalix/__init__.py) turns them into exceptions and
// the readable keywords into the program's options.
#include <orvalix.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace py = pybind11;

namespace {

using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast>;

// The settings cross the language border as a tuple in the order of the record's fields.
py::tuple settingsToTuple(const AnalysisSettings& s) {
    return py::make_tuple(s.windowLengthMs, s.windowShiftMs, s.featureType, s.melFilterCount,
                          s.dropDelta, s.dropDeltaDelta, s.includeC0, s.removeSilence,
                          s.removeDcOffset, s.powerOfTwoBelow, s.cepstralCount, s.windowType,
                          s.lifterType, s.filterDomain, s.overwrite, s.preEmphasis);
}

AnalysisSettings settingsFromTuple(const py::tuple& t) {
    if (t.size() != 16) throw py::value_error("settings: expected 16 fields");
    AnalysisSettings s;
    int32_t* integers[] = {&s.windowLengthMs, &s.windowShiftMs,  &s.featureType,
                           &s.melFilterCount, &s.dropDelta,      &s.dropDeltaDelta,
                           &s.includeC0,      &s.removeSilence,  &s.removeDcOffset,
                           &s.powerOfTwoBelow, &s.cepstralCount, &s.windowType,
                           &s.lifterType,     &s.filterDomain,   &s.overwrite};
    for (size_t i = 0; i < 15; i++) *integers[i] = t[i].cast<int32_t>();
    s.preEmphasis = t[15].cast<float>();
    return s;
}

// Drops column 0 (c0) in place when the program would not write it, so the rows stay one
// contiguous block in the library's own buffer: the array hands it over without a copy.
void keepWrittenColumns(OrvalixFeatures* features, int includeC0) {
    if (includeC0) return;
    const size_t kept = static_cast<size_t>(features->columnCount) - 1;
    for (size_t row = 0; row < static_cast<size_t>(features->frameCount); row++) {
        memmove(features->values + row * kept, features->values + row * (kept + 1) + 1,
                kept * sizeof(float));
    }
    features->columnCount = static_cast<int32_t>(kept);
}

// A (frames, columns) float32 array that owns the library's buffer and releases it with the
// library's own call when the last view of it goes.
py::array featuresToArray(OrvalixFeatures features, int includeC0) {
    keepWrittenColumns(&features, includeC0);
    const auto shape = std::vector<py::ssize_t>{features.frameCount, features.columnCount};
    if (features.values == nullptr) return py::array_t<float>(shape);
    py::capsule owner(features.values, [](void* values) {
        OrvalixFeatures owned = {0, 0, static_cast<float*>(values)};
        orvalixReleaseFeatures(&owned);
    });
    return py::array_t<float>(shape, features.values, owner);
}

// A name goes to the C library whole or not at all: a NUL byte would end it early.
const char* wholeName(const std::string& path) {
    if (path.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
    return path.c_str();
}

py::tuple loadWave(const std::string& path) {
    const char* name = wholeName(path);
    float* signal = nullptr;
    SignalInfo info = {0, 0, 0, 0, 0};
    int result;
    {
        py::gil_scoped_release unlocked;
        result = orvalixLoadWave(name, &signal, &info);
    }
    int64_t announced = info.totalSamples;
    if (result == 0) result = orvalixAnnouncedSamples(name, &announced);
    if (result != 0) {
        free(signal);
        return py::make_tuple(result, py::none(), py::none());
    }
    py::capsule owner(signal, [](void* values) { free(values); });
    py::array_t<float> samples({static_cast<py::ssize_t>(info.samplesRead)}, {sizeof(float)},
                               signal, owner);
    return py::make_tuple(0, samples,
                          py::make_tuple(info.sampleRate, info.channels, info.bitsPerSample,
                                         info.samplesRead, announced));
}

// The signal on the program's scale; a scale other than 1 multiplies each sample in double and
// stores the product as a float (exact for powers of two such as 32768). With filterbank set, the
// rows are the log filter energies (every column) instead of the coefficients.
py::tuple analyse(FloatArray signal, int32_t rate, const py::tuple& settingsTuple, double scale,
                  bool filterbank) {
    if (signal.ndim() != 1) throw py::value_error("signal: expected a one-dimensional array");
    if (signal.size() > std::numeric_limits<int32_t>::max()) {
        throw py::value_error("signal: more than 2147483647 samples");
    }
    AnalysisSettings settings = settingsFromTuple(settingsTuple);
    const auto count = static_cast<int32_t>(signal.size());
    OrvalixFeatures features = {0, 0, nullptr};
    int result;
    {
        py::gil_scoped_release unlocked;
        std::vector<float> scaled;
        const float* samples = signal.data();
        if (scale != 1.0) {
            scaled.resize(static_cast<size_t>(count));
            for (int32_t i = 0; i < count; i++) {
                scaled[i] = static_cast<float>(static_cast<double>(samples[i]) * scale);
            }
            samples = scaled.data();
        }
        result = (filterbank ? orvalixAnalyseFilterbank : orvalixAnalyse)(samples, count, rate,
                                                                          &settings, &features);
    }
    if (result != 0) return py::make_tuple(result, py::none());
    return py::make_tuple(0, featuresToArray(features, filterbank || settings.includeC0));
}

// Files shared out to `threads` workers, each taking the next file in turn, all without the
// interpreter's lock. Returns one (code, array or None, rate) triple per file, in the order given.
py::list analyseFiles(const std::vector<std::string>& paths, const py::tuple& settingsTuple,
                      int threads) {
    for (const auto& path : paths) wholeName(path);
    const AnalysisSettings settings = settingsFromTuple(settingsTuple);
    std::vector<SignalInfo> infos(paths.size(), SignalInfo{0, 0, 0, 0, 0});
    std::vector<OrvalixFeatures> features(paths.size(), OrvalixFeatures{0, 0, nullptr});
    std::vector<int> results(paths.size(), 0);
    {
        py::gil_scoped_release unlocked;
        std::atomic<size_t> next{0};
        auto work = [&] {
            for (size_t i = next++; i < paths.size(); i = next++) {
                AnalysisSettings own = settings;
                results[i] = orvalixAnalyseFile(paths[i].c_str(), &own, &features[i], &infos[i]);
            }
        };
        const size_t workers = std::min(static_cast<size_t>(std::max(threads, 1)),
                                        std::max<size_t>(paths.size(), 1));
        std::vector<std::thread> pool;
        for (size_t t = 1; t < workers; t++) pool.emplace_back(work);
        work();
        for (auto& thread : pool) thread.join();
    }
    py::list out;
    for (size_t i = 0; i < paths.size(); i++) {
        if (results[i] != 0) {
            out.append(py::make_tuple(results[i], py::none(), 0));
        } else {
            out.append(py::make_tuple(0, featuresToArray(features[i], settings.includeC0),
                                      infos[i].sampleRate));
        }
    }
    return out;
}

// Every column of the array, "%f " each, one line per row: the program's output file, written
// without the interpreter's lock. Returns 0 or the errno of the failure.
int writeText(FloatArray features, const std::string& path) {
    const char* name = wholeName(path);
    if (features.ndim() != 2) throw py::value_error("features: expected a (frames, columns) array");
    if (features.shape(0) > std::numeric_limits<int32_t>::max() ||
        features.shape(1) > std::numeric_limits<int32_t>::max()) {
        throw py::value_error("features: too large");
    }
    OrvalixFeatures view = {static_cast<int32_t>(features.shape(0)),
                            static_cast<int32_t>(features.shape(1)),
                            const_cast<float*>(features.data())};
    py::gil_scoped_release unlocked;
    return orvalixWriteFeatures(&view, 1, name) == 0 ? 0 : errno;
}

// ---- The front end over (frames, columns) float32 arrays; each returns (code, result or None).

// The library's view of an array: no copy, read only.
OrvalixFeatures matrixView(const FloatArray& features) {
    if (features.ndim() != 2) throw py::value_error("features: expected a (frames, columns) array");
    if (features.shape(0) > std::numeric_limits<int32_t>::max() ||
        features.shape(1) > std::numeric_limits<int32_t>::max() || features.shape(1) < 1) {
        throw py::value_error("features: expected 1 to 2147483647 columns and rows");
    }
    return {static_cast<int32_t>(features.shape(0)), static_cast<int32_t>(features.shape(1)),
            const_cast<float*>(features.data())};
}

// A front-end call from one matrix to a new one, run without the interpreter's lock:
// (0, the new matrix) or (the call's result, None).
template <typename Call>
py::tuple newMatrixFrom(Call call) {
    OrvalixFeatures output = {0, 0, nullptr};
    int result;
    {
        py::gil_scoped_release unlocked;
        result = call(&output);
    }
    if (result != 0) return py::make_tuple(result, py::none());
    return py::make_tuple(0, featuresToArray(output, 1));
}

py::tuple deltas(FloatArray features, int32_t order, int32_t window) {
    const OrvalixFeatures input = matrixView(features);
    return newMatrixFrom(
        [&](OrvalixFeatures* output) { return orvalixDeltas(&input, order, window, output); });
}

OrvalixCmvnSettings cmvnFromTuple(const py::tuple& t) {
    if (t.size() != 5) throw py::value_error("cmvn settings: expected 5 fields");
    return {t[0].cast<int32_t>(), t[1].cast<int32_t>(), t[2].cast<int32_t>(), t[3].cast<int32_t>(),
            t[4].cast<int32_t>()};
}

py::tuple cmvn(FloatArray features, const py::tuple& settingsTuple) {
    const OrvalixFeatures input = matrixView(features);
    const OrvalixCmvnSettings settings = cmvnFromTuple(settingsTuple);
    return newMatrixFrom(
        [&](OrvalixFeatures* output) { return orvalixCmvn(&input, &settings, output); });
}

OrvalixVadSettings vadFromTuple(const py::tuple& t) {
    if (t.size() != 5) throw py::value_error("vad settings: expected 5 fields");
    return {t[0].cast<double>(), t[1].cast<double>(), t[2].cast<int32_t>(), t[3].cast<double>(),
            t[4].cast<int32_t>()};
}

// One label per frame as a bool array.
py::tuple vad(FloatArray features, const py::tuple& settingsTuple) {
    const OrvalixFeatures input = matrixView(features);
    const OrvalixVadSettings settings = vadFromTuple(settingsTuple);
    py::array_t<bool> labels(input.frameCount);
    int result;
    {
        py::gil_scoped_release unlocked;
        result = orvalixVad(&input, &settings, reinterpret_cast<uint8_t*>(labels.mutable_data()));
    }
    if (result != 0) return py::make_tuple(result, py::none());
    return py::make_tuple(0, labels);
}

}  // namespace

PYBIND11_MODULE(_orvalix, m) {
    m.doc() = "The compiled core of the orvalix package; use the orvalix module instead.";
    m.attr("version") = ORVALIX_VERSION_TEXT;
    m.def("default_settings", [] { return settingsToTuple(orvalixDefaultSettings()); });
    m.def("parse_options", [](const std::vector<std::string>& options) {
        std::vector<const char*> pointers;
        for (const auto& option : options) pointers.push_back(option.c_str());
        AnalysisSettings settings = orvalixDefaultSettings();
        char message[256] = "";
        const int failed = orvalixParseOptions(static_cast<int>(pointers.size()), pointers.data(),
                                               &settings, message, sizeof message);
        return py::make_tuple(failed ? py::object(py::str(message)) : py::object(py::none()),
                              settingsToTuple(settings));
    });
    m.def("check_settings", [](const py::tuple& settingsTuple, int32_t rate) {
        const AnalysisSettings settings = settingsFromTuple(settingsTuple);
        char message[256] = "";
        return orvalixCheckSettings(&settings, rate, message, sizeof message)
                   ? py::object(py::str(message))
                   : py::object(py::none());
    });
    m.def("result_name", [](int32_t code) { return std::string(orvalixResultName(code)); });
    m.def("format_coefficient", [](float value) {
        char text[64];
        return std::string(text, orvalixFormatCoefficient(value, text));
    });
    m.def("load_wave", &loadWave);
    m.def("analyse", &analyse);
    m.def("analyse_files", &analyseFiles);
    m.def("write_text", &writeText);
    m.def("deltas", &deltas);
    m.def("cmvn", &cmvn);
    m.def("vad", &vad);
    m.def("cmvn_defaults", [] {
        const OrvalixCmvnSettings s = orvalixDefaultCmvnSettings();
        return py::make_tuple(s.mode, s.normaliseVariance, s.window, s.minWindow, s.centred);
    });
    m.def("vad_defaults", [] {
        const OrvalixVadSettings s = orvalixDefaultVadSettings();
        return py::make_tuple(s.energyThreshold, s.energyMeanScale, s.framesContext,
                              s.proportionThreshold, s.energyColumn);
    });
}
