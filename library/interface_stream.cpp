// The stream calls of the C interface: the caller-driven analysis (library/stream.*) and, when
// asked, the front end row by row (library/stream_front_end.*).
#include <cstdint>
#include <new>

#include "library/interface_records.h"
#include "library/stream.h"
#include "library/stream_front_end.h"

struct OrvalixStream {
    AnalysisStream analysis;
    bool useFrontEnd;
    StreamFrontEnd front;
};

namespace {

int fromStreamResult(int result, OrvalixError* error) {
    if (result == STREAM_OK) return succeed(error);
    int32_t code = ORVALIX_ANALYSIS_FAILED;  // a rate the settings cannot analyse, no memory
    if (result == STREAM_FINISHED) code = ORVALIX_STREAM_FINISHED;
    if (result == STREAM_BAD_ARGUMENT) code = ORVALIX_INVALID_ARGUMENT;
    if (result == STREAM_REFUSED_SETTINGS) code = ORVALIX_NEEDS_WHOLE_SIGNAL;
    return reportResult(error, code, "%s", streamResultText(result));
}

int outOfMemory(OrvalixError* error) {
    return reportResult(error, ORVALIX_ANALYSIS_FAILED, "%s", streamResultText(STREAM_OUT_OF_MEMORY));
}

int nullStream(OrvalixError* error) {
    return reportResult(error, ORVALIX_INVALID_ARGUMENT, "stream: null");
}

// The front end takes the analysed rows in frame order: none while row 0 waits for the finish.
void feedFrontEnd(OrvalixStream* s) {
    if (!s->useFrontEnd || (s->analysis.holdsRowZero && !s->analysis.finished)) return;
    for (RowRun run = peekRows(&s->analysis); run.count > 0; run = peekRows(&s->analysis)) {
        for (int64_t r = 0; r < run.count; r++) frontEndRow(&s->front, run.values + r * run.width);
        dropRows(&s->analysis, run.count);
    }
}

template <typename Sample, typename Push>
int pushThen(OrvalixStream* s, const Sample* samples, int64_t frames, int32_t channels,
             OrvalixError* error, Push push) {
    if (!s) return nullStream(error);
    try {
        const int result = push(&s->analysis, samples, frames, channels);
        if (result == STREAM_OK) feedFrontEnd(s);
        return fromStreamResult(result, error);
    } catch (const std::bad_alloc&) {
        return outOfMemory(error);
    }
}

}  // namespace

extern "C" {

OrvalixStreamOptions orvalix_default_stream_options(void) {
    OrvalixStreamOptions options{};
    options.size = sizeof options;
    options.mode = ORVALIX_STREAM_EXACT;
    options.rowKind = ORVALIX_ROWS_CEPSTRA;
    options.frontEnd = orvalix_default_front_end();
    return options;
}

int orvalix_stream_open(const OrvalixSettings* settings, int32_t sampleRate,
                        const OrvalixStreamOptions* options, OrvalixStream** stream,
                        OrvalixError* error) {
    if (!stream) return reportResult(error, ORVALIX_INVALID_ARGUMENT, "stream: null");
    *stream = nullptr;
    StreamSettings wanted{};
    const int usable = analysisSettingsFrom(settings, &wanted.analysis, error);
    if (usable != ORVALIX_OK) return usable;
    if (!usableRecord(options, sizeof(OrvalixStreamOptions)))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                            "stream options: null, or a record of another size (set by "
                            "orvalix_default_stream_options)");
    if (options->mode != ORVALIX_STREAM_EXACT && options->mode != ORVALIX_STREAM_LIVE)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "stream mode = %d is neither 0 nor 1",
                            options->mode);
    if (options->rowKind != ORVALIX_ROWS_CEPSTRA && options->rowKind != ORVALIX_ROWS_FILTERBANK)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "stream rowKind = %d is neither 0 nor 1",
                            options->rowKind);
    if (options->lanes != 0 && options->lanes != 1 && options->lanes != 2 && options->lanes != 4 &&
        options->lanes != 8)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "stream lanes = %d is not 0, 1, 2, 4 or 8",
                            options->lanes);
    if (options->wantLabels && !options->useFrontEnd)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "stream: wantLabels needs useFrontEnd");
    wanted.sampleRate = sampleRate;
    wanted.mode = options->mode == ORVALIX_STREAM_LIVE ? STREAM_LIVE : STREAM_EXACT;
    wanted.rows = options->rowKind == ORVALIX_ROWS_FILTERBANK ? ROWS_LOG_ENERGIES : ROWS_CEPSTRA;
    wanted.lanes = options->lanes;
    wanted.batchFrames = options->batchFrames;
    OrvalixStream* s = new (std::nothrow) OrvalixStream{};
    if (!s) return outOfMemory(error);
    char message[sizeof error->message] = "";
    const int opened = openStream(wanted, &s->analysis, message, sizeof message);
    if (opened != STREAM_OK) {
        delete s;
        return reportResult(error, fromStreamResult(opened, nullptr), "%s", message);
    }
    s->useFrontEnd = options->useFrontEnd != 0;
    if (s->useFrontEnd) {
        OrvalixFrontEnd front = options->frontEnd;
        front.filterbankRows = options->rowKind == ORVALIX_ROWS_FILTERBANK;
        int result;
        try {
            result = openStreamFrontEnd(front, options->wantLabels != 0, s->analysis.analyser.rowWidth,
                                        &s->front, error);
        } catch (const std::bad_alloc&) {
            result = outOfMemory(error);
        }
        if (result != ORVALIX_OK) {
            orvalix_stream_release(s);
            return result;
        }
    }
    *stream = s;
    return succeed(error);
}

