// orvalix-batch: command line, shard selection, resuming, summary and exit status.
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "programs/batch/batch.h"

namespace {

const char* const PROGRAM = "orvalix-batch";

const char* const USAGE =
    "Usage: orvalix-batch [tool options] INPUT OUTPUT_FOLDER [orvalix options]\n"
    "\n"
    "Analyses every utterance of INPUT exactly as orvalix would, on several threads. INPUT is a\n"
    "folder (every *.wav *.flac *.mp3 *.opus *.ogg *.aiff *.aif *.caf *.w64 below it, any case)\n"
    "or a list in wav.scp form: 'key path' or 'key command |' per line (the command's standard\n"
    "output is the audio file). Wave files orvalix reads are read as orvalix reads them; other\n"
    "audio (24-bit and float wave, FLAC, MP3, ...) is decoded by libsndfile (docs/audio.md).\n"
    "\n"
    "Tool options:\n"
    "  --format F        text (default; KEY.txt as orvalix writes it), kaldi (one archive and\n"
    "                    script per shard), htk (KEY.htk) or npy (KEY.npy)\n"
    "  --segments FILE   'utterance recording start end' lines (seconds; end -1: to the end)\n"
    "  --shard K/N       only the K-th of N equal parts of the list\n"
    "  --ark FILE        the Kaldi archive (default OUTPUT_FOLDER/feats.K.ark, feats.ark unsharded)\n"
    "  --scp FILE        the Kaldi script (default OUTPUT_FOLDER/feats.K.scp, feats.scp unsharded)\n"
    "  -j N, --threads N threads (default: the cores this process may use)\n"
    "  --channel N       only channel N (from 0) of every recording, not the mix of all\n"
    "  --rate R          every recording resampled to R Hz before the analysis\n"
    "\n"
    "Front end after the analysis (docs/frontend.md):\n"
    "  --features F      mfcc (default) or fbank: the log filter energies the analysis hands\n"
    "                    its cosine transform, one column per mel filter\n"
    "  --deltas N        append deltas of order N (1 or 2) to every row\n"
    "  --delta-window N  frames on each side of the deltas (default 2)\n"
    "  --cmvn MODE       none (default), utterance, or sliding (Kaldi's apply-cmvn-sliding)\n"
    "  --cmvn-variance   also normalise the variance\n"
    "  --cmvn-window N   sliding window in frames (default 600)\n"
    "  --cmvn-min-window N  frames used at least at the start (default 100)\n"
    "  --cmvn-centred    the sliding window around the frame instead of before it\n"
    "  --vad-labels      energy voice-activity labels beside the features: vad.ark and\n"
    "                    vad.scp (float vectors) in the kaldi format, KEY.lab (one 1 or 0\n"
    "                    per frame and line) otherwise\n"
    "  --voiced-only     write only the frames the energy VAD finds voiced\n"
    "  --no-progress     no progress line, even on a terminal\n"
    "  -h, --help        this text\n"
    "\n"
    "Other arguments beginning with '-' are orvalix options (-L25 -M13 -C); -O redoes outputs\n"
    "that exist. Outputs appear only when complete; a rerun does only what is missing.\n"
    "Failures are listed in OUTPUT_FOLDER/orvalix-batch[.K].log. Exit status: 0, 1 when any\n"
    "utterance failed, 2 on a usage error.\n";

int failUsage(const std::string& message) {
    fprintf(stderr, "%s: %s\nTry %s --help\n", PROGRAM, message.c_str(), PROGRAM);
    return 2;
}

int usableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set);
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

bool parseFormat(const std::string& text, OutputFormat* format) {
    if (text == "text") *format = OutputFormat::Text;
    else if (text == "kaldi") *format = OutputFormat::Kaldi;
    else if (text == "htk") *format = OutputFormat::Htk;
    else if (text == "npy") *format = OutputFormat::Npy;
    else return false;
    return true;
}

// Reads a whole non-negative number.
bool parseCount(const std::string& text, int32_t* value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *value = atoi(text.c_str());
    return true;
}

