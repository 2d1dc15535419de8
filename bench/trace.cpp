// Benchmark of certification from DepQBF proof traces: for real formulas whose traces are
// tens to hundreds of megabytes, the processor time DepQBF takes to solve the formula and
// write its trace, against the time plumex takes to certify that trace (reading both
// passes, the initial cube check, the extraction, the consistency and validity checks
// and the QBM file), with plumex's peak resident memory. The anchor is `wc -l` over the
// same trace. ASCII and binary traces. Every command runs as a child; times are its
// user + system seconds (wait4), the least of three runs, so that other load on the
// machine counts little. Peak MB is plumex's maximum resident set.
//
// Usage: bench_trace [FORMULA...]   (names in tests/data/cadet-tests; default: the two
// 40-60 MB traces and dungeon_i25-m125-u3-v0.pddl_planlen=13, 759 MB)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 3;

struct Run {
    int status = -1;
    double cpu = 0;   // user + system seconds
    double wall = 0;
    long rssKb = 0;
};

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// argv run with standard output to out (or /dev/null), standard error dropped.
Run spawn(const std::vector<std::string>& argv, const std::string& out = "/dev/null") {
    Run r;
    double start = now();
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = open("/dev/null", O_RDWR);
        if (fd < 0 || null < 0) _exit(127);
        dup2(null, 0);
        dup2(fd, 1);
        dup2(null, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    r.wall = now() - start;
    r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.rssKb = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

long fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

std::string copyTo(const std::string& from, const std::string& to) {
    std::system(("cp '" + from + "' '" + to + "'").c_str());
    return to;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) names.push_back(argv[i]);
    if (names.empty())
        names = {"dungeon_i15-m75-u10-v0.pddl_planlen=4.qdimacs", "s5378_1_0.qdimacs",
                 "dungeon_i25-m125-u3-v0.pddl_planlen=13.qdimacs"};
    const std::string data = std::string(PLUMEX_SOURCE_DIR) + "/tests/data/cadet-tests/";
    const std::string plumex = PLUMEX_BIN;
    if (access("/usr/bin/depqbf", X_OK) != 0) {
        std::printf("depqbf is missing: install the Debian package depqbf\n");
        return 0;
    }
    char tmpl[] = "/tmp/plumex-bench-trace-XXXXXX";
    std::string dir = mkdtemp(tmpl);

    std::printf("%-48s %-6s %9s %8s %8s %7s %9s %9s %8s\n", "formula", "trace", "MB", "depqbf", "plumex", "ratio",
                "peak MB", "wc -l", "result");
    for (const std::string& name : names) {
        std::string base = name.substr(0, name.find(".qdimacs"));
        for (char& c : base)
            if (c == '.' || c == '=') c = '_';
        for (bool binary : {false, true}) {
            std::string stem = dir + "/" + base + (binary ? "-b" : "-a");
            std::string formula = copyTo(data + name, stem + ".qdimacs");
            std::string trace = stem + ".qrp";
            // Each figure is the least of three runs: the machine may be shared.
            Run solve;
            for (int k = 0; k < kRuns; ++k) {
                Run r = spawn({"/usr/bin/depqbf", binary ? "--trace=bqrp" : "--trace", "--dep-man=simple",
                               "--traditional-qcdcl", "--no-qbce-dynamic", formula},
                              trace);
                if (k == 0 || r.cpu < solve.cpu) solve = r;
            }
            if (solve.status != 10) {
                std::printf("%-48s %-6s depqbf ended with %d\n", name.c_str(), binary ? "binary" : "ASCII",
                            solve.status);
                continue;
            }
            Run anchor, certify;
            for (int k = 0; k < kRuns; ++k) {
                Run a = spawn({"/usr/bin/wc", "-l", trace});
                Run c = spawn({plumex, "-v", "2", trace}, stem + ".out");
                if (k == 0 || a.cpu < anchor.cpu) anchor = a;
                if (k == 0 || c.cpu < certify.cpu) certify = c;
            }
            std::printf("%-48s %-6s %9.1f %7.2fs %7.2fs %7.2f %9.1f %8.2fs %8s\n", name.c_str(),
                        binary ? "binary" : "ASCII", static_cast<double>(fileSize(trace)) / 1048576.0, solve.cpu,
                        certify.cpu, certify.cpu / solve.cpu, static_cast<double>(certify.rssKb) / 1024.0, anchor.cpu,
                        certify.status == 10 ? "VALID" : "FAILED");
            std::remove(trace.c_str());
            std::remove(formula.c_str());
            std::remove((stem + ".qbm").c_str());
            std::remove((stem + ".out").c_str());
        }
    }
    rmdir(dir.c_str());
    return 0;
}
