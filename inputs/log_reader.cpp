// The solver-log reader (module Log): header, trailer, and the backward walk over the
// entries by their back offsets, with rolled-back stretches and failed existential
// branches passed over by their headers alone.
#include "inputs/log_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "bdd/dddmp.h"
#include "bdd/dddmp_io.h"
#include "inputs/raw_buffer.h"
#include "outcomes/outcome.h"

namespace {

// Part of a line that is kept for parsing and for "at line" messages; the rest of a
// longer line is consumed and dropped.
constexpr std::size_t kLineKeep = 10000 - 1;
// The window of the file held in memory: backwards walking fills it with one large read
// that ends where the entry being read ends, so that the entries before it are parsed
// from memory; a longer entry is read on in windows of this size.
constexpr long kWindow = 4L << 20;
// At least this much after a header is read with it (the entry behind the header).
constexpr long kAhead = 64L << 10;
// External numbers are table indices of the certificate: beyond this they would make
// it allocate without bound.
constexpr long kMaxExternal = 1L << 24;

const char* const kKindNames[] = {
    "ERROR OR UNKNOWN", "G_CUBES", "G_RES",        "G_ASSIGN", "S_CUBES", "S_RES",   "S_ASSIGN",
    "S_EQUIV",          "B_IN",    "B_OUT",        "SAT_ENCODING", "ROLLBACK", "END",
};

const char* const kStatusMessages[LOG_STATUS_COUNT] = {
    "Init",
    "Last record sync ok",
    "Unsupported log version",
    "Header data parsing problems",
    "Last record sync failed (corrupted log?)",
    "This is not a TRUE formula",
    "Sync lost (corrupted log?)",
    "Unknown log entry type",
    "Reconstruction failure",
    "Entry data parsing problems",
    "Entry count exceeds the data left (corrupted log?)",
    "Embedded BDD unreadable",
    "Embedded BDD array has too few roots",
    "Literal or variable out of range",
    "Universal hypotheses nested deeper than the stack",
    "CNF variable outside the encoding",
    "Universal variable where an existential is needed",
    "Embedded cube is not a conjunction of universals",
    "Log file not readable",
};

}  // namespace

// The file through a window of its bytes: a position and the window [start, end).
struct LogCursor {
    int fd = -1;
    long size = 0;  // of the file when it was opened
    inputs::RawBuffer<char> buf;
    long start = 0, end = 0;
    long pos = 0;
    long window = kWindow;
    long ahead = kAhead;
    std::FILE* dumps = nullptr;  // a stream over the same cursor for embedded BDD dumps
};

struct LogReader {
    std::string path;
    LogCursor in;
    std::string formula;
    int status = LOG_INIT;
    double solverTime = 0.0;
    int numVars = 0;
    int numUniv = 0;
    std::vector<int> intToExt;
    std::vector<int> universals;
    int maxExt = 0;
    bdd::Manager* manager = nullptr;
    std::string line;  // the last line read, line end included (as the classic buffer)
    long currentId = 0;
    long trailerId = 0;
    long headerOffset = 0;  // of the current entry's header line
    long backOffset = 0;    // of the current entry
    long limit = 0;         // where the payload being read must end: the next header
    bool binary = false;
    int mode = 'A';
};

