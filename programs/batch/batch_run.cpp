// The analysis of a shard's utterances on several threads. Each thread takes the next utterance
// of the list; per-utterance formats are written by the thread that analysed them, a Kaldi
// archive is written in list order by whichever thread completes the next entry.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "programs/batch/batch.h"

namespace {

enum class State { Pending, Done, Failed, Skipped };

struct Outcome {
    State state = State::Pending;
    std::string message;
    OrvalixFeatures features = {sizeof(OrvalixFeatures), 0, 0, 0, nullptr};
    std::string warning;
    std::vector<uint8_t> labels;  // voice activity per frame, with --vad-labels or --voiced-only
    std::string kaldiEntry;  // encoded by the analysing thread, written in list order
    std::string vadEntry;    // the same for the labels' archive
};

// A Kaldi archive with its script, written in list order.
struct Archive {
    PendingFile file;
    uint64_t offset = 0;
    std::string path;  // absolute, as the script names it
    std::string scp;
};

// A recording that segments are cut from: loaded by the first segment that needs it, released
// after the shard's last segment of it.
struct SharedRecording {
    std::mutex lock;
    bool loaded = false;
    int users = 0;
    OrvalixSignal signal{};
    std::string failure;
};

struct Run {
    Run(const UtteranceList& list, ShardRange range, const BatchSettings& settings)
        : list(list), range(range), settings(settings), shared(list.recordings.size()),
          outcomes(range.end - range.begin) {}
    const UtteranceList& list;
    const ShardRange range;
    const BatchSettings& settings;
    std::vector<std::unique_ptr<SharedRecording>> shared;
    std::vector<Outcome> outcomes;  // one per utterance of the range
    std::atomic<size_t> next{0};
    std::atomic<size_t> finished{0};
    std::mutex progressLock;
    std::condition_variable progressChanged;
    // The Kaldi archives (features, and labels with --vad-labels) and their scripts, written in
    // list order under archiveLock.
    std::mutex archiveLock;
    size_t nextToArchive = 0;
    Archive feats;
    Archive vad;
    std::string outputFailure;
    std::mutex ratesLock;
    std::set<int32_t> ratesChecked;  // rates whose settings check has been made
};

std::string sourceOf(const Recording& recording) {
    return recording.isCommand ? "the output of '" + recording.source + "'" : recording.source;
}

std::string describeResult(const OrvalixError& error, const Recording& recording) {
    std::string text = sourceOf(recording) + ": " + orvalix_result_name(error.code);
    if (error.code == ORVALIX_ANALYSIS_FAILED) text += " (the settings cannot be applied to this signal)";
    return text;
}

// Cepstral rows, or with --features fbank the log filter energies.
int analyseSignal(const BatchSettings& batch, const float* signal, int64_t count, int32_t rate,
                  OrvalixFeatures* features, OrvalixError* error) {
    return (batch.frontEnd.filterbank ? orvalix_analyse_filterbank : orvalix_analyse)(
        signal, count, rate, &batch.analysis, features, error);
}

// Cut short: the header announces more samples than the file holds. Analysed all the same, as
// the program analyses it.
std::string truncationOf(const OrvalixSignal& info) {
    if (info.count >= info.announced) return "";
    return "cut short: " + std::to_string(info.count) + " of the " + std::to_string(info.announced) +
           " samples its header announces were read";
}

bool decodedAsAudio(const BatchSettings& batch) {
    return batch.channel != ORVALIX_MIX_CHANNELS || batch.rate != ORVALIX_KEEP_RATE;
}

bool isWaveFileCode(int result) {
    return result >= ORVALIX_FILE_ERROR && result <= ORVALIX_NOT_A_WAVE_FILE;
}

// A recording's samples. Without --channel or --rate, as the program reads them; with them, or
// when the program's reader has refused the file (refusal: its code, else ORVALIX_OK), decoded as
// audio. The decoder's message (the format and libsndfile's reason) names the file it opened, for
// a command an in-memory file: the recording's source takes that name's place.
bool loadSamples(const BatchSettings& batch, const std::string& name, const Recording& recording, int refusal,
                 OrvalixSignal* signal, std::string* failure) {
    OrvalixError error;
    if (refusal == ORVALIX_OK && !decodedAsAudio(batch)) {
        refusal = orvalix_load_wave(name.c_str(), signal, &error);
        if (refusal == ORVALIX_OK) return true;
        if (!isWaveFileCode(refusal)) {
            *failure = describeResult(error, recording);
            return false;
        }
    }
    if (orvalix_load_audio(name.c_str(), batch.channel, batch.rate, signal, &error) == ORVALIX_OK) return true;
    const std::string reason = error.message;
    *failure = sourceOf(recording) + (reason.rfind(name, 0) == 0 ? reason.substr(name.size()) : ": " + reason);
    return false;
}

// A whole recording: MFCC of a wave file exactly as the program reads it (a chunk at a time),
// else the rows of the signal loaded by loadSamples.
void analyseWholeFile(const BatchSettings& batch, const std::string& name, const Recording& recording,
                      Analysis* analysis) {
    OrvalixError error;
    OrvalixSignal signal{};
    int refusal = ORVALIX_OK;
    bool analysed = false;
    if (!batch.frontEnd.filterbank && !decodedAsAudio(batch)) {
        refusal = orvalix_analyse_file(name.c_str(), &batch.analysis, &analysis->features, &signal, &error);
        analysed = refusal == ORVALIX_OK;
        if (!analysed && !isWaveFileCode(refusal)) {
            analysis->message = describeResult(error, recording);
            return;
        }
    }
    if (!analysed) {
        if (!loadSamples(batch, name, recording, refusal, &signal, &analysis->message)) return;
        if (analyseSignal(batch, signal.samples, signal.count, signal.sampleRate, &analysis->features, &error) != 0)
            analysis->message = describeResult(error, recording);
    }
    analysis->ok = analysis->message.empty();
    if (analysis->ok) analysis->warning = truncationOf(signal);
    analysis->sampleRate = signal.sampleRate;
    orvalix_release_signal(&signal);
}

// Loads a recording's samples once for all its segments.
bool loadShared(SharedRecording* shared, const Recording& recording, const BatchSettings& batch) {
    if (shared->loaded) return shared->failure.empty();
    shared->loaded = true;
    std::string name = recording.source;
    int fd = -1;
    if (recording.isCommand) {
        fd = runCommandToMemory(recording.source, &name, &shared->failure);
        if (fd < 0) return false;
    }
    const bool loaded = loadSamples(batch, name, recording, ORVALIX_OK, &shared->signal, &shared->failure);
    if (fd >= 0) close(fd);
    return loaded;
}

// One segment fewer still needs the recording; the last one releases its samples.
void releaseSharedUse(SharedRecording& shared) {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (--shared.users == 0) orvalix_release_signal(&shared.signal);
}

// The samples floor(start x rate) up to floor(end x rate) of the recording, analysed as a whole
// file. An end up to half a second past the recording is cut at its end, as Kaldi's segment
// extraction does; more than that is a fault in the segments file.
Analysis analyseSegment(Run& run, const Utterance& utterance) {
    Analysis analysis;
    const Recording& recording = run.list.recordings[utterance.recording];
    SharedRecording& shared = *run.shared[utterance.recording];
    {
        std::lock_guard<std::mutex> hold(shared.lock);
        if (!loadShared(&shared, recording, run.settings)) analysis.message = shared.failure;
    }
    if (analysis.message.empty()) {
        // Bounds are compared as doubles first, so no far-off time reaches an integer.
        const double rate = shared.signal.sampleRate;
        const double length = static_cast<double>(shared.signal.count);
        const double first = std::floor(utterance.startSeconds * rate);
        double last = utterance.endSeconds < 0 ? length : std::floor(utterance.endSeconds * rate);
        if (last > length && last - length <= 0.5 * rate) last = length;
        if (last > length || first > last) {
            analysis.message = "the segment ends after its recording (" + std::to_string(shared.signal.count) +
                               " samples at " + std::to_string(shared.signal.sampleRate) + " Hz)";
        } else {
            OrvalixError error;
            int result = analyseSignal(run.settings, shared.signal.samples + static_cast<int64_t>(first),
                                       static_cast<int64_t>(last - first), shared.signal.sampleRate,
                                       &analysis.features, &error);
            analysis.ok = result == 0;
            analysis.sampleRate = shared.signal.sampleRate;
            if (!analysis.ok) analysis.message = describeResult(error, recording);
        }
    }
    releaseSharedUse(shared);
    return analysis;
}

Analysis analyseUtterance(Run& run, const Utterance& utterance) {
    if (!utterance.listError.empty()) return {false, utterance.listError, {}, {}};
    // A folder tree's names may hold blanks; a Kaldi script line cannot.
    if (run.settings.format == OutputFormat::Kaldi && utterance.key.find_first_of(" \t\n\r") != std::string::npos)
        return {false, "a key with a blank cannot go into a Kaldi script", {}, {}};
    if (utterance.isSegment) return analyseSegment(run, utterance);
    Analysis analysis;
    const Recording& recording = run.list.recordings[utterance.recording];
    std::string name = recording.source;
    int fd = -1;
    if (recording.isCommand) {
        fd = runCommandToMemory(recording.source, &name, &analysis.message);
        if (fd < 0) return analysis;
    }
    analyseWholeFile(run.settings, name, recording, &analysis);
    if (fd >= 0) close(fd);
    return analysis;
}

std::string outputNameOf(const Run& run, const Utterance& utterance) {
    return run.settings.outputFolder + "/" + utterance.outputStem + formatExtension(run.settings.format);
}

// One file per utterance: text, HTK or NumPy; with --vad-labels its labels beside it first
// (KEY.lab), so features on file always have their labels.
void writeUtteranceFile(Run& run, const Utterance& utterance, Outcome* outcome) {
    std::string bytes;
    switch (run.settings.format) {
        case OutputFormat::Text: appendText(outcome->features, &bytes); break;
        case OutputFormat::Htk:
            appendHtk(outcome->features, htkKind(run.settings), run.settings.analysis.windowShiftMs, &bytes);
            break;
        case OutputFormat::Npy: appendNpy(outcome->features, &bytes); break;
        case OutputFormat::Kaldi: break;
    }
    orvalix_release_features(&outcome->features);
    const std::string name = outputNameOf(run, utterance);
    std::string labelText;
    if (run.settings.frontEnd.vadLabels) appendLabelText(outcome->labels, &labelText);
    const std::string labelName = run.settings.outputFolder + "/" + utterance.outputStem + ".lab";
    if (!makeParentFolders(name, &outcome->message) ||
        (run.settings.frontEnd.vadLabels && !writeWholeFile(labelName, labelText, false, &outcome->message)) ||
        !writeWholeFile(name, bytes, false, &outcome->message))
        outcome->state = State::Failed;
}

// Appends one entry to an archive and its script line; the script's offset points at the binary
// marker after "key ".
bool appendToArchive(Archive* archive, const std::string& key, const std::string& entry, std::string* failure) {
    if (!appendToFile(&archive->file, entry.data(), entry.size(), failure)) return false;
    archive->scp += key + " " + archive->path + ":" + std::to_string(archive->offset + key.size() + 1) + "\n";
    archive->offset += entry.size();
    return true;
}

// Appends every completed entry that is next in list order to the archive and the script.
void archiveReadyEntries(Run& run) {
    std::lock_guard<std::mutex> hold(run.archiveLock);
    while (run.nextToArchive < run.outcomes.size() && run.outcomes[run.nextToArchive].state != State::Pending) {
        Outcome& outcome = run.outcomes[run.nextToArchive];
        const Utterance& utterance = run.list.utterances[run.range.begin + run.nextToArchive];
        run.nextToArchive++;
        const std::string entry = std::move(outcome.kaldiEntry);
        const std::string vadEntry = std::move(outcome.vadEntry);
        if (outcome.state != State::Done || !run.outputFailure.empty()) continue;
        if (!appendToArchive(&run.feats, utterance.key, entry, &run.outputFailure)) continue;
        if (run.settings.frontEnd.vadLabels) appendToArchive(&run.vad, utterance.key, vadEntry, &run.outputFailure);
    }
}

// An utterance's files, all of them the rerun asks for, are on disk.
bool writtenBefore(const Run& run, const Utterance& utterance) {
    struct stat existing;
    return stat(outputNameOf(run, utterance).c_str(), &existing) == 0 &&
           (!run.settings.frontEnd.vadLabels ||
            stat((run.settings.outputFolder + "/" + utterance.outputStem + ".lab").c_str(), &existing) == 0);
}

// Settings within every range can still give rows of infinities or NaN at some rates: said once
// per rate on standard error, the rows written as the program would write them.
void warnAboutRate(Run& run, int32_t rate) {
    {
        std::lock_guard<std::mutex> hold(run.ratesLock);
        if (rate <= 0 || !run.ratesChecked.insert(rate).second) return;
    }
    OrvalixError error;
    if (orvalix_check_rows(&run.settings.analysis, rate, &error) == ORVALIX_NON_FINITE_ROWS)
        fprintf(stderr, "orvalix-batch: warning: at %d Hz %s\n", rate, error.message);
}

void work(Run& run) {
    const bool perFile = run.settings.format != OutputFormat::Kaldi;
    for (size_t i; (i = run.next.fetch_add(1)) < run.outcomes.size();) {
        const Utterance& utterance = run.list.utterances[run.range.begin + i];
        Outcome outcome;
        if (perFile && utterance.listError.empty() && !run.settings.overwrite && run.settings.trustExisting &&
            writtenBefore(run, utterance)) {
            outcome.state = State::Skipped;
            if (utterance.isSegment) releaseSharedUse(*run.shared[utterance.recording]);
        } else {
            Analysis analysis = analyseUtterance(run, utterance);
            if (analysis.ok) warnAboutRate(run, analysis.sampleRate);
            outcome.message = analysis.message;
            outcome.warning = analysis.warning;
            outcome.features = analysis.features;
            analysis.ok = analysis.ok && finishFeatures(run.settings, &outcome.features, &outcome.labels, &outcome.message);
            outcome.state = analysis.ok ? State::Done : State::Failed;
            if (analysis.ok && perFile) writeUtteranceFile(run, utterance, &outcome);
            if (analysis.ok && !perFile) {
                appendKaldiEntry(utterance.key, outcome.features, &outcome.kaldiEntry);
                if (run.settings.frontEnd.vadLabels) appendKaldiVector(utterance.key, outcome.labels, &outcome.vadEntry);
            }
            orvalix_release_features(&outcome.features);
        }
        if (perFile) {
            run.outcomes[i] = std::move(outcome);
        } else {
            {
                std::lock_guard<std::mutex> hold(run.archiveLock);
                run.outcomes[i] = std::move(outcome);
            }
            archiveReadyEntries(run);
        }
        run.finished.fetch_add(1);
        run.progressChanged.notify_one();
    }
}

}  // namespace

