#include "framework/pool.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

#include "framework/runner.h"
#include "outcomes/outcome.h"
#include "outcomes/steps.h"

namespace pool {

namespace {

// A child that has not ended this long after its timeout signal is killed.
constexpr double kKillGrace = 5.0;

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A temporary file (already unlinked) for output that does not fit the memory bound.
class Spill {
  public:
    ~Spill() { reset(); }
    // Stores the text; false when there is no room there either (it stays in memory).
    bool put(const std::string& text, off_t* offset) {
        if (fd_ < 0 && !open()) return false;
        std::size_t done = 0;
        while (done < text.size()) {
            ssize_t n = pwrite(fd_, text.data() + done, text.size() - done, end_ + static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        *offset = end_;
        end_ += static_cast<off_t>(text.size());
        return true;
    }
    std::string get(off_t offset, std::size_t size) const {
        std::string text(size, '\0');
        std::size_t done = 0;
        while (done < size) {
            ssize_t n = pread(fd_, text.data() + done, size - done, offset + static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        text.resize(done);
        return text;
    }
    int fd() const { return fd_; }
    void reset() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        end_ = 0;
    }

  private:
    bool open() {
        std::FILE* file = std::tmpfile();
        if (!file) return false;
        fd_ = dup(fileno(file));
        std::fclose(file);
        if (fd_ >= 0) fcntl(fd_, F_SETFD, FD_CLOEXEC);
        return fd_ >= 0;
    }
    int fd_ = -1;
    off_t end_ = 0;
};

struct Task {
    pid_t pid = -1;
    int fd = -1;               // read end of the child's pipe; -1 once it closed
    int slot = -1;             // its place in the shared facts
    bool direct = false;       // the child writes to standard output itself
    bool reaped = false;
    bool timeoutSent = false;  // SIGUSR1 sent on its deadline
    bool killSent = false;     // SIGKILL sent (timeout grace over, or the run interrupted)
    bool interrupted = false;
    double started = 0.0;
    double deadline = 0.0;     // monotonic seconds; 0: no timeout
    Ended info;
    std::vector<std::pair<off_t, std::size_t>> spilled;  // output moved to the spill file, in order
    std::string held;          // output after the spilled parts
    std::size_t counted = 0;   // bytes of `held` counted against the memory bound
    const char* word = nullptr;  // "[TIMEOUT]", "[CRASH]" or "[INTERRUPTED]" to end its line with
    const InstanceFramework* framework = nullptr;
    std::function<void(int)> done;
};

// What is still to be printed, in order: the output of a task, or a text of the parent.
struct Item {
    int task = -1;  // -1: text
    std::string text;
};

bool g_running = false;
Setup g_setup;
std::unordered_map<int, Task> g_live;  // started and not yet printed
std::vector<int> g_runningIds;         // of those, the ones not yet collected
std::deque<Item> g_queue;
std::vector<int> g_codes;  // per task number
std::vector<char> g_ended;
int g_running_children = 0;
std::size_t g_heldBytes = 0;  // held output of tasks that are not at the front
Spill g_spill;
pid_t g_parent = 0;
double g_lastTick = 0.0;
int g_stopped = 0;

// Shared facts: one slot per child that may run at once.
void* g_slots = nullptr;
std::size_t g_slotCount = 0;
std::vector<int> g_freeSlots;

// The interruption, set by the handler, which also wakes the parent's wait through a
// pipe of its own. A second stop signal ends the parent at once (its children with it).
volatile sig_atomic_t g_signal = 0;
int g_interruption = 0;
int g_wake[2] = {-1, -1};
struct sigaction g_previousActions[3];

void wake() {
    int saved = errno;
    if (g_wake[1] >= 0) {
        ssize_t n = write(g_wake[1], "!", 1);
        (void)n;  // a full pipe has woken the parent already
    }
    errno = saved;
}

// A child has ended: the parent collects it at once (its pipe closes a moment earlier).
bool g_childSignal = false;  // SIGCHLD is caught (it was not ignored)
struct sigaction g_previousChild;
void onChild(int) { wake(); }

void onStopSignal(int signal) {
    if (g_signal) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_signal = signal;
    wake();
}

void installSignals() {
    g_signal = 0;
    g_interruption = 0;
    if (pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0) g_wake[0] = g_wake[1] = -1;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    // Other waits of the parent go on (writes to standard output are not cut short);
    // ppoll() returns whatever the flag, and the pipe wakes it.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) {
        sigaction(kStopSignals[i], &action, &g_previousActions[i]);
        // A signal the run was started to ignore (nohup, a background job) stays ignored.
        if (g_previousActions[i].sa_handler == SIG_IGN) sigaction(kStopSignals[i], &g_previousActions[i], nullptr);
    }
    // With SIGCHLD ignored the system collects the children itself; they are then seen
    // to end by their pipes alone.
    action.sa_handler = onChild;
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &action, &g_previousChild);
    g_childSignal = g_previousChild.sa_handler != SIG_IGN;
    if (!g_childSignal) sigaction(SIGCHLD, &g_previousChild, nullptr);
}

void restoreSignals() {
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &g_previousActions[i], nullptr);
    sigaction(SIGCHLD, &g_previousChild, nullptr);
    for (int& fd : g_wake) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

void drainWake() {
    char buffer[64];
    while (g_wake[0] >= 0 && read(g_wake[0], buffer, sizeof buffer) > 0) {
    }
}

// Unknown until the run prints its first line end (the banner stands before it).
constexpr int kUnknownColumn = 1 << 20;
int g_column = kUnknownColumn;

void emit(const char* data, std::size_t size) {
    if (!size) return;
    std::fwrite(data, 1, size, stdout);
    for (std::size_t i = 0; i < size; ++i) g_column = data[i] == '\n' || data[i] == '\r' ? 0 : g_column + 1;
}

void writeOutput(Task& task) {
    for (const auto& [offset, size] : task.spilled) {
        std::string text = g_spill.get(offset, size);
        emit(text.data(), text.size());
    }
    task.spilled.clear();
    emit(task.held.data(), task.held.size());
    task.held.clear();
}

void uncount(Task& task) {
    g_heldBytes -= std::min(g_heldBytes, task.counted);
    task.counted = 0;
}

bool hasOutput(const Task& task) { return !task.spilled.empty() || !task.held.empty(); }

void releaseSlot(Task& task) {
    if (task.slot < 0) return;
    g_freeSlots.push_back(task.slot);
    task.slot = -1;
}

// Prints what can be printed in order: texts and finished instances at the front, and
// what the earliest unfinished instance has written so far.
void flushFront() {
    bool began = false;
    auto begin = [&] {
        if (began) return;
        began = true;
        if (g_setup.beforeOutput) g_setup.beforeOutput();
    };
    while (!g_queue.empty()) {
        Item& item = g_queue.front();
        if (item.task < 0) {
            begin();
            emit(item.text.data(), item.text.size());
            g_queue.pop_front();
            continue;
        }
        auto it = g_live.find(item.task);
        if (it == g_live.end()) {
            g_queue.pop_front();
            continue;
        }
        Task& task = it->second;
        uncount(task);  // at the front its output goes out as it comes
        if (hasOutput(task)) {
            begin();
            writeOutput(task);
        }
        if (!task.reaped) break;
        if (task.word && steps::verbosity() >= 0) {
            begin();
            emit(task.word, std::strlen(task.word));
        }
        g_live.erase(it);
        g_queue.pop_front();
    }
    if (began) {
        std::fflush(stdout);
        if (g_setup.afterOutput) g_setup.afterOutput();
    }
}

bool isFront(int id) { return !g_queue.empty() && g_queue.front().task == id; }

// Keeps the held output of waiting instances within the bound.
void boundHeldOutput() {
    if (g_heldBytes <= g_setup.heldBound) return;
    std::vector<std::pair<std::size_t, int>> bySize;
    for (auto& [id, task] : g_live)
        if (!isFront(id) && !task.held.empty()) bySize.push_back({task.held.size(), id});
    std::sort(bySize.rbegin(), bySize.rend());
    for (const auto& [size, id] : bySize) {
        if (g_heldBytes <= g_setup.heldBound / 2) break;
        Task& task = g_live[id];
        off_t offset = 0;
        if (!g_spill.put(task.held, &offset)) return;  // no room on disk either: it stays
        task.spilled.push_back({offset, task.held.size()});
        uncount(task);
        task.held.clear();
        task.held.shrink_to_fit();
    }
}

void readFrom(int id, Task& task) {
    char buffer[65536];
    for (;;) {
        ssize_t n = read(task.fd, buffer, sizeof buffer);
        if (n > 0) {
            if (!task.direct) {
                task.held.append(buffer, static_cast<std::size_t>(n));
                if (!isFront(id)) {
                    task.counted += static_cast<std::size_t>(n);
                    g_heldBytes += static_cast<std::size_t>(n);
                }
            }
            if (static_cast<std::size_t>(n) < sizeof buffer) return;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        close(task.fd);
        task.fd = -1;
        return;
    }
}

void settle(int id, Task& task, int code) {
    task.reaped = true;
    --g_running_children;
    g_runningIds.erase(std::remove(g_runningIds.begin(), g_runningIds.end(), id), g_runningIds.end());
    releaseSlot(task);
    g_codes[static_cast<std::size_t>(id)] = code;
    g_ended[static_cast<std::size_t>(id)] = 1;
    if (task.interrupted) {
        ++g_stopped;
        task.word = "[INTERRUPTED]";
        return;
    }
    if (g_setup.ended) g_setup.ended(task.info);
    if (task.done) task.done(code);
}

// Collects the child whose pipe has closed: it has ended, or is about to (its files
// close a moment before it can be collected). False while it has not ended yet; a child
// that closed its output and goes on stays under its deadline.
bool reap(int id, Task& task) {
    int status = 0;
    rusage usage{};
    pid_t got;
    do {
        got = wait4(task.pid, &status, WNOHANG, &usage);
    } while (got < 0 && errno == EINTR);
    if (got == 0) return false;
    task.info.wallSeconds = now() - task.started;
    if (got != task.pid) {
        settle(id, task, outcome::Error);  // no longer ours to wait for
        return true;
    }
    task.info.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    task.info.peakKb = usage.ru_maxrss;
    if (task.slot >= 0)
        task.info.facts =
            instance_facts::readSlot(static_cast<char*>(g_slots) + task.slot * instance_facts::kSlotSize);
    task.info.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (task.killSent && !task.timeoutSent) task.interrupted = true;
    if (task.info.signal && g_signal && !task.timeoutSent) task.interrupted = true;
    if (task.interrupted) {
        settle(id, task, kInterrupted);
        return true;
    }
    task.info.timedOut = task.timeoutSent && task.info.signal != 0;
    int code = runner::childOutcome(status, task.info.timedOut, task.info.path, *task.framework,
                                    task.info.timeout, &task.word);
    task.info.code = code;
    settle(id, task, code);
    return true;
}

// Stops every running child once the run has been interrupted.
void stopAll() {
    if (!g_signal) return;
    g_interruption = g_signal;
    for (int id : g_runningIds)
        if (Task& task = g_live[id]; !task.reaped && !task.killSent) {
            if (task.pid > 0) kill(task.pid, SIGKILL);  // not yet reaped: the id is still this child's
            task.killSent = true;
        }
}

void tick() {
    if (!g_setup.tick || g_setup.tickSeconds <= 0) return;
    double t = now();
    if (t - g_lastTick < g_setup.tickSeconds) return;
    g_lastTick = t;
    g_setup.tick();
}

// Waits for something to happen to the running children: output, an end, a deadline, a
// stop signal, the next tick.
void step() {
    stopAll();
    std::vector<pollfd> fds;
    std::vector<int> owners;
    double t = now();
    double wait = -1;
    auto bound = [&wait](double seconds) { wait = wait < 0 ? seconds : std::min(wait, seconds); };
    for (int id : g_runningIds) {
        Task& task = g_live[id];
        if (task.deadline > 0.0 && !task.killSent) {
            if (!task.timeoutSent && task.deadline <= t) {
                if (task.pid > 0) kill(task.pid, SIGUSR1);
                task.timeoutSent = true;
            }
            if (task.timeoutSent && task.deadline + kKillGrace <= t) {
                if (task.pid > 0) kill(task.pid, SIGKILL);
                task.killSent = true;
            }
            if (!task.killSent) bound((task.timeoutSent ? task.deadline + kKillGrace : task.deadline) - t);
        }
        if (task.fd >= 0) {
            fds.push_back({task.fd, POLLIN, 0});
            owners.push_back(id);
        } else if (!g_childSignal) {
            bound(0.0002);  // its output has closed: it ends in a moment
        }
    }
    if (g_setup.tick && g_setup.tickSeconds > 0) bound(std::max(0.0, g_lastTick + g_setup.tickSeconds - t));
    if (g_wake[0] >= 0) {
        fds.push_back({g_wake[0], POLLIN, 0});
        owners.push_back(-1);
    }
    if (g_signal) wait = 0;  // the interruption is seen to at once
    if (!fds.empty() || wait >= 0) {
        timespec timeout{};
        timespec* limit = nullptr;
        if (wait >= 0) {
            wait = std::min(wait, 3600.0);
            timeout.tv_sec = static_cast<time_t>(wait);
            // Deadlines are met a little late rather than early (and woken up for once).
            timeout.tv_nsec = static_cast<long>((wait - static_cast<double>(timeout.tv_sec)) * 1e9) + 50000;
            if (timeout.tv_nsec >= 1000000000L) {
                timeout.tv_sec += 1;
                timeout.tv_nsec -= 1000000000L;
            }
            limit = &timeout;
        }
        int n = ppoll(fds.data(), fds.size(), limit, nullptr);
        if (n > 0)
            for (std::size_t i = 0; i < fds.size(); ++i) {
                if (!fds[i].revents) continue;
                if (owners[i] < 0)
                    drainWake();
                else
                    readFrom(owners[i], g_live[owners[i]]);
            }
    }
    for (int id : std::vector<int>(g_runningIds))
        if (Task& task = g_live[id]; task.fd < 0) reap(id, task);
    stopAll();
    boundHeldOutput();
    flushFront();
    tick();
}

void* slotAt(int slot) { return static_cast<char*>(g_slots) + static_cast<std::size_t>(slot) * instance_facts::kSlotSize; }

void allocateSlots(int jobs) {
    g_slotCount = static_cast<std::size_t>(jobs);
    g_slots = mmap(nullptr, g_slotCount * instance_facts::kSlotSize, PROT_READ | PROT_WRITE,
                   MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (g_slots == MAP_FAILED) {
        g_slots = nullptr;
        g_slotCount = 0;
    }
    g_freeSlots.clear();
    for (std::size_t i = g_slotCount; i > 0; --i) g_freeSlots.push_back(static_cast<int>(i - 1));
}

void releaseSlots() {
    if (g_slots) munmap(g_slots, g_slotCount * instance_facts::kSlotSize);
    g_slots = nullptr;
    g_slotCount = 0;
    g_freeSlots.clear();
}

// The child's side up to the instance itself: signals back to their defaults, ended
// with the parent, the other children's pipes closed, the facts published, the memory
// limit in force.
[[noreturn]] void becomeChild(Task& task, int writeEnd, const InstanceFramework& framework, int tokenCount,
                              const char* const* tokens) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != g_parent) std::_Exit(outcome::exitStatus(outcome::Error));  // the parent is gone
    for (const auto& [other, sibling] : g_live)
        if (sibling.fd >= 0) close(sibling.fd);
    if (g_spill.fd() >= 0) close(g_spill.fd());
    // A terminal's interrupt and hangup reach the whole process group: the parent alone
    // decides what becomes of the children then.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    sigaction(SIGTERM, &g_previousActions[1], nullptr);
    sigaction(SIGCHLD, &g_previousChild, nullptr);
    for (int fd : g_wake)
        if (fd >= 0) close(fd);
    if (!task.direct && writeEnd != STDOUT_FILENO) {
        dup2(writeEnd, STDOUT_FILENO);
        close(writeEnd);
    }
    instance_facts::clear();
    if (task.slot >= 0) instance_facts::publishTo(slotAt(task.slot));
    runner::limitMemory(task.info.memoryMB);
    runner::runChild(task.info.path, framework, tokenCount, tokens);
}

}  // namespace

void start(const Setup& setup) {
    g_running = true;
    g_setup = setup;
    if (g_setup.jobs < 1) g_setup.jobs = 1;
    g_parent = getpid();
    g_lastTick = now();
    g_stopped = 0;
    g_running_children = 0;
    g_heldBytes = 0;
    g_column = kUnknownColumn;
    allocateSlots(g_setup.jobs);
    installSignals();
}

bool running() { return g_running; }

int runningCount() { return g_running_children; }

int interruption() { return g_interruption; }

int stoppedCount() { return g_stopped; }

int submit(const std::string& path, const InstanceFramework& framework, int tokenCount, const char* const* tokens,
           int pass, int memoryMB, std::function<void(int code)> done) {
    flushFront();
    while (g_running_children >= g_setup.jobs && !g_interruption) step();
    stopAll();
    int id = static_cast<int>(g_codes.size());
    g_codes.push_back(kInterrupted);
    g_ended.push_back(0);
    if (g_interruption) {
        g_ended.back() = 1;
        return id;
    }
    runner::countInstance();
    Task task;
    task.info.path = path;
    task.info.pass = pass;
    task.info.memoryMB = memoryMB;
    task.framework = &framework;
    task.done = std::move(done);
    task.direct = g_setup.jobs == 1 && !g_setup.collect;
    int timeout = runner::instanceTimeout(framework, tokenCount, tokens);
    task.info.timeout = timeout > 0 ? timeout : 0;
    for (;;) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) == 0) {
            fcntl(fds[0], F_SETFL, O_NONBLOCK);
            if (!g_freeSlots.empty()) {
                task.slot = g_freeSlots.back();
                g_freeSlots.pop_back();
                instance_facts::clearSlot(slotAt(task.slot));
            }
            // Nothing buffered may be inherited, or the child would print it a second time.
            std::fflush(stdout);
            pid_t pid = fork();
            if (pid == 0) {
                close(fds[0]);
                becomeChild(task, fds[1], framework, tokenCount, tokens);
            }
            close(fds[1]);
            if (pid > 0) {
                task.pid = pid;
                task.fd = fds[0];
                task.started = now();
                if (task.info.timeout > 0) task.deadline = task.started + task.info.timeout;
                break;
            }
            releaseSlot(task);
            close(fds[0]);
        }
        // Out of processes or descriptors: a running child may give some back.
        if (g_running_children > 0) {
            step();
            continue;
        }
        // Nothing runs that could: the instance fails like a failed fork of one child.
        ++g_running_children;
        g_runningIds.push_back(id);
        task.started = now();
        Task& failed = g_live[id] = std::move(task);
        g_queue.push_back({id, {}});
        failed.info.code = outcome::Error;
        failed.info.facts.message = "cannot start a child process";
        settle(id, failed, outcome::Error);
        flushFront();
        return id;
    }
    ++g_running_children;
    g_runningIds.push_back(id);
    g_live[id] = std::move(task);
    g_queue.push_back({id, {}});
    return id;
}

int await(int task) {
    if (task < 0 || static_cast<std::size_t>(task) >= g_ended.size()) return kInterrupted;
    while (!g_ended[static_cast<std::size_t>(task)]) step();
    flushFront();
    return g_codes[static_cast<std::size_t>(task)];
}

bool finished(int task) {
    if (task < 0 || static_cast<std::size_t>(task) >= g_ended.size()) return true;
    return g_ended[static_cast<std::size_t>(task)] != 0;
}

void print(const std::string& text) {
    if (g_queue.empty()) {
        if (g_setup.beforeOutput) g_setup.beforeOutput();
        emit(text.data(), text.size());
        std::fflush(stdout);
        if (g_setup.afterOutput) g_setup.afterOutput();
        return;
    }
    g_queue.push_back({-1, text});
}

int outputColumn() { return g_column; }

void finish() {
    while (g_running_children > 0) step();
    flushFront();
    if (g_signal) g_interruption = g_signal;
    g_live.clear();
    g_runningIds.clear();
    g_queue.clear();
    g_codes.clear();
    g_ended.clear();
    g_spill.reset();
    releaseSlots();
    restoreSignals();
    g_running = false;
}

}  // namespace pool