namespace {

// ---- bytes and scanf-like pieces over the stream ----

// Reads [from, to) of the file into the window (clipped to the file and the window size).
void fill(LogCursor& c, long from, long to) {
    if (to > c.size) to = c.size;
    if (to - from > c.window) to = from + c.window;
    if (c.buf.size() < static_cast<std::size_t>(c.window)) c.buf.allocate(static_cast<std::size_t>(c.window));
    long got = 0;
    while (from + got < to) {
        ssize_t n = pread(c.fd, c.buf.data() + got, static_cast<std::size_t>(to - from - got), from + got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += n;
    }
    c.start = from;
    c.end = from + got;
}

bool inWindow(const LogCursor& c, long at) {
    return static_cast<unsigned long>(at - c.start) < static_cast<unsigned long>(c.end - c.start);
}

int nextSlow(LogCursor& c) {
    if (c.pos < 0 || c.pos >= c.size || c.fd < 0) return EOF;
    fill(c, c.pos, c.pos + c.window);
    if (!inWindow(c, c.pos)) return EOF;
    return static_cast<unsigned char>(c.buf[static_cast<std::size_t>(c.pos++ - c.start)]);
}

inline int next(LogCursor& c) {
    if (inWindow(c, c.pos)) return static_cast<unsigned char>(c.buf[static_cast<std::size_t>(c.pos++ - c.start)]);
    return nextSlow(c);
}
inline void back(LogCursor& c, int ch) {
    if (ch != EOF) --c.pos;
}

// Moves to an earlier header. When it lies outside the window, the window is filled so
// that it ends where the entry ends (limit, when known) and reaches as far back as it
// holds: the entries before this one then come from memory.
void seekBack(LogCursor& c, long target, long limit) {
    c.pos = target;
    if (inWindow(c, target)) return;
    long end = std::max(target + c.ahead, limit);
    if (end > c.size) end = c.size;
    if (end - target > c.window) end = target + c.window;
    long begin = std::max(0L, end - c.window);
    fill(c, begin, end);
}

// The stream over the cursor that the dump loader reads: reads come from the window,
// seeks move the cursor.
ssize_t dumpRead(void* cookie, char* out, std::size_t size) {
    LogCursor& c = *static_cast<LogCursor*>(cookie);
    std::size_t done = 0;
    while (done < size) {
        if (!inWindow(c, c.pos)) {
            if (c.pos < 0 || c.pos >= c.size) break;
            fill(c, c.pos, c.pos + c.window);
            if (!inWindow(c, c.pos)) break;
        }
        std::size_t n = std::min(size - done, static_cast<std::size_t>(c.end - c.pos));
        std::memcpy(out + done, c.buf.data() + (c.pos - c.start), n);
        c.pos += static_cast<long>(n);
        done += n;
    }
    return static_cast<ssize_t>(done);
}

int dumpSeek(void* cookie, off64_t* offset, int whence) {
    LogCursor& c = *static_cast<LogCursor*>(cookie);
    long to = whence == SEEK_SET ? *offset : whence == SEEK_CUR ? c.pos + *offset : c.size + *offset;
    if (to < 0) return -1;
    c.pos = to;
    *offset = to;
    return 0;
}

void closeCursor(LogCursor& c) {
    if (c.dumps) std::fclose(c.dumps);
    c.dumps = nullptr;
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
    c.buf.release();
    c.start = c.end = 0;
}

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void skipWhite(LogCursor& fp) {
    int c;
    while ((c = next(fp)) != EOF && isSpace(c)) {
    }
    back(fp, c);
}

// The end of a payload line. In binary mode only line-end bytes are skipped: the
// binary integer code leaves 0x09, 0x0B, 0x0C and 0x20 unescaped (3 is the single byte
// 0x0C, 8 is 0x20), so a white-space skip would swallow the next integer.
void skipEol(LogReader& r) {
    if (!r.binary) {
        skipWhite(r.in);
        return;
    }
    int c;
    while ((c = next(r.in)) == '\n' || c == '\r') {
    }
    back(r.in, c);
}

int digitValue(int c, int base) {
    int d;
    if (c >= '0' && c <= '9')
        d = c - '0';
    else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
    else
        return -1;
    return d < base ? d : -1;
}

// "%i": leading white space, a sign, then hexadecimal after 0x, octal after 0, else
// decimal. False when there is no number or it does not fit.
bool scanLong(LogCursor& fp, long* out) {
    skipWhite(fp);
    int c = next(fp);
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = next(fp);
    }
    int base = 10;
    if (c == '0') {
        int d = next(fp);
        if (d == 'x' || d == 'X') {
            base = 16;
            c = next(fp);
            if (digitValue(c, 16) < 0) {
                back(fp, c);
                return false;
            }
        } else {
            base = 8;
            back(fp, d);
        }
    }
    if (digitValue(c, base) < 0) {
        back(fp, c);
        return false;
    }
    unsigned long value = 0;
    bool overflow = false;
    const unsigned long bound = static_cast<unsigned long>(LONG_MAX) + 1;
    int d;
    while ((d = digitValue(c, base)) >= 0) {
        if (!overflow) {
            value = value * static_cast<unsigned long>(base) + static_cast<unsigned long>(d);
            if (value > bound) overflow = true;
        }
        c = next(fp);
    }
    back(fp, c);
    if (overflow || (!negative && value == bound)) return false;
    *out = negative ? static_cast<long>(0 - value) : static_cast<long>(value);
    return true;
}

bool scanInt(LogCursor& fp, int* out) {
    long v;
    if (!scanLong(fp, &v) || v < INT_MIN || v > INT_MAX) return false;
    *out = static_cast<int>(v);
    return true;
}

// Literal text with scanf's rules: a white-space character matches any run of white
// space (none included), every other character itself. A '\n' of a payload line is a
// line end (skipEol); elsewhere it is white space.
bool match(LogReader* r, LogCursor& fp, const char* text) {
    for (const char* t = text; *t; ++t) {
        if (*t == '\n' && r) {
            skipEol(*r);
        } else if (isSpace(static_cast<unsigned char>(*t))) {
            skipWhite(fp);
        } else {
            int c = next(fp);
            if (c != *t) {
                back(fp, c);
                return false;
            }
        }
    }
    return true;
}

// "%s": a white-space-delimited token, any length.
bool scanToken(LogCursor& fp, std::string* out) {
    skipWhite(fp);
    out->clear();
    int c;
    while ((c = next(fp)) != EOF && !isSpace(c)) out->push_back(static_cast<char>(c));
    back(fp, c);
    return !out->empty();
}

// One line into the line buffer, line end included; a longer line is consumed whole,
// its first kLineKeep bytes kept. False at end of file with nothing read.
bool readLine(LogReader& r) {
    r.line.clear();
    LogCursor& in = r.in;
    if (inWindow(in, in.pos)) {
        const char* p = in.buf.data() + (in.pos - in.start);
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(in.end - in.pos)));
        if (nl) {
            std::size_t len = static_cast<std::size_t>(nl - p) + 1;
            r.line.assign(p, std::min(len, kLineKeep));
            in.pos += static_cast<long>(len);
            return true;
        }
    }
    int c;
    bool any = false;
    while ((c = next(r.in)) != EOF) {
        any = true;
        if (r.line.size() < kLineKeep) r.line.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return any;
}

