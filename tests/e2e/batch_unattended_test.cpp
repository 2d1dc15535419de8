// Batch runs that a person can leave alone, end to end with the real binary: signals to
// the parent stop its children and the run says what it had; report lines are whole or
// not written, and a report that cannot be written fails its instance with a message;
// the outcome record names every outcome and a resumed run ends with the record of an
// uninterrupted one; the look-ahead window; what is not a regular file is skipped; the
// scripts that run and add up shards fail loudly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run.h"

using testsupport::readFile;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

// A one-variable log; its formula (beside it, unless named) holds "1" (valid) or "-1".
void handLog(const std::string& logPath, bool valid, const std::string& formula = "") {
    std::string base = logPath.substr(0, logPath.find(".Tobrin.log"));
    fs::create_directories(fs::path(logPath).parent_path());
    std::string name = formula.empty() ? base.substr(base.rfind('/') + 1) + ".qdimacs" : formula;
    if (formula.empty()) writeFile(base + ".qdimacs", std::string("p cnf 1 1\ne 1 0\n") + (valid ? "1 0\n" : "-1 0\n"));
    std::string entry = "#1: G_ASSIGN [0]\n1 \n";
    writeFile(logPath, "# Tobrin log file, 1.3\n# hand-written\n# formula: \"" + name +
                           "\"\n# dump format: text\n# vars: (2,0)\n\n# universals: \n# int/ext mapping: 1 \n" + entry +
                           "#2: END [" + std::to_string(entry.size()) + "]\noutcome: TRUE\ntime: 0.5\n");
}

// A directory whose instances' children wait until they are stopped: its line's
// expression file is a pipe nobody writes to. `dir` is seen from where plumex runs.
void stallingDirectory(const std::string& top, const std::string& dir, const std::string& line = "") {
    fs::create_directories(top + "/" + dir);
    ASSERT_EQ(mkfifo((top + "/" + dir + "/stall").c_str(), 0600), 0);
    writeFile(top + "/" + dir + "/Plumex.conf", "-eval " + dir + "/stall " + line + "\n");
}

// A log whose formula lies in held/ beside it: with -report its child writes its QBM
// file and then waits to append its report line while the test holds held/held.qbm.txt
// locked (testsupport::FileLock).
void heldLog(const std::string& logPath) {
    std::string name = fs::path(logPath).filename().string();
    name = name.substr(0, name.find(".Tobrin.log"));
    handLog(logPath, true, "held/" + name + ".qdimacs");
    fs::create_directories(fs::path(logPath).parent_path() / "held");
    writeFile((fs::path(logPath).parent_path() / "held" / (name + ".qdimacs")).string(), "p cnf 1 1\ne 1 0\n1 0\n");
}

std::string heldReport(const std::string& directory) { return directory + "/held/held.qbm.txt"; }

std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& proc : fs::directory_iterator("/proc", ec)) {
        std::string name = proc.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat = readFile((proc.path() / "stat").string());
        std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        char state;
        long ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent && state != 'Z') found.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return found;
}

bool alive(pid_t pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::size_t close = stat.rfind(')');
    return close != std::string::npos && stat[close + 2] != 'Z';
}

struct Spawned {
    pid_t pid = -1;
    std::string out;
};

