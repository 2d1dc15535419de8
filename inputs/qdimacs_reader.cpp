// Streaming QDIMACS reader. The file comes in large blocks (plain: read(); gzip: the
// inflater's output) and is parsed in place a line at a time, the lines cut as zlib's
// gzgets cuts them; a gzip file whose data is not clean is read with gzgets itself from
// where the blocks stopped. A hand-written integer scanner, and a mark per known variable
// for deduplication and tautologies, cleared by walking the clause.
#include "inputs/qdimacs_reader.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "inputs/block_input.h"
#include "outcomes/outcome.h"

namespace qdimacs {

namespace {

std::size_t g_lineSize = 10000;
// Bytes asked of the file (or the inflater) at a time; 0: gzgets alone.
std::size_t g_blockBytes = 1 << 20;

// The blanks of the C locale's isspace.
constexpr std::array<bool, 256> kBlank = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : {' ', '\t', '\r', '\n', '\v', '\f'}) table[c] = true;
    return table;
}();

inline bool isBlank(char c) { return kBlank[static_cast<unsigned char>(c)]; }

enum class Token { End, Number, NotNumber };

// Reads the next blank-separated token at p as a decimal integer (optional sign).
// Values beyond the int range are reported as numbers too large for any formula
// (LONG_MAX), which the callers reject as out of range.
inline Token scan(const char*& p, long& value) {
    while (isBlank(*p)) ++p;
    if (*p == '\0') return Token::End;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    const char* digits = p;
    unsigned long v = 0;
    // Up to seven digits (every variable number of a real formula) are read eight bytes at
    // a time; the bytes after a line's terminator are readable (see LineReader).
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL, kThrees = 0x3333333333333333ULL & kHigh;
    // Nonzero in every byte that is not a digit ('0'..'9': high nibble 3, also after + 6).
    // A carry out of a byte of 0xFA or more only reaches bytes after a non-digit.
    std::uint64_t nonDigit = ((word & kHigh) ^ kThrees) | (((word + 0x0606060606060606ULL) & kHigh) ^ kThrees);
    if (nonDigit != 0) {
        unsigned count = static_cast<unsigned>(__builtin_ctzll(nonDigit)) >> 3;
        if (count > 0) {
            // The digits moved to the top bytes, zeros (leading digits 0) below them.
            std::uint64_t d = (word - 0x3030303030303030ULL) << (8 * (8 - count));
            d = ((d & 0x0F0F0F0F0F0F0F0FULL) * 2561) >> 8;
            d = ((d & 0x00FF00FF00FF00FFULL) * 6553601) >> 16;
            v = ((d & 0x0000FFFF0000FFFFULL) * 42949672960001ULL) >> 32;
            p += count;
        }
    } else {
        for (unsigned d; (d = static_cast<unsigned char>(*p) - static_cast<unsigned>('0')) <= 9; ++p) v = v * 10 + d;
    }
    if (p == digits || (*p && !isBlank(*p))) {
        while (*p && !isBlank(*p)) ++p;
        return Token::NotNumber;
    }
    if (p - digits > 18) {
        // Too many digits for the sum above to be exact, unless most are leading zeros.
        while (*digits == '0') ++digits;
        if (p - digits > 18) v = LONG_MAX;
    }
    long result = v > INT_MAX ? LONG_MAX : static_cast<long>(v);
    value = negative ? -result : result;
    return Token::Number;
}

bool blankLine(const char* p) {
    while (isBlank(*p)) ++p;
    return *p == '\0';
}

enum class Attempt { Done, Failed, Restart };

// One pass over the file at the current line size.
class Pass {
  public:
    Pass(const std::string& path, const Expect& expect, const ClauseCallback& onClause,
         const PrefixCallback& onPrefix, steps::Reporter& reporter, steps::Progress& progress,
         bool& progressStarted)
        : path_(path), expect_(expect), onClause_(onClause), onPrefix_(onPrefix), reporter_(reporter),
          progress_(progress), progressStarted_(progressStarted) {}
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;

    Attempt run();

  private:
    // The next line into the buffer; false at the end of the file. Sets restart_ when the
    // line did not fit.
    bool nextLine();
    Attempt problem(const char* what);
    // True, with a message naming the system's reason, when the file could not be read.
    bool readError();
    Attempt readHeader();
    Attempt readPrefix(bool& haveLine);
    Attempt readClauses(bool haveLine);
    // A clause literal beyond V whose variable the prefix quantifies is in range.
    bool quantifiedAboveV(long literal) const;
    // Adds a literal to the clause being read.
    void addLiteral(int literal);
    void clearMarks();
    void showProgress(long count);

    const std::string& path_;
    const Expect& expect_;
    const ClauseCallback& onClause_;
    const PrefixCallback& onPrefix_;
    steps::Reporter& reporter_;
    steps::Progress& progress_;
    bool& progressStarted_;