// Parsing within a line, scanf style.
struct LineScan {
    const char* p;
    void white() {
        while (*p && isSpace(static_cast<unsigned char>(*p))) ++p;
    }
    bool lit(const char* text) {
        for (; *text; ++text) {
            if (isSpace(static_cast<unsigned char>(*text))) {
                white();
            } else if (*p == *text) {
                ++p;
            } else {
                return false;
            }
        }
        return true;
    }
    bool number(long* out) {
        white();
        // The common case, a decimal of a few digits, without strtol; what it would read
        // differently (octal, hexadecimal, overflow) goes to strtol.
        {
            const char* q = p;
            bool negative = *q == '-';
            if (*q == '-' || *q == '+') ++q;
            if (*q >= '1' && *q <= '9') {
                long v = 0;
                int digits = 0;
                while (*q >= '0' && *q <= '9' && digits < 18) {
                    v = v * 10 + (*q - '0');
                    ++q;
                    ++digits;
                }
                if (!(*q >= '0' && *q <= '9')) {
                    p = q;
                    *out = negative ? -v : v;
                    return true;
                }
            }
        }
        char* end = nullptr;
        errno = 0;
        long v = std::strtol(p, &end, 0);
        if (end == p || errno == ERANGE) return false;
        p = end;
        *out = v;
        return true;
    }
    bool token(std::string* out) {
        white();
        const char* s = p;
        while (*p && !isSpace(static_cast<unsigned char>(*p))) ++p;
        out->assign(s, static_cast<std::size_t>(p - s));
        return p > s;
    }
};

// "#%i: %s [%li]"
bool parseEntryHeader(const std::string& line, long* id, std::string* name, long* backOffset) {
    LineScan s{line.c_str()};
    if (!s.lit("#") || !s.number(id) || *id < INT_MIN || *id > INT_MAX) return false;
    if (!s.lit(":") || !s.token(name)) return false;
    // A name glued to its bracket ("END[5]") is not a kind name of the table anyway.
    return s.lit(" [") && s.number(backOffset) && s.lit("]");
}

void setStatus(LogReader& r, int status) { r.status = status; }

// ---- payload pieces ----

long bytesLeft(LogReader& r) {
    return r.limit - r.in.pos;
}

// A count of items that each take at least one byte: checked against the bytes left
// in the entry before anything is allocated for it.
bool countOk(LogReader& r, long n) {
    if (n < 0 || n > bytesLeft(r)) {
        setStatus(r, LOG_BAD_COUNT);
        return false;
    }
    return true;
}

