// The utterances of a run: every audio file below a folder, or the entries of a wav.scp list,
// optionally cut into utterances by a segments file.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include "programs/batch/batch.h"

namespace {

const char* const LIST_FORM = "INPUT is a folder or a text list of 'key path' or 'key command |' lines";
const char* const SEGMENTS_FORM = "--segments names a text file of 'utterance recording start end' lines";

// The audio files a folder run picks up, by extension (any case).
const char* const AUDIO_EXTENSIONS[] = {"wav", "flac", "mp3", "opus", "ogg", "aiff", "aif", "caf", "w64"};

// The length of name's audio extension with its dot, or 0 when it has none.
size_t audioExtensionLength(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return 0;
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (const char* known : AUDIO_EXTENSIONS)
        if (extension == known) return name.size() - dot;
    return 0;
}

// A name found below the folder: an audio file, or something that cannot be read (a link that
// leads nowhere or loops, an unreadable folder) and must fail rather than vanish from the run.
struct FoundName {
    std::string relative;
    std::string fault;
    bool operator<(const FoundName& other) const { return relative < other.relative; }
};

// Relative names of the audio files (AUDIO_EXTENSIONS, any case) below folder, following links to files as
// orvalix-corpus does. Only the top folder being unreadable stops the walk.
bool walkFolder(const std::string& root, const std::string& relative, std::vector<FoundName>* found,
                std::string* message) {
    const std::string path = relative.empty() ? root : root + "/" + relative;
    DIR* dir = opendir(path.c_str());
    if (!dir) {
        if (!relative.empty()) {
            found->push_back({relative + "/", std::string("cannot be read: ") + strerror(errno)});
            return true;
        }
        *message = "cannot read the folder " + path + ": " + strerror(errno);
        return false;
    }
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
    }
    closedir(dir);
    for (const std::string& name : names) {
        const std::string child = relative.empty() ? name : relative + "/" + name;
        struct stat status;
        if (stat((root + "/" + child).c_str(), &status) != 0) {
            if (audioExtensionLength(name) > 0) found->push_back({child, std::string("cannot be read: ") + strerror(errno)});
        } else if (S_ISDIR(status.st_mode)) {
            struct stat own;
            // Links to folders are not followed: they could loop.
            if (lstat((root + "/" + child).c_str(), &own) == 0 && S_ISDIR(own.st_mode))
                walkFolder(root, child, found, message);
        } else if (S_ISREG(status.st_mode) && audioExtensionLength(name) > 0) {
            found->push_back({child, ""});
        }
    }
    return true;
}

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A key names an output file below the output folder: it must stay below it.
std::string keyFault(const std::string& key) {
    if (key.empty() || key[0] == '/') return "the key cannot name an output file below the output folder";
    size_t start = 0;
    while (start <= key.size()) {
        size_t slash = key.find('/', start);
        if (slash == std::string::npos) slash = key.size();
        std::string part = key.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..")
            return "the key cannot name an output file below the output folder";
        start = slash + 1;
    }
    return "";
}

bool parseSeconds(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    *value = strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(*value);
}

bool readWholeFile(const std::string& name, std::string* text, std::string* message) {
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        *message = "cannot read " + name + ": " + strerror(errno);
        return false;
    }
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *message = "cannot read " + name;
        return false;
    }
    return true;
}

// The lines of a file as (first word, rest of the line) pairs; blank lines are left out.
bool readKeyedLines(const std::string& text, const std::string& name, const std::string& form,
                    std::vector<std::pair<std::string, std::string>>* lines, std::string* message) {
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        *message = name + " begins with a byte-order mark: save it as plain UTF-8 without one";
        return false;
    }
    if (text.rfind("RIFF", 0) == 0) {
        *message = name + " is a wave file, not a list: " + form;
        return false;
    }
    size_t nul = text.find('\0');
    if (nul != std::string::npos) {
        const long line = 1 + std::count(text.begin(), text.begin() + static_cast<long>(nul), '\n');
        *message = name + " holds a NUL byte on line " + std::to_string(line) + ": " + form;
        return false;
    }
    for (size_t start = 0; start < text.size();) {
        size_t newline = text.find('\n', start);
        if (newline == std::string::npos) newline = text.size();
        const std::string line = trimmed(text.substr(start, newline - start));
        start = newline + 1;
        if (line.empty()) continue;
        size_t space = line.find_first_of(" \t");
        if (space == std::string::npos) {
            lines->emplace_back(line, "");
        } else {
            lines->emplace_back(line.substr(0, space), trimmed(line.substr(space)));
        }
    }
    return true;
}

}  // namespace

