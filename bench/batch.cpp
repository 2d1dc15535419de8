// Batch throughput on many small instances: 1,000 solver logs of small true formulas
// (made by the log writer) in one directory, certified by one batch run with one child
// at a time (-j 1), with two at a time (-j 2), and by a shell loop that calls plumex once
// per log. Wall times, best of a few rounds, next to anchors of the same run: wc -w over
// all the logs (reading them once), a shell loop running cat once per log (the cost of
// starting a process per file), the loop of plumex calls split in two halves running
// side by side, and two single-child runs side by side, one shard each (-shard 0/2 and
// 1/2): what two cores give to running the instances without a parent that keeps
// several children.
//
// Usage: bench_batch [LOGS (default 1000)] [ROUNDS (default 2)] [PLUMEX (default: this build's)]
//
// The machine's load average is printed with the figures, before and after: on a
// machine whose cores are busy with other work, more children cannot run faster. The
// batch runs take turns round after round, so that a change of load touches them alike.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string writerPath() { return std::string(PLUMEX_BUILD_DIR) + "/tools/plumex-logwriter/plumex-logwriter"; }

int shell(const std::string& command) { return std::system(command.c_str()); }

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double timedOnce(const std::string& command) {
    double start = now();
    shell(command);
    return now() - start;
}

// Best wall time of the command over the rounds.
double timed(const std::string& command, int rounds) {
    double best = 1e30;
    for (int r = 0; r < rounds; ++r) best = std::min(best, timedOnce(command));
    return best;
}

std::string loadAverage() {
    std::ifstream loadavg("/proc/loadavg");
    std::string load1, load5;
    loadavg >> load1 >> load5;
    return load1 + " " + load5;
}

std::string tail(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    std::size_t end = text.find_last_not_of('\n');
    std::size_t start = text.rfind('\n', end);
    return end == std::string::npos ? "" : text.substr(start == std::string::npos ? 0 : start + 1, end - start);
}

}  // namespace