// The binary integer code (up to four 7-bit groups of escaped bytes), as the dump
// codec reads it. False at the end of the file or on a bad escape.
bool readCode(LogCursor& in, int* value) {
    int v = 0;
    for (int i = 0; i < 4; ++i) {
        int byte = next(in);
        if (byte == 0) {
            int code = next(in);
            byte = code == EOF ? -1 : dddmp::detail::unescape(code);
        }
        if (byte < 0) return false;
        v = (v << 7) | (byte >> 1);
        if (!(byte & 1)) break;
    }
    *value = v;
    return true;
}

// "Problem in DddmpReadInt" ends the process at one of these line numbers, which are part
// of the program's output: the second for the first index of an encoding's cube, the first
// for every other payload integer.
constexpr int kBadIntLine = 116;
constexpr int kBadCubeIndexLine = 137;

// One payload integer: "%i" in text mode, the folded binary integer code in binary mode.
bool payloadInt(LogReader& r, int* value, int fatalLine = kBadIntLine) {
    if (r.binary) {
        int code = 0;
        if (!readCode(r.in, &code)) outcome::abnormalExit("Problem in DddmpReadInt", fatalLine, "Log");
        *value = (code & 1) ? -(code >> 1) : (code >> 1);
        return true;
    }
    if (!scanInt(r.in, value)) {
        setStatus(r, LOG_BAD_PAYLOAD);
        return false;
    }
    return true;
}

bool variableOk(LogReader& r, int v) {
    if (v < 1 || v >= r.numVars) {
        setStatus(r, LOG_BAD_VARIABLE);
        return false;
    }
    return true;
}

bool literalOk(LogReader& r, int l) {
    long v = l < 0 ? -static_cast<long>(l) : l;
    if (v < 1 || v >= r.numVars) {
        setStatus(r, LOG_BAD_VARIABLE);
        return false;
    }
    return true;
}

// Arrays grow as their items are read, from a modest reservation: a count that passed
// the bytes-left check still says nothing about the data behind it, and an item of
// memory can be far bigger than its bytes in the file.
constexpr std::size_t kReserve = 1024;

template <typename T>
void prepare(std::vector<T>& v, long count) {
    v.clear();
    v.reserve(std::min(static_cast<std::size_t>(count), kReserve));
}

// A count, checked against the data left.
bool payloadCount(LogReader& r, int* n) { return payloadInt(r, n) && countOk(r, *n); }

// m, then m literals (or variables).
bool literalList(LogReader& r, std::vector<int>& out, bool variables) {
    int m;
    if (!payloadCount(r, &m)) return false;
    prepare(out, m);
    for (int i = 0; i < m; ++i) {
        int l;
        if (!payloadInt(r, &l)) return false;
        if (!(variables ? variableOk(r, l) : literalOk(r, l))) return false;
        out.push_back(l);
    }
    return true;
}

bool clauses(LogReader& r, std::vector<LogClause>& out, int count) {
    prepare(out, count);
    for (int i = 0; i < count; ++i)
        if (!literalList(r, out.emplace_back().literals, false)) return false;
    return true;
}

// One embedded dump with at least `need` roots.
bool loadRoots(LogReader& r, std::size_t need, std::vector<bdd::Bdd>& roots) {
    if (!r.manager) outcome::abnormalExit("No BDD manager installed", __LINE__, "Log");
    LogCursor& in = r.in;
    if (!in.dumps) {
        in.dumps = fopencookie(&in, "r", cookie_io_functions_t{dumpRead, nullptr, dumpSeek, nullptr});
        if (!in.dumps) outcome::memout();
        setvbuf(in.dumps, nullptr, _IOFBF, 1 << 16);
    }
    if (std::fseek(in.dumps, in.pos, SEEK_SET) != 0) {
        setStatus(r, LOG_BAD_BDD);
        return false;
    }
    dddmp::LoadResult loaded = dddmp::loadArray(in.dumps, static_cast<char>(r.mode), in.size);
    long after = std::ftell(in.dumps);
    in.pos = after < 0 ? in.size : after;
    if (!loaded.ok()) {
        setStatus(r, LOG_BAD_BDD);
        return false;
    }
    if (loaded->size() < need) {
        setStatus(r, LOG_FEW_ROOTS);
        return false;
    }
    roots = std::move(*loaded);
    return true;
}

