// Shared by the DDDMP codec tests: the golden samples written by the reference library
// (with their JSON sidecars, read by a minimal JSON reader), truth tables of BDDs, and
// in-memory streams.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bdd/engine.h"
#include "tests/support/run.h"

namespace dddmptest {

// ---- minimal JSON ----
struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> fields;

    bool has(const std::string& key) const { return kind == Object && fields.count(key) && !fields.at(key).isNull(); }
    bool isNull() const { return kind == Null; }
    const Json& operator[](const std::string& key) const {
        static const Json none;
        auto it = fields.find(key);
        return it == fields.end() ? none : it->second;
    }
    const Json& operator[](std::size_t i) const { return items.at(i); }
    std::size_t size() const { return items.size(); }
    int integer() const { return static_cast<int>(number); }
    std::vector<int> ints() const {
        std::vector<int> out;
        for (const Json& j : items) out.push_back(j.integer());
        return out;
    }
    std::vector<std::string> strings() const {
        std::vector<std::string> out;
        for (const Json& j : items) out.push_back(j.text);
        return out;
    }
};

class JsonReader {
  public:
    explicit JsonReader(const std::string& s) : s_(s) {}
    Json value() {
        skip();
        Json j;
        char c = at();
        if (c == '{') {
            j.kind = Json::Object;
            ++i_;
            skip();
            if (at() == '}') return ++i_, j;
            for (;;) {
                skip();
                std::string key = string();
                skip();
                ++i_;  // ':'
                j.fields[key] = value();
                skip();
                if (at() == ',') { ++i_; continue; }
                ++i_;  // '}'
                return j;
            }
        }
        if (c == '[') {
            j.kind = Json::Array;
            ++i_;
            skip();
            if (at() == ']') return ++i_, j;
            for (;;) {
                j.items.push_back(value());
                skip();
                if (at() == ',') { ++i_; continue; }
                ++i_;  // ']'
                return j;
            }
        }
        if (c == '"') {
            j.kind = Json::String;
            j.text = string();
            return j;
        }
        if (s_.compare(i_, 4, "true") == 0) { i_ += 4; j.kind = Json::Bool; j.boolean = true; return j; }
        if (s_.compare(i_, 5, "false") == 0) { i_ += 5; j.kind = Json::Bool; return j; }
        if (s_.compare(i_, 4, "null") == 0) { i_ += 4; return j; }
        j.kind = Json::Number;
        char* end = nullptr;
        j.number = std::strtod(s_.c_str() + i_, &end);
        i_ = static_cast<std::size_t>(end - s_.c_str());
        return j;
    }

  private:
    char at() const { return i_ < s_.size() ? s_[i_] : '\0'; }
    void skip() { while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_; }
    std::string string() {
        std::string out;
        ++i_;  // '"'
        while (i_ < s_.size() && s_[i_] != '"') {
            if (s_[i_] == '\\' && i_ + 1 < s_.size()) {
                ++i_;
                char e = s_[i_];
                out.push_back(e == 'n' ? '\n' : e == 't' ? '\t' : e);
            } else {
                out.push_back(s_[i_]);
            }
            ++i_;
        }
        ++i_;
        return out;
    }
    const std::string& s_;
    std::size_t i_ = 0;
};

inline Json readJson(const std::string& path) {
    std::string text = testsupport::readFile(path);
    return JsonReader(text).value();
}

// ---- samples ----
inline std::string samplesDir() { return testsupport::dataDir() + "/dddmp/samples/"; }

// Sample file names (no directory) ending in `suffix`, sorted.
inline std::vector<std::string> samples(const std::string& suffix) {
    std::vector<std::string> out;
    if (DIR* d = opendir(samplesDir().c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                out.push_back(name);
        }
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

inline std::string sidecarOf(const std::string& file) {
    return samplesDir() + file.substr(0, file.rfind('.')) + ".json";
}

// ---- truth tables (character m: variable index i has the value of bit i of m) ----
inline bdd::Bdd fromTruthTable(const std::string& table, int nvars) {
    std::vector<bdd::Bdd> level;
    for (char c : table) level.push_back(c == '1' ? bdd::one() : bdd::zero());
    for (int v = nvars - 1; v >= 0; --v) {
        bdd::Bdd x = bdd::ithVar(v);
        std::size_t half = level.size() / 2;
        std::vector<bdd::Bdd> next;
        for (std::size_t m = 0; m < half; ++m) next.push_back(bdd::ite(x, level[m + half], level[m]));
        level.swap(next);
    }
    return level.at(0);
}

inline bool evaluate(bdd::Bdd f, unsigned long assignment) {
    while (!f.isConstant()) f = (assignment >> f.var()) & 1 ? f.high() : f.low();
    return f.isOne();
}

inline std::string truthTable(const bdd::Bdd& f, int nvars) {
    std::string out;
    for (unsigned long m = 0; m < (1ul << nvars); ++m) out.push_back(evaluate(f, m) ? '1' : '0');
    return out;
}

// ---- streams ----
struct FileCloser {
    void operator()(std::FILE* fp) const { if (fp) std::fclose(fp); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

inline File openRead(const std::string& path) { return File(std::fopen(path.c_str(), "rb")); }

// Everything written to a scratch stream, from its start.
inline std::string contents(std::FILE* fp) {
    std::fflush(fp);
    long end = std::ftell(fp);
    std::string out(static_cast<std::size_t>(end), '\0');
    std::rewind(fp);
    std::size_t got = std::fread(out.data(), 1, out.size(), fp);
    out.resize(got);
    std::fseek(fp, 0, SEEK_END);
    return out;
}

// A scratch stream holding these bytes, positioned at its start.
inline File streamOf(const std::string& bytes) {
    File fp(std::tmpfile());
    std::fwrite(bytes.data(), 1, bytes.size(), fp.get());
    std::rewind(fp.get());
    return fp;
}

}  // namespace dddmptest
