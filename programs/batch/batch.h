#pragma once
// orvalix-batch: many utterances in one process, on several threads, into the formats
// speaker-identification toolkits read. Built on the public library face and its publisher.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "library/publish.h"
#include "orvalix.h"

enum class OutputFormat { Text, Kaldi, Htk, Npy };

// Where an utterance's samples come from: an audio file by name, or the standard output of a
// shell command (a `key command |` entry).
struct Recording {
    std::string key;
    std::string source;
    bool isCommand = false;
};

// One utterance of the list. With a segments file it is a slice of its recording, in seconds
// (endSeconds < 0: to the recording's end); otherwise the whole recording.
struct Utterance {
    std::string key;
    std::string outputStem;  // output name below the output folder, without extension
    int recording = -1;      // index into the recordings; -1 when listError says why not
    bool isSegment = false;
    double startSeconds = 0;
    double endSeconds = -1;
    std::string listError;   // a fault found while reading the lists: the utterance fails with it
};

struct UtteranceList {
    std::vector<Recording> recordings;
    std::vector<Utterance> utterances;
};

// --- utterance_list.cpp: reading a folder tree, a wav.scp list and a segments file.
// Returns false with a message when a file cannot be read at all.
bool readFolderTree(const std::string& folder, UtteranceList* list, std::string* message);
bool readScpList(const std::string& listName, const std::string& segmentsName, UtteranceList* list,
                 std::string* message);
// The same from the files' text (segmentsText null: no segments file). A list that is a wave
// file, or holds a NUL byte or a byte-order mark, is refused whole: no name is ever cut short.
bool parseScpList(const std::string& listText, const std::string& listName, const std::string* segmentsText,
                  const std::string& segmentsName, UtteranceList* list, std::string* message);

// --- shards.cpp: the K-th of N near-equal contiguous parts of count items (K from 1).
struct ShardRange {
    size_t begin;
    size_t end;
};
ShardRange shardRange(size_t count, int shard, int shardCount);
bool parseShard(const std::string& text, int* shard, int* shardCount);

// --- signal_source.cpp: samples of a recording.
// A command's standard output is read whole into an in-memory file; name receives a path that
// opens it ("/proc/self/fd/N") until the descriptor is closed. Returns the descriptor or -1 with
// a message.
int runCommandToMemory(const std::string& command, std::string* name, std::string* message);

// The analysis of one utterance: its features, or a failure message.
struct Analysis {
    bool ok = false;
    std::string message;
    OrvalixFeatures features = {sizeof(OrvalixFeatures), 0, 0, 0, nullptr};
    std::string warning;  // something to know about an utterance that was analysed all the same
    int32_t sampleRate = 0;
};

// --- feature_formats.cpp: the bytes of one utterance's features in each format, every column of
// the matrix as it stands (front_end.cpp arranges the columns first).
void appendText(const OrvalixFeatures& features, std::string* out);
void appendKaldiEntry(const std::string& key, const OrvalixFeatures& features, std::string* out);
void appendHtk(const OrvalixFeatures& features, uint16_t kind, int32_t shiftMs, std::string* out);
void appendNpy(const OrvalixFeatures& features, std::string* out);
// Voice-activity labels: a Kaldi float-vector entry (1 or 0 per frame), or one "1" or "0" line
// per frame.
void appendKaldiVector(const std::string& key, const std::vector<uint8_t>& labels, std::string* out);
void appendLabelText(const std::vector<uint8_t>& labels, std::string* out);
const char* formatExtension(OutputFormat format);