bool readGCubes(LogReader& r, LogEntry& e) {
    int n;
    if (!payloadCount(r, &n)) return false;
    skipEol(r);
    prepare(e.cubes, n);
    for (int i = 0; i < n; ++i) {
        LogCube& cube = e.cubes.emplace_back();
        if (!payloadInt(r, &cube.variable) || !variableOk(r, cube.variable)) return false;
        if (!literalList(r, cube.dominators, true)) return false;
        skipEol(r);
    }
    return true;
}

bool readRes(LogReader& r, LogEntry& e, bool symbolic) {
    int p, q;
    if (!payloadInt(r, &e.variable) || !variableOk(r, e.variable)) return false;
    if (!payloadInt(r, &p) || !payloadInt(r, &q)) return false;
    if (!countOk(r, p) || !countOk(r, q) || !countOk(r, static_cast<long>(p) + q)) return false;
    if (!clauses(r, e.positive, p) || !clauses(r, e.negative, q)) return false;
    if (!symbolic) return true;
    std::vector<bdd::Bdd> roots;
    if (!loadRoots(r, static_cast<std::size_t>(p) + static_cast<std::size_t>(q), roots)) return false;
    for (int i = 0; i < p; ++i) e.positive[i].bdd = std::move(roots[i]);
    for (int j = 0; j < q; ++j) e.negative[j].bdd = std::move(roots[p + j]);
    return true;
}

bool readSCubes(LogReader& r, LogEntry& e) {
    int n;
    if (!payloadCount(r, &n)) return false;
    prepare(e.cubes, n);
    for (int i = 0; i < n; ++i) {
        LogCube& cube = e.cubes.emplace_back();
        if (!payloadInt(r, &cube.variable) || !variableOk(r, cube.variable)) return false;
    }
    std::vector<bdd::Bdd> roots;
    if (!loadRoots(r, static_cast<std::size_t>(n), roots)) return false;
    for (int i = 0; i < n; ++i) e.cubes[i].cube = std::move(roots[i]);
    return true;
}

bool readSAssign(LogReader& r, LogEntry& e) {
    if (!payloadInt(r, &e.literal) || !literalOk(r, e.literal)) return false;
    skipEol(r);
    std::vector<bdd::Bdd> roots;
    if (!loadRoots(r, 1, roots)) return false;
    e.bdd = std::move(roots[0]);
    return true;
}

bool readSEquiv(LogReader& r, LogEntry& e) {
    if (!payloadInt(r, &e.a) || !payloadInt(r, &e.b) || !payloadInt(r, &e.s)) return false;
    if (!literalOk(r, e.a) || !literalOk(r, e.b)) return false;
    skipEol(r);
    int n;
    if (!payloadCount(r, &n) || !clauses(r, e.clauses, n)) return false;
    std::vector<bdd::Bdd> roots;
    if (!loadRoots(r, static_cast<std::size_t>(n) + 1, roots)) return false;
    for (int i = 0; i < n; ++i) e.clauses[i].bdd = std::move(roots[i]);
    e.bdd = std::move(roots[n]);
    return true;
}

// "%c%c%i\n", text in both modes.
bool readBIn(LogReader& r, LogEntry& e) {
    int digit = next(r.in);
    int letter = next(r.in);
    if (digit == EOF || letter == EOF || !scanInt(r.in, &e.literal)) {
        setStatus(r, LOG_BAD_PAYLOAD);
        return false;
    }
    e.secondBranch = digit == '2';
    e.quantifier = static_cast<char>(letter);
    return literalOk(r, e.literal);
}

bool textInt(LogReader& r, int* v) {
    if (!scanInt(r.in, v)) {
        setStatus(r, LOG_BAD_PAYLOAD);
        return false;
    }
    return true;
}

bool matchText(LogReader& r, const char* text) {
    if (!match(&r, r.in, text)) {
        setStatus(r, LOG_BAD_PAYLOAD);
        return false;
    }
    return true;
}