int orvalix_stream_push_float(OrvalixStream* stream, const float* samples, int64_t frameCount,
                              int32_t channels, OrvalixError* error) {
    return pushThen(stream, samples, frameCount, channels, error, pushFrames);
}

int orvalix_stream_push_int16(OrvalixStream* stream, const int16_t* samples, int64_t frameCount,
                              int32_t channels, OrvalixError* error) {
    return pushThen(stream, samples, frameCount, channels, error, pushInt16);
}

int32_t orvalix_stream_row_width(const OrvalixStream* stream) {
    if (!stream) return 0;
    return stream->useFrontEnd ? stream->front.width : stream->analysis.analyser.rowWidth;
}

int orvalix_stream_rows(OrvalixStream* stream, float* out, int32_t maxRows, int32_t* rowCount,
                        int64_t* firstFrame, OrvalixError* error) {
    if (rowCount) *rowCount = 0;
    if (!stream) return nullStream(error);
    if (!rowCount || maxRows < 0 || (maxRows > 0 && !out))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                            "stream rows: rowCount null, maxRows negative, or out null");
    const int64_t taken = stream->useFrontEnd
                              ? takeFrontEndRows(&stream->front, out, maxRows, firstFrame)
                              : takeRows(&stream->analysis, out, maxRows, firstFrame);
    *rowCount = static_cast<int32_t>(taken);
    return succeed(error);
}

int orvalix_stream_labels(OrvalixStream* stream, uint8_t* out, int32_t maxLabels,
                          int32_t* labelCount, int64_t* firstFrame, OrvalixError* error) {
    if (labelCount) *labelCount = 0;
    if (!stream) return nullStream(error);
    if (!labelCount || maxLabels < 0 || (maxLabels > 0 && !out))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                            "stream labels: labelCount null, maxLabels negative, or out null");
    StreamFrontEnd& f = stream->front;
    if (!stream->useFrontEnd || !f.labelling)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                            "stream labels: the stream was opened without wantLabels");
    const int64_t left = static_cast<int64_t>(f.labels.size()) - f.labelsTaken;
    const int64_t n = left < maxLabels ? left : maxLabels;
    if (firstFrame) *firstFrame = f.labelsTaken;
    for (int64_t i = 0; i < n; i++) out[i] = f.labels[f.labelsTaken + i];
    f.labelsTaken += n;
    *labelCount = static_cast<int32_t>(n);
    return succeed(error);
}

int orvalix_stream_finish(OrvalixStream* stream, OrvalixError* error) {
    if (!stream) return nullStream(error);
    try {
        const int finished = finishStream(&stream->analysis);
        if (finished == STREAM_OK && stream->useFrontEnd) {
            feedFrontEnd(stream);
            finishFrontEnd(&stream->front);
        }
        return fromStreamResult(finished, error);
    } catch (const std::bad_alloc&) {
        return outOfMemory(error);
    }
}

int orvalix_stream_reset(OrvalixStream* stream, OrvalixError* error) {
    if (!stream) return nullStream(error);
    resetStream(&stream->analysis);
    if (stream->useFrontEnd) resetFrontEnd(&stream->front);
    return succeed(error);
}

void orvalix_stream_release(OrvalixStream* stream) {
    if (!stream) return;
    releaseStream(&stream->analysis);
    delete stream;
}

}  // extern "C"