// --- front_end.cpp: what is done to an utterance's rows after the analysis (docs/frontend.md).
struct FrontEnd {
    bool filterbank = false;         // --features fbank: log filter energies instead of MFCC
    int32_t deltaOrder = 0;          // --deltas N: 0, 1 or 2
    int32_t deltaWindow = 2;         // --delta-window N
    bool cmvn = false;               // --cmvn utterance|sliding
    OrvalixCmvnSettings cmvnSettings = orvalix_default_cmvn_settings();
    bool vadLabels = false;          // --vad-labels: labels written beside the features
    bool voicedOnly = false;         // --voiced-only: only the voiced rows are written
};
struct BatchSettings;
// The library's front-end chain (orvalix_front_end): labels from the static rows' energy when
// wanted, the columns in the format's order (c0 dropped without -C, last in HTK with -C), deltas,
// CMVN and the voiced rows. The matrix then holds exactly the rows and columns to write.
// Returns false with the library's message (a setting it refuses, or no memory).
bool finishFeatures(const BatchSettings& settings, OrvalixFeatures* features,
                    std::vector<uint8_t>* labels, std::string* message);
// HTK's parameter kind of the rows finishFeatures leaves: MFCC or FBANK with _0, _D, _A, _Z.
uint16_t htkKind(const BatchSettings& settings);

// --- output_file.cpp: a file that appears under its name only when complete.
struct PendingFile {
    std::string finalName;
    Publication publication = emptyPublication();
};
bool beginFile(const std::string& finalName, PendingFile* file, std::string* message);
bool appendToFile(PendingFile* file, const char* bytes, size_t length, std::string* message);
// Flushes to disk when durable is set, then gives the file its name (replacing an old one).
bool commitFile(PendingFile* file, bool durable, std::string* message);
void abandonFile(PendingFile* file);
bool writeWholeFile(const std::string& finalName, const std::string& bytes, bool durable,
                    std::string* message);
bool makeParentFolders(const std::string& fileName, std::string* message);
std::string absolutePath(const std::string& name);

// --- output_checks.cpp: refusals made before any analysis.
struct NamedFile {
    std::string role;  // what the file is to the run, for the message: "archive", "list", ...
    std::string name;
};
// The first output that is the same file as an input or an earlier output (device and inode, or
// the resolved name of a file yet to be made): a message naming both; "" when there is none.
std::string findSharedFile(const std::vector<NamedFile>& inputs, const std::vector<NamedFile>& outputs);
// Makes the folder fileName goes into and checks that files can be made there.
bool usableFolderFor(const std::string& fileName, std::string* message);

// --- resume.cpp: the shard log's second line, "orvalix-batch: digest HEX", of the settings and
// format and, for the Kaldi archives, the shard's keys in order with their sources.
std::string digestLine(const UtteranceList& list, ShardRange range, const BatchSettings& settings);
// The log begins with header and names no failure: the shard's archives are complete.
bool finishedShard(const std::string& logName, const std::string& header);
// The log's second line is digest: per-utterance files on disk were made with these settings.
bool sameDigest(const std::string& logName, const std::string& digest);

// --- progress.cpp: the terminal progress line and the closing summary.
struct Tally {
    size_t total = 0;
    size_t done = 0;
    size_t skipped = 0;
    std::vector<std::pair<std::string, std::string>> failures;  // key, message, in list order
    std::vector<std::pair<std::string, std::string>> warnings;  // key, message: analysed all the same
    std::string outputFailure;  // the shard's archive or script could not be written
};
void showProgress(size_t finished, size_t total, double elapsedSeconds, bool final);
std::string failureLog(const Tally& tally);

// --- batch_run.cpp: the analysis of a shard's utterances on threads, into the outputs.
struct BatchSettings {
    OrvalixSettings analysis = orvalix_default_settings();
    OutputFormat format = OutputFormat::Text;
    std::string outputFolder;
    std::string arkName;
    std::string scpName;
    int threads = 1;
    bool overwrite = false;
    bool progress = false;
    FrontEnd frontEnd;
    std::string vadArkName;  // with --vad-labels in the Kaldi format
    std::string vadScpName;
    bool trustExisting = false;  // files on disk were written with these settings: skip them
    int32_t channel = ORVALIX_MIX_CHANNELS;  // --channel N: one channel of every recording
    int32_t rate = ORVALIX_KEEP_RATE;        // --rate R: every recording resampled to R Hz
};
Tally runBatch(const UtteranceList& list, ShardRange range, const BatchSettings& settings);
