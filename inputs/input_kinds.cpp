#include "inputs/input_kinds.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "inputs/qrp_reader.h"

namespace inputs {

namespace {

// The last component of a path: the name the kind tests look at, so that a directory on
// the way (runs.qbm/, X.qdimacs/) never decides what a file is.
std::string baseName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string directoryPart(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool named(const std::string& path, const char* ending) { return endsWithSuffix(baseName(path), ending); }

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Up to size bytes of the start of a regular file; the count read, -1 when it is no
// regular file or cannot be read. Opened without blocking: a pipe named like an input
// must not stall the run.
long readHead(const std::string& path, char* buffer, std::size_t size) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    long got = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        ssize_t n = read(fd, buffer, size);
        got = n < 0 ? -1 : static_cast<long>(n);
    }
    close(fd);
    return got;
}

// The file's first line (or as much of it as fits), zero-terminated; false when it cannot
// be read or is empty.
bool firstLine(const std::string& path, char* buffer, int size) {
    long n = readHead(path, buffer, static_cast<std::size_t>(size) - 1);
    if (n <= 0) return false;
    buffer[n] = '\0';
    if (char* end = std::strchr(buffer, '\n')) end[1] = '\0';
    return true;
}

// The banner's token (the first word at the "%s" of the pattern) must equal expected.
bool bannerToken(const std::string& path, const char* pattern, const char* expected) {
    char line[1024];
    if (!firstLine(path, line, sizeof line)) return false;
    char token[sizeof line];
    if (std::sscanf(line, pattern, token) != 1) return false;
    return std::strcmp(token, expected) == 0;
}

constexpr const char* kFormulaEndings[] = {".qdimacs", ".qdimacs.gz", ".qcnf", ".qcnf.gz"};

}  // namespace

bool endsWithSuffix(const std::string& name, const std::string& suffix) {
    if (suffix.empty()) return false;
    std::size_t at = name.find(suffix);
    return at != std::string::npos && at + suffix.size() == name.size();
}

bool isLogFile(const std::string& path) {
    return named(path, ".Tobrin.log") && bannerToken(path, "# %1023s log file", "Tobrin");
}

bool isQbmFile(const std::string& path) {
    // 1.4 is the version of countermodels' files.
    return named(path, ".qbm") &&
           (bannerToken(path, "# QBM file, %1023s\n", "1.3") || bannerToken(path, "# QBM file, %1023s\n", "1.4"));
}

namespace {

constexpr const char* kTraceEndings[] = {".qrp", ".qrp.gz"};
constexpr const char* kCircuitEndings[] = {".aag", ".aig"};

// The ending of NAME.qrp[.gz] / NAME.aag / NAME.aig, or nullptr.
const char* certificateEnding(const std::string& path) {
    for (const char* ending : kTraceEndings)
        if (named(path, ending)) return ending;
    for (const char* ending : kCircuitEndings)
        if (named(path, ending)) return ending;
    return nullptr;
}

bool firstBytes(const std::string& path, const char* expected) {
    char head[8] = {0};
    long n = static_cast<long>(std::strlen(expected));
    return readHead(path, head, static_cast<std::size_t>(n)) == n && std::memcmp(head, expected, n) == 0;
}

}  // namespace

bool isTraceFile(const std::string& path) {
    bool traceNamed = false;
    for (const char* ending : kTraceEndings) traceNamed = traceNamed || named(path, ending);
    return traceNamed && isRegularFile(path) && qrp::looksLikeTrace(path);
}

bool isCircuitFile(const std::string& path) {
    return (named(path, ".aag") && firstBytes(path, "aag ")) || (named(path, ".aig") && firstBytes(path, "aig "));
}

bool isCertificateInputNamed(const std::string& path) { return certificateEnding(path) != nullptr; }

std::string notAnInput(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "it is a directory";
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if (st.st_size == 0) return "the file is empty";
    const char* ending = certificateEnding(path);
    if (!ending) return "it is not named like an input (.Tobrin.log, .qbm, .qrp, .qrp.gz, .aag, .aig)";
    if (ending == kCircuitEndings[0]) return "it is not an ASCII AIGER circuit (it does not begin with \"aag \")";
    if (ending == kCircuitEndings[1]) return "it is not a binary AIGER circuit (it does not begin with \"aig \")";
    return "it is not a proof trace (it does not begin with \"p qrp \" or \"p bqrp \", or its gzip stream is cut or damaged)";
}