// Starts plumex in dir, standard output to a file; `cpu` >= 0 pins it to that processor,
// `fileSize` > 0 limits the size of the files it writes.
Spawned spawn(const std::vector<std::string>& args, const std::string& dir, int cpu = -1, long fileSize = 0) {
    Spawned s;
    s.out = dir + "/plumex.out";
    std::vector<std::string> argv = {PLUMEX_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    s.pid = fork();
    if (s.pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        if (cpu >= 0) {
            cpu_set_t set;
            CPU_ZERO(&set);
            CPU_SET(cpu, &set);
            sched_setaffinity(0, sizeof set, &set);
        }
        if (fileSize > 0) {
            rlimit limit{static_cast<rlim_t>(fileSize), static_cast<rlim_t>(fileSize)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        int out = open(s.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open((dir + "/plumex.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> raw;
        for (std::string& a : argv) raw.push_back(a.data());
        raw.push_back(nullptr);
        execv(raw[0], raw.data());
        _exit(127);
    }
    return s;
}

// The raw wait status once the process has ended; kills it (and fails) past the bound.
int waitFor(pid_t pid, int seconds = 120) {
    for (int i = 0; i < seconds * 50; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "plumex did not end";
    for (pid_t c : childrenOf(pid)) kill(c, SIGKILL);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

template <typename Condition>
bool within(int seconds, Condition condition) {
    for (int i = 0; i < seconds * 50; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::vector<pid_t> awaitChildren(pid_t parent, std::size_t count) {
    std::vector<pid_t> kids;
    within(60, [&] { return (kids = childrenOf(parent)).size() >= count; });
    return kids;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string field(const std::string& line, const std::string& key) {
    std::smatch m;
    if (std::regex_search(line, m, std::regex("\"" + key + "\":(\"((\\\\.|[^\"\\\\])*)\"|[^,}]*)")))
        return m[2].matched ? m[2].str() : m[1].str();
    return "";
}

std::vector<std::string> instanceLines(const std::string& record) {
    std::vector<std::string> out;
    for (const std::string& l : lines(readFile(record)))
        if (field(l, "record") == "instance") out.push_back(l);
    return out;
}

// The record's instances as "path pass outcome", sorted: what two runs must agree on.
std::vector<std::string> outcomes(const std::vector<std::string>& records) {
    std::vector<std::string> out;
    for (const std::string& r : records)
        for (const std::string& l : instanceLines(r))
            out.push_back(field(l, "path") + " " + field(l, "pass") + " " + field(l, "outcome"));
    std::sort(out.begin(), out.end());
    return out;
}

// Sends `signal` to the child of `parent` that reads the pipe: once a reader waits on
// it, the pipe is opened for writing, so the reader's open completes and shows.
bool signalReaderOf(pid_t parent, const std::string& fifo, int signal) {
    int writer = -1;
    bool sent = within(120, [&] {
        if (writer < 0) writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer < 0) return false;
        std::error_code ec;
        for (pid_t kid : childrenOf(parent))
            for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(kid) + "/fd", ec))
                if (fs::read_symlink(fd.path(), ec) == fs::canonical(fifo, ec)) return kill(kid, signal) == 0;
        return false;
    });
    if (writer >= 0) close(writer);
    return sent;
}

std::string script(const std::string& name) { return testsupport::sourceDir() + "/scripts/" + name; }

}  // namespace

// 1. SIGTERM, SIGINT or SIGHUP sent to the parent alone: every child ends with it, the
// stopped instances end their lines with "[INTERRUPTED]", the run prints its summary and
// final line and ends by the signal.
TEST(Unattended, ASignalToTheParentEndsItsChildrenAndTheRunSaysWhatItHad) {
    for (int jobs : {4, 1})
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
            TempDir dir;
            handLog(dir.file("runs/a.Tobrin.log"), true);
            stallingDirectory(dir.path(), "runs/stuck");
            for (const char* n : {"s1", "s2", "s3", "s4"}) handLog(dir.file(std::string("runs/stuck/") + n + ".Tobrin.log"), true);
            Spawned s = spawn({"-j", std::to_string(jobs), "-record", "r.jsonl", "runs", "100"}, dir.path());
            // The subdirectory comes first: its instances fill every place.
            std::vector<pid_t> kids = awaitChildren(s.pid, static_cast<std::size_t>(jobs));
            ASSERT_EQ(kids.size(), static_cast<std::size_t>(jobs)) << readFile(s.out);
            ASSERT_EQ(kill(s.pid, sig), 0);
            int status = waitFor(s.pid);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
            for (pid_t kid : kids) EXPECT_TRUE(within(10, [&] { return !alive(kid); })) << "child " << kid << " outlived";
            std::string out = readFile(s.out);
            EXPECT_NE(out.find("...  [INTERRUPTED]"), std::string::npos) << out;
            std::string name = sig == SIGTERM ? "SIGTERM" : sig == SIGINT ? "SIGINT" : "SIGHUP";
            EXPECT_NE(out.find("\n\nInterrupted by " + name + ": " + std::to_string(jobs) + " running instance"),
                      std::string::npos)
                << out;
            EXPECT_NE(out.find("\nSummary: 0 runs."), std::string::npos) << out;
            EXPECT_TRUE(std::regex_search(out, std::regex("\n\n0/[45] instances successfully processed\\.\n\n$"))) << out;
            EXPECT_EQ(readFile(dir.file("plumex.err")), "");
            // The stopped instances are not in the record: a resumed run takes them up again.
            std::vector<std::string> recorded = lines(readFile(dir.file("r.jsonl")));
            ASSERT_FALSE(recorded.empty());
            EXPECT_EQ(field(recorded.back(), "record"), "end");
            EXPECT_EQ(field(recorded.back(), "ended"), name);
            EXPECT_EQ(field(recorded.back(), "stopped"), std::to_string(jobs));
            EXPECT_TRUE(instanceLines(dir.file("r.jsonl")).empty());
        }
}

// 2. A full disk: the report line is whole or not there, the instance fails on its own
// line with the reason, and a torn line left by an earlier run is removed.
TEST(Unattended, AFullDiskNeverTearsAReportLine) {
    TempDir dir;
    handLog(dir.file("fam/a.Tobrin.log"), true);
    std::string report = dir.file("fam/fam.qbm.txt");
    // Complete lines up to near a file size limit of 8 KB: the next line crosses it.
    std::string earlier;
    while (earlier.size() < 8192 - 20) earlier += "x.qdimacs\t1\t1\tE[1]\t0\t0.50\t0.00\t0.00\t1\t2\tVALID\n";
    earlier.resize(8192 - 20);
    earlier.back() = '\n';
    writeFile(report, earlier);
    Spawned limited = spawn({"-report", "fam"}, dir.path(), -1, 8192);
    int status = waitFor(limited.pid);
    RunResult r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(limited.out), readFile(dir.file("plumex.err"))};
    EXPECT_EQ(readFile(report), earlier);
    EXPECT_NE(r.out.find("1.Processing \"fam/a.Tobrin.log\"...  Error: cannot append to \"fam/fam.qbm.txt\": File too "
                         "large [OK, PROBLEMS, "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\n\n0/1 instances successfully processed.\n\n"), std::string::npos);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");

    // A device that is full: the same.
    fs::remove(report);
    fs::create_symlink("/dev/full", report);
    r = testsupport::plumex({"-report", "fam"}, dir.path());
    EXPECT_NE(r.out.find("Error: cannot append to \"fam/fam.qbm.txt\": No space left on device [OK, PROBLEMS, "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.status, 0);

    // A fragment of a line from before is taken away; the new line is whole.
    fs::remove(report);
    writeFile(report, "whole\t1\n" + std::string("torn\t1\t1\tE[1]\t0\t0.5"));
    r = testsupport::plumex({"-report", "fam"}, dir.path());
    EXPECT_EQ(r.status, 1) << r.out;
    std::vector<std::string> now = lines(readFile(report));
    ASSERT_EQ(now.size(), 2u) << readFile(report);
    EXPECT_EQ(now[0], "whole\t1");
    EXPECT_EQ(std::count(now[1].begin(), now[1].end(), '\t'), 10) << now[1];
    EXPECT_EQ(readFile(report).back(), '\n');
}

// 3. A report file that cannot be created fails the instance with a message.
TEST(Unattended, AReportThatCannotBeCreatedFailsItsInstanceWithAMessage) {
    TempDir dir;
    handLog(dir.file("fam/a.Tobrin.log"), true);
    fs::create_directory(dir.file("fam/fam.qbm.txt"));
    for (const char* verbosity : {"1", "4"}) {
        RunResult r = testsupport::plumex({"-v", verbosity, "-report", "fam"}, dir.path());
        EXPECT_NE(r.out.find("Error: cannot create \"fam/fam.qbm.txt\": Is a directory [OK, PROBLEMS, "), std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("\n\n0/1 instances successfully processed.\n\n"), std::string::npos);
        EXPECT_EQ(r.status, 0);
    }
    // A single instance alike: the exit status says the error.
    RunResult single = testsupport::plumex({"-report", "fam/a.Tobrin.log"}, dir.path());
    EXPECT_EQ(single.status, 255) << single.out;
}

// 4. sum-shards.sh adds up complete records only, each shard once.
TEST(Unattended, SumShardsChecksEveryShardOnceAndComplete) {
    TempDir dir;
    for (int i = 0; i < 7; ++i) handLog(dir.file("runs/i" + std::to_string(i) + ".Tobrin.log"), i % 3 != 1);
    for (int k = 0; k < 3; ++k)
        testsupport::plumex({"-record", "r.jsonl", "-shard", std::to_string(k) + "/3", "runs"}, dir.path());
    auto sum = [&](const std::string& args) { return testsupport::run({"/bin/sh", "-c", script("sum-shards.sh") + " " + args}, dir.path()); };
    RunResult all = sum("r.jsonl.shard0of3 r.jsonl.shard1of3 r.jsonl.shard2of3");
    EXPECT_EQ(all.out, "5/7 instances successfully processed.\nruns: 5 VALID, 2 INVALID\n");
    EXPECT_EQ(all.status, 0) << all.err;
    RunResult missing = sum("r.jsonl.shard0of3 r.jsonl.shard2of3");
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "shard 1/3 is missing\n");
    EXPECT_EQ(missing.status, 1);
    RunResult twice = sum("r.jsonl.shard0of3 r.jsonl.shard0of3 r.jsonl.shard1of3 r.jsonl.shard2of3");
    EXPECT_NE(twice.err.find("shard 0/3 is given twice"), std::string::npos) << twice.err;
    EXPECT_EQ(twice.status, 1);
    writeFile(dir.file("empty.jsonl"), "");
    RunResult empty = sum("r.jsonl.shard0of3 r.jsonl.shard1of3 r.jsonl.shard2of3 empty.jsonl");
    EXPECT_NE(empty.err.find("empty.jsonl: no shard named"), std::string::npos) << empty.err;
    EXPECT_EQ(empty.status, 1);
    RunResult absent = sum("r.jsonl.shard0of3 r.jsonl.shard1of3 nowhere.jsonl");
    EXPECT_NE(absent.err.find("nowhere.jsonl: no such record"), std::string::npos) << absent.err;
    EXPECT_EQ(absent.status, 1);
    // A shard that has not ended: no total, unless the totals so far are asked for.
    std::string cut = readFile(dir.file("r.jsonl.shard1of3"));
    writeFile(dir.file("r.jsonl.shard1of3"), cut.substr(0, cut.rfind("{\"record\":\"end\"")));
    RunResult open = sum("r.jsonl.shard*");
    EXPECT_NE(open.err.find("r.jsonl.shard1of3: shard 1/3 is not complete"), std::string::npos) << open.err;
    EXPECT_EQ(open.status, 1);
    RunResult partial = sum("-partial r.jsonl.shard*");
    EXPECT_EQ(partial.status, 0);
    EXPECT_NE(partial.out.find(" instances successfully processed.\n"), std::string::npos);
}

// 5. slurm-array.sh passes on what is a failure of the run.
TEST(Unattended, SlurmArrayScriptFailsWhenTheRunFails) {
    TempDir dir;
    handLog(dir.file("runs/a.Tobrin.log"), true);
    std::string path = "PATH=" + fs::path(PLUMEX_BIN).parent_path().string() + ":/usr/bin:/bin";
    auto task = [&](const std::vector<std::string>& extra, const std::string& plumexVariable = "") {
        std::vector<std::string> argv{"/usr/bin/env", path, "SLURM_ARRAY_TASK_ID=0", "SLURM_ARRAY_TASK_COUNT=1"};
        if (!plumexVariable.empty()) argv.push_back("PLUMEX=" + plumexVariable);
        argv.push_back(script("slurm-array.sh"));
        argv.insert(argv.end(), extra.begin(), extra.end());
        return testsupport::run(argv, dir.path());
    };
    RunResult ok = task({"runs"});
    EXPECT_EQ(ok.status, 0) << ok.out << ok.err;
    EXPECT_NE(ok.out.find("1/1 instances successfully processed."), std::string::npos);
    RunResult missing = task({"runs"}, "/nowhere/plumex");
    EXPECT_EQ(missing.status, 127);
    EXPECT_NE(missing.err.find("plumex is not there"), std::string::npos) << missing.err;
    RunResult rejected = task({"-j", "x", "runs"});
    EXPECT_EQ(rejected.status, 254);
    EXPECT_NE(rejected.err.find("did not run to its end"), std::string::npos) << rejected.err;
    // Submitted again, the task resumes from its record: nothing is run twice.
    RunResult again = task({"runs"});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out.find("Processing"), std::string::npos) << again.out;
    EXPECT_EQ(instanceLines(dir.file("plumex.jsonl.shard0of1")).size(), 1u);
}

// 6. Malformed options of the whole run reject the command line wherever they stand,
// and the usage lists them.
TEST(Unattended, MalformedRunOptionsRejectTheCommandLineWithAMessage) {
    TempDir dir;
    handLog(dir.file("runs/a.Tobrin.log"), true);
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"runs", "-shard", "3/3"}, "Bad argument of -shard: \"3/3\" (K/N, whole numbers with 0 <= K < N is expected).\n"},
        {{"runs", "-j", "two"}, "Bad argument of -j: \"two\" (N, a whole number (0: the processors the run may use) is expected).\n"},
        {{"runs", "-mem", "0"}, "Bad argument of -mem: \"0\" (MB, a whole number of megabytes, at least 1 is expected).\n"},
        {{"runs", "-progress", "sometimes"}, "Bad argument of -progress: \"sometimes\" (auto, off, tty or a whole number of seconds is expected).\n"},
        {{"runs", "-record"}, "-record needs its argument: FILE.\n"},
        {{"runs", "-bogus", "-shard", "0/2"}, "-shard is not read: the reading of the command line stopped at \"-bogus\".\n"},
        {{"-shard", "0/0", "runs"}, "Bad argument of -shard: \"0/0\" (K/N, whole numbers with 0 <= K < N is expected).\n"},
    };
    for (const Case& c : cases) {
        RunResult r = testsupport::plumex(c.args, dir.path());
        EXPECT_EQ(r.status, 254) << c.message;
        EXPECT_EQ(r.out.rfind("Usage:\n", 0), 0u);
        ASSERT_GE(r.out.size(), c.message.size());
        EXPECT_EQ(r.out.substr(r.out.size() - c.message.size()), c.message) << r.out;
        EXPECT_FALSE(testsupport::fileExists(dir.file("runs/a.qbm")));
    }
    RunResult usage = testsupport::plumex({}, dir.path());
    for (const char* option : {"\n  -j N, ", "\n  -shard K/N, ", "\n  -mem MB, ", "\n  -record FILE, ", "\n  -resume FILE, ",
                               "\n  -progress (auto|off|tty|SECONDS), ", "\n  -summary, "})
        EXPECT_NE(usage.out.find(option), std::string::npos) << option;
}

// 7. Entries named like instances that are no regular files are skipped with a line;
// the run never waits on them (nor on such a "Plumex.conf").
TEST(Unattended, WhatIsNoRegularFileIsSkippedWithALine) {
    TempDir dir;
    handLog(dir.file("runs/a.Tobrin.log"), true);
    for (const char* name : {"b.Tobrin.log", "c.qrp", "d.aag", "Plumex.conf"})
        ASSERT_EQ(mkfifo(dir.file(std::string("runs/") + name).c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.file("runs/other").c_str(), 0600), 0);  // not named like an instance: no line
    for (const char* jobs : {"1", "3"}) {
        Spawned s = spawn({"-j", jobs, "runs", "30"}, dir.path());
        int status = waitFor(s.pid, 60);
        std::string out = readFile(s.out);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << out;
        for (const char* name : {"b.Tobrin.log", "c.qrp", "d.aag"})
            EXPECT_NE(out.find("\nSkipped \"runs/" + std::string(name) + "\": not a regular file."), std::string::npos) << out;
        EXPECT_EQ(out.find("runs/other"), std::string::npos) << out;
        EXPECT_NE(out.find("\nCannot read configuration file \"runs/Plumex.conf\""), std::string::npos) << out;
        EXPECT_NE(out.find("\n\n1/1 instances successfully processed.\n\n"), std::string::npos) << out;
    }
    // Named alone on the command line it is refused at once.
    RunResult single = testsupport::plumex({"runs/b.Tobrin.log"}, dir.path());
    EXPECT_EQ(single.status, 254);
    EXPECT_NE(single.out.find("Error: \"runs/b.Tobrin.log\": it is not a regular file\n"), std::string::npos) << single.out;
}

// 8a. A timeout signal the parent did not send is a crash, not a timeout.
TEST(Unattended, ASigusr1FromOutsideIsACrash) {
    TempDir dir;
    stallingDirectory(dir.path(), "runs");
    handLog(dir.file("runs/s.Tobrin.log"), true);
    Spawned s = spawn({"-record", "r.jsonl", "runs", "100"}, dir.path());
    std::vector<pid_t> kids = awaitChildren(s.pid, 1);
    ASSERT_EQ(kids.size(), 1u);
    kill(kids[0], SIGUSR1);
    int status = waitFor(s.pid);
    std::string out = readFile(s.out);
    EXPECT_NE(out.find("\"runs/s.Tobrin.log\"...  [CRASH]"), std::string::npos) << out;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<std::string> recorded = instanceLines(dir.file("r.jsonl"));
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(field(recorded[0], "outcome"), "CRASH");
    EXPECT_EQ(field(recorded[0], "message").rfind("ended by signal 10", 0), 0u) << recorded[0];
}

// 8b. "-giveup" and "-autogiveup" on a configuration line act on its pass.
TEST(Unattended, GiveupOnAConfigurationLineEndsItsPass) {
    TempDir dir;
    handLog(dir.file("runs/a1.Tobrin.log"), true);
    handLog(dir.file("runs/a2.Tobrin.log"), false);
    handLog(dir.file("runs/a3.Tobrin.log"), true);
    writeFile(dir.file("runs/Plumex.conf"), "-giveup\n\n");
    for (const char* jobs : {"1", "3"}) {
        RunResult r = testsupport::plumex({"-j", jobs, "runs"}, dir.path());
        std::vector<std::string> order;
        static const std::regex line("\n[0-9]+\\.Processing \"runs/([^\"]*)\"");
        for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), line); it != std::sregex_iterator(); ++it)
            order.push_back((*it)[1]);
        EXPECT_EQ(order, (std::vector<std::string>{"a1.Tobrin.log", "a2.Tobrin.log", "a1.Tobrin.log", "a2.Tobrin.log",
                                                   "a3.Tobrin.log"}))
            << r.out;
        EXPECT_EQ(r.status, 2);
    }
}

