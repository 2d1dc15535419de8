// Loading one DDDMP-2.0 dump from an open stream, text or binary, with variables
// matched by ids and roots returned in file order.
//
// The header is read token by token like the reference loader: keys in any order
// (counts before their lists), matched by prefix, '#' comments to the end of the
// line, unknown keys accepted when they have no argument. Text node lines carry four
// or five fields whatever .varinfo says: the reference writer puts four-field lines
// under ".varinfo 2" and ".varinfo 3" when the aux ids or names are missing, so the
// field count decides. Every count is checked against the bytes left in the file
// before anything is allocated for it, and nothing is read past the line that holds
// ".end", so that dumps embedded in other files or following each other load in turn.
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "bdd/dddmp.h"
#include "bdd/dddmp_io.h"

namespace dddmp {

namespace {

// Far above any certificate, below the engine's own limit on variables.
constexpr long kMaxVars = 2000000;

class Loader {
  public:
    Loader(std::FILE* fp, char mode, long fileSize, LoadOrder order)
        : fp_(fp), wantMode_(mode), givenSize_(fileSize), order_(order) {}
    LoadResult run();

  private:
    // ---- bytes and tokens ----
    int get() { return getc_unlocked(fp_); }
    static bool space(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
    void skipLine(int c) {
        while (c != '\n' && c != EOF) c = get();
    }
    // The next header token; comments ('#' to the end of the line) are skipped. The
    // character that ended the token is kept in last_. False at end of file.
    bool token(std::string& out);
    bool fail(std::string text) {
        if (error_.empty()) error_ = std::move(text);
        return false;
    }
    bool number(const std::string& tok, const char* what, long* value);
    bool readCount(const char* key, long limitPerByte, long* count);
    bool readNumbers(const char* key, long count, std::vector<int>* values);
    bool skipWords(const char* key, long count);
    long bytesLeft() const;

    bool header();
    bool textNodes();
    bool binaryNodes();
    bool endLine();
    std::vector<bdd::Bdd> build();

    std::FILE* fp_;
    char wantMode_;
    int last_ = 0;
    std::string pushed_;
    bool havePushed_ = false;
    std::string error_;

    // Header.
    char mode_ = 0;
    long nnodes_ = -1, nvars_ = -1, nsupp_ = -1, nroots_ = -1;
    std::vector<int> ids_, permids_, rootIds_;
    bool haveIds_ = false, havePermids_ = false, haveRootIds_ = false;
    long fileSize_ = -1;
    long givenSize_ = -1;  // the size of what the stream reads, when it is no plain file
    LoadOrder order_;

    // Records, by node number (slot 0 unused): support position (nsupp_ for a
    // constant), then and else children with their complement as the sign.
    std::vector<int> pos_, then_, else_;
};

long Loader::bytesLeft() const {
    if (fileSize_ < 0) return -1;
    long at = std::ftell(fp_);
    return at < 0 || at > fileSize_ ? -1 : fileSize_ - at;
}

bool Loader::token(std::string& out) {
    if (havePushed_) {
        havePushed_ = false;
        out.swap(pushed_);
        return true;
    }
    out.clear();
    int c = get();
    for (;;) {
        while (space(c)) c = get();
        if (c == '#') {
            skipLine(c);
            c = get();
            continue;
        }
        break;
    }
    if (c == EOF) return false;
    while (c != EOF && !space(c)) {
        if (out.size() < 4096) out.push_back(static_cast<char>(c));
        c = get();
    }
    last_ = c;
    return true;
}

bool Loader::number(const std::string& tok, const char* what, long* value) {
    const char* s = tok.c_str();
    bool neg = *s == '-';
    if (neg || *s == '+') ++s;
    if (!*s) return fail(std::string("bad number \"") + tok + "\" in " + what);
    long v = 0;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9') return fail(std::string("bad number \"") + tok + "\" in " + what);
        v = v * 10 + (*s - '0');
        if (v > INT_MAX) return fail(std::string("number out of range \"") + tok + "\" in " + what);
    }
    *value = neg ? -v : v;
    return true;
}

// A count, which must be non-negative and, when the file size is known, leave room
// for bytesPerItem bytes per item in the rest of the file.
bool Loader::readCount(const char* key, long bytesPerItem, long* count) {
    std::string tok;
    if (!token(tok)) return fail(std::string("truncated header: no value for ") + key);
    if (!number(tok, key, count)) return false;
    if (*count < 0) return fail(std::string("negative ") + key + " " + tok);
    long left = bytesLeft();
    if (bytesPerItem > 0 && left >= 0 && *count > left / bytesPerItem)
        return fail(std::string(key) + " " + tok + " is more than the rest of the file can hold");
    return true;
}

bool Loader::readNumbers(const char* key, long count, std::vector<int>* values) {
    values->clear();
    values->reserve(static_cast<std::size_t>(std::min(count, 1L << 16)));
    std::string tok;
    for (long i = 0; i < count; ++i) {
        long v = 0;
        if (!token(tok)) return fail(std::string("truncated header in ") + key);
        if (!number(tok, key, &v)) return false;
        values->push_back(static_cast<int>(v));
    }
    return true;
}

bool Loader::skipWords(const char* key, long count) {
    std::string tok;
    for (long i = 0; i < count; ++i)
        if (!token(tok)) return fail(std::string("truncated header in ") + key);
    return true;
}

bool Loader::header() {
    struct stat st;
    if (givenSize_ >= 0)
        fileSize_ = givenSize_;
    else if (fstat(fileno(fp_), &st) == 0 && S_ISREG(st.st_mode))
        fileSize_ = static_cast<long>(st.st_size);
    std::string tok;
    if (!token(tok)) return fail("no dump: end of file");
    bool first = true;
    for (;; first = false) {
        if (!first && !token(tok)) return fail("truncated header: no .nodes line");
        auto is = [&](const char* key) { return tok.compare(0, std::strlen(key), key) == 0; };
        if (tok.empty() || tok[0] != '.') return fail("header line must begin with '.' or '#': \"" + tok + "\"");
        if (is(".nodes")) {
            if (last_ != '\n') skipLine(last_);
            return true;
        }
        std::string value;
        if (is(".ver")) {
            if (!token(value)) return fail("truncated header in .ver");
            if (value != "DDDMP-2.0") return fail("unsupported version \"" + value + "\"");
        } else if (is(".mode")) {
            if (!token(value)) return fail("truncated header in .mode");
            if (value != "A" && value != "B") return fail("bad .mode \"" + value + "\"");
            mode_ = value[0];
        } else if (is(".varinfo")) {
            long v = 0;
            if (!token(value) || !number(value, ".varinfo", &v)) return fail("bad .varinfo");
        } else if (is(".dd")) {
            if (!token(value)) return fail("truncated header in .dd");
        } else if (is(".nnodes")) {
            if (!readCount(".nnodes", 0, &nnodes_)) return false;
        } else if (is(".nvars")) {
            if (!readCount(".nvars", 0, &nvars_)) return false;
            if (nvars_ > kMaxVars) return fail(".nvars " + std::to_string(nvars_) + " is too large");
        } else if (is(".nsuppvars")) {
            if (!readCount(".nsuppvars", 2, &nsupp_)) return false;
        } else if (is(".suppvarnames")) {
            if (nsupp_ < 0) return fail(".suppvarnames before .nsuppvars");
            if (!skipWords(".suppvarnames", nsupp_)) return false;
        } else if (is(".orderedvarnames")) {
            if (nvars_ < 0) return fail(".orderedvarnames before .nvars");
            if (!skipWords(".orderedvarnames", nvars_)) return false;
        } else if (is(".ids")) {
            if (nsupp_ < 0) return fail(".ids before .nsuppvars");
            if (!readNumbers(".ids", nsupp_, &ids_)) return false;
            haveIds_ = true;
        } else if (is(".permids")) {
            if (nsupp_ < 0) return fail(".permids before .nsuppvars");
            if (!readNumbers(".permids", nsupp_, &permids_)) return false;
            havePermids_ = true;
        } else if (is(".auxids")) {
            if (nsupp_ < 0) return fail(".auxids before .nsuppvars");
            if (!skipWords(".auxids", nsupp_)) return false;
        } else if (is(".nroots")) {
            if (!readCount(".nroots", 2, &nroots_)) return false;
        } else if (is(".rootnames")) {
            if (nroots_ < 0) return fail(".rootnames before .nroots");
            if (!skipWords(".rootnames", nroots_)) return false;
        } else if (is(".rootids")) {
            if (nroots_ < 0) return fail(".rootids before .nroots");
            if (!readNumbers(".rootids", nroots_, &rootIds_)) return false;
            haveRootIds_ = true;
        } else if (is(".end")) {
            return fail("\".end\" before .nodes");
        } else {
            // An unknown key is fine as long as it has no argument.
            if (!token(value)) return fail("truncated header: no .nodes line");
            if (value.empty() || value[0] != '.') return fail("unknown key \"" + tok + "\" with an argument");
            pushed_.swap(value);
            havePushed_ = true;
        }
    }
}

// One node line: "N POS T E" or "N EXTRA POS T E". Blank lines are skipped.
bool Loader::textNodes() {
    constexpr int kMaxFields = 6, kFieldLen = 24;
    char fields[kMaxFields][kFieldLen];
    int lens[kMaxFields];
    for (long i = 1; i <= nnodes_; ++i) {
        int n = 0;
        int c = get();
        while (space(c)) c = get();
        if (c == EOF) return fail("truncated node section: " + std::to_string(i - 1) + " of " +
                                  std::to_string(nnodes_) + " nodes");
        while (c != '\n' && c != EOF) {
            if (space(c)) {
                c = get();
                continue;
            }
            if (n == kMaxFields) return fail("node line " + std::to_string(i) + " has too many fields");
            int len = 0;
            while (c != EOF && !space(c)) {
                if (len < kFieldLen - 1) fields[n][len] = static_cast<char>(c);
                ++len;
                c = get();
            }
            fields[n][std::min(len, kFieldLen - 1)] = '\0';
            lens[n++] = len;
        }
        if (n != 4 && n != 5) return fail("node line " + std::to_string(i) + " has " + std::to_string(n) + " fields");
        int at = n == 5 ? 2 : 1;
        long value[4];
        const int which[4] = {0, at, at + 1, at + 2};
        for (int f = 0; f < 4; ++f) {
            const char* s = fields[which[f]];
            if (lens[which[f]] >= kFieldLen - 1) return fail("node line " + std::to_string(i) + ": field too long");
            if (!number(s, "a node line", &value[f])) return false;
        }
        if (value[0] != i) return fail("node line " + std::to_string(i) + " has number " + std::to_string(value[0]));
        long p = value[1], t = value[2], e = value[3];
        if (t == 0 && e == 0) {  // the constant
            pos_.push_back(static_cast<int>(nsupp_));
        } else {
            if (p < 0 || p >= nsupp_)
                return fail("node " + std::to_string(i) + ": variable position " + std::to_string(p) +
                            " outside the support of " + std::to_string(nsupp_));
            if (t == 0 || e == 0 || t >= i || -t >= i || e >= i || -e >= i)
                return fail("node " + std::to_string(i) + " refers to a node not defined before it");
            pos_.push_back(static_cast<int>(p));
        }
        then_.push_back(static_cast<int>(t));
        else_.push_back(static_cast<int>(e));
    }
    return true;
}

bool Loader::binaryNodes() {
    enum { Terminal = 0, Absolute = 1, Relative = 2, Relative1 = 3 };
    auto escaped = [&]() -> int {
        int c = get();
        if (c != 0) return c == EOF ? -2 : c;
        c = get();
        return c == EOF ? -2 : detail::unescape(c);
    };
    auto integer = [&](long i, int* value) -> bool {
        int v = 0;
        for (int b = 0; b < 4; ++b) {
            int byte = escaped();
            if (byte == -2) return fail("truncated node section at record " + std::to_string(i));
            if (byte < 0) return fail("bad escape in record " + std::to_string(i));
            v = (v << 7) | (byte >> 1);
            if (!(byte & 1)) break;
        }
        *value = v;
        return true;
    };
    auto child = [&](long i, int code, int* node) -> bool {
        int v = 0;
        switch (code) {
            case Terminal: *node = 1; break;
            case Relative1: *node = static_cast<int>(i - 1); break;
            case Relative:
                if (!integer(i, &v)) return false;
                *node = static_cast<int>(i - v);
                break;
            default:
                if (!integer(i, &v)) return false;
                *node = v;
                break;
        }
        if (*node < 1 || *node >= i)
            return fail("record " + std::to_string(i) + " refers to a node not defined before it");
        return true;
    };
    for (long i = 1; i <= nnodes_; ++i) {
        int code = escaped();
        if (code == -2) return fail("truncated node section: " + std::to_string(i - 1) + " of " +
                                    std::to_string(nnodes_) + " records");
        if (code < 0) return fail("bad escape in record " + std::to_string(i));
        if (code & 0x80) return fail("binary code out of range in record " + std::to_string(i));
        int vCode = (code >> 5) & 3, tCode = (code >> 3) & 3, eCode = code & 3;
        if (vCode == Terminal) {
            if (code != 0) return fail("binary code out of range in record " + std::to_string(i));
            pos_.push_back(static_cast<int>(nsupp_));
            then_.push_back(0);
            else_.push_back(0);
            continue;
        }
        int varValue = 0, t = 0, e = 0;
        if ((vCode == Absolute || vCode == Relative) && !integer(i, &varValue)) return false;
        if (!child(i, tCode, &t) || !child(i, eCode, &e)) return false;
        long q = std::min(pos_[t], pos_[e]);
        long p = vCode == Absolute ? varValue : q - (vCode == Relative ? varValue : 1);
        if (p < 0 || p >= nsupp_)
            return fail("record " + std::to_string(i) + ": variable position " + std::to_string(p) +
                        " outside the support of " + std::to_string(nsupp_));
        pos_.push_back(static_cast<int>(p));
        then_.push_back(t);
        else_.push_back(code & 4 ? -e : e);
    }
    return true;
}

// ".end" and the rest of its line, newline included; in binary mode right after the
// last record, in text mode after white space.
bool Loader::endLine() {
    int c = get();
    if (mode_ == 'A')
        while (space(c)) c = get();
    const char* end = ".end";
    for (int k = 0; k < 4; ++k, c = get())
        if (c != end[k]) return fail(nnodes_ == 0 && k == 0 && c == EOF ? "truncated dump: no .end" : "no .end after the nodes");
    skipLine(c);
    return true;
}

std::vector<bdd::Bdd> Loader::build() {
    // Support position p is the variable whose .permids value has rank p.
    std::vector<int> order(static_cast<std::size_t>(nsupp_));
    for (long j = 0; j < nsupp_; ++j) order[j] = static_cast<int>(j);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return permids_[a] < permids_[b]; });
    bdd::Manager& manager = bdd::Manager::current();
    int maxId = -1;
    for (int id : ids_) maxId = std::max(maxId, id);
    manager.ensureVars(maxId + 1);
    std::vector<int> varIndex(static_cast<std::size_t>(nsupp_));
    for (long p = 0; p < nsupp_; ++p) {
        varIndex[p] = ids_[order[p]];
        bdd::ithVar(varIndex[p]);  // the variable exists from here on
    }
    bool inFileOrder = true;
    for (long p = 1; p < nsupp_ && inFileOrder; ++p)
        inFileOrder = manager.levelOf(varIndex[p - 1]) < manager.levelOf(varIndex[p]);
    if (order_ == LoadOrder::File && !inFileOrder && manager.size() <= bdd::Manager::kCheapOrderVariables) {
        // The support takes the levels it holds now, in the file's order; the rest stays.
        std::vector<int> levels;
        for (int index : varIndex) levels.push_back(manager.levelOf(index));
        std::sort(levels.begin(), levels.end());
        std::vector<int> levelToIndex(static_cast<std::size_t>(manager.size()));
        for (int level = 0; level < manager.size(); ++level) levelToIndex[level] = manager.indexAt(level);
        for (long p = 0; p < nsupp_; ++p) levelToIndex[levels[p]] = varIndex[p];
        manager.setOrder(levelToIndex);
    }