bool readSatEncoding(LogReader& r, LogEntry& e) {
    int s, k, c;
    // "symbVar: %i(%i) cnfVar: %i\n"
    if (!matchText(r, "symbVar:") || !textInt(r, &s) || !matchText(r, "(") || !textInt(r, &k) ||
        !matchText(r, ") cnfVar:") || !textInt(r, &c) || !matchText(r, "\n"))
        return false;
    if (!countOk(r, c)) return false;
    prepare(e.values, static_cast<long>(c) + 1);
    e.values.push_back(0);
    for (int i = 1; i <= c; ++i) {
        int v;
        if (!payloadInt(r, &v)) return false;
        e.values.push_back(v);
    }
    skipEol(r);
    if (!countOk(r, k)) return false;
    InverseVarMapping& map = e.mapping;
    map.nonemptyExNumVar = k;
    map.cnfVarNum = c;
    prepare(map.rows, k);
    for (int i = 0; i < k; ++i) {
        InverseVarRow& row = map.rows.emplace_back();
        // "var %i: (%i,%i)\n"
        int z;
        if (!matchText(r, "var") || !textInt(r, &row.exVar) || !matchText(r, ": (") ||
            !textInt(r, &row.startingIndex) || !matchText(r, ",") || !textInt(r, &z) || !matchText(r, ")\n"))
            return false;
        if (!variableOk(r, row.exVar)) return false;
        if (!literalList(r, row.relevantUniv, true)) return false;
        row.relevantUnivSize = static_cast<int>(row.relevantUniv.size());
        skipEol(r);
        if (!countOk(r, z)) return false;
        row.numOfCubes = z;
        prepare(row.cubeMapping, z);
        for (int j = 0; j < z; ++j) {
            CubeMapping& cube = row.cubeMapping.emplace_back();
            prepare(cube.univCube, row.relevantUnivSize);
            for (int u = 0; u < row.relevantUnivSize; ++u) {
                int v;
                if (!payloadInt(r, &v)) return false;
                cube.univCube.push_back(v);
            }
            if (r.binary) {
                if (!payloadInt(r, &cube.firstIndex, kBadCubeIndexLine)) return false;
            } else if (!matchText(r, " (") || !textInt(r, &cube.firstIndex) || !matchText(r, ")")) {
                return false;
            }
            skipEol(r);
        }
    }
    return true;
}

bool readPayload(LogReader& r, LogEntry& e) {
    switch (e.kind) {
        case G_CUBES: return readGCubes(r, e);
        case G_RES: return readRes(r, e, false);
        case G_ASSIGN: return payloadInt(r, &e.literal) && literalOk(r, e.literal);
        case S_CUBES: return readSCubes(r, e);
        case S_RES: return readRes(r, e, true);
        case S_ASSIGN: return readSAssign(r, e);
        case S_EQUIV: return readSEquiv(r, e);
        case B_IN: return readBIn(r, e);
        case B_OUT: return payloadInt(r, &e.literal) && literalOk(r, e.literal);
        case SAT_ENCODING: return readSatEncoding(r, e);
        default: return false;
    }
}

// ---- header and trailer ----