// 8c. "-j 0" counts the processors the run may use, not those online.
TEST(Unattended, JobsZeroCountsTheProcessorsOfTheAffinity) {
    TempDir dir;
    handLog(dir.file("runs/a.Tobrin.log"), true);
    Spawned s = spawn({"-j", "0", "-record", "r.jsonl", "runs"}, dir.path(), 0);
    int status = waitFor(s.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    std::vector<std::string> recorded = lines(readFile(dir.file("r.jsonl")));
    ASSERT_FALSE(recorded.empty());
    EXPECT_EQ(field(recorded.front(), "jobs"), "1") << recorded.front();
}

// 10. The look-ahead window: while an earlier instance is slow, the later ones start and
// end; the output still comes in the run's order.
TEST(Unattended, LaterInstancesRunWhileAnEarlierOneIsSlow) {
    TempDir dir;
    for (int i = 0; i < 16; ++i) {
        std::string name = "i" + std::string(i < 10 ? "0" : "") + std::to_string(i);
        if (i % 4 == 0)
            heldLog(dir.file("runs/" + name + ".Tobrin.log"));
        else
            handLog(dir.file("runs/" + name + ".Tobrin.log"), true);
    }
    testsupport::FileLock lock(heldReport(dir.file("runs")));
    Spawned s = spawn({"-j", "4", "-report", "-record", "r.jsonl", "runs"}, dir.path());
    // The fast instances between the slow ones all end while i00 waits: nine of them,
    // until the four slow ones hold every place (the window of -j 4 alone would have held
    // i04 back until i00 had ended, after three).
    bool fastDone = within(120, [&] { return instanceLines(dir.file("r.jsonl")).size() >= 9; });
    EXPECT_TRUE(fastDone);
    // (the ninth may still be on its way out before the fourth slow one starts)
    EXPECT_TRUE(within(60, [&] { return childrenOf(s.pid).size() == 4u; })) << childrenOf(s.pid).size();
    for (const std::string& l : instanceLines(dir.file("r.jsonl"))) EXPECT_EQ(field(l, "path").find("runs/i00"), std::string::npos) << l;
    lock.release();  // now the slow ones go on
    int status = waitFor(s.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 16);
    std::string out = readFile(s.out);
    for (int i = 0; i < 16; ++i) {
        std::string name = std::string(i < 10 ? "0" : "") + std::to_string(i);
        EXPECT_NE(out.find("\n" + std::to_string(i + 1) + ".Processing \"runs/i" + name + ".Tobrin.log\"...  [OK, VALID, "),
                  std::string::npos)
            << out;
    }
}

// The record of a run that met a full disk, a crash, a timeout and a memory-out names
// each of them, with the facts the children knew.
TEST(Unattended, TheRecordNamesEveryOutcome) {
    TempDir dir;
    handLog(dir.file("runs/valid/v.Tobrin.log"), true);
    handLog(dir.file("runs/invalid/i.Tobrin.log"), false);
    handLog(dir.file("runs/full/f.Tobrin.log"), true);
    fs::create_symlink("/dev/full", dir.file("runs/full/full.qbm.txt"));
    heldLog(dir.file("runs/slow/s.Tobrin.log"));
    testsupport::FileLock lock(heldReport(dir.file("runs/slow")));
    writeFile(dir.file("runs/slow/Plumex.conf"), "-timeout 1\n");
    stallingDirectory(dir.path(), "runs/crash");
    handLog(dir.file("runs/crash/c.Tobrin.log"), true);
    handLog(dir.file("runs/memory/m.Tobrin.log"), true);
    writeFile(dir.file("runs/memory/Plumex.conf"), "-mem 5\n");
    Spawned s = spawn({"-report", "-record", "r.jsonl", "runs"}, dir.path());
    // The crash: the child that waits on c's line is ended by SIGABRT (a sanitizer build
    // catches SIGSEGV itself and exits instead).
    EXPECT_TRUE(signalReaderOf(s.pid, dir.file("runs/crash/stall"), SIGABRT));
    waitFor(s.pid);
    std::map<std::string, std::string> line;
    for (const std::string& l : instanceLines(dir.file("r.jsonl"))) line[fs::path(field(l, "path")).filename()] = l;
    ASSERT_EQ(line.size(), 6u) << readFile(dir.file("r.jsonl"));
    EXPECT_EQ(field(line["v.Tobrin.log"], "outcome"), "VALID");
    EXPECT_EQ(field(line["v.Tobrin.log"], "polarity"), "true");
    EXPECT_EQ(field(line["v.Tobrin.log"], "kind"), "log");
    EXPECT_TRUE(std::regex_match(field(line["v.Tobrin.log"], "nodes"), std::regex("[0-9]+"))) << line["v.Tobrin.log"];
    EXPECT_EQ(field(line["i.Tobrin.log"], "outcome"), "INVALID");
    EXPECT_EQ(field(line["f.Tobrin.log"], "outcome"), "ERROR");
    EXPECT_EQ(field(line["f.Tobrin.log"], "message"),
              "cannot append to \\\"runs/full/full.qbm.txt\\\": No space left on device");
    EXPECT_EQ(field(line["s.Tobrin.log"], "outcome"), "TIMEOUT");
    EXPECT_EQ(field(line["s.Tobrin.log"], "message"), "stopped by the timeout of 1 s");
    EXPECT_EQ(field(line["s.Tobrin.log"], "kind"), "log");  // known before it was stopped
    EXPECT_EQ(field(line["s.Tobrin.log"], "polarity"), "true");
    EXPECT_EQ(field(line["c.Tobrin.log"], "outcome"), "CRASH");
    EXPECT_EQ(field(line["c.Tobrin.log"], "message").rfind("ended by signal 6", 0), 0u) << line["c.Tobrin.log"];
    EXPECT_EQ(field(line["m.Tobrin.log"], "mem_mb"), "5");
#if !defined(__SANITIZE_ADDRESS__)  // no memory limit under AddressSanitizer (its shadow memory exceeds any)
    EXPECT_EQ(field(line["m.Tobrin.log"], "outcome"), "MEMOUT");
#endif
    std::vector<std::string> all = lines(readFile(dir.file("r.jsonl")));
    EXPECT_EQ(field(all.back(), "ended"), "complete");
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(field(all.back(), "successes"), "1");
#endif
}

// "-mem" on the command line bounds a single instance as well.
TEST(Unattended, MemoryLimitOfASingleInstanceEndsInMemout) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "no memory limit under AddressSanitizer (its shadow memory exceeds any)";
#endif
    TempDir dir;
    handLog(dir.file("a.Tobrin.log"), true);
    RunResult r = testsupport::plumex({"-mem", "5", "-v", "1", "a.Tobrin.log"}, dir.path());
    EXPECT_EQ(r.status, 250);
    EXPECT_NE(r.out.find("1.Processing \"a.Tobrin.log\"...  MEMOUT"), std::string::npos) << r.out;
    EXPECT_EQ(testsupport::plumex({"-mem", "500", "a.Tobrin.log"}, dir.path()).status, 10);
}