// The library's own ranges decide: its chain refuses out-of-range settings even with no rows.
// Returns "" or what is wrong, naming the setting.
std::string frontEndRefusal(const FrontEnd& front) {
    OrvalixFrontEnd chain = orvalix_default_front_end();
    chain.includeC0 = 1;  // the empty matrix's one column stays
    chain.deltaOrder = front.deltaOrder;
    chain.deltaWindow = front.deltaWindow;
    chain.cmvn = front.cmvn;
    chain.cmvnSettings = front.cmvnSettings;
    OrvalixFeatures empty = {sizeof empty, 0, 1, 0, nullptr};
    if (orvalix_front_end(&empty, &chain, nullptr, nullptr) == ORVALIX_OK) return "";
    if (front.deltaOrder > 0 && (front.deltaWindow < 1 || front.deltaWindow > 100))
        return "--delta-window is 1..100 frames";
    return front.cmvnSettings.window < 1 ? "--cmvn-window is at least 1 frame"
                                         : "--cmvn-min-window is 1..--cmvn-window (" +
                                               std::to_string(front.cmvnSettings.window) + ") frames";
}

bool isFolder(const std::string& name) {
    struct stat status;
    return stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool exists(const std::string& name) {
    struct stat status;
    return stat(name.c_str(), &status) == 0;
}

// A Kaldi shard is finished when its archive, its script and its log exist, the log naming this
// very shard (the same part of a list of the same length) and no failure.
bool finishedArchive(const BatchSettings& settings, const std::string& logName, const std::string& logHeader) {
    if (!exists(settings.arkName) || !exists(settings.scpName)) return false;
    if (settings.frontEnd.vadLabels && (!exists(settings.vadArkName) || !exists(settings.vadScpName))) return false;
    return finishedShard(logName, logHeader);
}

// Every file the run may write, and every file it reads that is known before it starts.
void namedFiles(const UtteranceList& list, ShardRange range, const BatchSettings& settings,
                const std::string& logName, std::vector<NamedFile>* inputs, std::vector<NamedFile>* outputs) {
    for (const Recording& recording : list.recordings)
        if (!recording.isCommand) inputs->push_back({"input wave", recording.source});
    if (settings.format == OutputFormat::Kaldi) {
        outputs->push_back({"archive", settings.arkName});
        outputs->push_back({"script", settings.scpName});
        if (settings.frontEnd.vadLabels) {
            outputs->push_back({"label archive", settings.vadArkName});
            outputs->push_back({"label script", settings.vadScpName});
        }
    } else {
        for (size_t i = range.begin; i < range.end; i++) {
            const Utterance& utterance = list.utterances[i];
            if (!utterance.listError.empty()) continue;
            const std::string stem = settings.outputFolder + "/" + utterance.outputStem;
            outputs->push_back({"output", stem + formatExtension(settings.format)});
            if (settings.frontEnd.vadLabels) outputs->push_back({"label file", stem + ".lab"});
        }
    }
    outputs->push_back({"log", logName});
}

int refuse(const std::string& message) {
    fprintf(stderr, "%s: %s\n", PROGRAM, message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    BatchSettings settings;
    settings.threads = usableCores();
    std::vector<std::string> positional;
    std::vector<const char*> analysisOptions;
    std::string segmentsName, shardText;
    bool progressWanted = true;
    for (int i = 1; i < argc; i++) {
        const std::string argument = argv[i];
        auto value = [&](std::string* into) {
            if (i + 1 >= argc) return false;
            *into = argv[++i];
            return true;
        };
        std::string text;
        if (argument == "-h" || argument == "--help") {
            fputs(USAGE, stdout);
            return 0;
        } else if (argument == "--format") {
            if (!value(&text) || !parseFormat(text, &settings.format))
                return failUsage("--format is text, kaldi, htk or npy");
        } else if (argument == "--segments") {
            if (!value(&segmentsName)) return failUsage("--segments needs a file");
        } else if (argument == "--shard") {
            int shard, count;
            if (!value(&shardText) || !parseShard(shardText, &shard, &count))
                return failUsage("--shard is K/N with 1 <= K <= N <= 999999999");
        } else if (argument == "--ark") {
            if (!value(&settings.arkName)) return failUsage("--ark needs a file");
        } else if (argument == "--scp") {
            if (!value(&settings.scpName)) return failUsage("--scp needs a file");
        } else if (argument == "-j" || argument == "--threads") {
            if (!value(&text) || (settings.threads = atoi(text.c_str())) < 1 ||
                text.find_first_not_of("0123456789") != std::string::npos)
                return failUsage("the thread count must be a positive number");
        } else if (argument == "--channel") {
            if (!value(&text) || !parseCount(text, &settings.channel))
                return failUsage("--channel is a channel number from 0");
        } else if (argument == "--rate") {
            if (!value(&text) || !parseCount(text, &settings.rate) || settings.rate < 1)
                return failUsage("--rate is a positive rate in Hz");
        } else if (argument == "--features") {
            if (!value(&text) || (text != "mfcc" && text != "fbank")) return failUsage("--features is mfcc or fbank");
            settings.frontEnd.filterbank = text == "fbank";
        } else if (argument == "--deltas") {
            if (!value(&text) || !parseCount(text, &settings.frontEnd.deltaOrder) || settings.frontEnd.deltaOrder > 2)
                return failUsage("--deltas is 0, 1 or 2");
        } else if (argument == "--delta-window") {
            if (!value(&text) || !parseCount(text, &settings.frontEnd.deltaWindow))
                return failUsage("--delta-window needs a number of frames");
        } else if (argument == "--cmvn") {
            if (!value(&text) || (text != "none" && text != "utterance" && text != "sliding"))
                return failUsage("--cmvn is none, utterance or sliding");
            settings.frontEnd.cmvn = text != "none";
            settings.frontEnd.cmvnSettings.mode = text == "utterance" ? ORVALIX_CMVN_UTTERANCE : ORVALIX_CMVN_SLIDING;
        } else if (argument == "--cmvn-variance") {
            settings.frontEnd.cmvnSettings.normaliseVariance = 1;
        } else if (argument == "--cmvn-window") {
            if (!value(&text) || !parseCount(text, &settings.frontEnd.cmvnSettings.window))
                return failUsage("--cmvn-window needs a number of frames");
        } else if (argument == "--cmvn-min-window") {
            if (!value(&text) || !parseCount(text, &settings.frontEnd.cmvnSettings.minWindow))
                return failUsage("--cmvn-min-window needs a number of frames");
        } else if (argument == "--cmvn-centred") {
            settings.frontEnd.cmvnSettings.centred = 1;
        } else if (argument == "--vad-labels") {
            settings.frontEnd.vadLabels = true;
        } else if (argument == "--voiced-only") {
            settings.frontEnd.voicedOnly = true;
        } else if (argument == "--no-progress") {
            progressWanted = false;
        } else if (argument.rfind("--", 0) == 0) {
            return failUsage("unknown option " + argument);
        } else if (argument.size() > 1 && argument[0] == '-') {
            analysisOptions.push_back(argv[i]);
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.size() != 2) return failUsage("give an input (folder or list) and an output folder");
    const std::string frontEndFault = frontEndRefusal(settings.frontEnd);
    if (!frontEndFault.empty()) return failUsage(frontEndFault);
    OrvalixError refusal;
    if (orvalix_parse_options(static_cast<int>(analysisOptions.size()), analysisOptions.data(), &settings.analysis,
                              &refusal) != ORVALIX_OK) {
        fprintf(stderr, "%s: orvalix refuses the options:\n%s\n", PROGRAM, refusal.message);
        return 2;
    }
    // -O, whatever follows its letter, sets the program's overwrite flag; the analysis has no use
    // for it.
    for (const char* option : analysisOptions) settings.overwrite = settings.overwrite || toupper(option[1]) == 'O';
    settings.outputFolder = positional[1];
    while (settings.outputFolder.size() > 1 && settings.outputFolder.back() == '/') settings.outputFolder.pop_back();
    settings.progress = progressWanted && isatty(STDERR_FILENO);

    int shard = 1, shardCount = 1;
    if (!shardText.empty()) parseShard(shardText, &shard, &shardCount);
    std::string suffix;  // ".K" with --shard
    if (!shardText.empty()) suffix.append(".").append(std::to_string(shard));
    if (settings.arkName.empty()) settings.arkName = settings.outputFolder + "/feats" + suffix + ".ark";
    if (settings.scpName.empty()) settings.scpName = settings.outputFolder + "/feats" + suffix + ".scp";
    const std::string logName = settings.outputFolder + "/orvalix-batch" + suffix + ".log";
    settings.vadArkName = settings.outputFolder + "/vad" + suffix + ".ark";
    settings.vadScpName = settings.outputFolder + "/vad" + suffix + ".scp";

    UtteranceList list;
    std::string message;
    const bool fromFolder = isFolder(positional[0]);
    if (fromFolder && !segmentsName.empty()) return failUsage("--segments needs a list, not a folder");
    if (!(fromFolder ? readFolderTree(positional[0], &list, &message)
                     : readScpList(positional[0], segmentsName, &list, &message))) {
        return failUsage(message);
    }
    const ShardRange range = shardRange(list.utterances.size(), shard, shardCount);
    const size_t count = range.end - range.begin;
    std::vector<NamedFile> inputs = {{"list", positional[0]}}, outputs;
    if (!segmentsName.empty()) inputs.push_back({"segments file", segmentsName});
    namedFiles(list, range, settings, logName, &inputs, &outputs);
    const std::string shared = findSharedFile(inputs, outputs);
    if (!shared.empty()) return refuse(shared);
    std::vector<std::string> folders = {logName};
    if (settings.format == OutputFormat::Kaldi) folders.insert(folders.end(), {settings.arkName, settings.scpName});
    if (settings.format == OutputFormat::Kaldi && settings.frontEnd.vadLabels)
        folders.insert(folders.end(), {settings.vadArkName, settings.vadScpName});
    for (const std::string& name : folders)
        if (!usableFolderFor(name, &message)) return refuse(message);
    printf("%s: %zu utterances", PROGRAM, count);
    if (!shardText.empty()) printf(" (shard %d of %d, of %zu in all)", shard, shardCount, list.utterances.size());
    printf("\n");

    // The log, written at the end of every run: which shard, then one line per failure.
    std::ostringstream header;
    header << PROGRAM << ": shard " << shard << " of " << shardCount << ", " << count << " utterances of "
           << list.utterances.size() << "\n";
    const std::string digest = digestLine(list, range, settings);
    const std::string logHeader = header.str() + digest;
    bool logWritten = false;
    if (settings.format != OutputFormat::Kaldi) {
        // Files already on disk count only when this shard's log says they have these settings;
        // the log is written first, so an interrupted run's files count on its rerun.
        settings.trustExisting = sameDigest(logName, digest);
        if (!writeWholeFile(logName, logHeader, true, &message)) return refuse(message);
    }
    Tally tally;
    if (settings.format == OutputFormat::Kaldi && !settings.overwrite && finishedArchive(settings, logName, logHeader)) {
        tally.total = tally.skipped = count;
    } else {
        tally = runBatch(list, range, settings);
        logWritten = writeWholeFile(logName, logHeader + failureLog(tally), true, &message);
        if (!logWritten) tally.outputFailure += (tally.outputFailure.empty() ? "" : "; ") + message;
    }

    printf("%s: %zu done, %zu skipped (output exists), %zu failed\n", PROGRAM, tally.done, tally.skipped,
           tally.failures.size());
    fputs(failureLog(tally).c_str(), stdout);
    if (!tally.outputFailure.empty()) printf("%s: %s\n", PROGRAM, tally.outputFailure.c_str());
    if (!tally.failures.empty() && logWritten) printf("%s: failures listed in %s\n", PROGRAM, logName.c_str());
    return tally.failures.empty() && tally.outputFailure.empty() ? 0 : 1;
}
