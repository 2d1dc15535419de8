#include "framework/runner.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "framework/batch.h"
#include "framework/outcome_record.h"
#include "framework/pool.h"
#include "outcomes/instance_facts.h"
#include "outcomes/line_append.h"
#include "outcomes/outcome.h"
#include "outcomes/steps.h"

namespace runner {

namespace {

int g_instances = 0;
int g_timeout = 0;

void closeWithOutcome(const InstanceFramework& framework, int code) {
    char word[kOutcomeNameSize] = "PROBLEMS";
    if (framework.outcomeName) framework.outcomeName(word, code);
    word[kOutcomeNameSize - 1] = '\0';
    steps::close(word);
}

// Applies the line's tokens; 1 when the instance is to run.
int applyTokens(const InstanceFramework& framework, int tokenCount, const char* const* tokens) {
    if (tokenCount <= 1 || !tokens || !framework.applyLine) return 1;
    return framework.applyLine(tokenCount, tokens);
}

int runInProcess(const std::string& path, const InstanceFramework& framework, int tokenCount,
                 const char* const* tokens) {
    ++g_instances;
    // The line is applied first, so that its verbosity governs the instance's own line too.
    bool process = applyTokens(framework, tokenCount, tokens);
    steps::open("Processing \"" + path + "\"... ");
    int code = process ? framework.processInstance(path) : 0;  // 0: the line asked for a text
    closeWithOutcome(framework, code);
    return code;
}

// One instance in a child of its own, when no batch run holds the pool of children.
int runForked(const std::string& path, const InstanceFramework& framework, int tokenCount,
              const char* const* tokens) {
    if (pool::running()) {
        int task = pool::submit(path, framework, tokenCount, tokens, 1, framework.memoryMB, nullptr);
        return pool::await(task);
    }
    pool::Setup setup;
    pool::start(setup);
    int task = pool::submit(path, framework, tokenCount, tokens, 1, framework.memoryMB, nullptr);
    int code = pool::await(task);
    pool::finish();
    return code;
}

double wallNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string shardName(const InstanceFramework& framework) {
    return std::to_string(framework.shardIndex) + "/" + std::to_string(framework.shardCount);
}

// A single instance with "-record": a start line, its line and an end line. A record
// that cannot be written is said after the instance's line.
int runRecorded(const std::string& path, const InstanceFramework& framework) {
    double started = wallNow();
    int code = runInProcess(path, framework, 0, nullptr);
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    outcome_record::Instance line;
    line.shard = shardName(framework);
    line.path = path;
    const instance_facts::Facts& facts = instance_facts::current();
    line.kind = facts.kind;
    line.outcome = recordOutcome(framework, code);
    line.code = code;
    line.polarity = facts.polarity;
    line.cpuSeconds = static_cast<double>(self.ru_utime.tv_sec + self.ru_stime.tv_sec) +
                      static_cast<double>(self.ru_utime.tv_usec + self.ru_stime.tv_usec) / 1e6;
    line.wallSeconds = wallNow() - started;
    line.peakKb = self.ru_maxrss;
    line.nodes = facts.nodes;
    line.memoryMB = framework.memoryMB;
    line.message = facts.message;
    outcome_record::Start start;
    start.shard = line.shard;
    start.input = path;
    outcome_record::End end;
    end.shard = line.shard;
    end.ended = "complete";
    end.instances = 1;
    end.successes = framework.isSuccess && framework.isSuccess(code) ? 1 : 0;
    end.runs = 1;
    end.counts.push_back({line.outcome, 1});
    end.cpuSeconds = line.cpuSeconds;
    end.wallSeconds = line.wallSeconds;
    Status written = line_append::appendTo(framework.recordPath, outcome_record::line(start) +
                                                                     outcome_record::line(line) +
                                                                     outcome_record::line(end));
    if (!written) {
        std::printf("\nRecord: %s.", written.message().c_str());
        std::fflush(stdout);
    }
    return code;
}

}  // namespace

void runChild(const std::string& path, const InstanceFramework& framework, int tokenCount,
              const char* const* tokens) {
    bool process = applyTokens(framework, tokenCount, tokens);
    steps::presetNextCounter(g_instances - 1);
    // Long paths keep their end, where the instance's own name is.
    if (path.size() > 70)
        steps::open("Processing \"..." + path.substr(path.size() - 67) + "\"... ");
    else
        steps::open("Processing \"" + path + "\"... ");
    int code = process ? framework.processInstance(path) : 0;  // 0: the line asked for a text
    closeWithOutcome(framework, code);
    std::fflush(stdout);
    std::_Exit(outcome::exitStatus(code));
}

int countInstance() { return ++g_instances; }

int instanceTimeout(const InstanceFramework& framework, int tokenCount, const char* const* tokens) {
    int timeout = configurationTimeout(tokenCount, tokens);
    return timeout == 0 ? framework.timeout : timeout;
}

int childOutcome(int status, bool timedOut, const std::string& path, const InstanceFramework& framework,
                 int timeout, const char** word) {
    *word = nullptr;
    g_timeout = timeout > 0 ? timeout : 0;
    if (WIFSIGNALED(status)) {
        int signal = WTERMSIG(status);
        if (timedOut) {
            if (framework.report && framework.onTimeout) framework.onTimeout(path);
            *word = "[TIMEOUT]";
            return outcome::Timeout;
        }
        if (framework.report && framework.onCrash) framework.onCrash(path, signal);
        *word = "[CRASH]";
        return outcome::Crash;
    }
    int code = outcome::codeFromStatus(WEXITSTATUS(status));
    if (code == outcome::Memout && framework.report && framework.onMemout) framework.onMemout(path);
    return code;
}

void limitMemory(int megabytes) {
    if (megabytes <= 0) return;
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer maps terabytes of shadow memory at start: any limit on the address
    // space is exceeded at once, and every allocation would fail. Its builds run without.
    (void)megabytes;
#else
    rlim_t bytes = static_cast<rlim_t>(megabytes) << 20;
    rlimit limit{bytes, bytes};
    rlimit current{};
    if (getrlimit(RLIMIT_AS, &current) == 0 && current.rlim_max != RLIM_INFINITY && current.rlim_max < bytes)
        limit.rlim_cur = limit.rlim_max = current.rlim_max;
    setrlimit(RLIMIT_AS, &limit);
#endif
}

std::string recordOutcome(const InstanceFramework& framework, int code) {
    if (framework.isSuccess && framework.isSuccess(code) && framework.outcomeName) {
        char word[kOutcomeNameSize] = "";
        framework.outcomeName(word, code);
        word[kOutcomeNameSize - 1] = '\0';
        return word;
    }
    if (code == outcome::False) return "INVALID";
    return outcome::name(code);
}

bool isDirectory(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (!dir) return false;
    closedir(dir);
    return true;
}

int frameworkMain(const std::string& path, const InstanceFramework& framework) {
    if (path.empty()) return outcome::CmdlineError;
    if (isDirectory(path)) return batch::run(path, framework);
    if (!framework.isInstance || !framework.isInstance(path)) return outcome::IoError;
    if (framework.batchMode) return runInstance(path, framework, 0, nullptr);
    limitMemory(framework.memoryMB);
    if (!framework.recordPath.empty()) return runRecorded(path, framework);
    return runInProcess(path, framework, 0, nullptr);
}

int runInstance(const std::string& path, const InstanceFramework& framework, int tokenCount,
                const char* const* tokens) {
    if (framework.batchMode) return runForked(path, framework, tokenCount, tokens);
    return runInProcess(path, framework, tokenCount, tokens);
}

int configurationTimeout(int tokenCount, const char* const* tokens) {
    if (!tokens) return 0;
    for (int i = 1; i < tokenCount; ++i) {
        if (!tokens[i] || std::strcmp(tokens[i], "-timeout") != 0) continue;
        if (i + 1 >= tokenCount || !tokens[i + 1]) return 0;
        double value = std::atof(tokens[i + 1]);
        if (!(value == value)) return 0;  // not a number
        if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
        if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
        return static_cast<int>(value);
    }
    return 0;
}

int currentTimeout() { return g_timeout; }

int instanceCounter() { return g_instances; }

}  // namespace runner