int main(int argc, char** argv) {
    int logs = argc > 1 ? std::atoi(argv[1]) : 1000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 2;
    if (logs < 1 || rounds < 1) {
        std::printf("usage: bench_batch [LOGS] [ROUNDS]\n");
        return 1;
    }
    std::string dir = "/tmp/plumex-bench-batch-" + std::to_string(getpid());
    std::string logsDir = dir + "/logs";
    std::filesystem::create_directories(logsDir);
    // Ten true formulas; their logs are copied to make up the count.
    const int kFormulas = 10;
    int made = 0;
    for (int seed = 1; seed < 500 && made < kFormulas; ++seed) {
        std::string formula = "f" + std::to_string(made) + ".qdimacs";
        std::string gen = writerPath() + " gen --vars 12 --clauses 24 --blocks 3 --seed " + std::to_string(seed) +
                          " -o " + logsDir + "/" + formula;
        if (shell(gen) != 0) break;
        std::string write = writerPath() + " -q --style mix --record " + formula + " -o " + dir + "/f" +
                            std::to_string(made) + " " + logsDir + "/" + formula;
        if (shell(write) == 10 * 256) ++made;
    }
    if (made < kFormulas) {
        std::printf("not enough true formulas from the log writer (%s)\n", writerPath().c_str());
        shell("rm -rf " + dir);
        return 1;
    }
    long bytes = 0;
    for (int i = 0; i < logs; ++i) {
        std::string from = dir + "/f" + std::to_string(i % kFormulas) + ".Tobrin.log";
        std::string to = logsDir + "/l" + std::to_string(i) + ".Tobrin.log";
        std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
        bytes += static_cast<long>(std::filesystem::file_size(to));
    }
    std::string plumex = argc > 3 ? argv[3] : PLUMEX_BIN;
    std::string loadBefore = loadAverage();
    std::string out = dir + "/out.txt";
    std::string loopOf = "for f in " + logsDir + "/*.Tobrin.log; do ";
    double wc = timed("wc -w " + logsDir + "/*.Tobrin.log >/dev/null", rounds);
    double cats = timed("sh -c '" + loopOf + "cat \"$f\" >/dev/null; done'", rounds);
    // The batch runs take turns, round after round.
    double one = 1e30, two = 1e30, shards = 1e30;
    std::string oneCount, twoCount, shardCounts;
    std::string shardOut0 = dir + "/shard0.txt", shardOut1 = dir + "/shard1.txt";
    for (int r = 0; r < rounds; ++r) {
        one = std::min(one, timedOnce(plumex + " -j 1 " + logsDir + " >" + out));
        oneCount = tail(out);
        two = std::min(two, timedOnce(plumex + " -j 2 " + logsDir + " >" + out));
        twoCount = tail(out);
        shards = std::min(shards, timedOnce("sh -c '" + plumex + " -shard 0/2 " + logsDir + " >" + shardOut0 + " & " +
                                            plumex + " -shard 1/2 " + logsDir + " >" + shardOut1 + "; wait'"));
        shardCounts = tail(shardOut0) + " + " + tail(shardOut1);
    }
    double loop = timed("sh -c '" + loopOf + plumex + " \"$f\" >/dev/null; done'", rounds);
    // The parallelism the machine gives at all: the same loop split in two halves (even
    // and odd numbered logs) running side by side.
    std::string half = "for f in " + logsDir + "/l*[02468].Tobrin.log; do " + plumex + " \"$f\" >/dev/null; done";
    std::string otherHalf = "for f in " + logsDir + "/l*[13579].Tobrin.log; do " + plumex + " \"$f\" >/dev/null; done";
    double halves = timed("sh -c '(" + half + ") & (" + otherHalf + "); wait'", rounds);

    std::printf("%d logs of %d formulas, %.1f KB in all, best of %d rounds (wall seconds)\n", logs, kFormulas,
                static_cast<double>(bytes) / 1024.0, rounds);
    std::printf("  %-44s %8.2f s\n", "anchor: wc -w over all logs", wc);
    std::printf("  %-44s %8.2f s\n", "anchor: shell loop, cat once per log", cats);
    std::printf("  %-44s %8.2f s  (%s)\n", "plumex -j 1 DIR", one, oneCount.c_str());
    std::printf("  %-44s %8.2f s  (%s)\n", "plumex -j 2 DIR", two, twoCount.c_str());
    std::printf("  %-44s %8.2f s  (%s)\n", "anchor: -shard 0/2 and 1/2 side by side", shards, shardCounts.c_str());
    std::printf("  %-44s %8.2f s\n", "shell loop, plumex once per log", loop);
    std::printf("  %-44s %8.2f s  (%.2fx: the parallelism at hand)\n", "anchor: that loop in two halves side by side",
                halves, halves > 0 ? loop / halves : 0.0);
    std::printf("  %-44s %s, after: %s (%ld processors online)\n", "load average (1, 5 min) before:",
                loadBefore.c_str(), loadAverage().c_str(), sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("  speed-up of -j 2 over -j 1: %.2fx (target at least 1.80x)\n", two > 0 ? one / two : 0.0);
    std::printf("  -j 2 against the two shards side by side: %+.1f%% (target at most +5%%)\n",
                shards > 0 ? 100.0 * (two - shards) / shards : 0.0);
    std::printf("  -j 1 against the loop: %.2fx as fast (target at least 1.00x)\n", one > 0 ? loop / one : 0.0);
    std::printf("ROW|batch: %d small logs|plumex -j 2 DIR %.2f s|-shard 0/2 + 1/2 side by side %.2f s|%.2f\n", logs,
                two, shards, shards > 0 ? two / shards : 0.0);
    shell("rm -rf " + dir);
    std::string expected = std::to_string(logs) + "/" + std::to_string(logs) + " instances successfully processed.";
    return oneCount == expected && twoCount == expected ? 0 : 1;
}