// Progress lines only when asked for, between the instances' lines; the summary with
// "-summary".
TEST(Unattended, ProgressLinesAndTheSummaryOnlyWhenAskedFor) {
    TempDir dir;
    for (int i = 0; i < 3; ++i) handLog(dir.file("runs/i" + std::to_string(i) + ".Tobrin.log"), i != 1);
    heldLog(dir.file("runs/slow/s.Tobrin.log"));
    testsupport::FileLock lock(heldReport(dir.file("runs/slow")));
    writeFile(dir.file("runs/slow/Plumex.conf"), "-timeout 2\n");
    RunResult plain = testsupport::plumex({"-report", "runs"}, dir.path());
    EXPECT_EQ(plain.out.find("Progress"), std::string::npos);
    EXPECT_EQ(plain.out.find("Summary"), std::string::npos);
    RunResult asked = testsupport::plumex({"-report", "-summary", "-progress", "1", "runs"}, dir.path());
    std::string masked = testsupport::maskTimes(asked.out);
    EXPECT_TRUE(std::regex_search(masked, std::regex("\n1\\.Processing \"runs/slow/s\\.Tobrin\\.log\"\\.\\.\\.  \\[TIMEOUT\\]"
                                                     "(\nProgress: [0-9]+/4 done, [0-9] running, [0-9] failed[^\n]*\\.)+\n2\\.Processing ")))
        << asked.out;
    EXPECT_NE(masked.find("\n\nSummary: 4 runs: 2 VALID, 1 INVALID, 1 TIMEOUT.\nTimes: X.XXs processor, X.XXs wall; slowest: "
                          "X.XXs \"runs/slow/s.Tobrin.log\" (TIMEOUT), "),
              std::string::npos)
        << asked.out;
    EXPECT_NE(masked.find("\n\n2/4 instances successfully processed.\n\n"), std::string::npos);
    EXPECT_EQ(asked.status, 2);
    // Without a controlling terminal "-progress tty" shows nothing at all.
    RunResult tty = testsupport::plumex({"-report", "-progress", "tty", "runs"}, dir.path());
    EXPECT_EQ(testsupport::maskTimes(tty.out), testsupport::maskTimes(plain.out));
}