std::string formulaBeside(const std::string& inputPath) {
    const char* ending = certificateEnding(inputPath);
    if (!ending) return "";
    std::string name = inputPath.substr(0, inputPath.size() - std::strlen(ending));
    for (const char* formulaEnding : kFormulaEndings)
        if (formulaExists(name + formulaEnding)) return name + formulaEnding;
    return "";
}

std::string certificateInputToQbmName(const std::string& inputName) {
    const char* ending = certificateEnding(inputName);
    if (!ending) return inputName + ".qbm";
    std::string dir = directoryPart(inputName);
    std::string base = baseName(inputName);
    std::string stem = base.substr(0, base.size() - std::strlen(ending));
    // A stem holding ".qbm" (Plumex's own x.qbm.aag) would give a name that is no QBM file.
    for (std::size_t at; (at = stem.find(".qbm")) != std::string::npos;) stem.replace(at, 4, "_qbm");
    // Inputs of one stem beside each other write apart: the first of a log, a trace, a
    // gzip trace, an ASCII and a binary circuit that is there takes NAME.qbm, every other
    // one NAME.ENDING.qbm.
    std::string first;
    if (isLogFile(dir + stem + ".Tobrin.log")) first = ".Tobrin.log";
    for (const char* e : kTraceEndings)
        if (first.empty() && isTraceFile(dir + stem + e)) first = e;
    for (const char* e : kCircuitEndings)
        if (first.empty() && isCircuitFile(dir + stem + e)) first = e;
    bool alone = first.empty() || first == ending;
    return dir + stem + (alone ? "" : ending) + ".qbm";
}

namespace {

bool formulaNamed(const std::string& path) {
    bool any = false;
    for (const char* ending : kFormulaEndings) any = any || named(path, ending);
    return any;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool formulaExists(const std::string& path) {
    if (!formulaNamed(path)) return false;
    // zlib opens a directory without complaint and fails only on reading; a directory
    // is no formula, and a pipe would block the opening.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
        return false;
    gzFile gz = gzopen(path.c_str(), "r");
    if (!gz) return false;
    gzclose(gz);
    return true;
}

bool formulaUnreadable(const std::string& path) { return formulaNamed(path) && isDirectory(path); }

bool formulaFound(const std::string& path) { return formulaExists(path) || (!formulaNamed(path) && isRegularFile(path)); }

long fileBytes(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

std::string logToQbmName(const std::string& logName) {
    std::string base = baseName(logName);
    return directoryPart(logName) + base.substr(0, base.find(".Tobrin.log")) + ".qbm";
}

std::string qbmToQdcName(const std::string& qbmName) {
    std::string base = baseName(qbmName);
    std::size_t at = base.find(".qbm");
    if (at == std::string::npos) return qbmName + ".qdc";
    return directoryPart(qbmName) + base.substr(0, at) + ".qdc";
}

std::string relativeTo(const std::string& path, const std::string& fromFile) {
    namespace fs = std::filesystem;
    if (path.empty() || path[0] == '/') return path;
    std::error_code error;
    fs::path cwd = fs::current_path(error);
    if (error) return path;
    fs::path target = (cwd / path).lexically_normal();
    fs::path from = (cwd / fs::path(fromFile)).lexically_normal().parent_path();
    fs::path relative = target.lexically_relative(from);
    return relative.empty() ? path : relative.string();
}

std::string resolveFormula(const std::string& path, const std::string& inputPath) {
    if (path.empty() || path[0] == '/' || formulaFound(path)) return path;
    std::string dir = directoryPart(inputPath);
    if (dir.empty()) return path;
    return formulaFound(dir + path) ? dir + path : path;
}

std::string dotName(const std::string& name) { return name + ".dot"; }
std::string resultName(const std::string& name) { return name + ".result"; }
std::string lineName(const std::string& name, int line) { return name + ".line" + std::to_string(line); }

std::string expDumpName(const std::string& base, int index, int count, ExpDump kind,
                        const std::string& cnfSuffix) {
    std::string name = base;
    if (count >= 2) name += "." + std::to_string(index + 1);
    switch (kind) {
        case ExpDump::Direct: return name + ".exp.direct";
        case ExpDump::Cnf: return (cnfSuffix.empty() ? name : name + "." + cnfSuffix) + ".exp.cnf";
        case ExpDump::Bdd: return name + ".exp.bdd";
        case ExpDump::Dot: return name + ".exp.dot";
    }
    return name;
}

}  // namespace inputs
