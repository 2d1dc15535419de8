// Countermodels of real false formulas, certified by the binary, next to DepQBF writing
// the trace they come from. For each formula and trace mode (ASCII, binary): DepQBF with
// tracing (the anchor, its user + system seconds), then `plumex -qbf FORMULA TRACE` (the
// whole certification, exit status 11), with its peak resident memory and the seconds of
// its steps as it prints them: reading the trace, the countermodel's extraction, the
// validity check. Each the least of three runs, one where it takes over 20 s.
//
// Usage: bench_countermodel_traces [FORMULA...]   (QDIMACS, plain or gzip, of false
//        formulas; default: the false game formulas under tests/data/games)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "child.h"

namespace {

using bench::Run;

// The least of three runs (one run when the first takes over 20 s).
Run least(const std::vector<std::string>& argv, const std::string& out) { return bench::leastOf(3, 20, argv, out); }

// The seconds Plumex printed at the end of the line of step `title`, -1 without one.
double stepSeconds(const std::string& output, const std::string& title) {
    std::ifstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find(title) == std::string::npos) continue;
        std::size_t end = line.rfind("s]");
        std::size_t from = line.rfind(' ', end);
        if (end == std::string::npos || from == std::string::npos) return -1;
        return std::atof(line.substr(from + 1, end - from - 1).c_str());
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (access("/usr/bin/depqbf", X_OK) != 0) {
        std::printf("depqbf is missing: install the Debian package depqbf\n");
        return 0;
    }
    std::vector<std::string> formulas(argv + 1, argv + argc);
    if (formulas.empty())
        formulas = {std::string(PLUMEX_SOURCE_DIR) + "/tests/data/games/qsage21_hex_npos_14_depth_7.qdimacs.gz"};
    char tmpl[] = "/tmp/plumex-bench-countermodel-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    const std::string formula = dir + "/f.qdimacs", trace = dir + "/f.qrp", out = dir + "/f.out";
    std::printf("%-44s %-6s %8s %8s %7s %8s %8s %8s %9s %8s\n", "formula", "trace", "depqbf", "plumex", "ratio",
                "reading", "extract", "check", "peak MB", "result");
    for (const std::string& path : formulas) {
        std::string name = path.substr(path.rfind('/') + 1);
        if (!bench::copyFormula(path, formula)) {
            std::printf("%s: cannot copy the formula\n", name.c_str());
            continue;
        }
        for (bool binary : {false, true}) {
            const char* mode = binary ? "binary" : "ASCII";
            Run solve = least({"/usr/bin/depqbf", binary ? "--trace=bqrp" : "--trace", "--dep-man=simple",
                               "--traditional-qcdcl", "--no-qbce-dynamic", formula},
                              trace);
            if (solve.status != 20) {
                std::printf("%-44s %-6s depqbf ended with %d: not a false formula\n", name.c_str(), mode, solve.status);
                break;
            }
            Run certify = least({PLUMEX_BIN, "-qbf", formula, trace}, out);
            std::printf("%-44s %-6s %7.2fs %7.2fs %7.2f %7.2fs %7.2fs %7.2fs %9.1f %8s\n", name.c_str(), mode, solve.cpu,
                        certify.cpu, certify.cpu / std::max(solve.cpu, 0.01), stepSeconds(out, "Proof trace reading"),
                        stepSeconds(out, "Countermodel extraction"), stepSeconds(out, "Validity check"),
                        static_cast<double>(certify.rssKb) / 1024.0,
                        certify.status == 11 ? "REFUTED" : ("exit " + std::to_string(certify.status)).c_str());
            std::printf("ROW|countermodel %s (%s)|refuted %.2fs, %.0f MB|DepQBF traced %.2fs|%.2f\n", name.c_str(), mode,
                        certify.cpu, static_cast<double>(certify.rssKb) / 1024.0, solve.cpu,
                        certify.cpu / std::max(solve.cpu, 0.01));
        }
    }
    for (const std::string& f : {formula, trace, out, dir + "/f.qbm"}) std::remove(f.c_str());
    rmdir(dir.c_str());
    return 0;
}
