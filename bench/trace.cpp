// Benchmark of certificates and countermodels from DepQBF proof traces: for real
// formulas, the processor time DepQBF takes to solve the formula and write its trace (the
// anchor), against the time Plumex takes to certify that trace (reading both passes, the
// leaves' check, the extraction, the consistency and validity checks and the QBM file:
// exit status 10 for a true formula, 11 for a false one), with Plumex's peak resident
// memory. The time of `wc -l` over the same trace is printed too. ASCII and binary traces.
// Every command runs as a child; times are its user + system seconds (wait4), the least
// of three runs (one where DepQBF takes over 20 s), so that other load on the machine
// counts little. Plumex gets at most three times DepQBF's time, and at least 60 s.
//
// Usage: bench_trace [FORMULA...]   (paths under tests/data, plain or gzip; default: two
//        40-60 MB cadet traces, dungeon_i25-m125-u3-v0.pddl_planlen=13 (759 MB), the three
//        true game formulas whose proofs are most of their traces, eequery_query04_1344n,
//        and the false game formula with the largest proof we have)
//        bench_trace --sweep DIR...   (every formula of the directories, true and false,
//        one run each, DepQBF within 30 s; per formula, and totals for each answer)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "child.h"

namespace {

using bench::endsWith;
using bench::Run;

// argv as a child, its output to out, with at most cpuLimit seconds of processor time.
Run spawn(const std::vector<std::string>& argv, const std::string& out = "/dev/null", long cpuLimit = 0) {
    return bench::runChild(argv, out, "", cpuLimit);
}

constexpr int kRuns = 3;

long fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

std::string stemOf(const std::string& path) {
    std::string base = path.substr(path.rfind('/') + 1);
    for (const char* end : {".gz", ".qdimacs", ".txt", ".dimacs", ".qdimacs"})
        if (endsWith(base, end)) base = base.substr(0, base.size() - std::string(end).size());
    for (char& c : base)
        if (c == '.' || c == '=' || c == ' ') c = '_';
    return base;
}

struct Outcome {
    bool solved = false, truth = false;
    Run solve, certify;
    double anchor = 0;
    double megabytes = 0;
};

// One formula in one trace mode: DepQBF (least of `runs`), then Plumex on its trace.
Outcome measure(const std::string& formulaPath, const std::string& dir, bool binary, int runs, long depqbfLimit,
                bool anchor) {
    Outcome o;
    std::string stem = dir + "/" + stemOf(formulaPath) + (binary ? "-b" : "-a");
    std::string formula = stem + ".qdimacs", trace = stem + ".qrp";
    if (!bench::copyFormula(formulaPath, formula)) std::printf("cannot copy %s\n", formulaPath.c_str());
    for (int k = 0; k < runs; ++k) {
        Run r = spawn({"/usr/bin/depqbf", binary ? "--trace=bqrp" : "--trace", "--dep-man=simple", "--traditional-qcdcl",
                       "--no-qbce-dynamic", formula},
                      trace, depqbfLimit);
        if (k == 0 || r.cpu < o.solve.cpu) o.solve = r;
        if (r.status != 10 && r.status != 20) break;
        if (k == 0 && r.cpu > 20) break;
    }
    o.solved = o.solve.status == 10 || o.solve.status == 20;
    o.truth = o.solve.status == 10;
    o.megabytes = static_cast<double>(fileSize(trace)) / 1048576.0;
    long limit = std::max(60L, static_cast<long>(3 * o.solve.cpu) + 1);
    for (int k = 0; o.solved && k < (o.solve.cpu > 20 ? 1 : runs); ++k) {
        Run c = spawn({PLUMEX_BIN, "-v", "2", "-qbf", formula, trace}, stem + ".out", limit);
        if (k == 0 || c.cpu < o.certify.cpu) o.certify = c;
        if (anchor) {
            Run a = spawn({"/usr/bin/wc", "-l", trace});
            if (k == 0 || a.cpu < o.anchor) o.anchor = a.cpu;
        }
    }
    for (const std::string& f : {trace, formula, stem + ".qbm", stem + ".out"}) std::remove(f.c_str());
    return o;
}

// Plumex's outcome: the certificate (true) or countermodel (false) holds, or not.
std::string verdict(const Outcome& o) {
    int expected = o.truth ? 10 : 11;
    if (o.certify.status == expected) return o.truth ? "VALID" : "REFUTED";
    return o.certify.status >= 128 ? "TIMEOUT" : "FAILED " + std::to_string(o.certify.status);
}

}  // namespace

