#include "files/report.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "inputs/input_kinds.h"
#include "runcontrol/settings.h"

namespace report {

namespace {

// Grows for good when a formula line does not fit, like the formula reader's buffer.
int g_lineSize = 10000;

struct Statistics {
    bool problemWritten = false;
    int quantifierLines = 0;  // written so far, kept across a restart
};

// Counts the non-zero numbers of a quantifier line after its letter.
int countVariables(const char* line) {
    int count = 0;
    const char* p = line + 1;
    while (*p) {
        while (*p == ' ') ++p;
        if (!*p) break;
        int value = 0;
        if (std::sscanf(p, "%i", &value) == 1 && value != 0) ++count;
        while (*p && *p != ' ') ++p;
    }
    return count;
}

// One read of the formula. Returns false when a line filled the buffer and the read
// must start again with a larger one.
bool readStatistics(gzFile gz, std::FILE* out, Statistics& stats) {
    std::vector<char> buffer(static_cast<std::size_t>(g_lineSize));
    char* line = buffer.data();
    auto next = [&]() -> int {  // 1 line read, 0 end of file, -1 line too long
        if (!gzgets(gz, line, g_lineSize)) return 0;
        return static_cast<int>(std::strlen(line)) == g_lineSize - 1 ? -1 : 1;
    };
    int got;
    while ((got = next()) == 1 && line[0] == 'c') {
    }
    if (got < 0) return false;
    int vars = 0, clauses = 0;
    if (got == 0 || std::sscanf(line, "p cnf %i %i", &vars, &clauses) != 2) {
        if (!stats.problemWritten) std::fprintf(out, "%d\t%d\t", 0, 0);
        stats.problemWritten = true;
        return true;
    }
    if (!stats.problemWritten) std::fprintf(out, "%d\t%d\t", vars, clauses);
    stats.problemWritten = true;
    int seen = 0;  // quantifier lines met in this read
    while ((got = next()) == 1 && (line[0] == 'a' || line[0] == 'e')) {
        int count = countVariables(line);
        if (count <= 0) continue;
        if (++seen > stats.quantifierLines) {
            std::fprintf(out, "%c[%i]", line[0] == 'a' ? 'A' : 'E', count);
            stats.quantifierLines = seen;
        }
    }
    return got >= 0;
}

}  // namespace

namespace {

std::string unshardedName(const std::string& formulaPath) {
    std::size_t slash = formulaPath.rfind('/');
    if (slash == std::string::npos) return "certificationReport.qbm.txt";
    std::string dir = formulaPath.substr(0, slash);
    std::size_t inner = dir.rfind('/');
    std::string base = inner == std::string::npos ? dir : dir.substr(inner + 1);
    if (base.empty() || base == "." || base == "..") base = "certificationReport";
    return dir + "/" + base + ".qbm.txt";
}

}  // namespace

std::string reportFileName(const std::string& formulaPath) {
    std::string name = unshardedName(formulaPath);
    // Shards of one batch run never share a report file.
    if (settings().batchMode && settings().shardCount > 0)
        name += ".shard" + std::to_string(settings().shardIndex) + "of" + std::to_string(settings().shardCount);
    return name;
}

std::string instanceName(const std::string& formulaPath) {
    std::size_t slash = formulaPath.rfind('/');
    if (slash == std::string::npos) return "noname";
    std::string name = formulaPath.substr(slash + 1);
    std::size_t at = name.find(".Tobrin.log");
    if (at == std::string::npos) at = name.find(".qbm");
    return at == std::string::npos ? name : name.substr(0, at);
}

void formulaStatistics(const std::string& formulaPath, std::FILE* out) {
    Statistics stats;
    for (;;) {
        gzFile gz = gzopen(formulaPath.c_str(), "r");
        if (!gz) {
            if (!stats.problemWritten) std::fprintf(out, "%d\t%d\t", 0, 0);
            break;
        }
        bool complete = readStatistics(gz, out, stats);
        gzclose(gz);
        if (complete) break;
        g_lineSize *= 2;
    }
    std::fprintf(out, "\t%i\t", stats.quantifierLines - 1);
}

void appendReportLine(const std::string& formulaPath, double solverTime, double reconstructionTime,
                      double checkTime, long entryCount, long nodeCount, const char* outcome) {
    if (!inputs::formulaExists(formulaPath)) return;
    // The line is made whole first and appended with a single write, so that the lines
    // of children running side by side never mix inside a line.
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* line = open_memstream(&data, &size);
    if (!line) return;
    std::fprintf(line, "%s\t", instanceName(formulaPath).c_str());
    formulaStatistics(formulaPath, line);
    std::fprintf(line, "%.2f\t%.2f\t%.2f\t%li\t%li\t%s\n", solverTime, reconstructionTime, checkTime,
                 entryCount, nodeCount, outcome);
    bool complete = std::fclose(line) == 0;
    int fd = complete ? open(reportFileName(formulaPath).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666) : -1;
    if (fd >= 0) {
        ssize_t written = write(fd, data, size);
        (void)written;  // a line that cannot be written is left out, like an unopenable file
        close(fd);
    }
    std::free(data);
}

}  // namespace report
