// Fuzz target: orvalix-batch's wav.scp and segments readers. The input is the list's text, then
// (after a 0xFF byte, when there is one) the segments file's. Every utterance the readers accept
// must name a recording and an output below the output folder, with times a segment can have.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "programs/batch/batch.h"

namespace {

// The output name stays below the folder: relative, no NUL, no empty, "." or ".." component.
void checkStem(const std::string& stem) {
    if (stem.empty() || stem[0] == '/' || stem.find('\0') != std::string::npos) abort();
    for (size_t start = 0; start <= stem.size();) {
        size_t slash = stem.find('/', start);
        if (slash == std::string::npos) slash = stem.size();
        const std::string part = stem.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..") abort();
        start = slash + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\xff');
    const std::string listText = input.substr(0, split);
    const std::string segmentsText = split == std::string::npos ? "" : input.substr(split + 1);
    UtteranceList list;
    std::string message;
    if (!parseScpList(listText, "wav.scp", split == std::string::npos ? nullptr : &segmentsText, "segments", &list,
                      &message)) {
        if (message.empty()) abort();  // a refusal always says why
        return 0;
    }
    for (const Utterance& utterance : list.utterances) {
        if (!utterance.listError.empty()) continue;
        if (utterance.recording < 0 || static_cast<size_t>(utterance.recording) >= list.recordings.size()) abort();
        const Recording& recording = list.recordings[static_cast<size_t>(utterance.recording)];
        if (recording.source.empty() || recording.source.find('\0') != std::string::npos) abort();
        checkStem(utterance.outputStem);
        if (utterance.isSegment &&
            (!std::isfinite(utterance.startSeconds) || utterance.startSeconds < 0 ||
             !(utterance.endSeconds == -1 || utterance.endSeconds >= utterance.startSeconds)))
            abort();
    }
    return 0;
}
