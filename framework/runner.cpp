#include "framework/runner.h"

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framework/batch.h"
#include "outcomes/outcome.h"
#include "pipeline/steps.h"

namespace runner {

namespace {

int g_instances = 0;
int g_timeout = 0;
// The running child, for the alarm handler.
volatile sig_atomic_t g_child = 0;

void onAlarm(int) {
    if (g_child > 0) kill(static_cast<pid_t>(g_child), SIGUSR1);
}

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

// Waits until the child has ended, leaving it unreaped so that a late alarm can only
// signal the zombie, never a process that took over its id. False when waiting failed.
bool awaitEnd(pid_t pid) {
    siginfo_t info{};
    for (;;) {
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool reap(pid_t pid, int* status) {
    for (;;) {
        pid_t got = waitpid(pid, status, 0);
        if (got == pid) return true;
        if (got < 0 && errno == EINTR) continue;
        return false;
    }
}

void disarm(bool armed) {
    if (!armed) return;
    alarm(0);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
}

int runForked(const std::string& path, const InstanceFramework& framework, int tokenCount,
              const char* const* tokens) {
    countInstance();
    // Nothing buffered may be inherited, or the child would print it a second time.
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid < 0) return outcome::Error;
    if (pid == 0) runChild(path, framework, tokenCount, tokens);

    g_child = pid;
    int timeout = instanceTimeout(framework, tokenCount, tokens);
    g_timeout = timeout > 0 ? timeout : 0;
    bool armed = timeout > 0;
    if (armed) {
        struct sigaction action {};
        action.sa_handler = onAlarm;
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, nullptr);
        alarm(static_cast<unsigned>(timeout));
    }
    int status = 0;
    bool ended = awaitEnd(pid);
    disarm(armed);
    if (!ended || !reap(pid, &status)) {
        // Never leave a child behind: stop it and collect it. ECHILD means it is no longer
        // ours to collect (already reaped), and its id may belong to another process now.
        if (errno != ECHILD) {
            kill(pid, SIGKILL);
            reap(pid, &status);
        }
        g_child = 0;
        return outcome::Error;
    }
    g_child = 0;

    const char* word = nullptr;
    int code = childOutcome(status, path, framework, g_timeout, &word);
    if (word && steps::verbosity() >= 0) {
        std::fputs(word, stdout);
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

int childOutcome(int status, const std::string& path, const InstanceFramework& framework, int timeout,
                 const char** word) {
    *word = nullptr;
    g_timeout = timeout > 0 ? timeout : 0;
    if (WIFSIGNALED(status)) {
        int signal = WTERMSIG(status);
        if (signal == SIGUSR1) {
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
    return runInstance(path, framework, 0, nullptr);
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