    // Which polarities of each node are needed: the engine has no complement edges,
    // so a node and its negation are separate functions, built only where used.
    long n = nnodes_;
    std::vector<unsigned char> need(static_cast<std::size_t>(n + 1), 0);
    for (int r : rootIds_) need[r < 0 ? -r : r] |= r < 0 ? 2 : 1;
    for (long i = n; i >= 1; --i) {
        if (!need[i] || (then_[i] == 0 && else_[i] == 0)) continue;
        for (int pol = 0; pol < 2; ++pol) {
            if (!(need[i] & (1 << pol))) continue;
            int t = then_[i], e = else_[i];
            need[t < 0 ? -t : t] |= 1 << (pol ^ (t < 0));
            need[e < 0 ? -e : e] |= 1 << (pol ^ (e < 0));
        }
    }
    std::vector<bdd::Bdd> plain(static_cast<std::size_t>(n + 1)), negated(static_cast<std::size_t>(n + 1));
    // The nodes are made directly, children first; the table is grown once for all.
    bdd::NodeBuilder builder;
    long building = 0;
    for (long i = 1; i <= n; ++i) building += (need[i] & 1) + ((need[i] >> 1) & 1);
    builder.reserve(building);
    auto value = [&](int ref, int pol) -> const bdd::Bdd& {
        int k = ref < 0 ? -ref : ref;
        return (pol ^ (ref < 0)) ? negated[k] : plain[k];
    };
    for (long i = 1; i <= n; ++i) {
        if (!need[i]) continue;
        if (then_[i] == 0 && else_[i] == 0) {
            if (need[i] & 1) plain[i] = bdd::one();
            if (need[i] & 2) negated[i] = bdd::zero();
            continue;
        }
        int index = varIndex[pos_[i]];
        if (need[i] & 1) plain[i] = builder.node(index, value(else_[i], 0), value(then_[i], 0));
        if (need[i] & 2) negated[i] = builder.node(index, value(else_[i], 1), value(then_[i], 1));
    }
    std::vector<bdd::Bdd> roots;
    roots.reserve(rootIds_.size());
    for (int r : rootIds_) roots.push_back(value(r, 0));
    return roots;
}

