// Benchmark of the solver-log reader and of inductive reconstruction on large logs made
// by the log writer: throughput (MB/s, entries/s) and peak resident memory, for two log
// sizes, to show that memory does not grow with the log. Each measurement runs in a
// child process so that its peak memory is its own (wait4's ru_maxrss).
//
// Usage: bench_reconstruct [SIZE_MB...]   (default: 128 1024)
//
// The writer pads a log to size in one of two ways: "reassign" repeats S_ASSIGN entries
// of the certificate's functions (every byte is read and replayed), "rollback" adds big
// resolution entries undone by a ROLLBACK (passed over by their headers alone).
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "certificate/reconstruct.h"
#include "pipeline/steps.h"
#include "inputs/log_reader.h"
#include "runcontrol/settings.h"

namespace {

std::string writerPath() { return std::string(PLUMEX_BUILD_DIR) + "/tools/plumex-logwriter/plumex-logwriter"; }

int shell(const std::string& command) { return std::system(command.c_str()); }

long fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct Figures {
    double seconds = 0;
    long entries = 0;
    int ok = 0;
};

// Runs the measurement in a child; its figures come back through a pipe.
template <typename F>
Figures inChild(F measure, long* maxRssKb) {
    int fds[2];
    Figures figures;
    if (pipe(fds) != 0) return figures;
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Figures f = measure();
        if (write(fds[1], &f, sizeof f) != static_cast<ssize_t>(sizeof f)) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    if (read(fds[0], &figures, sizeof figures) != static_cast<ssize_t>(sizeof figures)) figures.ok = 0;
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    *maxRssKb = usage.ru_maxrss;
    return figures;
}

// The reader alone: every entry delivered and released.
Figures readAll(const std::string& path) {
    Figures f;
    double start = now();
    LogReaderPtr reader = logOpen(path);
    if (logIsError(*reader)) return f;
    bdd::Manager manager(logNumUniv(*reader));
    logInstallManager(*reader, &manager);
    do {
        LogEntry e = logReadPrevious(*reader);
        if (logIsError(*reader)) return f;
        if (e.kind != LOG_UNKNOWN) ++f.entries;
    } while (!logAtFirstEntry(*reader));
    f.seconds = now() - start;
    f.ok = 1;
    return f;
}

Figures reconstructAll(const std::string& path, long entries) {
    Figures f;
    scanSettings().verbosity = 0;
    double start = now();
    LogReaderPtr reader = logOpen(path);
    std::unique_ptr<QBModel> model = reconstructModel(*reader, {}, steps::display());
    f.seconds = now() - start;
    f.entries = entries;
    f.ok = model != nullptr;
    return f;
}

void report(const char* what, long bytes, const Figures& f, long rssKb) {
    double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf("  %-14s %8.1f MB in %7.2f s: %8.1f MB/s, %10.0f entries/s, peak RSS %7.1f MB%s\n", what, mb,
                f.seconds, f.seconds > 0 ? mb / f.seconds : 0.0,
                f.seconds > 0 ? static_cast<double>(f.entries) / f.seconds : 0.0, static_cast<double>(rssKb) / 1024.0,
                f.ok ? "" : "  [FAILED]");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atol(argv[i]));
    if (sizes.empty()) sizes = {128, 1024};
    std::string dir = "/tmp/plumex-bench-reconstruct-" + std::to_string(getpid());
    shell("mkdir -p " + dir);
    int failures = 0;
    // A true formula with 8 universals (the writer's verdict decides).
    std::string formula = dir + "/big.qdimacs";
    bool found = false;
    for (int seed = 1; seed < 200 && !found; ++seed) {
        std::string gen = writerPath() + " gen --vars 20 --clauses 10 --blocks 4 --first e --seed " +
                          std::to_string(seed) + " -o " + formula;
        if (shell(gen) != 0) break;
        found = shell(writerPath() + " -q " + formula + " -o " + dir + "/probe") == 10 * 256;
    }
    if (!found) {
        std::printf("no true formula from the log writer (%s)\n", writerPath().c_str());
        return 1;
    }
    struct Run {
        const char* mode;
        const char* padding;
        long mb;
    };
    std::vector<Run> runs;
    for (const char* mode : {"text", "binary"})
        for (long mb : sizes) runs.push_back(Run{mode, "reassign", mb});
    runs.push_back(Run{"binary", "rollback", sizes.back()});
    for (const Run& run : runs) {
        std::string log = dir + "/big.Tobrin.log";
        std::string make = writerPath() + " -q " + formula + " --style mix --mode " + run.mode + " --padding " +
                           run.padding + " --size " + std::to_string(run.mb) + "M -o " + log;
        if (shell(make) != 10 * 256) {
            std::printf("cannot make a %ld MB %s log with the log writer\n", run.mb, run.mode);
            ++failures;
            continue;
        }
        long bytes = fileSize(log);
        std::printf("%s log, %s padding, %.1f MB\n", run.mode, run.padding, static_cast<double>(bytes) / (1024.0 * 1024.0));
        long rss = 0;
        Figures read = inChild([&] { return readAll(log); }, &rss);
        report("reader", bytes, read, rss);
        Figures rec = inChild([&] { return reconstructAll(log, read.entries); }, &rss);
        report("reconstruction", bytes, rec, rss);
        failures += !read.ok + !rec.ok;
        std::remove(log.c_str());
    }
    shell("rm -rf " + dir);
    return failures == 0 ? 0 : 1;
}
