// The compiled half of the orvalix package, over the C interface alone: its records as classes
// with their fields, its calls with the interpreter's lock released while they work, and its
// result codes turned into the package's exceptions. orvalix/__init__.py maps keywords to fields.
#include <orvalix.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace py = pybind11;

namespace {

using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast>;

// The exception for a failed call: WaveError for the wave-file codes, AnalysisError, OSError for
// an output, ValueError for anything refused as an argument.
py::object exceptionFor(const OrvalixError& error, const py::object& path) {
    const py::module_ package = py::module_::import("orvalix");
    if (error.code >= ORVALIX_FILE_ERROR && error.code <= ORVALIX_NOT_A_WAVE_FILE)
        return package.attr("WaveError")(error.code, path);
    if (error.code == ORVALIX_AUDIO_UNREADABLE) return package.attr("AudioError")(error.message, path);
    if (error.code == ORVALIX_ANALYSIS_FAILED)
        return package.attr("AnalysisError")(error.code, error.message, path);
    const char* kind = error.code == ORVALIX_OUTPUT_FAILED ? "OSError" : "ValueError";
    return py::module_::import("builtins").attr(kind)(error.message);
}

[[noreturn]] void raise(const OrvalixError& error, const py::object& path = py::none()) {
    const py::object exception = exceptionFor(error, path);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
    throw py::error_already_set();
}

// A name goes to the library whole or not at all: a NUL byte would end it early.
const char* wholeName(const std::string& name) {
    if (name.find('\0') != std::string::npos)
        throw py::value_error("embedded null byte in file name");
    return name.c_str();
}

// A (frames, columns) float32 array that owns the library's buffer and releases it with the
// library's own call when the last view of it goes: no copy.
py::array arrayOf(const OrvalixFeatures& features) {
    const auto shape = std::vector<py::ssize_t>{features.frameCount, features.columnCount};
    if (features.values == nullptr) return py::array_t<float>(shape);
    py::capsule owner(features.values, [](void* values) {
        OrvalixFeatures owned{};
        owned.size = sizeof owned;
        owned.values = static_cast<float*>(values);
        orvalix_release_features(&owned);
    });
    return py::array_t<float>(shape, features.values, owner);
}

// The library's read-only view of an array: no copy.
OrvalixFeatures viewOf(const FloatArray& features) {
    if (features.ndim() != 2) throw py::value_error("features: expected a (frames, columns) array");
    if (features.shape(0) > std::numeric_limits<int32_t>::max() ||
        features.shape(1) > std::numeric_limits<int32_t>::max() || features.shape(1) < 1) {
        throw py::value_error("features: expected 1 to 2147483647 columns and rows");
    }
    return {sizeof(OrvalixFeatures), static_cast<int32_t>(features.shape(0)),
            static_cast<int32_t>(features.shape(1)), 0, const_cast<float*>(features.data())};
}

// The front end fitted to the rows it finishes: c0 kept as the settings say, every column of
// log filter energies kept.
OrvalixFrontEnd fitted(OrvalixFrontEnd front, const OrvalixSettings& settings, bool filterbank) {
    front.includeC0 = settings.includeC0;
    front.filterbankRows = filterbank;
    return front;
}

// Analysed rows through the front end; on failure nothing is left to release.
int finish(OrvalixFeatures* features, const OrvalixFrontEnd& front, OrvalixError* error) {
    const int result = orvalix_front_end(features, &front, nullptr, error);
    if (result != ORVALIX_OK) orvalix_release_features(features);
    return result;
}

// A signal loaded by `load` (orvalix_load_wave or orvalix_load_audio) without the interpreter's
// lock: its samples as an array that owns the library's buffer, released with the library's call.
template <typename Load>
std::pair<py::array_t<float>, OrvalixSignal> loadSignal(const std::string& name, const py::object& path,
                                                        Load load) {
    OrvalixSignal signal{};
    OrvalixError error{};
    int result;
    {
        py::gil_scoped_release unlocked;
        result = load(wholeName(name), &signal, &error);
    }
    if (result != ORVALIX_OK) raise(error, path);
    py::capsule owner(signal.samples, [](void* samples) {
        OrvalixSignal owned{};
        owned.size = sizeof owned;
        owned.samples = static_cast<float*>(samples);
        orvalix_release_signal(&owned);
    });
    return {py::array_t<float>({static_cast<py::ssize_t>(signal.count)}, {sizeof(float)},
                               signal.samples, owner),
            signal};
}

py::tuple loadWave(const std::string& name, const py::object& path) {
    const auto [samples, signal] = loadSignal(name, path, orvalix_load_wave);
    return py::make_tuple(samples, py::make_tuple(signal.sampleRate, signal.channels,
                                                  signal.bitsPerSample, signal.count,
                                                  signal.announced));
}

// The signal on the program's scale; a scale other than 1 multiplies each sample in double and
// stores the product as a float (exact for powers of two such as 32768).
py::array analyse(FloatArray signal, int32_t rate, OrvalixSettings settings, double scale,
                  bool filterbank, const OrvalixFrontEnd& front) {
    if (signal.ndim() != 1) throw py::value_error("signal: expected a one-dimensional array");
    const OrvalixFrontEnd chain = fitted(front, settings, filterbank);
    OrvalixFeatures features{};
    OrvalixError error{};
    int result;
    {
        py::gil_scoped_release unlocked;
        const auto count = static_cast<size_t>(signal.size());
        std::vector<float> scaled;
        const float* samples = signal.data();
        if (scale != 1.0) {
            scaled.resize(count);
            for (size_t i = 0; i < count; i++)
                scaled[i] = static_cast<float>(static_cast<double>(samples[i]) * scale);
            samples = scaled.data();
        }
        result = (filterbank ? orvalix_analyse_filterbank : orvalix_analyse)(
            samples, static_cast<int64_t>(count), rate, &settings, &features, &error);
        if (result == ORVALIX_OK) result = finish(&features, chain, &error);
    }
    if (result != ORVALIX_OK) raise(error);
    return arrayOf(features);
}

// One file's rows: as the program analyses it when its reader reads the file and neither a
// channel nor a rate is asked for; else decoded by orvalix_load_audio and analysed in memory.
// When neither can read the file, the program's refusal stands.
int analyseOneFile(const char* name, const OrvalixSettings& settings, int32_t channel, int32_t rate,
                   OrvalixFeatures* features, OrvalixSignal* info, OrvalixError* error) {
    int waveRefusal = ORVALIX_OK;
    if (channel == ORVALIX_MIX_CHANNELS && rate == ORVALIX_KEEP_RATE) {
        waveRefusal = orvalix_analyse_file(name, &settings, features, info, error);
        if (waveRefusal == ORVALIX_OK || waveRefusal > ORVALIX_NOT_A_WAVE_FILE) return waveRefusal;
    }
    const OrvalixError refusal = *error;
    OrvalixSignal signal{};
    int result = orvalix_load_audio(name, channel, rate, &signal, error);
    if (result == ORVALIX_OK)
        result = orvalix_analyse(signal.samples, signal.count, signal.sampleRate, &settings, features, error);
    else if (waveRefusal != ORVALIX_OK)
        *error = refusal, result = waveRefusal;
    *info = signal;
    info->samples = nullptr;
    orvalix_release_signal(&signal);
    return result;
}

// Files shared out to `threads` workers, each taking the next file in turn, all without the
// interpreter's lock. One (array or exception, sample rate) pair per file, in the order given.
py::list analyseFiles(const std::vector<std::string>& names, const py::list& paths,
                      OrvalixSettings settings, const OrvalixFrontEnd& front, int threads,
                      int32_t channel, int32_t rate) {
    for (const auto& name : names) wholeName(name);
    const OrvalixFrontEnd chain = fitted(front, settings, false);
    std::vector<OrvalixSignal> infos(names.size(), OrvalixSignal{});
    std::vector<OrvalixFeatures> features(names.size(), OrvalixFeatures{});
    std::vector<OrvalixError> errors(names.size(), OrvalixError{});
    {
        py::gil_scoped_release unlocked;
        std::atomic<size_t> next{0};
        auto work = [&] {
            for (size_t i = next++; i < names.size(); i = next++) {
                if (analyseOneFile(names[i].c_str(), settings, channel, rate, &features[i], &infos[i],
                                   &errors[i]) == ORVALIX_OK)
                    finish(&features[i], chain, &errors[i]);
            }
        };
        const size_t workers = std::min(static_cast<size_t>(std::max(threads, 1)),
                                        std::max<size_t>(names.size(), 1));
        std::vector<std::thread> pool;
        for (size_t t = 1; t < workers; t++) pool.emplace_back(work);
        work();
        for (auto& thread : pool) thread.join();
    }
    py::list out;
    for (size_t i = 0; i < names.size(); i++) {
        const bool failed = errors[i].code != ORVALIX_OK;
        out.append(py::make_tuple(failed ? exceptionFor(errors[i], paths[i]) : arrayOf(features[i]),
                                  infos[i].sampleRate));
    }
    return out;
}

// Any audio file as load_wave gives a wave file: (samples, (rate, source rate, channels, bits,
// samples read, format)).
py::tuple loadAudio(const std::string& name, const py::object& path, int32_t channel, int32_t rate) {
    const auto [samples, signal] = loadSignal(name, path, [&](const char* file, OrvalixSignal* s, OrvalixError* e) {
        return orvalix_load_audio(file, channel, rate, s, e);
    });
    return py::make_tuple(samples, py::make_tuple(signal.sampleRate, signal.sourceRate,
                                                  signal.channels, signal.bitsPerSample,
                                                  signal.count, std::string(signal.format)));
}

// Every column of the array, "%f " each, one line per row: the program's output file, replacing
// a regular file whole or writing into a stream, without the interpreter's lock.
void writeText(FloatArray features, const std::string& name) {
    const OrvalixFeatures view = viewOf(features);
    OrvalixError error{};
    int result;
    {
        py::gil_scoped_release unlocked;
        result = orvalix_write_text(&view, 1, wholeName(name), ORVALIX_WRITE_REPLACE, &error);
    }
    if (result != ORVALIX_OK) raise(error);
}

// A front-end call from one matrix to a new one, run without the interpreter's lock. Records
// are taken by value throughout: no Python thread can change them while the library reads them.
template <typename Call>
py::array newMatrix(Call call) {
    OrvalixFeatures output{};
    OrvalixError error{};
    int result;
    {
        py::gil_scoped_release unlocked;
        result = call(&output, &error);
    }
    if (result != ORVALIX_OK) raise(error);
    return arrayOf(output);
}

py::array labelsOf(FloatArray features, OrvalixVadSettings settings) {
    const OrvalixFeatures input = viewOf(features);
    OrvalixLabels labels{};
    OrvalixError error{};
    int result;
    {
        py::gil_scoped_release unlocked;
        result = orvalix_vad(&input, &settings, &labels, &error);
    }
    if (result != ORVALIX_OK) raise(error);
    py::array_t<bool> voiced(labels.count);
    std::copy(labels.values, labels.values + labels.count, voiced.mutable_data());
    orvalix_release_labels(&labels);
    return voiced;
}

// A live analysis: the library's stream, its rows handed out as arrays as they become ready.
// The rows are those of analyse() on the same samples and keywords (front end included).
class Stream {
public:
    Stream(OrvalixSettings settings, int32_t rate, bool live, bool filterbank,
           const OrvalixFrontEnd& front) {
        OrvalixStreamOptions options = orvalix_default_stream_options();
        options.mode = live ? ORVALIX_STREAM_LIVE : ORVALIX_STREAM_EXACT;
        options.rowKind = filterbank ? ORVALIX_ROWS_FILTERBANK : ORVALIX_ROWS_CEPSTRA;
        options.useFrontEnd = 1;
        options.frontEnd = fitted(front, settings, filterbank);
        OrvalixError error{};
        if (orvalix_stream_open(&settings, rate, &options, &stream_, &error) != ORVALIX_OK) raise(error);
        width_ = orvalix_stream_row_width(stream_);
    }
    ~Stream() { orvalix_stream_release(stream_); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Samples as floats on the program's scale, or 16-bit integers; (n,) or (n, 2) for stereo.
    py::tuple push(const py::array& samples) {
        if (samples.ndim() != 1 && !(samples.ndim() == 2 && samples.shape(1) == 2))
            throw py::value_error("samples: expected a (n,) or (n, 2) array");
        const int32_t channels = samples.ndim() == 2 ? 2 : 1;
        const auto frames = static_cast<int64_t>(samples.shape(0));
        OrvalixError error{};
        int result;
        if (py::isinstance<py::array_t<int16_t>>(samples) && samples.dtype().is(py::dtype::of<int16_t>())) {
            const auto ints = py::array_t<int16_t, py::array::c_style | py::array::forcecast>::ensure(samples);
            py::gil_scoped_release unlocked;
            result = orvalix_stream_push_int16(stream_, ints.data(), frames, channels, &error);
        } else {
            const auto floats = FloatArray::ensure(samples);
            if (!floats) throw py::type_error("samples: expected an array of numbers");
            py::gil_scoped_release unlocked;
            result = orvalix_stream_push_float(stream_, floats.data(), frames, channels, &error);
        }
        if (result != ORVALIX_OK) raise(error);
        return takeRows();
    }

    py::tuple finish() {
        OrvalixError error{};
        if (orvalix_stream_finish(stream_, &error) != ORVALIX_OK) raise(error);
        return takeRows();
    }

    void reset() {
        OrvalixError error{};
        if (orvalix_stream_reset(stream_, &error) != ORVALIX_OK) raise(error);
    }

private:
    // Every ready row: (rows, frame index of each row).
    py::tuple takeRows() {
        std::vector<float> rows;
        std::vector<int64_t> frames;
        constexpr int32_t BLOCK = 256;
        for (;;) {
            const size_t used = rows.size();
            rows.resize(used + static_cast<size_t>(BLOCK) * width_);
            int32_t count = 0;
            int64_t first = 0;
            OrvalixError error{};
            if (orvalix_stream_rows(stream_, rows.data() + used, BLOCK, &count, &first, &error) != ORVALIX_OK)
                raise(error);
            rows.resize(used + static_cast<size_t>(count) * width_);
            for (int32_t i = 0; i < count; i++) frames.push_back(first + i);
            if (count == 0) break;
        }
        py::array_t<float> out({static_cast<py::ssize_t>(frames.size()), static_cast<py::ssize_t>(width_)});
        std::copy(rows.begin(), rows.end(), out.mutable_data());
        py::array_t<int64_t> indices(static_cast<py::ssize_t>(frames.size()));
        std::copy(frames.begin(), frames.end(), indices.mutable_data());
        return py::make_tuple(out, indices);
    }

    OrvalixStream* stream_ = nullptr;
    int32_t width_ = 0;
};

}  // namespace

PYBIND11_MODULE(_orvalix, m) {
    m.doc() = "The compiled core of the orvalix package; use the orvalix module instead.";
    m.attr("version") = orvalix_version();

    py::class_<OrvalixSettings>(m, "Settings")
        .def(py::init(&orvalix_default_settings))
        .def("copy", [](const OrvalixSettings& s) { return s; })
        .def_readwrite("windowLengthMs", &OrvalixSettings::windowLengthMs)
        .def_readwrite("windowShiftMs", &OrvalixSettings::windowShiftMs)
        .def_readwrite("melFilterCount", &OrvalixSettings::melFilterCount)
        .def_readwrite("cepstralCount", &OrvalixSettings::cepstralCount)
        .def_readwrite("includeC0", &OrvalixSettings::includeC0)
        .def_readwrite("removeDcOffset", &OrvalixSettings::removeDcOffset)
        .def_readwrite("powerOfTwoBelow", &OrvalixSettings::powerOfTwoBelow)
        .def_readwrite("windowType", &OrvalixSettings::windowType)
        .def_readwrite("lifterType", &OrvalixSettings::lifterType)
        .def_readwrite("filterDomain", &OrvalixSettings::filterDomain)
        .def_readwrite("preEmphasis", &OrvalixSettings::preEmphasis)
        .def_readwrite("threads", &OrvalixSettings::threads);
    py::class_<OrvalixCmvnSettings>(m, "CmvnSettings")
        .def(py::init(&orvalix_default_cmvn_settings))
        .def_readwrite("mode", &OrvalixCmvnSettings::mode)
        .def_readwrite("normaliseVariance", &OrvalixCmvnSettings::normaliseVariance)
        .def_readwrite("window", &OrvalixCmvnSettings::window)
        .def_readwrite("minWindow", &OrvalixCmvnSettings::minWindow)
        .def_readwrite("centred", &OrvalixCmvnSettings::centred);
    py::class_<OrvalixVadSettings>(m, "VadSettings")
        .def(py::init(&orvalix_default_vad_settings))
        .def_readwrite("energyThreshold", &OrvalixVadSettings::energyThreshold)
        .def_readwrite("energyMeanScale", &OrvalixVadSettings::energyMeanScale)
        .def_readwrite("framesContext", &OrvalixVadSettings::framesContext)
        .def_readwrite("proportionThreshold", &OrvalixVadSettings::proportionThreshold)
        .def_readwrite("energyColumn", &OrvalixVadSettings::energyColumn);
    py::class_<OrvalixFrontEnd>(m, "FrontEnd")
        .def(py::init(&orvalix_default_front_end))
        .def_readwrite("deltaOrder", &OrvalixFrontEnd::deltaOrder)
        .def_readwrite("deltaWindow", &OrvalixFrontEnd::deltaWindow)
        .def_readwrite("cmvn", &OrvalixFrontEnd::cmvn)
        .def_readwrite("cmvnSettings", &OrvalixFrontEnd::cmvnSettings)
        .def_readwrite("voicedOnly", &OrvalixFrontEnd::voicedOnly);

    m.def("parse_options", [](OrvalixSettings settings, const std::vector<std::string>& options) {
        std::vector<const char*> pointers;
        for (const auto& option : options) pointers.push_back(option.c_str());
        OrvalixError error{};
        if (orvalix_parse_options(static_cast<int>(pointers.size()), pointers.data(), &settings,
                                  &error) != ORVALIX_OK)
            raise(error);
        return settings;
    });
    m.def("check_settings", [](const OrvalixSettings& settings) {
        OrvalixError error{};
        const bool usable = orvalix_check_settings(&settings, &error) == ORVALIX_OK;
        return usable ? py::object(py::none()) : py::object(py::str(error.message));
    });
    m.def("check_rows", [](const OrvalixSettings& settings, int32_t rate) {
        OrvalixError error{};
        const int result = orvalix_check_rows(&settings, rate, &error);
        if (result == ORVALIX_OK) return py::object(py::none());
        if (result != ORVALIX_NON_FINITE_ROWS) raise(error);
        return py::object(py::str(error.message));
    });
    m.def("result_name", [](int32_t code) { return std::string(orvalix_result_name(code)); });
    m.def("lane_width", &orvalix_lane_width);
    m.def("format_coefficient", [](float value) {
        char text[64];
        return std::string(text, orvalix_format_coefficient(value, text));
    });
    m.def("load_wave", &loadWave);
    m.def("load_audio", &loadAudio);
    m.def("analyse", &analyse);
    m.def("analyse_files", &analyseFiles);
    m.def("write_text", &writeText);
    m.def("deltas", [](FloatArray features, int32_t order, int32_t window) {
        const OrvalixFeatures input = viewOf(features);
        return newMatrix([&](OrvalixFeatures* output, OrvalixError* error) {
            return orvalix_deltas(&input, order, window, output, error);
        });
    });
    m.def("cmvn", [](FloatArray features, OrvalixCmvnSettings settings) {
        const OrvalixFeatures input = viewOf(features);
        return newMatrix([&](OrvalixFeatures* output, OrvalixError* error) {
            return orvalix_cmvn(&input, &settings, output, error);
        });
    });
    m.def("vad", &labelsOf);
    py::class_<Stream>(m, "Stream")
        .def(py::init<OrvalixSettings, int32_t, bool, bool, const OrvalixFrontEnd&>())
        .def("push", &Stream::push)
        .def("finish", &Stream::finish)
        .def("reset", &Stream::reset);
}
