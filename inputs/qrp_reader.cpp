#include "inputs/qrp_reader.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "inputs/raw_buffer.h"

namespace qrp {

namespace {

constexpr std::int64_t kMaxNumber = std::int64_t(1) << 62;
// The same bound on variable numbers as the solver log's: far above any formula, and it
// keeps the per-variable tables a hostile header asks for bounded.
constexpr long kMaxVariable = 1L << 24;

// Buffered bytes of a plain or gzip file (zlib reads plain files as they are).
class Input {
  public:
    explicit Input(const std::string& path) : buffer_(1 << 20) {
        struct stat st {};
        if (stat(path.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) return;
            size_ = static_cast<double>(st.st_size);
        }
        gz_ = gzopen(path.c_str(), "rb");
        if (gz_) gzbuffer(gz_, 1 << 17);
    }
    ~Input() {
        if (gz_) gzclose(gz_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    bool ok() const { return gz_ != nullptr; }
    bool readFailed() const { return failed_; }

    int get() {
        if (pos_ == len_ && !refill()) return -1;
        return static_cast<unsigned char>(buffer_[pos_++]);
    }
    int peek() {
        if (pos_ == len_ && !refill()) return -1;
        return static_cast<unsigned char>(buffer_[pos_]);
    }
    // Moves just past the next byte c; false at the end of the file.
    bool skipPast(char c) {
        for (;;) {
            if (pos_ == len_ && !refill()) return false;
            const void* at = std::memchr(buffer_.data() + pos_, c, len_ - pos_);
            if (at) {
                pos_ = static_cast<std::size_t>(static_cast<const char*>(at) - buffer_.data()) + 1;
                return true;
            }
            pos_ = len_;
        }
    }

    void onRefill(const Progress* progress) { progress_ = progress; }

    // The rest of the current line, where the buffer holds it up to its newline: [b, e),
    // e at the newline.
    bool lineInBuffer(const char*& b, const char*& e) const {
        if (pos_ >= len_) return false;
        const void* nl = std::memchr(buffer_.data() + pos_, '\n', len_ - pos_);
        if (!nl) return false;
        b = buffer_.data() + pos_;
        e = static_cast<const char*>(nl);
        return true;
    }
    // Moves to p, a place inside the buffer (after lineInBuffer).
    void moveTo(const char* p) { pos_ = static_cast<std::size_t>(p - buffer_.data()); }

  private:
    bool refill() {
        if (eof_) return false;
        int n = gzread(gz_, buffer_.data(), static_cast<unsigned>(buffer_.size()));
        pos_ = 0;
        len_ = n > 0 ? static_cast<std::size_t>(n) : 0;
        if (n <= 0) {
            eof_ = true;
            failed_ = n < 0;
            return false;
        }
        if (progress_ && *progress_ && size_ > 0)
            (*progress_)(std::min(1.0, static_cast<double>(gzoffset(gz_)) / size_));
        return true;
    }

    gzFile gz_ = nullptr;
    inputs::RawBuffer<char> buffer_;
    std::size_t pos_ = 0, len_ = 0;
    bool eof_ = false, failed_ = false;
    double size_ = 0;
    const Progress* progress_ = nullptr;
};

enum class Pass { Index, Proof };

bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\r'; }

class Parser {
  public:
    Parser(Input& in, Trace& trace, Pass pass, const std::string& path) : in_(in), t_(trace), pass_(pass), path_(path) {}

    Status run() {
        if (readAll()) return {};
        return Status::failure(message_);
    }

  private:
    bool readAll() {
        if (!header()) return false;
        return t_.binary ? binaryBody() : asciiBody();
    }

    // Keeps the first message: the reason nearest to where the trace went wrong.
    bool fail(const std::string& message) {
        if (message_.empty()) message_ = message;
        return false;
    }
    bool cutShort() {
        if (in_.readFailed()) return fail("the trace cannot be read (broken compression)");
        return fail("the trace is cut short");
    }
    bool stepFail(std::int64_t id, const std::string& what) {
        return fail("step " + std::to_string(id) + ": " + what);
    }

    bool header() {
        char line[128];
        std::size_t n = 0;
        int c;
        while ((c = in_.get()) != -1 && c != '\n' && c != 0 && n + 1 < sizeof line) line[n++] = static_cast<char>(c);
        line[n] = 0;
        // A file shorter than its first line is named: nothing else tells which file it was.
        if (c == -1 && in_.readFailed()) return fail("the trace \"" + path_ + "\" cannot be read (broken compression)");
        if (c == -1) return fail("not a proof trace (no header): \"" + path_ + "\" ends before its first line");
        long v = 0, k = 0;
        char tail = 0;
        if (std::sscanf(line, "p qrp %ld %ld %c", &v, &k, &tail) == 2 && c == '\n') {
            t_.binary = false;
        } else if (std::sscanf(line, "p bqrp %ld %ld %c", &v, &k, &tail) == 2 && c == 0) {
            t_.binary = true;
        } else {
            return fail("not a proof trace (bad header)");
        }
        if (v < 0 || k < 0 || v > kMaxVariable) return fail("variable count out of range in the header");
        if (pass_ == Pass::Index) {
            t_.numVars = v;
            t_.numClauses = k;
            maxVar_ = v;
        } else {
            maxVar_ = maxVarOf(t_);
        }
        return true;
    }

    static long maxVarOf(const Trace& t) {
        long m = t.numVars;
        for (const Block& b : t.blocks)
            for (int v : b.vars) m = std::max<long>(m, v);
        return m;
    }

    // ---- ASCII ----

    // The next integer of the line: false at the line's end (nothing but blanks left).
    // *bad is set on anything that is not a number.
    bool number(std::int64_t& value, bool& bad) {
        int c;
        while (isBlank(c = in_.peek())) in_.get();
        if (c == '\n' || c == -1) return false;
        bool negative = false;
        if (c == '-') {
            negative = true;
            in_.get();
            c = in_.peek();
        }
        if (c < '0' || c > '9') {
            bad = true;
            return false;
        }
        std::int64_t v = 0;
        while ((c = in_.peek()) >= '0' && c <= '9') {
            in_.get();
            if (v > kMaxNumber / 10) {
                bad = true;
                return false;
            }
            v = v * 10 + (c - '0');
        }
        if (c != -1 && c != '\n' && !isBlank(c)) {
            bad = true;
            return false;
        }
        value = negative ? -v : v;
        return true;
    }

    // Integers up to the terminating 0, on the current line.
    template <typename Each>
    bool zeroTerminated(std::int64_t id, const char* what, Each each) {
        for (;;) {
            std::int64_t v = 0;
            bool bad = false;
            if (!number(v, bad)) {
                if (in_.peek() == -1) return cutShort();
                return stepFail(id, bad ? std::string("bad number in ") + what : std::string(what) + " not ended by 0");
            }
            if (v == 0) return true;
            if (!each(v)) return false;
        }
    }

    // The first pass passes over a step's literals up to their 0, checking only that they
    // are numbers; their values are read for the proof's steps in the second pass.
    bool skipAsciiLiterals(std::int64_t id) {
        for (;;) {
            int c;
            while (isBlank(c = in_.peek())) in_.get();
            if (c == -1) return cutShort();
            if (c == '\n') return stepFail(id, "literals not ended by 0");
            in_.get();
            int next = in_.peek();
            bool ends = next == -1 || next == '\n' || isBlank(next);
            if (c == '0' && ends) return true;
            if (c != '-' && (c < '0' || c > '9')) return stepFail(id, "bad number in literals");
            if (c == '-' && ends) return stepFail(id, "bad number in literals");
            while ((c = in_.peek()) >= '0' && c <= '9') in_.get();
            if (c != -1 && c != '\n' && !isBlank(c)) return stepFail(id, "bad number in literals");
            stepLits_ = 1;
        }
    }

    bool endOfLine(std::int64_t id) {
        int c;
        while (isBlank(c = in_.peek())) in_.get();
        if (c == -1) return cutShort();
        if (c != '\n') return stepFail(id, "extra text after the antecedents");
        in_.get();
        return true;
    }

    bool asciiBody() {
        for (;;) {
            int c = in_.peek();
            if (c == -1) return cutShort();
            if (c == '\n' || isBlank(c)) {
                in_.get();
                continue;
            }
            if (c == 'a' || c == 'e') {
                if (!asciiBlock()) return false;
            } else if (c == 'r') {
                return asciiResult();
            } else if ((c >= '0' && c <= '9') || c == '-') {
                if (!asciiStep()) return false;
            } else {
                return fail("unexpected text in the trace");
            }
        }
    }

    bool asciiBlock() {
        if (stepIndex_ > 0) return fail("a quantifier block after the first step");
        char kind = static_cast<char>(in_.get());
        int c = in_.peek();
        if (!isBlank(c) && c != '\n') return fail("unexpected text in the prefix");
        if (pass_ == Pass::Proof) return in_.skipPast('\n') || cutShort();
        Block block;
        block.kind = kind;
        for (;;) {
            std::int64_t v = 0;
            bool bad = false;
            if (!number(v, bad)) {
                if (in_.peek() == -1) return cutShort();
                return fail(bad ? "bad number in the prefix" : "prefix line not ended by 0");
            }
            if (v == 0) break;
            if (v < 0 || v > kMaxVariable) return fail("variable out of range in the prefix");
            block.vars.push_back(static_cast<int>(v));
        }
        if (!endOfLine(0)) return false;
        for (int v : block.vars) maxVar_ = std::max<long>(maxVar_, v);
        t_.blocks.push_back(std::move(block));
        return true;
    }

    bool asciiResult() {
        char word[16];
        std::size_t n = 0;
        int c;
        while ((c = in_.get()) != -1 && c != '\n' && n + 1 < sizeof word) word[n++] = static_cast<char>(c);
        word[n] = 0;
        while (n > 0 && isBlank(word[n - 1])) word[--n] = 0;
        if (std::strcmp(word, "r SAT") == 0)
            t_.sat = true;
        else if (std::strcmp(word, "r UNSAT") == 0)
            t_.sat = false;
        else if (c == -1 && (std::strncmp("r SAT", word, n) == 0 || std::strncmp("r UNSAT", word, n) == 0))
            return cutShort();
        else
            return fail("bad result line");
        return trailing();
    }

    bool trailing() {
        for (int c; (c = in_.get()) != -1;)
            if (c != '\n' && !isBlank(c)) return fail("text after the result line");
        if (in_.readFailed()) return cutShort();
        return finish();
    }

    // A step's line in canonical form (numbers without leading zeros or a sign on 0, each
    // part ended by 0, nothing but blanks after), whole in the buffer: its numbers into
    // line_ (id, literals, 0, antecedents, 0) and its end; false, with nothing read, for
    // anything else, which the reading number by number then reports exactly.
    bool scanLine(const char* p, const char* e, const char*& end) {
        line_.clear();
        int zeros = 0;
        while (zeros < 2) {
            while (p < e && isBlank(*p)) ++p;
            if (p == e) return false;
            bool negative = *p == '-';
            if (negative) ++p;
            const char* digits = p;
            std::int64_t v = 0;
            for (; p < e && *p >= '0' && *p <= '9'; ++p)
                if (p - digits < 18) v = v * 10 + (*p - '0');
            std::size_t n = static_cast<std::size_t>(p - digits);
            if (n == 0 || n > 18 || (*digits == '0' && (n > 1 || negative))) return false;
            if (p < e && !isBlank(*p)) return false;
            if (line_.empty() && (negative || v == 0)) return false;  // the id
            if (!line_.empty() && v == 0) ++zeros;
            line_.push_back(negative ? -v : v);
        }
        while (p < e && isBlank(*p)) ++p;
        if (p != e) return false;
        end = e + 1;
        return true;
    }

    bool asciiStep() {
        const char *b = nullptr, *e = nullptr, *end = nullptr;
        if (in_.lineInBuffer(b, e) && scanLine(b, e, end)) {
            std::int64_t id = line_[0];
            in_.moveTo(end);
            if (pass_ == Pass::Proof && !inProof()) {
                ++stepIndex_;
                return true;
            }
            if (!beginStep(id)) return false;
            std::size_t k = 1;
            for (; line_[k] != 0; ++k) {
                if (pass_ == Pass::Index)
                    stepLits_ = 1;
                else if (!literal(id, line_[k]))
                    return false;
            }
            for (++k; line_[k] != 0; ++k)
                if (!antecedent(id, line_[k])) return false;
            return endStep(id);
        }
        std::int64_t id = 0;
        bool bad = false;
        if (!number(id, bad) || id <= 0) return fail("bad step id");
        if (pass_ == Pass::Proof && !inProof()) {
            ++stepIndex_;
            return in_.skipPast('\n') || cutShort();
        }
        if (!beginStep(id)) return false;
        if (pass_ == Pass::Index) {
            if (!skipAsciiLiterals(id)) return false;
        } else if (!zeroTerminated(id, "literals", [&](std::int64_t l) { return literal(id, l); })) {
            return false;
        }
        if (!zeroTerminated(id, "antecedents", [&](std::int64_t a) { return antecedent(id, a); })) return false;
        if (!endOfLine(id)) return false;
        return endStep(id);
    }

    // ---- binary ----

    // A varint whose first byte is first; false at the end of the file.
    bool varint(int first, std::int64_t& value) {
        std::int64_t v = 0;
        int shift = 0;
        int b = first;
        for (;;) {
            if (b == -1) return cutShort();
            v |= static_cast<std::int64_t>(b & 0x7f) << shift;
            if (!(b & 0x80)) break;
            shift += 7;
            if (shift > 56) return fail("number out of range");
            b = in_.get();
        }
        value = v;
        return true;
    }

    template <typename Each>
    bool nulTerminated(Each each) {
        for (;;) {
            int b = in_.get();
            if (b == -1) return cutShort();
            if (b == 0) return true;
            std::int64_t v = 0;
            if (!varint(b, v)) return false;
            if (!each(v)) return false;
        }
    }

    bool binaryBody() {
        for (;;) {
            int b = in_.get();
            if (b == -1) return cutShort();
            if (b != 0) {
                if (!binaryStep(b)) return false;
                continue;
            }
            int kind = in_.get();
            if (kind == -1) return cutShort();
            if (kind == 'a' || kind == 'e') {
                if (!binaryBlock(static_cast<char>(kind))) return false;
            } else if (kind == 'r') {
                return binaryResult();
            } else {
                return fail("unexpected byte after a NUL");
            }
        }
    }

    bool binaryBlock(char kind) {
        if (stepIndex_ > 0) return fail("a quantifier block after the first step");
        if (pass_ == Pass::Proof) return in_.skipPast(0) || cutShort();
        Block block;
        block.kind = kind;
        bool ok = nulTerminated([&](std::int64_t v) {
            if (v <= 0 || v > kMaxVariable) return fail("variable out of range in the prefix");
            block.vars.push_back(static_cast<int>(v));
            return true;
        });
        if (!ok) return false;
        for (int v : block.vars) maxVar_ = std::max<long>(maxVar_, v);
        t_.blocks.push_back(std::move(block));
        return true;
    }

    bool binaryResult() {
        char word[16];
        std::size_t n = 0;
        int c;
        while ((c = in_.get()) != -1 && c != '\n' && n + 1 < sizeof word) word[n++] = static_cast<char>(c);
        word[n] = 0;
        if (c == -1) return cutShort();
        if (std::strcmp(word, " SAT") == 0)
            t_.sat = true;
        else if (std::strcmp(word, " UNSAT") == 0)
            t_.sat = false;
        else
            return fail("bad result line");
        return trailing();
    }

    bool binaryStep(int first) {
        std::int64_t id = 0;
        if (!varint(first, id)) return false;
        if (id <= 0) return fail("bad step id");
        if (pass_ == Pass::Proof && !inProof()) {
            ++stepIndex_;
            return (in_.skipPast(0) && in_.skipPast(0)) || cutShort();
        }
        if (!beginStep(id)) return false;
        if (pass_ == Pass::Index) {
            // The first pass needs no literal: they are read for the proof's steps only.
            int b = in_.get();
            if (b == -1) return cutShort();
            stepLits_ = b == 0 ? 0 : 1;
            if (b != 0 && !in_.skipPast(0)) return cutShort();
            if (!nulTerminated([&](std::int64_t a) { return antecedent(id, a); })) return false;
            return endStep(id);
        }
        bool ok = nulTerminated([&](std::int64_t code) {
            if (code < 2) return stepFail(id, "bad literal code");
            std::int64_t var = code >> 1;
            return literal(id, (code & 1) ? -var : var);
        });
        if (!ok) return false;
        if (!nulTerminated([&](std::int64_t a) { return antecedent(id, a); })) return false;
        return endStep(id);
    }

    // ---- steps, both encodings ----

    bool inProof() const {
        return stepIndex_ < t_.ids.size() && proofCursor_ < t_.proof.size() &&
               t_.proof[proofCursor_] == static_cast<std::int32_t>(stepIndex_);
    }

    bool beginStep(std::int64_t id) {
        if (pass_ == Pass::Index) {
            if (pendingUndefined_ != 0)
                return stepFail(lastId_, "antecedent " + std::to_string(pendingUndefined_) + " not defined before its step");
            if (id <= lastId_)
                return stepFail(id, "id out of order (after " + std::to_string(lastId_) + ")");
            if (t_.ids.size() >= static_cast<std::size_t>(INT32_MAX)) return fail("too many steps");
            lastId_ = id;
            t_.ids.push_back(id);
            t_.antCount.push_back(0);
            t_.ants.push_back(-1);
            t_.ants.push_back(-1);
            stepLits_ = 0;
        } else {
            if (stepIndex_ >= t_.ids.size() || t_.ids[stepIndex_] != id)
                return fail("the trace changed while it was read");
        }
        return true;
    }

    bool literal(std::int64_t id, std::int64_t l) {
        std::int64_t var = l < 0 ? -l : l;
        if (var > maxVar_) return stepFail(id, "literal " + std::to_string(l) + " out of range");
        ++stepLits_;
        if (pass_ == Pass::Proof) pack(l < 0 ? 2 * -l + 1 : 2 * l);
        return true;
    }

    bool antecedent(std::int64_t id, std::int64_t a) {
        if (pass_ == Pass::Proof) return true;
        std::size_t k = t_.ids.size() - 1;
        std::uint8_t& count = t_.antCount[k];
        if (count == 2) return stepFail(id, "more than two antecedents");
        auto end = t_.ids.end() - 1;  // the step itself is not its own antecedent
        auto at = std::lower_bound(t_.ids.begin(), end, a);
        if (at == end || *at != a) {
            // Allowed only for the last step (checked once the next step or the end comes).
            if (pendingUndefined_ != 0 || a <= 0 || count != 0)
                return stepFail(id, "antecedent " + std::to_string(a) + " not defined before its step");
            pendingUndefined_ = a;
            pendingLits_ = stepLits_;
            ++count;
            return true;
        }
        if (pendingUndefined_ != 0)
            return stepFail(id, "antecedent " + std::to_string(pendingUndefined_) + " not defined before its step");
        t_.ants[2 * k + count] = static_cast<std::int32_t>(at - t_.ids.begin());
        ++count;
        return true;
    }

    void pack(std::int64_t code) {
        std::int64_t d = code - lastCode_;
        lastCode_ = code;
        std::uint64_t z = d < 0 ? (static_cast<std::uint64_t>(-d) << 1) - 1 : static_cast<std::uint64_t>(d) << 1;
        while (z >= 0x80) {
            t_.litBytes.push_back(static_cast<std::uint8_t>(z | 0x80));
            z >>= 7;
        }
        t_.litBytes.push_back(static_cast<std::uint8_t>(z));
    }

    bool endStep(std::int64_t) {
        if (pass_ == Pass::Proof) {
            t_.litStart.push_back(static_cast<std::int64_t>(t_.litBytes.size()));
            lastCode_ = 0;
            ++proofCursor_;
        }
        ++stepIndex_;
        return true;
    }

    bool finish() {
        if (pass_ == Pass::Proof) {
            if (proofCursor_ != t_.proof.size()) return fail("the trace changed while it was read");
            return true;
        }
        if (t_.ids.empty()) return fail("the trace has no steps");
        if (pendingUndefined_ != 0) {
            std::size_t last = t_.ids.size() - 1;
            if (pendingLits_ != 0 || t_.antCount[last] != 1)
                return stepFail(lastId_, "antecedent " + std::to_string(pendingUndefined_) + " not defined before its step");
            // The final step of a trace whose input clauses are all tautological.
            t_.antCount[last] = 0;
            t_.undefinedFinalAnt = pendingUndefined_;
        }
        return true;
    }

    Input& in_;
    Trace& t_;
    Pass pass_;
    const std::string& path_;
    std::string message_;
    std::int64_t lastCode_ = 0;  // the code of the step's literal before (pass 2)
    std::vector<std::int64_t> line_;  // the numbers of a step's line (scanLine)
    long maxVar_ = 0;
    std::int64_t lastId_ = 0;
    std::size_t stepIndex_ = 0;
    std::size_t proofCursor_ = 0;
    std::int64_t pendingUndefined_ = 0;
    long stepLits_ = 0, pendingLits_ = 0;
};

Status parse(const std::string& path, Trace& trace, Pass pass, const Progress& progress) {
    Input in(path);
    if (!in.ok()) return Status::failure("cannot open the trace \"" + path + "\"");
    in.onRefill(&progress);
    Status parsed = Parser(in, trace, pass, path).run();
    if (parsed && progress) progress(1.0);
    return parsed;
}

// The steps the last one is derived from, in file order.
void markProof(Trace& t) {
    std::size_t n = t.ids.size();
    std::vector<bool> reached(n, false);
    reached[n - 1] = true;
    std::size_t count = 0;
    for (std::size_t i = n; i-- > 0;) {
        if (!reached[i]) continue;
        ++count;
        for (int k = 0; k < t.antCount[i]; ++k) reached[static_cast<std::size_t>(t.ants[2 * i + k])] = true;
    }
    t.proof.clear();
    t.proof.reserve(count);
    for (std::size_t i = 0; i < n; ++i)
        if (reached[i]) t.proof.push_back(static_cast<std::int32_t>(i));
}

}  // namespace

bool looksLikeTrace(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    gzFile gz = gzopen(path.c_str(), "rb");
    if (!gz) return false;
    char head[8] = {0};
    int n = gzread(gz, head, 7);
    gzclose(gz);
    if (n < 6) {
        // A gzip stream that does not get as far: a trace cut short or broken, which the
        // reader names (a plain file this short is no trace).
        std::FILE* fp = std::fopen(path.c_str(), "rb");
        if (!fp) return false;
        unsigned char magic[2] = {0, 0};
        bool gzip = std::fread(magic, 1, 2, fp) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
        std::fclose(fp);
        return gzip;
    }
    return std::memcmp(head, "p qrp ", 6) == 0 || (n == 7 && std::memcmp(head, "p bqrp ", 7) == 0);
}

Status readIndex(const std::string& path, Trace& trace, const Progress& progress) {
    trace = Trace();
    return parse(path, trace, Pass::Index, progress);
}

Status readProof(const std::string& path, Trace& trace, const Progress& progress) {
    markProof(trace);
    std::vector<std::uint8_t>().swap(trace.litBytes);
    trace.litStart.assign(1, 0);
    trace.litStart.reserve(trace.proof.size() + 1);
    Status read = parse(path, trace, Pass::Proof, progress);
    trace.litBytes.shrink_to_fit();
    return read;
}

void Trace::literalsOf(std::size_t p, std::vector<int>& out) const {
    out.clear();
    const std::uint8_t* at = litBytes.data() + litStart[p];
    const std::uint8_t* end = litBytes.data() + litStart[p + 1];
    std::int64_t code = 0;
    while (at < end) {
        std::uint64_t z = 0;
        int shift = 0;
        std::uint8_t b;
        do {
            b = *at++;
            z |= static_cast<std::uint64_t>(b & 0x7f) << shift;
            shift += 7;
        } while (b & 0x80);
        code += (z & 1) ? -static_cast<std::int64_t>((z + 1) >> 1) : static_cast<std::int64_t>(z >> 1);
        int var = static_cast<int>(code >> 1);
        out.push_back((code & 1) ? -var : var);
    }
}


}  // namespace qrp
