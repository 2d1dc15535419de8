#include "inputs/input_kinds.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "inputs/qrp_reader.h"

namespace inputs {

namespace {

// Reads the file's first line (or as much of it as fits); false when it cannot be opened
// or is empty.
bool firstLine(const std::string& path, char* buffer, int size) {
    std::FILE* fp = std::fopen(path.c_str(), "r");
    if (!fp) return false;
    bool ok = std::fgets(buffer, size, fp) != nullptr;
    std::fclose(fp);
    return ok;
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
    return endsWithSuffix(path, ".Tobrin.log") && bannerToken(path, "# %1023s log file", "Tobrin");
}

bool isQbmFile(const std::string& path) {
    return endsWithSuffix(path, ".qbm") && bannerToken(path, "# QBM file, %1023s\n", "1.3");
}

namespace {

constexpr const char* kTraceEndings[] = {".qrp", ".qrp.gz"};
constexpr const char* kCircuitEndings[] = {".aag", ".aig"};

// The ending of NAME.qrp[.gz] / NAME.aag / NAME.aig, or npos.
std::size_t certificateEnding(const std::string& path) {
    for (const char* ending : kTraceEndings)
        if (endsWithSuffix(path, ending)) return path.size() - std::strlen(ending);
    for (const char* ending : kCircuitEndings)
        if (endsWithSuffix(path, ending)) return path.size() - std::strlen(ending);
    return std::string::npos;
}

bool firstBytes(const std::string& path, const char* expected) {
    std::FILE* fp = std::fopen(path.c_str(), "rb");
    if (!fp) return false;
    char head[8] = {0};
    std::size_t n = std::strlen(expected);
    bool ok = std::fread(head, 1, n, fp) == n && std::memcmp(head, expected, n) == 0;
    std::fclose(fp);
    return ok;
}

}  // namespace

bool isTraceFile(const std::string& path) {
    bool named = false;
    for (const char* ending : kTraceEndings) named = named || endsWithSuffix(path, ending);
    return named && qrp::looksLikeTrace(path);
}

bool isCircuitFile(const std::string& path) {
    return (endsWithSuffix(path, ".aag") && firstBytes(path, "aag ")) ||
           (endsWithSuffix(path, ".aig") && firstBytes(path, "aig "));
}

std::string formulaBeside(const std::string& inputPath) {
    std::size_t at = certificateEnding(inputPath);
    if (at == std::string::npos) return "";
    std::string name = inputPath.substr(0, at);
    for (const char* ending : kFormulaEndings)
        if (formulaExists(name + ending)) return name + ending;
    return "";
}

std::string certificateInputToQbmName(const std::string& inputName) {
    std::size_t at = certificateEnding(inputName);
    return (at == std::string::npos ? inputName : inputName.substr(0, at)) + ".qbm";
}

namespace {

bool formulaNamed(const std::string& path) {
    bool named = false;
    for (const char* ending : kFormulaEndings) named = named || endsWithSuffix(path, ending);
    return named;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool formulaExists(const std::string& path) {
    if (!formulaNamed(path)) return false;
    // zlib opens a directory without complaint and fails only on reading; a directory
    // is no formula.
    if (isDirectory(path)) return false;
    gzFile gz = gzopen(path.c_str(), "r");
    if (!gz) return false;
    gzclose(gz);
    return true;
}

bool formulaUnreadable(const std::string& path) { return formulaNamed(path) && isDirectory(path); }

long fileBytes(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

std::string logToQbmName(const std::string& logName) {
    std::size_t at = logName.find(".Tobrin.log");
    return logName.substr(0, at) + ".qbm";
}

std::string qbmToQdcName(const std::string& qbmName) {
    std::size_t at = qbmName.find(".qbm");
    if (at == std::string::npos) return qbmName + ".qdc";
    return qbmName.substr(0, at) + ".qdc";
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
