// The solver-log reader (module Log): header, trailer, and the backward walk over the
// entries by their back offsets, with rolled-back stretches and failed existential
// branches passed over by their headers alone.
#include "inputs/log_reader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "bdd/dddmp.h"
#include "outcomes/outcome.h"

namespace {

// Part of a line that is kept for parsing and for "at line" messages; the rest of a
// longer line is consumed and dropped.
constexpr std::size_t kLineKeep = 10000 - 1;
// Backwards walking reads each block of the file once while the entries are small.
constexpr std::size_t kStreamBuffer = 1 << 18;
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

struct LogReader {
    std::string path;
    std::FILE* fp = nullptr;
    std::vector<char> streamBuffer;
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

int next(std::FILE* fp) { return getc_unlocked(fp); }
void back(std::FILE* fp, int c) {
    if (c != EOF) ungetc(c, fp);
}

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void skipWhite(std::FILE* fp) {
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
        skipWhite(r.fp);
        return;
    }
    int c;
    while ((c = next(r.fp)) == '\n' || c == '\r') {
    }
    back(r.fp, c);
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
bool scanLong(std::FILE* fp, long* out) {
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

bool scanInt(std::FILE* fp, int* out) {
    long v;
    if (!scanLong(fp, &v) || v < INT_MIN || v > INT_MAX) return false;
    *out = static_cast<int>(v);
    return true;
}

// Literal text with scanf's rules: a white-space character matches any run of white
// space (none included), every other character itself. A '\n' of a payload line is a
// line end (skipEol); elsewhere it is white space.
bool match(LogReader* r, std::FILE* fp, const char* text) {
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
bool scanToken(std::FILE* fp, std::string* out) {
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
    int c;
    bool any = false;
    while ((c = next(r.fp)) != EOF) {
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
    long pos = std::ftell(r.fp);
    return pos < 0 ? 0 : r.limit - pos;
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

// One payload integer: "%i" in text mode, the folded binary integer code in binary mode.
bool payloadInt(LogReader& r, int* value, int fatalLine = 116) {
    if (r.binary) {
        int code = 0;
        if (!dddmp::readInt(r.fp, &code)) outcome::abnormalExit("Problem in DddmpReadInt", fatalLine, "Log");
        *value = (code & 1) ? -(code >> 1) : (code >> 1);
        return true;
    }
    if (!scanInt(r.fp, value)) {
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
    dddmp::LoadResult loaded = dddmp::loadArray(r.fp, static_cast<char>(r.mode));
    if (!loaded.ok) {
        setStatus(r, LOG_BAD_BDD);
        return false;
    }
    if (loaded.roots.size() < need) {
        setStatus(r, LOG_FEW_ROOTS);
        return false;
    }
    roots = std::move(loaded.roots);
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
    int digit = next(r.fp);
    int letter = next(r.fp);
    if (digit == EOF || letter == EOF || !scanInt(r.fp, &e.literal)) {
        setStatus(r, LOG_BAD_PAYLOAD);
        return false;
    }
    e.secondBranch = digit == '2';
    e.quantifier = static_cast<char>(letter);
    return literalOk(r, e.literal);
}

bool textInt(LogReader& r, int* v) {
    if (!scanInt(r.fp, v)) {
        setStatus(r, LOG_BAD_PAYLOAD);
        return false;
    }
    return true;
}

bool matchText(LogReader& r, const char* text) {
    if (!match(&r, r.fp, text)) {
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
                if (!payloadInt(r, &cube.firstIndex, 137)) return false;
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
    std::FILE* fp = r.fp;
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
    long here = std::ftell(fp);
    std::fseek(fp, 0, SEEK_END);
    long size = std::ftell(fp);
    std::fseek(fp, here, SEEK_SET);
    long room = size - here;
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
    if (std::fseek(r.fp, 0, SEEK_END) != 0) {
        setStatus(r, LOG_NO_TRAILER);
        return;
    }
    long size = std::ftell(r.fp);
    long at = -1;
    for (long n = 2; n <= 99 && n <= size; ++n) {
        std::fseek(r.fp, size - n, SEEK_SET);
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
    if (r->fp) std::fclose(r->fp);
    delete r;
}

}  // namespace

const char* logKindName(int kind) {
    if (kind < 0 || kind > LOG_END) return kKindNames[0];
    return kKindNames[kind];
}

int logKindOf(const char* name) {
    for (int k = 0; k <= LOG_END; ++k)
        if (std::strcmp(kKindNames[k], name) == 0) return k;
    return LOG_UNKNOWN;
}

const char* logStatusMessage(int status) {
    if (status < 0 || status >= LOG_STATUS_COUNT) return kStatusMessages[LOG_SYNC_LOST];
    return kStatusMessages[status];
}

LogReaderPtr logOpen(const std::string& path) {
    LogReaderPtr r(new LogReader, destroy);
    r->path = path;
    r->line.reserve(kLineKeep + 1);
    r->fp = std::fopen(path.c_str(), "rb");
    if (!r->fp) {
        setStatus(*r, LOG_NOT_READABLE);
        return r;
    }
    r->streamBuffer.resize(kStreamBuffer);
    setvbuf(r->fp, r->streamBuffer.data(), _IOFBF, r->streamBuffer.size());
    if (readHeader(*r)) locateTrailer(*r);
    return r;
}

bool logIsError(const LogReader& r) { return r.status > LOG_SYNC_OK; }
int logStatus(const LogReader& r) { return r.status; }
const char* logStatusText(const LogReader& r) { return logStatusMessage(r.status); }
const char* logLastLine(const LogReader& r) { return r.line.c_str(); }
void logSetStatus(LogReader& r, int status) { r.status = status; }

const std::string& logFormula(const LogReader& r) { return r.formula; }
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
    if (!r.fp || logIsError(r)) return LogEntry{};

    while (r.backOffset > 0) {
        long target = r.headerOffset - r.backOffset;
        if (target < 0 || std::fseek(r.fp, target, SEEK_SET) != 0) {
            setStatus(r, LOG_SYNC_LOST);
            return LogEntry{};
        }
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
    if (r.fp) std::fclose(r.fp);
    r.fp = nullptr;
}