// False when the header broke off (the trailer is then not looked for).
bool readHeader(LogReader& r) {
    LogCursor& fp = r.in;
    std::string version;
    if (!match(nullptr, fp, "# Tobrin log file,") || !scanToken(fp, &version) || version != "1.3") {
        setStatus(r, LOG_BAD_VERSION);
        return false;
    }
    // The rest of the banner line (or, when it ended at the version, the second line).
    skipWhite(fp);
    int c;
    while ((c = next(fp)) != EOF && c != '\n') {
    }

    // The formula's name between double quotes; each run of white space in it reads
    // as one blank.
    std::string name, token;
    if (!match(nullptr, fp, "# formula:") || !scanToken(fp, &name)) {
        setStatus(r, LOG_BAD_HEADER);
        return false;
    }
    while (name.size() < 2 || name.back() != '"') {
        if (!scanToken(fp, &token)) {
            setStatus(r, LOG_BAD_HEADER);
            return false;
        }
        name += ' ';
        name += token;
    }
    r.formula = name.substr(1, name.size() - 2);

    std::string format;
    if (!match(nullptr, fp, "\n# dump format:") || !scanToken(fp, &format)) {
        setStatus(r, LOG_BAD_HEADER);
        return false;
    }
    if (format == "binary") {
        r.binary = true;
    } else if (format == "text") {
        r.binary = false;
    } else {
        setStatus(r, LOG_BAD_HEADER);  // parsing goes on
    }
    r.mode = r.binary ? 'B' : 'A';

    long n = 0, u = 0;
    if (!match(nullptr, fp, "\n# vars: (") || !scanLong(fp, &n) || !match(nullptr, fp, ",") || !scanLong(fp, &u) ||
        !match(nullptr, fp, ")\n\n")) {
        setStatus(r, LOG_BAD_HEADER);
        return false;
    }
    // Both lists hold one integer of at least one byte per slot: counts beyond the file
    // are no counts.
    long room = fp.size - fp.pos;
    if (n < 1 || n > INT_MAX || u < 0 || u > n - 1 || n - 1 > room || u > room) {
        setStatus(r, LOG_BAD_HEADER);
        return false;
    }
    r.numVars = static_cast<int>(n);
    r.numUniv = static_cast<int>(u);

    if (!match(nullptr, fp, "\n# universals:")) {
        setStatus(r, LOG_BAD_HEADER);
        return false;
    }
    r.universals.assign(static_cast<std::size_t>(u) + 1, 0);
    std::vector<char> seen(static_cast<std::size_t>(n), 0);
    for (long k = 1; k <= u; ++k) {
        int v;
        if (!scanInt(fp, &v) || v < 1 || v >= n || seen[v]) {
            setStatus(r, LOG_BAD_HEADER);
            return false;
        }
        seen[v] = 1;
        r.universals[k] = v;
    }

    if (!match(nullptr, fp, "\n# int/ext mapping:")) {
        setStatus(r, LOG_BAD_HEADER);
        return false;
    }
    r.intToExt.assign(static_cast<std::size_t>(n), 0);
    r.maxExt = 0;
    for (long i = 1; i < n; ++i) {
        int e;
        if (!scanInt(fp, &e) || e < 1 || e > kMaxExternal) {
            setStatus(r, LOG_BAD_HEADER);
            return false;
        }
        r.intToExt[i] = e;
        if (e > r.maxExt) r.maxExt = e;
    }
    return true;
}

void locateTrailer(LogReader& r) {
    long size = r.in.size;
    long at = -1;
    for (long n = 2; n <= 99 && n <= size; ++n) {
        seekBack(r.in, size - n, size);
        if (readLine(r) && r.line[0] == '#') {
            at = size - n;
            break;
        }
    }
    std::string name;
    long id = 0, backOffset = 0;
    // Back offsets are distances to earlier headers: a negative one is no trailer's.
    if (at < 0 || !parseEntryHeader(r.line, &id, &name, &backOffset) || name != "END" || backOffset < 0) {
        setStatus(r, LOG_NO_TRAILER);
        return;
    }
    r.currentId = id;
    r.trailerId = id;
    r.backOffset = backOffset;
    r.headerOffset = at;

    std::string word;
    LineScan s{nullptr};
    readLine(r);
    s.p = r.line.c_str();
    if (!s.lit("outcome:") || !s.token(&word) || word != "TRUE") {
        setStatus(r, LOG_NOT_TRUE);
        return;
    }
    r.solverTime = 0.0;
    if (readLine(r)) {
        s.p = r.line.c_str();
        if (s.lit("time:")) {
            char* end = nullptr;
            double t = std::strtod(s.p, &end);
            if (end != s.p) r.solverTime = t;
        }
    }
}

void destroy(LogReader* r) {
    if (!r) return;
    closeCursor(r->in);
    delete r;
}

}  // namespace

const char* logKindName(int kind) {
    if (kind < 0 || kind > LOG_END) return kKindNames[0];
    return kKindNames[kind];
}

int logKindOf(const char* name) {
    // Every kind name but the first begins with one of these letters.
    char c = name[0];
    if (c != 'G' && c != 'S' && c != 'B' && c != 'R' && c != 'E' && c != 'e') return LOG_UNKNOWN;
    for (int k = 0; k <= LOG_END; ++k)
        if (kKindNames[k][0] == c && std::strcmp(kKindNames[k], name) == 0) return k;
    return LOG_UNKNOWN;
}

const char* logStatusMessage(int status) {
    if (status < 0 || status >= LOG_STATUS_COUNT) return kStatusMessages[LOG_SYNC_LOST];
    return kStatusMessages[status];
}

LogReaderPtr logOpen(const std::string& path, long windowBytes) {
    LogReaderPtr r(new LogReader, destroy);
    if (windowBytes > 0) {
        r->in.window = windowBytes;
        r->in.ahead = std::min(kAhead, std::max(1L, windowBytes / 4));
    }
    r->path = path;
    r->line.reserve(kLineKeep + 1);
    r->in.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (r->in.fd < 0 || fstat(r->in.fd, &st) != 0) {
        setStatus(*r, LOG_NOT_READABLE);
        return r;
    }
    r->in.size = static_cast<long>(st.st_size);
    if (readHeader(*r)) locateTrailer(*r);
    return r;
}

