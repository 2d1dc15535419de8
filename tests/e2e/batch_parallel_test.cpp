// Batch runs with several children at once ("-j") and in shards ("-shard"), checked
// against the one-child run as the oracle: the same output with processor times masked,
// the same exit status and report lines; shards whose union is the unsharded run; the
// shards run by GNU parallel and by the Slurm array script.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run.h"

using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

// A one-variable log; its formula (beside it, unless named) holds "1" (valid) or "-1".
void handLog(const std::string& logPath, bool valid, std::size_t size = 0, const std::string& formula = "") {
    std::string base = logPath.substr(0, logPath.find(".Tobrin.log"));
    fs::create_directories(fs::path(logPath).parent_path());
    std::string name = formula.empty() ? base.substr(base.rfind('/') + 1) + ".qdimacs" : formula;
    if (formula.empty()) writeFile(base + ".qdimacs", std::string("p cnf 1 1\ne 1 0\n") + (valid ? "1 0\n" : "-1 0\n"));
    std::string entry = "#1: G_ASSIGN [0]\n1 \n";
    std::string head = "# Tobrin log file, 1.3\n# hand-written";
    std::string rest = "\n# formula: \"" + name + "\"\n# dump format: text\n# vars: (2,0)\n\n# universals: \n# int/ext mapping: 1 \n";
    std::string trailer = "#2: END [" + std::to_string(entry.size()) + "]\noutcome: TRUE\ntime: 0.5\n";
    std::size_t fixed = head.size() + rest.size() + entry.size() + trailer.size();
    if (size > fixed) head += std::string(size - fixed, 'x');
    writeFile(logPath, head + rest + entry + trailer);
}

// bench/: a family whose sizes grow with its names (a1 valid, a2 invalid, a10 valid),
// sub/ with a two-line Plumex.conf, sub/deeper/ with an instance that times out,
// crash/ with one whose child the test kills, many/ with a dozen mixed instances. The
// children of the last two wait on an expression file that is a pipe nobody writes to
// (the paths on the lines are those seen from the directory plumex runs in).
void makeTree(const std::string& root, bool withCrash) {
    handLog(root + "/a1.Tobrin.log", true, 300);
    handLog(root + "/a2.Tobrin.log", false, 400);
    handLog(root + "/a10.Tobrin.log", true, 500);
    for (const char* n : {"v1", "v2"}) handLog(root + "/sub/" + n + ".Tobrin.log", true);
    handLog(root + "/sub/i1.Tobrin.log", false);
    writeFile(root + "/sub/Plumex.conf", "-dump qdc\n-v 2 -timeout 30\n");
    // The line's expression file is a pipe nobody writes to: the child waits until its timeout.
    handLog(root + "/sub/deeper/s.Tobrin.log", true);
    mkfifo((root + "/sub/deeper/stall").c_str(), 0600);
    writeFile(root + "/sub/deeper/Plumex.conf", "-eval " + fs::path(root).filename().string() + "/sub/deeper/stall -timeout 1\n");
    for (int i = 0; i < 12; ++i) handLog(root + "/many/m" + std::to_string(i) + ".Tobrin.log", i % 3 != 1, 300 + 10 * i);
    if (!withCrash) return;
    // The same keeps the child of c waiting until the test kills it.
    handLog(root + "/crash/c.Tobrin.log", true);
    mkfifo((root + "/crash/stall").c_str(), 0600);
    writeFile(root + "/crash/Plumex.conf", "-eval " + fs::path(root).filename().string() + "/crash/stall\n");
}

// The child of `parent` that holds `path` open, or -1.
pid_t holderOf(pid_t parent, const std::string& path) {
    std::error_code ec;
    for (const auto& proc : fs::directory_iterator("/proc", ec)) {
        std::string stat = testsupport::readFile((proc.path() / "stat").string());
        std::size_t close = stat.rfind(')');
        if (close == std::string::npos || std::atol(stat.c_str() + close + 4) != parent) continue;
        for (const auto& fd : fs::directory_iterator(proc.path() / "fd", ec))
            if (fs::read_symlink(fd.path(), ec) == path) return static_cast<pid_t>(std::stol(proc.path().filename()));
    }
    return -1;
}

