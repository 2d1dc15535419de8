#include "framework/batch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <utility>

#include "framework/outcome_record.h"
#include "framework/pool.h"
#include "framework/progress.h"
#include "framework/run_summary.h"
#include "framework/runner.h"
#include "framework/strnatcmp.h"
#include "outcomes/line_append.h"
#include "outcomes/outcome.h"

namespace batch {

namespace {

int g_total = 0;
int g_seen = 0;  // instances met so far in the run's order, for the shards

// Success flags of every directory walked, one per instance: with several children at
// once they are set as the children end, and summed when the last one has ended.
using Flags = std::shared_ptr<std::vector<char>>;
using Tally = std::vector<Flags>;

// Directories walked by one batch run, by device and inode: a directory reached again,
// through a symbolic link or a cycle of them, is not walked a second time.
using Walked = std::set<std::pair<dev_t, ino_t>>;

struct Instance {
    std::string path;
    int key = 0;
};

// What a batch run keeps besides the walk: the record, the resumed outcomes, the
// summary and the progress shown.
struct Run {
    const InstanceFramework* framework = nullptr;
    Walked walked;
    Tally tally;
    bool stop = false;  // interrupted: nothing more is walked or started
    outcome_record::Outcomes resumed;
    int recordFd = -1;
    bool recordFailing = false;  // the last append failed (said once until one succeeds)
    run_summary::Summary summary;
    progress::Display display;
    progress::Counts counts;
    double started = 0;
    std::string shard;
};

Run* g_run = nullptr;

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

enum class Entry { Directory, Regular, Other, Missing };

// What a directory entry is, without opening it (a pipe would wait for a writer).
Entry entryKind(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return Entry::Missing;
    if (S_ISDIR(st.st_mode)) return Entry::Directory;
    return S_ISREG(st.st_mode) ? Entry::Regular : Entry::Other;
}

std::string joinPath(const std::string& directory, const char* name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

bool firstVisit(const std::string& directory, Walked& walked) {
    struct stat st {};
    if (stat(directory.c_str(), &st) != 0) return false;
    return walked.insert({st.st_dev, st.st_ino}).second;
}

void say(const std::string& text) {
    if (pool::running()) {
        // In its place among the instances' output, after everything started before it.
        pool::print(text);
        return;
    }
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void message(const char* format, const std::string& path, int line = 0) {
    int size = std::snprintf(nullptr, 0, format, path.c_str(), line);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, path.c_str(), line);
    text.pop_back();
    say(text);
}

// Splits one buffer's worth of a line into tokens; false when a token is too long.
bool tokenize(const char* text, ConfigLine& line) {
    line.tokens.assign(1, std::string());
    const char* p = text;
    while (static_cast<int>(line.tokens.size()) < kLineSlots) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
        if (!*p) break;
        const char* start = p;
        while (*p && !std::strchr(" \t\n\r\v\f", *p)) ++p;
        if (p - start > kTokenLength) return false;
        line.tokens.emplace_back(start, p);
    }
    line.count = static_cast<int>(line.tokens.size());
    return true;
}

// Opens a configuration file without waiting: only a regular file is read.
std::FILE* openConfiguration(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    std::FILE* fp = fdopen(fd, "r");
    if (!fp) close(fd);
    return fp;
}

Configuration readConfigurationFile(const std::string& path, bool quiet) {
    Configuration config;
    std::FILE* fp = openConfiguration(path);
    if (!fp) {
        if (!quiet)
            message("\nCannot read configuration file \"%s\": the directory runs with the command line's "
                    "settings.",
                    path);
        return config;
    }
    config.present = true;
    char buffer[kLineBuffer];
    int number = 0;
    while (std::fgets(buffer, sizeof buffer, fp)) {
        ++number;
        ConfigLine line;
        if (!tokenize(buffer, line)) {
            if (!quiet)
                message("\nConfiguration file \"%s\", line %i: a token is longer than 99 characters; the line "
                        "is left out.",
                        path, number);
            continue;
        }
        config.lines.push_back(std::move(line));
    }
    std::fclose(fp);
    return config;
}

std::string crashMessage(int signal) {
    const char* name = strsignal(signal);
    return "ended by signal " + std::to_string(signal) + (name ? std::string(" (") + name + ")" : "");
}

// The message of a run for the record: the child's own, else what the parent saw.
std::string runMessage(const pool::Ended& ended) {
    if (!ended.facts.message.empty()) return ended.facts.message;
    if (ended.code == outcome::Timeout) return "stopped by the timeout of " + std::to_string(ended.timeout) + " s";
    if (ended.code == outcome::Crash) return crashMessage(ended.signal);
    if (ended.code == outcome::Memout)
        return ended.memoryMB > 0 ? "memory exhausted (limit " + std::to_string(ended.memoryMB) + " MB)"
                                  : "memory exhausted";
    return "";
}

void appendRecord(Run& run, const std::string& text) {
    if (run.recordFd < 0) return;
    Status written = line_append::append(run.recordFd, run.framework->recordPath, text);
    if (!written && !run.recordFailing) say("\nRecord: " + written.message() + ".");
    run.recordFailing = !written;
}

void onEnded(const pool::Ended& ended) {
    Run& run = *g_run;
    const InstanceFramework& framework = *run.framework;
    std::string word = runner::recordOutcome(framework, ended.code);
    bool success = framework.isSuccess(ended.code);
    run.summary.add(word, success, ended.cpuSeconds, ended.wallSeconds, ended.path);
    ++run.counts.done;
    if (!success) ++run.counts.failed;
    if (run.recordFd < 0) return;
    outcome_record::Instance line;
    line.shard = run.shard;
    line.path = ended.path;
    line.pass = ended.pass;
    line.kind = ended.facts.kind;
    line.outcome = word;
    line.code = ended.code;
    line.polarity = ended.facts.polarity;
    // What the child could not say: the polarity of a certificate that held.
    if (line.polarity.empty() && success) line.polarity = ended.code == outcome::Refuted ? "false" : "true";
    line.cpuSeconds = ended.cpuSeconds;
    line.wallSeconds = ended.wallSeconds;
    line.peakKb = ended.peakKb;
    line.nodes = ended.facts.nodes;
    line.timeout = ended.timeout;
    line.memoryMB = ended.memoryMB;
    line.message = runMessage(ended);
    appendRecord(run, outcome_record::line(line));
}

progress::Counts currentCounts(Run& run) {
    run.counts.running = pool::runningCount();
    run.counts.elapsed = now() - run.started;
    return run.counts;
}

void onTick() {
    Run& run = *g_run;
    if (run.display.asLines())
        pool::print("\nProgress: " + progress::text(currentCounts(run)) + ".");
    else
        run.display.draw(currentCounts(run), pool::outputColumn());
}

// Runs of this shard below the directory, for the estimate of the time left: the walk
// of a run, counting instead of running (giveup rules may make the real run shorter).
long plannedRuns(const std::string& directory, const InstanceFramework& framework, Walked& walked, int& seen) {
    if (!firstVisit(directory, walked)) return 0;
    DIR* dir = opendir(directory.c_str());
    if (!dir) return 0;
    long runs = 0;
    int mine = 0;
    int passes = 1;
    std::vector<std::string> subdirectories;
    while (dirent* entry = readdir(dir)) {
        std::string path = joinPath(directory, entry->d_name);
        Entry kind = entryKind(path);
        if (kind == Entry::Directory) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                subdirectories.push_back(path);
        } else if (framework.configName == entry->d_name) {
            Configuration config = readConfigurationFile(path, true);
            if (config.present) passes = static_cast<int>(config.lines.size());
        } else if (kind == Entry::Regular && framework.isInstance(path)) {
            ++mine;
        }
    }
    closedir(dir);
    for (const std::string& sub : subdirectories) runs += plannedRuns(sub, framework, walked, seen);
    int kept = 0;
    for (int i = 0; i < mine; ++i)
        if (framework.shardCount <= 1 || seen++ % framework.shardCount == framework.shardIndex) ++kept;
    return runs + static_cast<long>(kept) * passes;
}

void walk(const std::string& directory, Run& run) {
    const InstanceFramework& framework = *run.framework;
    if (run.stop || !firstVisit(directory, run.walked)) return;

    // First pass: the configuration and the number of instances.
    DIR* dir = opendir(directory.c_str());
    if (!dir) return;
    Configuration config;
    int expected = 0;
    while (dirent* entry = readdir(dir)) {
        std::string path = joinPath(directory, entry->d_name);
        Entry kind = entryKind(path);
        if (kind == Entry::Directory) continue;
        if (framework.configName == entry->d_name)
            config = readConfigurationFile(path, false);
        else if (kind == Entry::Regular && framework.isInstance(path))
            ++expected;
    }
    closedir(dir);

    // Second pass: subdirectories at once, then this directory's instances. The array
    // holds what this pass finds, at most as many as the first pass counted, so a
    // directory that changed in between neither overruns it nor leaves entries unset.
    std::vector<Instance> instances;
    instances.reserve(static_cast<std::size_t>(expected));
    dir = opendir(directory.c_str());
    if (dir) {
        while (dirent* entry = readdir(dir)) {
            std::string path = joinPath(directory, entry->d_name);
            Entry kind = entryKind(path);
            if (kind == Entry::Directory) {
                if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
                walk(path, run);
                if (run.stop) break;
            } else if (kind == Entry::Regular) {
                if (framework.isInstance(path) && static_cast<int>(instances.size()) < expected)
                    instances.push_back({path, framework.sortKey(path)});
            } else if (kind == Entry::Other && framework.configName != entry->d_name &&
                       framework.namedLikeInstance && framework.namedLikeInstance(path)) {
                // A pipe, a socket or a device: opening it could wait for ever.
                message("\nSkipped \"%s\": not a regular file.", path);
            }
        }
        closedir(dir);
    }
    if (run.stop) return;
    std::stable_sort(instances.begin(), instances.end(),
                     [](const Instance& a, const Instance& b) { return a.key < b.key; });
    bool agree = true;
    for (std::size_t i = 1; i < instances.size() && agree; ++i)
        agree = strnatcmp::strnatcmp0(instances[i - 1].path.c_str(), instances[i].path.c_str(), true) <= 0 &&
                instances[i - 1].key != instances[i].key;
    if (!agree)
        std::stable_sort(instances.begin(), instances.end(), [](const Instance& a, const Instance& b) {
            return strnatcmp::strnatcmp0(a.path.c_str(), b.path.c_str(), true) < 0;
        });

    // A shard keeps instance i of the run's order when i mod N = K.
    if (framework.shardCount > 1) {
        std::vector<Instance> mine;
        for (Instance& instance : instances)
            if (g_seen++ % framework.shardCount == framework.shardIndex) mine.push_back(std::move(instance));
        instances.swap(mine);
    }
    g_total += static_cast<int>(instances.size());

    Flags succeeded = std::make_shared<std::vector<char>>(instances.size(), 0);
    run.tally.push_back(succeeded);
    std::vector<int> lastTask(instances.size(), -1);  // its run of the last pass
    int passes = config.present ? static_cast<int>(config.lines.size()) : 1;
    for (int pass = 0; pass < passes; ++pass) {
        std::vector<const char*> argv;
        int count = 0;
        if (config.present) {
            argv = config.lines[static_cast<std::size_t>(pass)].argv();
            count = config.lines[static_cast<std::size_t>(pass)].count;
        }
        const char* const* tokens = count ? argv.data() : nullptr;
        // The line's giveup rules act on this pass; its memory limit on its children.
        LineRules rules;
        if (count > 1 && framework.lineRules) rules = framework.lineRules(count, tokens);
        bool giveup = framework.giveup || rules.giveup || ((framework.autoGiveup || rules.autoGiveup) && agree);
        int memoryMB = rules.memoryMB > 0 ? rules.memoryMB : framework.memoryMB;
        for (std::size_t i = 0; i < instances.size(); ++i) {
            if (run.stop) return;
            // A resumed record's final outcome stands for the run, as if it had just ended.
            auto taken = run.resumed.find({instances[i].path, pass + 1});
            if (taken != run.resumed.end()) {
                bool success = framework.isSuccess(taken->second.code);
                run.summary.addTaken(taken->second.outcome, success);
                ++run.counts.taken;
                if (success)
                    (*succeeded)[i] = 1;
                else if (giveup)
                    break;
                continue;
            }
            // An instance never runs in two children at once: its run of the next pass
            // waits for the one before (both may write the same files).
            if (lastTask[i] >= 0 && !pool::finished(lastTask[i])) pool::await(lastTask[i]);
            auto done = [&framework, succeeded, i](int code) {
                if (framework.isSuccess(code)) (*succeeded)[i] = 1;
            };
            lastTask[i] = pool::submit(instances[i].path, framework, count, tokens, pass + 1, memoryMB, done);
            // Under a giveup rule the next instance starts only when this one succeeded,
            // so exactly the instances of a run one at a time are started.
            bool failed = giveup && !framework.isSuccess(pool::await(lastTask[i]));
            if (pool::interruption()) {
                run.stop = true;
                return;
            }
            if (failed) break;
        }
    }
}

// Opens the record and reads the resumed one; false (said) when the run cannot start.
bool openRecords(Run& run) {
    const InstanceFramework& framework = *run.framework;
    if (!framework.resumePath.empty()) {
        struct stat st {};
        // A record that does not exist yet resumes nothing: the first run and a rerun
        // can be started alike.
        if (stat(framework.resumePath.c_str(), &st) == 0 || errno != ENOENT) {
            Result<outcome_record::Outcomes> read = outcome_record::readOutcomes(framework.resumePath);
            if (!read) {
                say("\nResume: " + read.message() + "; nothing is run.");
                return false;
            }
            run.resumed = std::move(*read);
        }
    }
    if (!framework.recordPath.empty()) {
        Result<int> fd = line_append::open(framework.recordPath);
        if (!fd) {
            say("\nRecord: " + fd.message() + "; nothing is run.");
            return false;
        }
        run.recordFd = *fd;
    }
    return true;
}

}  // namespace