LoadResult Loader::run() {
    auto bad = [](std::string text) { return LoadResult(Status::failure(std::move(text))); };
    if (!header()) return bad(error_);
    if (!mode_) return bad("no .mode in the header");
    if ((wantMode_ == 'A' || wantMode_ == 'B') && wantMode_ != mode_)
        return bad(std::string("dump has .mode ") + mode_ + ", expected " + wantMode_);
    if (nnodes_ < 0) return bad("no .nnodes in the header");
    if (nvars_ < 0) return bad("no .nvars in the header");
    if (nsupp_ < 0) return bad("no .nsuppvars in the header");
    if (nroots_ < 0) return bad("no .nroots in the header");
    if (nsupp_ > 0 && !haveIds_) return bad("no .ids in the header");
    if (nsupp_ > 0 && !havePermids_) return bad("no .permids in the header");
    if (nroots_ > 0 && !haveRootIds_) return bad("no .rootids in the header");
    if (nsupp_ > nvars_) return bad(".nsuppvars is larger than .nvars");
    // A count given again after its list (keys match by prefix) must still fit the list.
    if (nsupp_ > 0 && (static_cast<long>(ids_.size()) != nsupp_ || static_cast<long>(permids_.size()) != nsupp_))
        return bad(".nsuppvars does not match the .ids and .permids lists");
    if (static_cast<long>(rootIds_.size()) != nroots_) return bad(".nroots does not match the .rootids list");
    {
        std::vector<char> seenId(static_cast<std::size_t>(nvars_), 0), seenPerm(static_cast<std::size_t>(nvars_), 0);
        for (long j = 0; j < nsupp_; ++j) {
            int id = ids_[j], perm = permids_[j];
            if (id < 0 || id >= nvars_ || seenId[id]) return bad(".ids value " + std::to_string(id) + " is out of range or repeated");
            if (perm < 0 || perm >= nvars_ || seenPerm[perm])
                return bad(".permids value " + std::to_string(perm) + " is out of range or repeated");
            seenId[id] = seenPerm[perm] = 1;
        }
    }
    for (int r : rootIds_)
        if (r == 0 || r > nnodes_ || -r > nnodes_) return bad(".rootids value " + std::to_string(r) + " is not a node");
    long left = bytesLeft();
    if (left >= 0 && nnodes_ > left / (mode_ == 'A' ? 8 : 1))
        return bad(".nnodes " + std::to_string(nnodes_) + " is more than the rest of the file can hold");
    pos_.reserve(static_cast<std::size_t>(left >= 0 ? nnodes_ + 1 : std::min(nnodes_ + 1, 1L << 16)));
    then_.reserve(pos_.capacity());
    else_.reserve(pos_.capacity());
    pos_.push_back(0);
    then_.push_back(0);
    else_.push_back(0);
    if (!(mode_ == 'A' ? textNodes() : binaryNodes()) || !endLine()) return bad(error_);
    return build();
}

}  // namespace

LoadResult loadArray(std::FILE* fp, char mode) { return loadArray(fp, mode, -1); }

LoadResult loadArray(std::FILE* fp, char mode, long streamSize) {
    return loadArray(fp, mode, streamSize, LoadOrder::Manager);
}

LoadResult loadArray(std::FILE* fp, char mode, long streamSize, LoadOrder order) {
    if (!fp) return Status::failure("no stream");
    Loader loader(fp, mode, streamSize, order);
    return loader.run();
}

}  // namespace dddmp
