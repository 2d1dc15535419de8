#include "framework/batch.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <utility>

#include "framework/pool.h"
#include "framework/runner.h"
#include "framework/strnatcmp.h"

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

std::string joinPath(const std::string& directory, const char* name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

bool firstVisit(const std::string& directory, Walked& walked) {
    struct stat st {};
    if (stat(directory.c_str(), &st) != 0) return false;
    return walked.insert({st.st_dev, st.st_ino}).second;
}

void message(const char* format, const std::string& path, int line = 0) {
    if (pool::running()) {
        // In its place among the instances' output, after everything started before it.
        int size = std::snprintf(nullptr, 0, format, path.c_str(), line);
        std::string text(static_cast<std::size_t>(size > 0 ? size : 0) + 1, '\0');
        std::snprintf(text.data(), text.size(), format, path.c_str(), line);
        text.pop_back();
        pool::print(text);
        return;
    }
    std::printf(format, path.c_str(), line);
    std::fflush(stdout);
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

}  // namespace

std::vector<const char*> ConfigLine::argv() const {
    std::vector<const char*> pointers;
    for (const std::string& token : tokens) pointers.push_back(token.c_str());
    pointers.push_back(nullptr);
    return pointers;
}

Configuration readConfiguration(const std::string& path) {
    Configuration config;
    std::FILE* fp = std::fopen(path.c_str(), "r");
    if (!fp) {
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

namespace {

void walk(const std::string& directory, const InstanceFramework& framework, Walked& walked, Tally& tally) {
    if (!firstVisit(directory, walked)) return;

    // First pass: the configuration and the number of instances.
    DIR* dir = opendir(directory.c_str());
    if (!dir) return;
    Configuration config;
    int expected = 0;
    while (dirent* entry = readdir(dir)) {
        std::string path = joinPath(directory, entry->d_name);
        if (runner::isDirectory(path)) continue;
        if (framework.configName == entry->d_name)
            config = readConfiguration(path);
        else if (framework.isInstance(path))
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
            if (runner::isDirectory(path)) {
                if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
                walk(path, framework, walked, tally);
            } else if (framework.isInstance(path) && static_cast<int>(instances.size()) < expected) {
                instances.push_back({path, framework.sortKey(path)});
            }
        }
        closedir(dir);
    }
    std::stable_sort(instances.begin(), instances.end(),
                     [](const Instance& a, const Instance& b) { return a.key < b.key; });
    bool agree = true;
    for (std::size_t i = 1; i < instances.size() && agree; ++i)
        agree = strnatcmp::strnatcmp0(instances[i - 1].path.c_str(), instances[i].path.c_str(), true) <= 0 &&
                instances[i - 1].key != instances[i].key;
    bool giveup = framework.giveup || (framework.autoGiveup && agree);
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
    tally.push_back(succeeded);
    bool parallel = pool::running();
    std::vector<int> lastTask(instances.size(), -1);  // with several children: its run of the last pass
    int passes = config.present ? static_cast<int>(config.lines.size()) : 1;
    for (int pass = 0; pass < passes; ++pass) {
        std::vector<const char*> argv;
        int count = 0;
        if (config.present) {
            argv = config.lines[static_cast<std::size_t>(pass)].argv();
            count = config.lines[static_cast<std::size_t>(pass)].count;
        }
        const char* const* tokens = count ? argv.data() : nullptr;
        for (std::size_t i = 0; i < instances.size(); ++i) {
            if (!parallel) {
                int code = runner::runInstance(instances[i].path, framework, count, tokens);
                if (framework.isSuccess(code))
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
            lastTask[i] = pool::submit(instances[i].path, framework, count, tokens, done);
            // Under a giveup rule the next instance starts only when this one succeeded,
            // so exactly the instances of a run one at a time are started.
            if (giveup && !framework.isSuccess(pool::await(lastTask[i]))) break;
        }
    }
}

}  // namespace

int run(const std::string& directory, const InstanceFramework& framework) {
    Walked walked;
    Tally tally;
    bool parallel = framework.jobs > 1 && !pool::running();
    if (parallel) pool::start(framework.jobs);
    walk(directory, framework, walked, tally);
    if (parallel) pool::finish();
    int successes = 0;
    for (const Flags& flags : tally)
        for (char flag : *flags) successes += flag;
    return successes;
}

int totalInstances() { return g_total; }

}  // namespace batch