    std::unique_ptr<inputs::LineReader> lines_;
    const char* cur_ = nullptr;  // the current line, zero-terminated
    long line_ = 0;
    bool restart_ = false;
    long numVars_ = 0;  // V of the problem line
    long numClauses_ = 0;
    // Known external variable -> sign of the literal seen in this clause (0: none). Only
    // clauses longer than kWalk literals use the marks (marked_).
    std::vector<signed char> marks_;
    bool marked_ = false;
    // Variables the prefix quantifies above V (some formulas undercount on their problem
    // line): clauses may use them. Sorted; they are few.
    std::vector<long> aboveV_;
    std::vector<int> literals_;
    bool tautology_ = false;
    Prefix prefix_;
    long nextProgress_ = 0;  // the clause count at which the progress may show a new mark
};

bool Pass::readError() {
    if (lines_->zlibError() != Z_ERRNO) return false;
    // A directory opens without complaint; the system says what is wrong on reading.
    reporter_.print("Problem, cannot read the formula: %s ", std::strerror(lines_->systemError()));
    return true;
}

bool Pass::nextLine() {
    char* line = lines_->next();
    if (!line) return false;
    ++line_;
    cur_ = line;
    if (lines_->lastBytes() == g_lineSize - 1 && std::strlen(line) == g_lineSize - 1) {
        restart_ = true;
        return false;
    }
    return true;
}

Attempt Pass::problem(const char* what) {
    reporter_.print("Problem, %s at line %li ", what, line_);
    return Attempt::Failed;
}

Attempt Pass::run() {
    lines_ = std::make_unique<inputs::LineReader>(g_lineSize, 1u << 17, g_blockBytes, g_blockBytes == 0);
    if (!lines_->open(path_)) {
        reporter_.print("Problem, cannot open \"%s\" ", path_.c_str());
        return Attempt::Failed;
    }
    Attempt a = readHeader();
    if (a != Attempt::Done) return a;
    bool haveLine = false;
    a = readPrefix(haveLine);
    if (a != Attempt::Done) return a;
    return readClauses(haveLine);
}

Attempt Pass::readHeader() {
    for (;;) {
        if (!nextLine()) {
            if (restart_) return Attempt::Restart;
            if (readError()) return Attempt::Failed;
            reporter_.print("Problem, no problem line ");
            return Attempt::Failed;
        }
        const char* p = cur_;
        if (*p == 'c' || blankLine(p)) continue;
        if (*p != 'p') return problem("no problem line");
        ++p;
        while (isBlank(*p)) ++p;
        if (std::strncmp(p, "cnf", 3) != 0 || !isBlank(p[3])) return problem("bad problem line");
        p += 3;
        long v = 0, c = 0, extra = 0;
        if (scan(p, v) != Token::Number || scan(p, c) != Token::Number || scan(p, extra) != Token::End ||
            v < 0 || c < 0 || v == LONG_MAX || c == LONG_MAX)
            return problem("bad problem line");
        numVars_ = v;
        numClauses_ = c;
        break;
    }
    std::size_t known = static_cast<std::size_t>(expect_.maxKnown < 0 ? 0 : expect_.maxKnown) + 1;
    marks_.assign(known, 0);
    prefix_.block.assign(known, 0);
    prefix_.blockKind.assign(1, 0);
    return Attempt::Done;
}

Attempt Pass::readPrefix(bool& haveLine) {
    long quantified = 0;
    haveLine = nextLine();
    if (restart_) return Attempt::Restart;
    for (; haveLine; haveLine = nextLine()) {
        if (cur_[0] == 'c' && expect_.prefixThroughComments) continue;
        if (cur_[0] != 'a' && cur_[0] != 'e') break;
        int block = static_cast<int>(prefix_.blockKind.size());
        prefix_.blockKind.push_back(cur_[0]);
        const char* p = cur_;
        while (*p && !isBlank(*p)) ++p;  // the quantifier letter
        long v = 0;
        for (Token t; (t = scan(p, v)) != Token::End;) {
            if (t == Token::NotNumber) return problem("not a number");
            if (v == 0) continue;
            if (v < 0 || v > INT_MAX) {
                char what[64];
                if (v == LONG_MAX || v == -LONG_MAX)
                    std::snprintf(what, sizeof what, "variable out of range");
                else
                    std::snprintf(what, sizeof what, "variable %li out of range", v);
                return problem(what);
            }
            if (v > numVars_) aboveV_.push_back(v);
            if (v < static_cast<long>(prefix_.block.size())) {
                if (prefix_.block[v] != 0) {
                    char what[64];
                    std::snprintf(what, sizeof what, "variable %li quantified twice", v);
                    return problem(what);
                }
                prefix_.block[v] = block;
            }
            ++quantified;
        }
    }
    if (restart_) return Attempt::Restart;
    std::sort(aboveV_.begin(), aboveV_.end());
    // Variables that no block quantifies are free, that is outermost existentials: a
    // formula whose problem line counts exactly the certificate's variables matches too.
    // A comment line ends the prefix as well (unless the prefix goes through comments),
    // and then nothing can be told of the blocks that may follow it: only the quantified
    // variables count.
    bool endedByComment = haveLine && cur_[0] == 'c';
    long known = numVars_ + static_cast<long>(aboveV_.size());
    bool matches = quantified + 1 == expect_.numVars ||
                   (!endedByComment && known + 1 == expect_.numVars && quantified <= known);
    if (!matches) {
        reporter_.print("Problem, var number mismatch, in qbf:%li in log:%i ", quantified, expect_.numVars);
        return Attempt::Failed;
    }
    if (onPrefix_ && !onPrefix_(prefix_)) return Attempt::Failed;
    if (!progressStarted_) {
        progress_.start();
        progressStarted_ = true;
    }
    return Attempt::Done;
}