// Runs plumex in dir; when a child opens the crash instance's formula, kills it.
RunResult runKilling(const std::vector<std::string>& args, const std::string& dir, const std::string& fifo) {
    std::string out = dir + "/out.txt", target = fs::canonical(fifo).string();
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        if (chdir(dir.c_str()) != 0) _exit(127);
        std::vector<char*> argv{const_cast<char*>(PLUMEX_BIN)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    for (int writer = -1; waitpid(pid, &status, WNOHANG) == 0; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        if (writer < 0) writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // succeeds once a reader waits
        if (writer < 0) continue;
        pid_t child = holderOf(pid, target);
        if (child > 0 && kill(child, SIGKILL) == 0) {
            close(writer);
            writer = -2;  // done: never open it again
        }
    }
    return {WEXITSTATUS(status), testsupport::readFile(out), ""};
}

// Every report line under root, by report name without its shard part, times masked.
Lines reportLines(const std::string& root) {
    Lines lines;
    static const std::regex time("\t[0-9]+\\.[0-9][0-9]"), shard("\\.shard[0-9]+of[0-9]+$");
    for (const auto& f : fs::recursive_directory_iterator(root)) {
        std::string name = fs::relative(f.path(), root).string();
        if (name.find(".qbm.txt") == std::string::npos) continue;
        std::string text = testsupport::readFile(f.path().string()), line;
        for (std::istringstream in(text); std::getline(in, line);)
            lines.push_back(std::regex_replace(name, shard, "") + ": " + std::regex_replace(line, time, "\tX"));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Each instance's block of output without its label, sorted; and the count line's numbers.
Lines verdicts(const std::string& out) {
    Lines blocks;
    std::string masked = testsupport::maskTimes(out);
    static const std::regex start("\n\n?[0-9]+\\.Processing ");
    std::sregex_token_iterator it(masked.begin(), masked.end(), start, -1), end;
    for (++it; it != end; ++it) blocks.push_back(it->str().substr(0, it->str().find("\n\n")));
    std::sort(blocks.begin(), blocks.end());
    return blocks;
}

std::pair<int, int> counted(const std::string& out) {
    std::smatch m;
    std::regex_search(out, m, std::regex("([0-9]+)/([0-9]+) instances successfully processed"));
    return m.empty() ? std::pair{-1, -1} : std::pair{std::stoi(m[1]), std::stoi(m[2])};
}

class Parallel : public ::testing::Test {
  protected:
    // The same tree run twice, once per option list; both copies start equal.
    void compare(std::vector<std::string> options) {
        std::vector<RunResult> runs;
        std::vector<Lines> reports;
        for (const char* jobs : {"1", "4"}) {
            TempDir dir;
            makeTree(dir.file("bench"), true);
            std::vector<std::string> args{"-j", jobs, "-report"};
            args.insert(args.end(), options.begin(), options.end());
            args.push_back("bench");
            runs.push_back(runKilling(args, dir.path(), dir.file("bench/crash/stall")));
            reports.push_back(reportLines(dir.file("bench")));
        }
        EXPECT_NE(runs[0].out.find("[CRASH]"), std::string::npos) << runs[0].out;
        EXPECT_NE(runs[0].out.find("[TIMEOUT]"), std::string::npos) << runs[0].out;
        EXPECT_EQ(testsupport::maskTimes(runs[1].out), testsupport::maskTimes(runs[0].out));
        EXPECT_EQ(runs[1].status, runs[0].status);
        EXPECT_FALSE(reports[0].empty());
        EXPECT_EQ(reports[1], reports[0]);
    }
};

}  // namespace

TEST_F(Parallel, FourChildrenPrintWhatOneChildPrints) { compare({}); }
TEST_F(Parallel, FourChildrenUnderGiveup) { compare({"-giveup"}); }
TEST_F(Parallel, FourChildrenUnderAutogiveup) { compare({"-autogiveup"}); }

TEST_F(Parallel, ShardsTogetherAreTheWholeRun) {
    TempDir whole;
    makeTree(whole.file("bench"), false);
    RunResult all = testsupport::plumex({"-report", "bench"}, whole.path());
    for (int n : {1, 3, 7}) {
        TempDir dir;
        makeTree(dir.file("bench"), false);
        Lines blocks;
        int successes = 0, total = 0;
        for (int k = 0; k < n; ++k) {
            std::string shard = std::to_string(k) + "/" + std::to_string(n);
            RunResult r = testsupport::plumex({"-j", k % 2 ? "2" : "1", "-shard", shard, "-report", "bench"}, dir.path());
            Lines mine = verdicts(r.out);
            blocks.insert(blocks.end(), mine.begin(), mine.end());
            successes += counted(r.out).first;
            total += counted(r.out).second;
            EXPECT_EQ(r.status, counted(r.out).first);
        }
        std::sort(blocks.begin(), blocks.end());
        EXPECT_EQ(blocks, verdicts(all.out)) << n << " shards";
        EXPECT_EQ(std::pair(successes, total), counted(all.out));
        Lines union_ = reportLines(dir.file("bench")), one = reportLines(whole.file("bench"));
        EXPECT_EQ(union_, one);
        EXPECT_TRUE(fs::exists(dir.file("bench/many/many.qbm.txt.shard0of" + std::to_string(n))));
    }
}

TEST_F(Parallel, GnuParallelRunsTheShards) {
    if (testsupport::run({"/bin/sh", "-c", "command -v parallel"}).status != 0)
        GTEST_SKIP() << "GNU parallel is missing: install the Debian package parallel";
    TempDir whole, dir;
    makeTree(whole.file("bench"), false);
    makeTree(dir.file("bench"), false);
    RunResult all = testsupport::plumex({"-report", "bench"}, whole.path());
    std::string path = fs::path(PLUMEX_BIN).parent_path().string() + ":/usr/bin:/bin";
    RunResult r = testsupport::run({"/usr/bin/env", "PATH=" + path, "parallel", "--will-cite", "plumex", "-report",
                                    "-shard", "{}/4", "bench", ":::", "0", "1", "2", "3"},
                                   dir.path());
    EXPECT_EQ(verdicts(r.out), verdicts(all.out)) << r.out << r.err;
    int successes = 0;
    for (std::smatch m; std::regex_search(r.out, m, std::regex("([0-9]+)/[0-9]+ instances")); r.out = m.suffix())
        successes += std::stoi(m[1]);
    EXPECT_EQ(successes, counted(all.out).first);
    EXPECT_EQ(reportLines(dir.file("bench")), reportLines(whole.file("bench")));
}

TEST_F(Parallel, SlurmArrayScriptAndTheSum) {
    TempDir dir;
    makeTree(dir.file("bench"), false);
    RunResult all = testsupport::plumex({"bench"}, dir.path());
    std::string script = testsupport::sourceDir() + "/scripts/slurm-array.sh";
    std::string path = "PATH=" + fs::path(PLUMEX_BIN).parent_path().string() + ":/usr/bin:/bin";
    for (const char* task : {"5", "6", "7"}) {
        RunResult r = testsupport::run({"/usr/bin/env", path, "SLURM_ARRAY_TASK_ID=" + std::string(task),
                                        "SLURM_ARRAY_TASK_MIN=5", "SLURM_ARRAY_TASK_COUNT=3", script, "bench"},
                                       dir.path());
        writeFile(dir.file(std::string("plumex-") + task + ".out"), r.out);
    }
    // Each task kept its shard's record; the sum adds them up.
    RunResult sum = testsupport::run(
        {"/bin/sh", "-c", testsupport::sourceDir() + "/scripts/sum-shards.sh plumex.jsonl.shard*of3"}, dir.path());
    auto [successes, total] = counted(all.out);
    EXPECT_EQ(sum.out.substr(0, sum.out.find('\n') + 1),
              std::to_string(successes) + "/" + std::to_string(total) + " instances successfully processed.\n")
        << sum.err;
    EXPECT_EQ(sum.status, 0);
}

TEST_F(Parallel, MalformedJobsOrShardRejectTheCommandLine) {
    TempDir dir;
    handLog(dir.file("bench/a.Tobrin.log"), true);
    for (const char* bad : {"-1", "x", "2x", "", "99999999999"})
        EXPECT_EQ(testsupport::plumex({"-j", bad, "bench"}, dir.path()).status, 254) << bad;
    for (const char* bad : {"1", "2/2", "-1/2", "0/0", "a/2", "1/2/3", "/2"})
        EXPECT_EQ(testsupport::plumex({"-shard", bad, "bench"}, dir.path()).status, 254) << bad;
    // After the input too: a run that would quietly take every instance is refused.
    RunResult after = testsupport::plumex({"bench", "-shard", "1/1"}, dir.path());
    EXPECT_EQ(after.status, 254);
    EXPECT_NE(after.out.find("Bad argument of -shard: \"1/1\" (K/N, whole numbers with 0 <= K < N is expected).\n"),
              std::string::npos)
        << after.out;
    EXPECT_EQ(testsupport::plumex({"-j", "0", "bench"}, dir.path()).status, 1);
}

TEST_F(Parallel, AConfigurationLinePassesOverJobsAndShard) {
    TempDir dir;
    handLog(dir.file("bench/a.Tobrin.log"), true);
    writeFile(dir.file("bench/Plumex.conf"), "-j 3 -shard 1/2 -dump qdc\n");
    RunResult r = testsupport::plumex({"-report", "bench"}, dir.path());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(fs::exists(dir.file("bench/a.qdc")));  // the line's options after them apply
    EXPECT_TRUE(fs::exists(dir.file("bench/bench.qbm.txt")));  // and the child is no shard
}