bool logIsError(const LogReader& r) { return r.status > LOG_SYNC_OK; }
int logStatus(const LogReader& r) { return r.status; }
const char* logStatusText(const LogReader& r) { return logStatusMessage(r.status); }
const char* logLastLine(const LogReader& r) { return r.line.c_str(); }
Status logError(const LogReader& r) { return logIsError(r) ? Status::failure(logStatusText(r)) : Status(); }
void logSetStatus(LogReader& r, int status) { r.status = status; }

const std::string& logFormula(const LogReader& r) { return r.formula; }
long logFileBytes(const LogReader& r) { return r.in.size; }
int logNumVars(const LogReader& r) { return r.numVars; }
int logNumUniv(const LogReader& r) { return r.numUniv; }
const std::vector<int>& logUniversals(const LogReader& r) { return r.universals; }
const std::vector<int>& logIntToExt(const LogReader& r) { return r.intToExt; }
int logMaxExt(const LogReader& r) { return r.maxExt; }
double logSolverTime(const LogReader& r) { return r.solverTime; }
long logTrailerId(const LogReader& r) { return r.trailerId; }
long logCurrentId(const LogReader& r) { return r.currentId; }
bool logAtFirstEntry(const LogReader& r) { return r.backOffset <= 0; }
bool logBinary(const LogReader& r) { return r.binary; }

void logInstallManager(LogReader& r, bdd::Manager* manager) { r.manager = manager; }

LogEntry logReadPrevious(LogReader& r) {
    bool rollback = false;
    long rollbackTarget = 0;
    bool branch = false;
    int branchLiteral = 0;
    if (r.in.fd < 0 || logIsError(r)) return LogEntry{};

    while (r.backOffset > 0) {
        long target = r.headerOffset - r.backOffset;
        if (target < 0) {
            setStatus(r, LOG_SYNC_LOST);
            return LogEntry{};
        }
        seekBack(r.in, target, r.headerOffset);
        r.limit = r.headerOffset;
        r.headerOffset = target;
        if (!readLine(r) || r.line[0] != '#') {
            setStatus(r, LOG_SYNC_LOST);
            return LogEntry{};
        }
        std::string name;
        long id = 0, backOffset = 0;
        if (!parseEntryHeader(r.line, &id, &name, &backOffset) || backOffset < 0) {
            setStatus(r, LOG_SYNC_LOST);
            return LogEntry{};
        }
        r.currentId = id;
        r.backOffset = backOffset;

        if (rollback) {
            if (id != rollbackTarget) continue;
            rollback = false;
        }
        int kind = logKindOf(name.c_str());
        if (branch && kind != B_IN) continue;
        if (kind == LOG_UNKNOWN || kind == LOG_END) {
            setStatus(r, LOG_UNKNOWN_KIND);
            return LogEntry{};
        }
        if (kind == ROLLBACK) {
            readLine(r);
            LineScan s{r.line.c_str()};
            long to = -1;
            if (!s.lit("to:") || !s.number(&to) || to < 0) {
                setStatus(r, LOG_SYNC_LOST);
                return LogEntry{};
            }
            rollback = true;
            rollbackTarget = to;
            continue;
        }

        LogEntry e;
        e.kind = kind;
        e.id = static_cast<int>(id);
        if (!readPayload(r, e)) return LogEntry{};
        if (kind == B_IN) {
            if (branch) {
                if (e.literal != branchLiteral) continue;
                // The first branch's B_IN stands for the whole branch point: it takes the
                // literal of the second branch that started the skip.
                branch = false;
                e.literal = -e.literal;
                return e;
            }
            if (e.quantifier == 'e' && e.secondBranch) {
                branch = true;
                branchLiteral = -e.literal;
                continue;
            }
        }
        return e;
    }
    if (rollback || branch) setStatus(r, LOG_SYNC_LOST);
    return LogEntry{};
}

void logRelease(LogEntry& entry) { LogEntry dropped = std::move(entry); entry = LogEntry{}; }

void logClose(LogReader& r) {
    closeCursor(r.in);
}