bool readFolderTree(const std::string& folder, UtteranceList* list, std::string* message) {
    std::vector<FoundName> names;
    if (!walkFolder(folder, "", &names, message)) return false;
    std::sort(names.begin(), names.end());  // byte order: the same list on every machine
    std::set<std::string> stems;
    for (const FoundName& name : names) {
        Utterance utterance;
        const bool readable = name.fault.empty();
        utterance.outputStem = readable ? name.relative.substr(0, name.relative.size() - audioExtensionLength(name.relative))
                                        : name.relative;
        utterance.key = utterance.outputStem;
        if (!readable) {
            utterance.listError = name.fault;
        } else if (!stems.insert(utterance.outputStem).second) {
            utterance.listError = "same output as another input: " + name.relative;
        } else {
            utterance.recording = static_cast<int>(list->recordings.size());
            list->recordings.push_back({utterance.key, folder + "/" + name.relative, false});
        }
        list->utterances.push_back(utterance);
    }
    return true;
}

bool parseScpList(const std::string& listText, const std::string& listName, const std::string* segmentsText,
                  const std::string& segmentsName, UtteranceList* list, std::string* message) {
    std::vector<std::pair<std::string, std::string>> entries;
    if (!readKeyedLines(listText, listName, LIST_FORM, &entries, message)) return false;
    std::map<std::string, int> recordingIndex;
    std::vector<std::string> recordingFaults;
    for (const auto& [key, value] : entries) {
        std::string fault;
        Recording recording{key, value, false};
        if (!value.empty() && value.back() == '|') {
            recording.isCommand = true;
            recording.source = trimmed(value.substr(0, value.size() - 1));
        }
        if (recording.source.empty()) fault = "no file name or command after the key";
        auto first = recordingIndex.find(key);
        if (first != recordingIndex.end()) {
            fault = "the key appears twice in " + listName;
            // Segments cannot tell which of the two recordings they mean: neither is used.
            if (segmentsText) recordingFaults[first->second] = "recording " + key + " appears twice in " + listName;
        }
        if (fault.empty()) recordingIndex[key] = static_cast<int>(list->recordings.size());
        list->recordings.push_back(recording);
        recordingFaults.push_back(fault);
    }
    if (!segmentsText) {
        for (size_t i = 0; i < entries.size(); i++) {
            Utterance utterance;
            utterance.key = utterance.outputStem = entries[i].first;
            utterance.listError = recordingFaults[i].empty() ? keyFault(utterance.key) : recordingFaults[i];
            if (utterance.listError.empty()) utterance.recording = static_cast<int>(i);
            list->utterances.push_back(utterance);
        }
        return true;
    }
    std::vector<std::pair<std::string, std::string>> segments;
    if (!readKeyedLines(*segmentsText, segmentsName, SEGMENTS_FORM, &segments, message)) return false;
    std::set<std::string> keys;
    for (const auto& [key, rest] : segments) {
        Utterance utterance;
        utterance.key = utterance.outputStem = key;
        utterance.isSegment = true;
        char recording[4096] = "", start[256] = "", end[256] = "", extra[2] = "";
        int fields = rest.size() < 4000 ? sscanf(rest.c_str(), "%4095s %255s %255s %1s", recording, start, end, extra) : 0;
        auto found = recordingIndex.find(recording);
        if (fields != 3 || !parseSeconds(start, &utterance.startSeconds) ||
            !parseSeconds(end, &utterance.endSeconds)) {
            utterance.listError = "a segment line is 'utterance recording start end' (seconds)";
        } else if (found == recordingIndex.end()) {
            utterance.listError = std::string("recording ") + recording + " is not in " + listName;
        } else if (!recordingFaults[found->second].empty()) {
            utterance.listError = recordingFaults[found->second];
        } else if (utterance.startSeconds < 0 ||
                   (utterance.endSeconds >= 0 && utterance.endSeconds < utterance.startSeconds) ||
                   (utterance.endSeconds < 0 && utterance.endSeconds != -1)) {
            utterance.listError = "the segment's start and end are not 0 <= start <= end (or end -1)";
        } else if (!keys.insert(key).second) {
            utterance.listError = "the key appears twice in " + segmentsName;
        } else {
            utterance.listError = keyFault(key);
        }
        if (utterance.listError.empty()) utterance.recording = found->second;
        list->utterances.push_back(utterance);
    }
    return true;
}

bool readScpList(const std::string& listName, const std::string& segmentsName, UtteranceList* list,
                 std::string* message) {
    std::string listText, segmentsText;
    if (!readWholeFile(listName, &listText, message)) return false;
    if (!segmentsName.empty() && !readWholeFile(segmentsName, &segmentsText, message)) return false;
    return parseScpList(listText, listName, segmentsName.empty() ? nullptr : &segmentsText, segmentsName, list,
                        message);
}
