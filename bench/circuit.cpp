// Benchmark of certificates read from circuits: CADET's bug10rr certificate (ASCII and
// binary AIGER; 128 universals, 1,033 outputs), which only a good static order and
// reordering keep small, certified by plumex (reading the formula's prefix and the
// circuit, the BDDs, the consistency and validity checks, the QBM file), with its peak
// resident memory. The anchor is the time to read the circuit's bytes: `cat` of the same
// file 1,000 times, divided by 1,000. Every command runs as a child; times are its user +
// system seconds (wait4), the least of three runs.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "child.h"

namespace {

using bench::Run;

constexpr int kRuns = 3;
constexpr int kReads = 1000;

// argv in directory cwd, its output dropped, the least of kRuns runs; a regression that
// runs away (as the reading of bug10rr once did) ends at 120 s.
Run best(const std::vector<std::string>& argv, const std::string& cwd) {
    return bench::leastOf(kRuns, 0, argv, "/dev/null", cwd, 120);
}

void row(const std::string& shape, const std::string& figure, const std::string& anchor, double ratio) {
    std::printf("ROW|%s|%s|%s|%.2f\n", shape.c_str(), figure.c_str(), anchor.c_str(), ratio);
    std::fflush(stdout);
}

}  // namespace

int main() {
    const std::string source = PLUMEX_SOURCE_DIR;
    char tmpl[] = "/tmp/plumex-bench-circuit-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::system(("cp '" + source + "/tests/data/cadet-tests/bug10rr.qdimacs' '" + source +
                 "/tests/data/cadet-certs/bug10rr.aag' '" + source + "/tests/data/cadet-certs/bug10rr.aig' '" + dir + "'")
                    .c_str());
    std::printf("%-12s %8s %9s %8s %14s %7s\n", "circuit", "bytes", "plumex", "peak MB", "read bytes", "ratio");
    for (const std::string name : {"bug10rr.aag", "bug10rr.aig"}) {
        struct stat st {};
        stat((dir + "/" + name).c_str(), &st);
        std::vector<std::string> cat{"/bin/cat"};
        for (int k = 0; k < kReads; ++k) cat.push_back(name);
        double read = best(cat, dir).cpu / kReads;
        Run certify = best({PLUMEX_BIN, "-v", "1", name}, dir);
        const char* verdict = certify.status == 10 ? "" : "  (not VALID)";
        std::printf("%-12s %8ld %8.3fs %8.1f %13.6fs %7.0f%s\n", name.c_str(), static_cast<long>(st.st_size),
                    certify.cpu, static_cast<double>(certify.rssKb) / 1024.0, read, certify.cpu / read, verdict);
        char figure[64], anchor[64];
        std::snprintf(figure, sizeof figure, "plumex %.3f s, %.0f MB", certify.cpu,
                      static_cast<double>(certify.rssKb) / 1024.0);
        std::snprintf(anchor, sizeof anchor, "reading its bytes %.6f s", read);
        row("circuit " + name, figure, anchor, certify.cpu / read);
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
