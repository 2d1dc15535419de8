#include "files/report.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "inputs/input_kinds.h"
#include "inputs/qdimacs_reader.h"
#include "outcomes/line_append.h"
#include "outcomes/outcome.h"

namespace report {

namespace {

// Grows for good when a formula line does not fit, like the formula reader's buffer.
std::size_t g_lineSize = 10000;

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

std::string reportFileName(const std::string& formulaPath, const std::string& suffix) {
    return unshardedName(formulaPath) + suffix;
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
    // A restart reads the file again from its first line; what was written stays written.
    bool problemWritten = false;
    int quantifierLines = 0;  // written so far
    bool header = false;      // in this read: the problem line has been met
    int seen = 0;             // in this read: quantifier lines met
    auto onLine = [&](const char* line, long) {
        if (!header) {
            if (line[0] == 'c') return true;
            int vars = 0, clauses = 0;
            // Without its problem line the formula has no prefix to count either.
            bool problemLine = std::sscanf(line, "p cnf %i %i", &vars, &clauses) == 2;
            if (!problemLine) vars = clauses = 0;
            if (!problemWritten) std::fprintf(out, "%d\t%d\t", vars, clauses);
            problemWritten = true;
            header = true;
            return problemLine;
        }
        if (line[0] != 'a' && line[0] != 'e') return false;
        int count = countVariables(line);
        if (count > 0 && ++seen > quantifierLines) {
            std::fprintf(out, "%c[%i]", line[0] == 'a' ? 'A' : 'E', count);
            quantifierLines = seen;
        }
        return true;
    };
    auto onRestart = [&] {
        header = false;
        seen = 0;
    };
    qdimacs::walkLines(formulaPath, g_lineSize, onLine, onRestart);
    if (!problemWritten) std::fprintf(out, "%d\t%d\t", 0, 0);
    std::fprintf(out, "\t%i\t", quantifierLines - 1);
}

Status appendReportLine(const std::string& formulaPath, double solverTime, double reconstructionTime,
                        double checkTime, long entryCount, long nodeCount, const char* outcome,
                        const std::string& fileSuffix) {
    if (!inputs::formulaExists(formulaPath)) return Status();
    // The line is made whole first and appended with a single write, so that the lines
    // of children running side by side never mix inside a line.
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* line = open_memstream(&data, &size);
    if (!line) outcome::memout();
    std::fprintf(line, "%s\t", instanceName(formulaPath).c_str());
    formulaStatistics(formulaPath, line);
    std::fprintf(line, "%.2f\t%.2f\t%.2f\t%li\t%li\t%s\n", solverTime, reconstructionTime, checkTime,
                 entryCount, nodeCount, outcome);
    if (std::fclose(line) != 0) outcome::memout();
    std::string text(data, size);
    std::free(data);
    return line_append::appendTo(reportFileName(formulaPath, fileSuffix), text);
}

}  // namespace report