int main(int argc, char** argv) {
    if (access("/usr/bin/depqbf", X_OK) != 0) {
        std::printf("depqbf is missing: install the Debian package depqbf\n");
        return 0;
    }
    char tmpl[] = "/tmp/plumex-bench-trace-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::vector<std::string> args(argv + 1, argv + argc);

    if (!args.empty() && args[0] == "--sweep") {
        std::printf("%-52s %-6s %-5s %8s %8s %8s %9s %10s\n", "formula", "trace", "truth", "depqbf", "plumex", "ratio",
                    "peak MB", "result");
        // Per answer (0: false, 1: true): traces, certified, DepQBF and Plumex seconds,
        // traces where Plumex took longer, the largest peak.
        struct Total {
            int traces = 0, held = 0, slower = 0;
            double depqbf = 0, plumex = 0, peakMb = 0;
        } totals[2];
        for (std::size_t a = 1; a < args.size(); ++a) {
            std::vector<std::string> names;
            if (DIR* d = opendir(args[a].c_str())) {
                while (dirent* e = readdir(d)) {
                    std::string n = e->d_name;
                    if (endsWith(n, ".qdimacs") || endsWith(n, ".qdimacs.gz") || endsWith(n, ".txt") || endsWith(n, ".dimacs"))
                        if (n != "instances.txt" && n != "LICENSE.txt") names.push_back(n);
                }
                closedir(d);
            }
            std::sort(names.begin(), names.end());
            for (const std::string& n : names) {
                for (bool binary : {false, true}) {
                    Outcome o = measure(args[a] + "/" + n, dir, binary, 1, 30, false);
                    if (!o.solved) break;
                    double peak = static_cast<double>(o.certify.rssKb) / 1024.0;
                    std::printf("%-52s %-6s %-5s %7.2fs %7.2fs %8.2f %9.1f %10s\n", n.c_str(), binary ? "binary" : "ASCII",
                                o.truth ? "true" : "false", o.solve.cpu, o.certify.cpu,
                                o.certify.cpu / std::max(o.solve.cpu, 0.01), peak, verdict(o).c_str());
                    Total& t = totals[o.truth ? 1 : 0];
                    ++t.traces;
                    t.held += verdict(o) == "VALID" || verdict(o) == "REFUTED";
                    t.slower += o.certify.cpu > o.solve.cpu;
                    t.depqbf += o.solve.cpu;
                    t.plumex += o.certify.cpu;
                    t.peakMb = std::max(t.peakMb, peak);
                }
            }
        }
        for (int truth : {1, 0}) {
            const Total& t = totals[truth];
            std::printf("%s: %d traces, %d %s; DepQBF %.1f s, Plumex %.1f s (ratio %.2f); %d slower than DepQBF; "
                        "largest peak %.0f MB\n",
                        truth ? "true" : "false", t.traces, t.held, truth ? "certified (VALID)" : "refuted (REFUTED)",
                        t.depqbf, t.plumex, t.plumex / std::max(t.depqbf, 0.01), t.slower, t.peakMb);
        }
        rmdir(dir.c_str());
        return 0;
    }

    if (args.empty())
        args = {"cadet-tests/dungeon_i15-m75-u10-v0.pddl_planlen=4.qdimacs", "cadet-tests/s5378_1_0.qdimacs",
                "cadet-tests/dungeon_i25-m125-u3-v0.pddl_planlen=13.qdimacs",
                "games/qsage_C4_4x4_3_connect2_d3.qdimacs.gz", "games/qsage_D_5x2_6_d6.qdimacs.gz",
                "games/qsage21_hex_npos_11_depth_7.qdimacs.gz", "cadet-tests/eequery_query04_1344n.qdimacs",
                "games/qsage21_hex_npos_14_depth_7.qdimacs.gz"};
    const std::string data = std::string(PLUMEX_SOURCE_DIR) + "/tests/data/";
    std::printf("%-48s %-6s %9s %8s %8s %7s %9s %9s %10s\n", "formula", "trace", "MB", "depqbf", "plumex", "ratio",
                "peak MB", "wc -l", "result");
    for (const std::string& name : args) {
        for (bool binary : {false, true}) {
            Outcome o = measure(data + name, dir, binary, kRuns, 0, true);
            std::string shown = name.substr(name.find('/') + 1);
            if (!o.solved) {
                std::printf("%-48s %-6s depqbf ended with %d\n", shown.c_str(), binary ? "binary" : "ASCII", o.solve.status);
                continue;
            }
            std::printf("%-48s %-6s %9.1f %7.2fs %7.2fs %7.2f %9.1f %8.2fs %10s\n", shown.c_str(),
                        binary ? "binary" : "ASCII", o.megabytes, o.solve.cpu, o.certify.cpu,
                        o.certify.cpu / o.solve.cpu, static_cast<double>(o.certify.rssKb) / 1024.0, o.anchor,
                        verdict(o).c_str());
            char figure[96], anchor[64];
            std::snprintf(figure, sizeof figure, "%s %.2fs, %.0f MB", o.truth ? "certified" : "refuted",
                          o.certify.cpu, static_cast<double>(o.certify.rssKb) / 1024.0);
            std::snprintf(anchor, sizeof anchor, "DepQBF traced %.2fs", o.solve.cpu);
            std::printf("ROW|trace %s (%s)|%s|%s|%.2f\n", stemOf(name).c_str(), binary ? "binary" : "ASCII", figure, anchor,
                        o.certify.cpu / o.solve.cpu);
        }
    }
    rmdir(dir.c_str());
    return 0;
}
