// Faults a batch run survives, end to end with the real binary: a child killed from
// outside (SIGKILL) counts as "[CRASH]" and the directory's other instances still run;
// an instance whose output cannot be written fails with a message and the batch goes
// on; no output file is left half-written under its final name.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run.h"

using testsupport::TempDir;

namespace {

std::string writer() { return testsupport::binary("plumex-logwriter"); }

// A true formula r.qdimacs and a text log of it in dir, the log naming `formula`.
void makeInstance(const TempDir& dir, const std::string& name, const std::string& formula) {
    if (!testsupport::fileExists(dir.file("r.qdimacs"))) {
        auto gen = testsupport::run({writer(), "gen", "--vars", "8", "--clauses", "12", "--blocks", "3", "--seed", "1",
                                     "-o", dir.file("r.qdimacs")});
        ASSERT_EQ(gen.status, 0) << gen.err;
    }
    auto w = testsupport::run({writer(), "-q", "--record", formula, "-o", dir.file(name), dir.file("r.qdimacs")});
    ASSERT_EQ(w.status, 10) << w.err;
}

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

// The children of a process, from /proc.
std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> found;
    for (const std::string& entry : listDir("/proc")) {
        if (entry.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat("/proc/" + entry + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // pid (comm) state ppid ...: the command name may hold blanks, so read after ')'
        std::size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 1));
        char state;
        long ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) found.push_back(static_cast<pid_t>(std::stol(entry)));
    }
    return found;
}

struct Spawned {
    pid_t pid = -1;
    std::string outPath, errPath;
};

// Starts plumex with these arguments in dir, standard output and error to files.
Spawned spawnPlumex(const std::vector<std::string>& args, const std::string& dir) {
    Spawned s;
    s.outPath = dir + "/plumex.out";
    s.errPath = dir + "/plumex.err";
    std::vector<std::string> argv = {PLUMEX_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    s.pid = fork();
    if (s.pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        int in = open("/dev/null", O_RDONLY);
        int out = open(s.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(s.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
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

// Waits for the process; kills it (and fails) when it has not ended within the bound.
int waitFor(pid_t pid, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "plumex did not end";
    for (pid_t c : childrenOf(pid)) kill(c, SIGKILL);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    return -1;
}

TEST(BatchFaults, ChildKilledBySigkillCountsAsCrashAndTheBatchGoesOn) {
    TempDir top;
    std::string dir = top.file("batch");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/stuck").c_str(), 0755), 0);
    TempDir scratch;
    makeInstance(scratch, "a", "r.qdimacs");
    makeInstance(scratch, "b", "r.qdimacs");
    testsupport::writeFile(dir + "/stuck/a.Tobrin.log", testsupport::readFile(scratch.file("a.Tobrin.log")));
    testsupport::writeFile(dir + "/stuck/r.qdimacs", testsupport::readFile(scratch.file("r.qdimacs")));
    testsupport::writeFile(dir + "/b.Tobrin.log", testsupport::readFile(scratch.file("b.Tobrin.log")));
    testsupport::writeFile(dir + "/r.qdimacs", testsupport::readFile(scratch.file("r.qdimacs")));
    // The line's expression file is a pipe nobody writes: a's child waits until it is
    // killed. An earlier certificate of a stands under the QBM name.
    ASSERT_EQ(mkfifo((dir + "/stuck/stall").c_str(), 0644), 0);
    testsupport::writeFile(dir + "/stuck/Plumex.conf", "-eval batch/stuck/stall\n");
    testsupport::writeFile(dir + "/stuck/a.qbm", "an earlier certificate\n");

    // The subdirectory comes first, so a runs first.
    Spawned s = spawnPlumex({"batch"}, top.path());
    pid_t child = -1;
    for (int i = 0; i < 600 && child < 0; ++i) {
        std::vector<pid_t> kids = childrenOf(s.pid);
        if (!kids.empty()) child = kids.front();
        else std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_GT(child, 0) << "no child appeared";
    // Give it the time to reach the pipe; where it is when the signal comes does not matter.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = waitFor(s.pid, 120);

    std::string out = testsupport::readFile(s.outPath);
    EXPECT_EQ(testsupport::readFile(s.errPath), "");
    EXPECT_NE(out.find("a.Tobrin.log\"...  [CRASH]"), std::string::npos) << out;
    EXPECT_NE(out.find("b.Tobrin.log\"...  [OK, VALID"), std::string::npos) << out;
    EXPECT_NE(out.find("\n\n1/2 instances successfully processed.\n\n"), std::string::npos) << out;
    EXPECT_EQ(status, 1);
    EXPECT_EQ(testsupport::readFile(dir + "/stuck/a.qbm"), "an earlier certificate\n");
    EXPECT_TRUE(testsupport::fileExists(dir + "/b.qbm"));
    for (const std::string& d : {dir, dir + "/stuck"})
        for (const std::string& n : listDir(d)) EXPECT_EQ(n.find(".tmp"), std::string::npos) << n;
}

TEST(BatchFaults, UnwritableOutputFailsTheInstanceWithAMessageAndTheBatchGoesOn) {
    TempDir dir;
    makeInstance(dir, "a", "r.qdimacs");
    makeInstance(dir, "b", "r.qdimacs");
    // A directory stands where a's certificate goes: the complete file cannot be put
    // in place (root, who ignores permission bits, is stopped by this as well).
    ASSERT_EQ(mkdir(dir.file("a.qbm").c_str(), 0755), 0);
    bool asRoot = geteuid() == 0;
    std::string locked = dir.file("locked");
    if (!asRoot) {
        ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
        testsupport::writeFile(locked + "/c.Tobrin.log", testsupport::readFile(dir.file("a.Tobrin.log")));
        testsupport::writeFile(locked + "/r.qdimacs", testsupport::readFile(dir.file("r.qdimacs")));
        ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    }
    auto r = testsupport::plumex({"-v", "3", dir.path()});
    if (!asRoot) chmod(locked.c_str(), 0755);

    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("QBM representation: \"" + dir.file("a.qbm") + "\" [OK, cannot write \"" + dir.file("a.qbm")),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("b.Tobrin.log\"...  "), std::string::npos) << r.out;
    EXPECT_TRUE(testsupport::fileExists(dir.file("b.qbm")));
    std::string total = asRoot ? "2" : "3";
    EXPECT_NE(r.out.find("\n\n1/" + total + " instances successfully processed.\n\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.status, 1);
    if (!asRoot) {
        EXPECT_NE(r.out.find("cannot create \"" + locked + "/c.qbm\""), std::string::npos) << r.out;
        EXPECT_FALSE(testsupport::fileExists(locked + "/c.qbm"));
    }
    // Nothing but the inputs, b's certificate and the directory in a's way.
    for (const std::string& n : listDir(dir.path()))
        EXPECT_TRUE(n == "a.Tobrin.log" || n == "b.Tobrin.log" || n == "r.qdimacs" || n == "a.qbm" || n == "b.qbm" ||
                    n == "locked")
            << "left behind: " << n;
    for (const std::string& n : listDir(dir.file("a.qbm"))) ADD_FAILURE() << "written into the way: " << n;
}

}  // namespace
