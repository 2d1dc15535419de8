// Helpers for tests that drive the real binaries: run a command, capture its standard
// output and exit status, mask processor times, work in a scratch directory.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace testsupport {

struct RunResult {
    int status = -1;      // exit status byte, or 128 + signal
    std::string out;      // standard output
    std::string err;      // standard error
};

// Runs argv[0] with the arguments, in directory cwd (empty: current), stdin closed.
RunResult run(const std::vector<std::string>& argv, const std::string& cwd = "");

// Runs the plumex binary with these arguments.
RunResult plumex(const std::vector<std::string>& args, const std::string& cwd = "");

// Path of a binary of the build (plumex, plumex-logwriter, ...).
std::string binary(const std::string& name);

// Replaces every processor time "12.34s" by "X.XXs" and every reordering share "12.34%" by "X.XX%".
std::string maskTimes(const std::string& text);

std::string dataDir();  // tests/data of the source tree
// The real formulas of tests/data/cadet-tests, and the results their list gives each
// file name (10 true, 20 false, 30 unknown; a name may be listed more than once).
std::string cadetDir();
std::map<std::string, std::set<int>> cadetResults();
// The file names of the set, sorted, less those every listed result calls onlyResult and
// those DepQBF decides neither way within 30 seconds.
std::vector<std::string> cadetFormulasBut(int onlyResult);
// DepQBF with the tracing options within `seconds`, its trace (binary or ASCII) written
// to trace: its exit status (10 true, 20 false, 124 out of time).
int depqbfTrace(const std::string& formula, const std::string& trace, bool binary, int seconds);

// Whether this is the sanitizer build, where tests that spend their time in an external
// solver (the same calls as in the normal build) run on a sample: every third name.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
// Names in `keep` are always in the sample.
inline std::vector<std::string> sanitizerSample(const std::vector<std::string>& names,
                                                const std::set<std::string>& keep = {}) {
    if (!kSanitized) return names;
    std::vector<std::string> sample;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (i % 3 == 0 || keep.count(names[i])) sample.push_back(names[i]);
    return sample;
}
std::string sourceDir();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);

// Holds an exclusive lock (flock) on a file, created when missing, while it lives: a
// plumex child that appends a report line to it waits until the lock is given up.
class FileLock {
  public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    void release();

  private:
    int fd_ = -1;
};

// A fresh directory under the system temporary directory, removed with its contents.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

}  // namespace testsupport