bool Pass::quantifiedAboveV(long literal) const {
    long var = literal < 0 ? -literal : literal;
    return std::binary_search(aboveV_.begin(), aboveV_.end(), var);
}

// Up to this many literals a clause is checked by a walk over its literals, which stay
// in the cache, instead of a mark per variable anywhere in a large table.
constexpr std::size_t kWalk = 16;

void Pass::addLiteral(int literal) {
    if (marked_) {
        int var = literal < 0 ? -literal : literal;
        if (var < static_cast<int>(marks_.size())) {
            signed char sign = literal < 0 ? -1 : 1;
            signed char mark = marks_[var];
            if (mark == 0) {
                marks_[var] = sign;
                literals_.push_back(literal);
            } else if (mark != sign) {
                tautology_ = true;
            }
            return;
        }
    }
    // Short clauses, and variables the certificate does not know (they have no mark): a
    // walk over the literals read so far.
    for (int l : literals_) {
        if (l == literal) return;
        if (l == -literal) {
            tautology_ = true;
            return;
        }
    }
    literals_.push_back(literal);
    if (!marked_ && literals_.size() == kWalk) {
        for (int l : literals_) {
            int var = l < 0 ? -l : l;
            if (var < static_cast<int>(marks_.size())) marks_[var] = l < 0 ? -1 : 1;
        }
        marked_ = true;
    }
}

void Pass::clearMarks() {
    if (marked_) {
        for (int l : literals_) {
            int var = l < 0 ? -l : l;
            if (var < static_cast<int>(marks_.size())) marks_[var] = 0;
        }
        marked_ = false;
    }
    literals_.clear();
    tautology_ = false;
}

// The marks only change where the percentage reaches the next multiple of 10; with at
// least 100 clauses it grows by at most one per clause and lands on every multiple, so the
// counts in between need no look.
void Pass::showProgress(long count) {
    if (count < nextProgress_) return;
    progress_.update(count, numClauses_);
    if (numClauses_ < 100) {
        nextProgress_ = count + 1;
        return;
    }
    long next = (100 * count / numClauses_ / 10 + 1) * 10;
    nextProgress_ = (next * numClauses_ + 99) / 100;
}

Attempt Pass::readClauses(bool haveLine) {
    long count = 0;
    long unterminatedLine = 0;  // the last clause line, when it lacks its 0
    for (; haveLine; haveLine = nextLine()) {
        const char* p = cur_;
        // Comments may stand among the clauses; blank lines too (they end nothing: every
        // clause after them is checked as well).
        if (*p == 'c') continue;
        bool open = false;
        long v = 0;
        for (Token t; (t = scan(p, v)) != Token::End;) {
            if (t == Token::NotNumber) return problem("not a number");
            if ((v < -numVars_ || v > numVars_) && !quantifiedAboveV(v)) {
                char what[64];
                if (v == LONG_MAX || v == -LONG_MAX)
                    std::snprintf(what, sizeof what, "literal out of range");
                else
                    std::snprintf(what, sizeof what, "literal %li out of range", v);
                return problem(what);
            }
            if (v != 0) {
                if (!tautology_) addLiteral(static_cast<int>(v));
                open = true;
                continue;
            }
            if (!open) return problem("empty clause");
            // Tautologies are not checked but count for the progress.
            int holds = tautology_ || onClause_(literals_.data(), static_cast<int>(literals_.size()));
            clearMarks();
            open = false;
            ++count;
            showProgress(count);
            if (!holds) return Attempt::Failed;
        }
        if (open) {
            // The line ends the clause; only the last clause of the file must not lack its 0
            // (such a file was most likely cut short).
            int holds = tautology_ || onClause_(literals_.data(), static_cast<int>(literals_.size()));
            clearMarks();
            ++count;
            showProgress(count);
            if (!holds) return Attempt::Failed;
            unterminatedLine = line_;
        } else if (!blankLine(cur_)) {
            unterminatedLine = 0;
        }
    }
    if (restart_) return Attempt::Restart;
    if (lines_->zlibError() != Z_OK) {
        reporter_.print("Problem, cannot read the formula after line %li ", line_);
        return Attempt::Failed;
    }
    if (unterminatedLine) {
        reporter_.print("Problem, clause without closing 0 at line %li ", unterminatedLine);
        return Attempt::Failed;
    }
    progress_.finish();
    return Attempt::Done;
}

}  // namespace

