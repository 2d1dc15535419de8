#include "framework/pool.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <algorithm>
#include <deque>
#include <map>
#include <vector>

#include "framework/runner.h"
#include "outcomes/outcome.h"
#include "pipeline/steps.h"

namespace pool {

namespace {

struct Task {
    pid_t pid = -1;
    int fd = -1;              // read end of the child's output pipe; -1 once it closed
    bool reaped = false;
    bool signalled = false;   // SIGUSR1 sent on its deadline
    double deadline = 0.0;    // monotonic seconds; 0: no timeout
    int timeout = 0;
    std::string path;
    std::string out;          // collected standard output
    const char* word = nullptr;  // "[TIMEOUT]" or "[CRASH]" to end its line with
    const InstanceFramework* framework = nullptr;
    std::function<void(int)> done;
};

// What is still to be printed, in order: the output of a task, or a text of the parent.
struct Item {
    int task = -1;  // -1: text
    std::string text;
};

bool g_running = false;
int g_jobs = 1;
std::map<int, Task> g_live;  // started and not yet printed
std::deque<Item> g_queue;
std::vector<int> g_codes;    // per task number
std::vector<char> g_ended;

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void flushFront() {
    bool printed = false;
    while (!g_queue.empty()) {
        Item& item = g_queue.front();
        if (item.task < 0) {
            std::fputs(item.text.c_str(), stdout);
        } else {
            auto it = g_live.find(item.task);
            if (it != g_live.end()) {
                if (!it->second.reaped) break;
                std::fwrite(it->second.out.data(), 1, it->second.out.size(), stdout);
                if (it->second.word && steps::verbosity() >= 0) std::fputs(it->second.word, stdout);
                g_live.erase(it);
            }
        }
        g_queue.pop_front();
        printed = true;
    }
    if (printed) std::fflush(stdout);
}

void settle(int id, Task& task, int code) {
    task.reaped = true;
    g_codes[static_cast<std::size_t>(id)] = code;
    g_ended[static_cast<std::size_t>(id)] = 1;
    if (task.done) task.done(code);
}

// Collects the child once its pipe has closed; false while it has not ended yet.
bool tryReap(int id, Task& task) {
    int status = 0;
    pid_t got = waitpid(task.pid, &status, WNOHANG);
    if (got == 0 || (got < 0 && errno == EINTR)) return false;
    if (got != task.pid) {
        settle(id, task, outcome::Error);  // no longer ours to wait for
        return true;
    }
    int code = runner::childOutcome(status, task.path, *task.framework, task.timeout, &task.word);
    settle(id, task, code);
    return true;
}

void readFrom(Task& task) {
    char buffer[65536];
    ssize_t n = read(task.fd, buffer, sizeof buffer);
    if (n > 0) {
        task.out.append(buffer, static_cast<std::size_t>(n));
        return;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    close(task.fd);
    task.fd = -1;
}

int runningCount() {
    int count = 0;
    for (auto& [id, task] : g_live) count += !task.reaped;
    return count;
}

// Waits for something to happen to the running children: output, an end, a deadline.
void step() {
    std::vector<pollfd> fds;
    std::vector<int> owners;
    double t = now();
    long waitMs = -1;
    auto bound = [&waitMs](long ms) { waitMs = waitMs < 0 ? ms : std::min(waitMs, ms); };
    for (auto& [id, task] : g_live) {
        if (task.reaped) continue;
        if (task.deadline > 0.0 && !task.signalled) {
            if (task.deadline <= t) {
                kill(task.pid, SIGUSR1);  // not yet reaped: the id is still this child's
                task.signalled = true;
            } else {
                bound(static_cast<long>(std::ceil((task.deadline - t) * 1000.0)));
            }
        }
        if (task.fd >= 0) {
            fds.push_back({task.fd, POLLIN, 0});
            owners.push_back(id);
        } else {
            bound(2);  // its output closed: it is about to end
        }
    }
    if (!fds.empty() || waitMs >= 0) {
        int timeoutMs = waitMs < 0 ? -1 : static_cast<int>(std::min(waitMs, 60000L));
        int n = poll(fds.data(), fds.size(), timeoutMs);
        if (n > 0)
            for (std::size_t i = 0; i < fds.size(); ++i)
                if (fds[i].revents) readFrom(g_live[owners[i]]);
    }
    for (auto& [id, task] : g_live)
        if (!task.reaped && task.fd < 0) tryReap(id, task);
    flushFront();
}

int pendingTasks() { return static_cast<int>(g_live.size()); }

}  // namespace

void start(int jobs) {
    g_running = true;
    g_jobs = jobs < 1 ? 1 : jobs;
}

bool running() { return g_running; }

int submit(const std::string& path, const InstanceFramework& framework, int tokenCount, const char* const* tokens,
           std::function<void(int code)> done) {
    flushFront();
    while (pendingTasks() >= g_jobs) step();
    int id = static_cast<int>(g_codes.size());
    g_codes.push_back(0);
    g_ended.push_back(0);
    runner::countInstance();
    Task task;
    task.path = path;
    task.framework = &framework;
    task.done = std::move(done);
    task.timeout = runner::instanceTimeout(framework, tokenCount, tokens);
    for (;;) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) == 0) {
            // Nothing buffered may be inherited, or the child would print it a second time.
            std::fflush(stdout);
            pid_t pid = fork();
            if (pid == 0) {
                close(fds[0]);
                for (auto& [other, sibling] : g_live)
                    if (sibling.fd >= 0) close(sibling.fd);
                if (fds[1] != STDOUT_FILENO) {
                    dup2(fds[1], STDOUT_FILENO);
                    close(fds[1]);
                }
                runner::runChild(path, framework, tokenCount, tokens);
            }
            close(fds[1]);
            if (pid > 0) {
                task.pid = pid;
                task.fd = fds[0];
                if (task.timeout > 0) task.deadline = now() + task.timeout;
                break;
            }
            close(fds[0]);
        }
        // Out of processes or descriptors: a running child may give some back.
        if (runningCount() > 0) {
            step();
            continue;
        }
        // Nothing runs that could: the instance fails like a failed fork of one child.
        Task& failed = g_live[id] = std::move(task);
        g_queue.push_back({id, {}});
        settle(id, failed, outcome::Error);
        flushFront();
        return id;
    }
    g_live[id] = std::move(task);
    g_queue.push_back({id, {}});
    return id;
}

int await(int task) {
    while (!g_ended[static_cast<std::size_t>(task)]) step();
    flushFront();
    return g_codes[static_cast<std::size_t>(task)];
}

bool finished(int task) { return g_ended[static_cast<std::size_t>(task)] != 0; }

void print(const std::string& text) {
    if (g_queue.empty()) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        return;
    }
    g_queue.push_back({-1, text});
}

void finish() {
    while (pendingTasks() > 0) step();
    flushFront();
    g_running = false;
}

}  // namespace pool
