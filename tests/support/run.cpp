#include "tests/support/run.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace testsupport {

namespace {
std::string drain(int fd) {
    std::string text;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    return text;
}
}  // namespace

RunResult run(const std::vector<std::string>& argv, const std::string& cwd) {
    RunResult result;
    std::string outPath = std::filesystem::temp_directory_path() / ("plumex-out-XXXXXX");
    std::string errPath = std::filesystem::temp_directory_path() / ("plumex-err-XXXXXX");
    int outFd = mkstemp(outPath.data());
    int errFd = mkstemp(errPath.data());
    pid_t pid = fork();
    if (pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.status = 128 + WTERMSIG(status);
    lseek(outFd, 0, SEEK_SET);
    lseek(errFd, 0, SEEK_SET);
    result.out = drain(outFd);
    result.err = drain(errFd);
    close(outFd);
    close(errFd);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return result;
}

std::string binary(const std::string& name) {
    if (name == "plumex") return PLUMEX_BIN;
    return std::string(PLUMEX_BUILD_DIR) + "/tools/" + name + "/" + name;
}

RunResult plumex(const std::vector<std::string>& args, const std::string& cwd) {
    std::vector<std::string> argv{PLUMEX_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, cwd);
}

std::string maskTimes(const std::string& text) {
    static const std::regex seconds("[0-9]+\\.[0-9][0-9]s");
    static const std::regex share("[0-9]+\\.[0-9][0-9]% in BDD");
    std::string masked = std::regex_replace(text, seconds, "X.XXs");
    return std::regex_replace(masked, share, "X.XX% in BDD");
}

std::string dataDir() { return PLUMEX_TEST_DATA_DIR; }

std::string cadetDir() { return dataDir() + "/cadet-tests"; }

std::map<std::string, std::set<int>> cadetResults() {
    std::map<std::string, std::set<int>> results;
    std::ifstream list(cadetDir() + "/instances.txt");
    for (std::string line; std::getline(list, line);) {
        std::size_t bar = line.find('|');
        if (line.empty() || line[0] == '[' || bar == std::string::npos) continue;
        std::string path = line.substr(0, bar);
        while (!path.empty() && path.back() == ' ') path.pop_back();
        results[path.substr(path.rfind('/') + 1)].insert(std::atoi(line.c_str() + bar + 1));
    }
    return results;
}

// Formulas DepQBF, with the tracing options, decides neither way within 30 seconds (three
// times the tests' limit): each would only cost the tests its full limit.
const std::set<std::string> kBeyondDepqbf = {
    "BLOCKS4iii.7.qdimacs.txt",
    "C499.blif_0.10_0.20_0_0_inp_exact.qdimacs",
    "adder2.qdimacs",
    "arbiter-06-comp-error02-qbf-hardness-depth-4.qdimacs",
    "arbiter-06-comp-error02-qbf-hardness-depth-4.qdimacs.txt",
    "arbiter-07-comp-error01-qbf-hardness-depth-4.qdimacs",
    "arbiter-07-comp-error01-qbf-hardness-depth-9.qdimacs",
    "br.qdimacs",
    "bug10rr.qdimacs",
    "c1_BMC_p1_k8.qdimacs",
    "c3_BMC_p1_k256.qdimacs",
    "driverlog09_8.qdimacs",
    "driverlog10_7.qdimacs",
    "dungeon_i25-m125-u3-v0.pddl_planlen=14.qdimacs",
    "eequery_query04_1344n.qdimacs",
    "eequery_query04_1344n.qdimacs.txt",
    "stmt27rrr.qdimacs",
    "stmt7rr.qdimacs",
};

std::vector<std::string> cadetFormulasBut(int onlyResult) {
    std::map<std::string, std::set<int>> results = cadetResults();
    std::vector<std::string> names;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(cadetDir(), missing)) {
        std::string n = entry.path().filename().string();
        if (n[0] == '.' || n == "instances.txt" || n == "LICENSE.txt" || n == "SOURCE.md") continue;
        if (results.count(n) && results[n] == std::set<int>{onlyResult}) continue;
        if (kBeyondDepqbf.count(n)) continue;
        names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int depqbfTrace(const std::string& formula, const std::string& trace, bool binary, int seconds) {
    std::string command = "exec timeout " + std::to_string(seconds) + " /usr/bin/depqbf" +
                          (binary ? " --trace=bqrp" : " --trace") +
                          " --dep-man=simple --traditional-qcdcl --no-qbce-dynamic '" + formula + "' > '" + trace +
                          "' 2>/dev/null";
    return run({"/bin/sh", "-c", command}).status;
}

std::string sourceDir() { return PLUMEX_SOURCE_DIR; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

FileLock::FileLock(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
}

FileLock::~FileLock() { release(); }

void FileLock::release() {
    if (fd_ < 0) return;
    flock(fd_, LOCK_UN);
    close(fd_);
    fd_ = -1;
}

TempDir::TempDir() {
    std::string pattern = std::filesystem::temp_directory_path() / "plumex-test-XXXXXX";
    char* made = mkdtemp(pattern.data());
    path_ = made ? made : "";
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

}  // namespace testsupport