std::vector<const char*> ConfigLine::argv() const {
    std::vector<const char*> pointers;
    for (const std::string& token : tokens) pointers.push_back(token.c_str());
    pointers.push_back(nullptr);
    return pointers;
}

Configuration readConfiguration(const std::string& path) { return readConfigurationFile(path, false); }

int run(const std::string& directory, const InstanceFramework& framework) {
    if (g_run || pool::running()) return 0;  // one batch run at a time
    Run run;
    run.framework = &framework;
    run.started = now();
    run.shard = std::to_string(framework.shardIndex) + "/" + std::to_string(framework.shardCount);
    if (!openRecords(run)) return 0;
    g_run = &run;
    int totalBefore = g_total;

    run.display.start(framework.progress, framework.progressSeconds);
    bool shownOnTerminal = run.display.onStandardOutput();
    if (run.display.active()) {
        Walked counted;
        int seen = 0;
        run.counts.expected = plannedRuns(directory, framework, counted, seen);
    }
    outcome_record::Start start;
    start.shard = run.shard;
    start.input = directory;
    start.jobs = framework.jobs;
    start.taken = static_cast<int>(run.resumed.size());
    appendRecord(run, outcome_record::line(start));

    pool::Setup setup;
    setup.jobs = framework.jobs;
    setup.collect = run.display.onStandardOutput();
    setup.ended = onEnded;
    if (run.display.active()) {
        setup.tick = onTick;
        setup.tickSeconds = run.display.interval();
    }
    if (run.display.onStandardOutput()) {
        setup.beforeOutput = [] { g_run->display.clear(); };
        setup.afterOutput = [] { g_run->display.draw(currentCounts(*g_run), pool::outputColumn()); };
    }
    pool::start(setup);
    walk(directory, run);
    pool::finish();
    run.display.stop();

    int successes = 0;
    for (const Flags& flags : run.tally)
        for (char flag : *flags) successes += flag;
    int signal = pool::interruption();
    double wall = now() - run.started;
    if (signal || framework.summary || shownOnTerminal) {
        std::fputs(("\n" + run.summary.text(wall, signal, pool::stoppedCount())).c_str(), stdout);
        std::fflush(stdout);
    }
    outcome_record::End end;
    end.shard = run.shard;
    end.ended = signal ? run_summary::signalName(signal) : "complete";
    end.instances = g_total - totalBefore;
    end.successes = successes;
    end.runs = run.summary.runs();
    end.taken = run.summary.taken();
    end.stopped = signal ? pool::stoppedCount() : 0;
    end.counts = run.summary.counts();
    end.cpuSeconds = run.summary.cpuSeconds();
    end.wallSeconds = wall;
    appendRecord(run, outcome_record::line(end));
    if (run.recordFd >= 0) close(run.recordFd);
    g_run = nullptr;
    return successes;
}

int totalInstances() { return g_total; }

}  // namespace batch