// On a terminal the progress comes and goes beside the run's text.
TEST(Unattended, OnATerminalTheProgressComesAndGoes) {
    RunResult where = testsupport::run({"/bin/sh", "-c", "command -v script"});
    if (where.status != 0) GTEST_SKIP() << "script is missing: install the Debian package bsdutils";
    TempDir dir;
    for (int i = 0; i < 3; ++i) handLog(dir.file("runs/i" + std::to_string(i) + ".Tobrin.log"), true);
    RunResult r = testsupport::run({where.out.substr(0, where.out.find('\n')), "-qec", std::string(PLUMEX_BIN) + " -j 2 runs", "/dev/null"}, dir.path());
    EXPECT_NE(r.out.find("\0337 ["), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\0338\033[K"), std::string::npos);
    EXPECT_NE(r.out.find("\nSummary: 3 runs: 3 VALID."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3/3 instances successfully processed."), std::string::npos);
}

// A batch of small instances interrupted with SIGINT at a random moment and resumed ends
// with the record of an uninterrupted run, one child at a time, four, and in shards.
// PLUMEX_RESUME_INSTANCES sets the number of instances (200 by default).
TEST(Unattended, AnInterruptedAndResumedRunEndsWithTheRecordOfAWholeRun) {
    int count = std::getenv("PLUMEX_RESUME_INSTANCES") ? std::atoi(std::getenv("PLUMEX_RESUME_INSTANCES")) : 200;
    auto makeTree = [count](const std::string& root) {
        for (int i = 0; i < count; ++i) {
            std::string sub = i < count / 4 ? "/twice" : i < count / 2 ? "/family" : "";
            handLog(root + sub + "/i" + std::to_string(i) + ".Tobrin.log", i % 7 != 3);
        }
        writeFile(root + "/twice/Plumex.conf", "\n-dump qdc\n");  // two passes
        writeFile(root + "/family/Plumex.conf", "-giveup\n");    // ends at its first failure
    };
    std::mt19937 random(static_cast<unsigned>(count));
    struct Setup {
        std::string jobs;
        int shards;
    };
    for (Setup setup : {Setup{"1", 1}, Setup{"4", 1}, Setup{"2", 3}}) {
        auto argsOf = [&](int k, const std::string& option) {
            std::vector<std::string> args{"-j", setup.jobs, option, "r.jsonl"};
            if (setup.shards > 1) args.insert(args.end(), {"-shard", std::to_string(k) + "/" + std::to_string(setup.shards)});
            args.push_back("runs");
            return args;
        };
        auto recordOf = [&](const TempDir& dir, int k) {
            return dir.file("r.jsonl") +
                   (setup.shards > 1 ? ".shard" + std::to_string(k) + "of" + std::to_string(setup.shards) : "");
        };
        // The same run, uninterrupted.
        TempDir whole;
        makeTree(whole.file("runs"));
        std::vector<std::string> wholeRecords;
        std::string wholeCounts;
        for (int k = 0; k < setup.shards; ++k) {
            RunResult r = testsupport::plumex(argsOf(k, "-record"), whole.path());
            wholeRecords.push_back(recordOf(whole, k));
            wholeCounts += std::to_string(r.status) + " ";
        }
        std::vector<std::string> expected = outcomes(wholeRecords);
        ASSERT_GT(expected.size(), static_cast<std::size_t>(count / 2));

        TempDir dir;
        makeTree(dir.file("runs"));
        std::vector<std::string> records;
        std::string counts;
        for (int k = 0; k < setup.shards; ++k) {
            std::string record = recordOf(dir, k);
            // Interrupted after a random number of instances have ended ...
            std::size_t after = 1 + random() % static_cast<unsigned>(expected.size() / setup.shards / 2);
            Spawned s = spawn(argsOf(k, "-resume"), dir.path());
            within(120, [&] { return instanceLines(record).size() >= after; });
            kill(s.pid, SIGINT);
            int status = waitFor(s.pid);
            // (a run that had ended before the signal came is complete already)
            EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) || WIFEXITED(status)) << status;
            // ... then resumed.
            RunResult resumed = testsupport::plumex(argsOf(k, "-resume"), dir.path());
            counts += std::to_string(resumed.status) + " ";
            std::vector<std::string> all = lines(readFile(record));
            ASSERT_FALSE(all.empty());
            EXPECT_EQ(field(all.back(), "ended"), "complete") << all.back();
            records.push_back(record);
        }
        EXPECT_EQ(outcomes(records), expected) << setup.jobs << " jobs, " << setup.shards << " shards";
        EXPECT_EQ(counts, wholeCounts) << "the exit statuses (successes) of the resumed runs";
        if (setup.shards > 1) {
            std::string list, wholeList;
            for (const std::string& r : records) list += " " + r;
            for (const std::string& r : wholeRecords) wholeList += " " + r;
            RunResult sum = testsupport::run({"/bin/sh", "-c", script("sum-shards.sh") + list}, dir.path());
            RunResult wholeSum = testsupport::run({"/bin/sh", "-c", script("sum-shards.sh") + wholeList}, whole.path());
            EXPECT_EQ(sum.status, 0) << sum.err;
            EXPECT_EQ(sum.out, wholeSum.out);
        }
    }
}