Tally runBatch(const UtteranceList& list, ShardRange range, const BatchSettings& settings) {
    Run run(list, range, settings);
    for (size_t i = range.begin; i < range.end; i++) {
        const Utterance& utterance = list.utterances[i];
        if (!utterance.isSegment || utterance.recording < 0) continue;
        if (!run.shared[utterance.recording]) run.shared[utterance.recording] = std::make_unique<SharedRecording>();
        run.shared[utterance.recording]->users++;
    }
    if (settings.format == OutputFormat::Kaldi) {
        run.feats.path = absolutePath(settings.arkName);
        if (!makeParentFolders(settings.arkName, &run.outputFailure) ||
            !makeParentFolders(settings.scpName, &run.outputFailure) ||
            !beginFile(settings.arkName, &run.feats.file, &run.outputFailure)) {
            run.outputFailure = run.outputFailure.empty() ? "cannot write " + settings.arkName : run.outputFailure;
        }
        run.vad.path = absolutePath(settings.vadArkName);
        if (settings.frontEnd.vadLabels && run.outputFailure.empty() &&
            (!makeParentFolders(settings.vadArkName, &run.outputFailure) ||
             !makeParentFolders(settings.vadScpName, &run.outputFailure) ||
             !beginFile(settings.vadArkName, &run.vad.file, &run.outputFailure))) {
            run.outputFailure = run.outputFailure.empty() ? "cannot write " + settings.vadArkName : run.outputFailure;
        }
    }

    const size_t count = run.outcomes.size();
    if (!run.outputFailure.empty()) run.next = run.finished = count;  // nowhere to write: analyse nothing
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    const int threadCount = static_cast<int>(std::min<size_t>(static_cast<size_t>(settings.threads), std::max<size_t>(count, 1)));
    for (int t = 0; t < threadCount; t++) threads.emplace_back(work, std::ref(run));
    if (settings.progress) {
        std::unique_lock<std::mutex> wait(run.progressLock);
        while (run.finished.load() < count) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            showProgress(run.finished.load(), count, elapsed, false);
            run.progressChanged.wait_for(wait, std::chrono::milliseconds(500));
        }
    }
    for (std::thread& thread : threads) thread.join();
    if (settings.progress) showProgress(count, count, 0, true);

    if (settings.format == OutputFormat::Kaldi) {
        // The labels' archive and script first, then the features' archive and script: a script
        // that exists points into a whole archive, and features on file have their labels.
        const bool labels = settings.frontEnd.vadLabels;
        if (labels && run.outputFailure.empty() && commitFile(&run.vad.file, true, &run.outputFailure)) {
            writeWholeFile(settings.vadScpName, run.vad.scp, true, &run.outputFailure);
        } else if (labels) {
            abandonFile(&run.vad.file);
        }
        if (run.outputFailure.empty() && commitFile(&run.feats.file, true, &run.outputFailure)) {
            writeWholeFile(settings.scpName, run.feats.scp, true, &run.outputFailure);
        } else {
            abandonFile(&run.feats.file);
        }
    }

    Tally tally;
    tally.total = count;
    tally.outputFailure = run.outputFailure;
    for (size_t i = 0; i < count; i++) {
        const Outcome& outcome = run.outcomes[i];
        // An archive that could not be written holds nothing: its entries are not done.
        if (outcome.state == State::Done && run.outputFailure.empty()) tally.done++;
        if (outcome.state == State::Skipped) tally.skipped++;
        const std::string& key = list.utterances[range.begin + i].key;
        if (outcome.state == State::Failed) tally.failures.emplace_back(key, outcome.message);
        if (outcome.state == State::Done && !outcome.warning.empty()) tally.warnings.emplace_back(key, outcome.warning);
    }
    return tally;
}
