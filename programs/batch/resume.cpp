// What lets a rerun skip work: a digest of everything that decides the bytes a run writes, kept
// in the shard's log. Outputs of a run with another digest are redone, never mixed with new ones.
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "programs/batch/batch.h"

namespace {

// FNV-1a, 64 bits: a change of list, settings or format is told apart, not an attacker.
std::string digestOf(const std::string& text) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    char hex[17];
    snprintf(hex, sizeof hex, "%016" PRIx64, hash);
    return hex;
}

// Every setting that changes a written byte, in a fixed order (-O changes none).
std::string settingsText(const BatchSettings& settings) {
    const OrvalixSettings& a = settings.analysis;
    const FrontEnd& f = settings.frontEnd;
    const OrvalixCmvnSettings& c = f.cmvnSettings;
    std::ostringstream text;
    text << "format " << formatExtension(settings.format) << "\nanalysis " << a.windowLengthMs << ' '
         << a.windowShiftMs << ' ' << a.melFilterCount << ' ' << a.includeC0 << ' ' << a.removeDcOffset << ' '
         << a.powerOfTwoBelow << ' ' << a.cepstralCount << ' ' << a.windowType << ' ' << a.lifterType << ' '
         << a.filterDomain << ' ' << std::hexfloat << a.preEmphasis << std::defaultfloat << "\nfront end "
         << f.filterbank << ' ' << f.deltaOrder << ' ' << f.deltaWindow << ' ' << f.cmvn << ' ' << c.mode << ' '
         << c.normaliseVariance << ' ' << c.window << ' ' << c.minWindow << ' ' << c.centred << ' ' << f.vadLabels
         << ' ' << f.voicedOnly << "\n";
    // Only when asked for, so that the logs of runs without them stay valid.
    if (settings.channel != ORVALIX_MIX_CHANNELS || settings.rate != ORVALIX_KEEP_RATE)
        text << "audio " << settings.channel << ' ' << settings.rate << "\n";
    return text.str();
}

std::string readLog(const std::string& name) {
    std::ifstream log(name, std::ios::binary);
    std::stringstream text;
    text << log.rdbuf();
    return log ? text.str() : "";
}

}  // namespace

std::string digestLine(const UtteranceList& list, ShardRange range, const BatchSettings& settings) {
    std::ostringstream text;
    text << settingsText(settings);
    if (settings.format == OutputFormat::Kaldi) {
        // The archives' contents and the scripts' lines: keys in order, their sources, the paths.
        text << absolutePath(settings.arkName) << '\n' << absolutePath(settings.scpName) << '\n';
        if (settings.frontEnd.vadLabels)
            text << absolutePath(settings.vadArkName) << '\n' << absolutePath(settings.vadScpName) << '\n';
        for (size_t i = range.begin; i < range.end; i++) {
            const Utterance& u = list.utterances[i];
            text << u.key.size() << ' ' << u.key << ' ' << std::hexfloat << u.startSeconds << ' ' << u.endSeconds
                 << std::defaultfloat << ' ' << u.isSegment << ' ';
            if (u.recording >= 0) {
                const Recording& r = list.recordings[u.recording];
                text << r.isCommand << ' ' << r.source.size() << ' ' << r.source;
            }
            text << '\n';
        }
    }
    return "orvalix-batch: digest " + digestOf(text.str()) + "\n";
}

bool finishedShard(const std::string& logName, const std::string& header) {
    const std::string log = readLog(logName);
    return log.rfind(header, 0) == 0 && log.find("\nfailed: ") == std::string::npos;
}

bool sameDigest(const std::string& logName, const std::string& digest) {
    const std::string log = readLog(logName);
    const size_t newline = log.find('\n');
    return newline != std::string::npos && log.compare(newline + 1, digest.size(), digest) == 0;
}
