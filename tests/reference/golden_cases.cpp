#include "reference/golden_cases.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

namespace literal {

namespace {

// Just enough JSON for cases.json: objects, arrays, strings, numbers, literals.
struct Json {
    enum Kind { NUL, BOOL, NUMBER, STRING, ARRAY, OBJECT } kind = NUL;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> fields;

    const Json* field(const std::string& name) const {
        auto found = fields.find(name);
        return found == fields.end() ? nullptr : &found->second;
    }
};

struct Parser {
    const std::string& in;
    size_t at = 0;
    bool failed = false;

    void skipBlanks() {
        while (at < in.size() && std::isspace(static_cast<unsigned char>(in[at]))) at++;
    }
    bool take(char c) {
        skipBlanks();
        if (at < in.size() && in[at] == c) { at++; return true; }
        return false;
    }
    std::string parseString() {
        std::string s;
        if (!take('"')) { failed = true; return s; }
        while (at < in.size() && in[at] != '"') {
            char c = in[at++];
            if (c == '\\' && at < in.size()) {
                char e = in[at++];
                if (e == 'n') s += '\n';
                else if (e == 't') s += '\t';
                else if (e == 'u' && at + 4 <= in.size()) {
                    s += static_cast<char>(std::strtol(in.substr(at, 4).c_str(), nullptr, 16));
                    at += 4;
                } else s += e;
            } else {
                s += c;
            }
        }
        if (at >= in.size()) failed = true;
        at++;
        return s;
    }
    Json parseValue() {
        Json v;
        skipBlanks();
        if (at >= in.size()) { failed = true; return v; }
        char c = in[at];
        if (c == '{') {
            at++;
            v.kind = Json::OBJECT;
            if (take('}')) return v;
            do {
                std::string name = parseString();
                if (!take(':')) { failed = true; return v; }
                v.fields[name] = parseValue();
            } while (!failed && take(','));
            if (!take('}')) failed = true;
        } else if (c == '[') {
            at++;
            v.kind = Json::ARRAY;
            if (take(']')) return v;
            do v.items.push_back(parseValue()); while (!failed && take(','));
            if (!take(']')) failed = true;
        } else if (c == '"') {
            v.kind = Json::STRING;
            v.text = parseString();
        } else if (in.compare(at, 4, "true") == 0 || in.compare(at, 5, "false") == 0) {
            v.kind = Json::BOOL;
            v.number = (c == 't') ? 1 : 0;
            at += (c == 't') ? 4 : 5;
        } else if (in.compare(at, 4, "null") == 0) {
            at += 4;
        } else {
            char* end = nullptr;
            v.kind = Json::NUMBER;
            v.number = std::strtod(in.c_str() + at, &end);
            if (end == in.c_str() + at) failed = true;
            at = static_cast<size_t>(end - in.c_str());
        }
        return v;
    }
};

std::string blobPath(const std::string& corpus, const Json* blobHolder) {
    if (blobHolder == nullptr) return "";
    const Json* blob = blobHolder->field("blob");
    return blob == nullptr ? "" : corpus + "/blobs/" + blob->text;
}

}  // namespace

std::string readWholeFile(const std::string& path, bool& ok) {
    std::ifstream file(path, std::ios::binary);
    ok = static_cast<bool>(file);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

bool loadGoldenCases(const std::string& corpus, std::vector<GoldenCase>& cases) {
    bool ok = false;
    std::string text = readWholeFile(corpus + "/cases.json", ok);
    if (!ok) return false;
    Parser parser{text};
    Json root = parser.parseValue();
    const Json* list = root.field("cases");
    if (parser.failed || list == nullptr) return false;

    for (const Json& entry : list->items) {
        GoldenCase c;
        const Json* id = entry.field("id");
        const Json* argv = entry.field("argv");
        const Json* files = entry.field("files");
        const Json* expect = entry.field("expect");
        if (id == nullptr || argv == nullptr || files == nullptr || expect == nullptr) return false;
        c.id = id->text;
        for (const Json& arg : argv->items) c.argv.push_back(arg.text);
        for (const Json& file : files->items) {
            const Json* name = file.field("name");
            const Json* src = file.field("src");
            if (name != nullptr && src != nullptr && name->text == "in.wav") c.inputPath = corpus + "/" + src->text;
        }
        const Json* status = expect->field("status");
        c.status = status == nullptr ? 0 : static_cast<int>(status->number);
        c.stderrPath = blobPath(corpus, expect->field("stderr"));
        const Json* expectedFiles = expect->field("files");
        if (expectedFiles != nullptr) c.outputPath = blobPath(corpus, expectedFiles->field("out.txt"));
        cases.push_back(c);
    }
    return true;
}

}  // namespace literal