int read(const std::string& path, const Expect& expect, const ClauseCallback& onClause, steps::Reporter& reporter,
         const PrefixCallback& onPrefix) {
    steps::Progress progress(reporter);
    bool progressStarted = false;
    for (;;) {
        Attempt a = Pass(path, expect, onClause, onPrefix, reporter, progress, progressStarted).run();
        if (a == Attempt::Done) return 1;
        if (a == Attempt::Failed) return 0;
        if (g_lineSize > (static_cast<std::size_t>(INT_MAX) >> 1)) outcome::memout();
        g_lineSize *= 2;
    }
}

std::size_t lineSize() { return g_lineSize; }

void setBlockBytes(std::size_t bytes) { g_blockBytes = bytes; }

WalkEnd walkLines(const std::string& path, std::size_t& lineSize, const LineCallback& onLine,
                  const std::function<void()>& onRestart) {
    for (;;) {
        inputs::LineReader lines(lineSize, 1u << 17, g_blockBytes, g_blockBytes == 0);
        if (!lines.open(path)) return WalkEnd::CannotOpen;
        bool restart = false;
        long number = 0;
        while (char* line = lines.next()) {
            if (lines.lastBytes() == lineSize - 1 && std::strlen(line) == lineSize - 1) {
                restart = true;
                break;
            }
            if (!onLine(line, ++number)) return WalkEnd::Stopped;
        }
        if (!restart) return lines.zlibError() == Z_OK ? WalkEnd::EndOfFile : WalkEnd::ReadError;
        if (lineSize > (static_cast<std::size_t>(INT_MAX) >> 1)) outcome::memout();
        lineSize *= 2;
        if (onRestart) onRestart();
    }
}

Result<HeadPrefix> readPrefix(const std::string& path) {
    HeadPrefix r;
    std::string error;
    bool header = false;
    bool done = false;  // the prefix has ended, or the file is refused
    long lineNo = 0;
    auto fail = [&](const std::string& what) {
        error = what + " at line " + std::to_string(lineNo);
        done = true;
        return false;
    };
    auto onLine = [&](const char* p, long number) {
        lineNo = number;
        if (*p == 'c' || blankLine(p)) return true;
        if (!header) {
            long v = 0, c = 0, extra = 0;
            if (*p++ != 'p') return fail("no problem line");
            while (isBlank(*p)) ++p;
            if (std::strncmp(p, "cnf", 3) != 0 || !isBlank(p[3])) return fail("bad problem line");
            p += 3;
            if (scan(p, v) != Token::Number || scan(p, c) != Token::Number || scan(p, extra) != Token::End ||
                v < 0 || c < 0 || v == LONG_MAX)
                return fail("bad problem line");
            r.numVars = v;
            header = true;
            return true;
        }
        if (*p != 'a' && *p != 'e') {
            done = true;
            return false;
        }
        std::vector<int> vars;
        char kind = *p;
        while (*p && !isBlank(*p)) ++p;
        long v = 0;
        for (Token t; (t = scan(p, v)) != Token::End;) {
            if (t == Token::NotNumber) return fail("not a number");
            if (v == 0) continue;
            if (v < 0 || v > INT_MAX) return fail("variable out of range");
            vars.push_back(static_cast<int>(v));
        }
        r.blocks.emplace_back(kind, std::move(vars));
        return true;
    };
    auto onRestart = [&] {
        header = false;
        r.blocks.clear();
    };
    WalkEnd end = walkLines(path, g_lineSize, onLine, onRestart);
    if (done) {
        if (!error.empty()) return Status::failure(error);
        return r;
    }
    if (end == WalkEnd::CannotOpen) return Status::failure("cannot open \"" + path + "\"");
    if (end == WalkEnd::EndOfFile && header) return r;
    ++lineNo;  // the line the file ended at
    fail(end == WalkEnd::ReadError ? "cannot read the formula" : "no problem line");
    return Status::failure(error);
}

}  // namespace qdimacs
