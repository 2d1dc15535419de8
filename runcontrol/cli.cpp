#include "runcontrol/cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "expressions/parser.h"
#include "framework/runner.h"
#include "inputs/input_kinds.h"
#include "outcomes/outcome.h"
#include "outcomes/steps.h"
#include "pipeline/settings.h"
#include "runcontrol/usage.h"

namespace cli {

namespace {

enum class Mode { CommandLine, ConfigurationLine };

// A configuration line read by the batch parent for its rules only: options are checked
// as usual, but nothing outside the settings (which are put back) may change, and no
// text is printed.
bool g_probing = false;

// What an option handler returns besides the index of the last argument it consumed.
constexpr int kEndProcess = 0;  // a text was printed: end with status 0
// Stopping the scan is returned as the argument count.

using Flag = int Settings::*;

// "-dump" items: the flags each sets and clears, in this order.
struct DumpItem {
    const char* name;
    Flag set[6];
    Flag clear[3];
};

const DumpItem kDumpItems[] = {
    {"qbm", {&Settings::dumpQbmBdd, &Settings::dumpQbmDot}, {}},
    {"qbm=bdd", {&Settings::dumpQbmBdd}, {&Settings::dumpQbmDot}},
    {"qbm=dot", {&Settings::dumpQbmDot}, {&Settings::dumpQbmBdd}},
    {"direxp", {&Settings::dumpDirExp}, {}},
    {"exp", {&Settings::dumpExpBdd, &Settings::dumpExpDot, &Settings::dumpExpCnf}, {}},
    {"exp=bdd", {&Settings::dumpExpBdd, &Settings::singleExpBddFile}, {&Settings::dumpExpDot, &Settings::dumpExpCnf}},
    {"exp=bdds", {&Settings::dumpExpBdd},
     {&Settings::dumpExpDot, &Settings::dumpExpCnf, &Settings::singleExpBddFile}},
    {"exp=dot", {&Settings::dumpExpDot, &Settings::singleExpDotFile}, {&Settings::dumpExpBdd, &Settings::dumpExpCnf}},
    {"exp=dots", {&Settings::dumpExpDot},
     {&Settings::dumpExpBdd, &Settings::dumpExpCnf, &Settings::singleExpDotFile}},
    {"exp=cnf", {&Settings::dumpExpCnf}, {&Settings::dumpExpBdd, &Settings::dumpExpDot}},
    {"qdc", {&Settings::dumpQdc}, {}},
    {"aag", {&Settings::dumpAag}, {}},
    {"aig", {&Settings::dumpAig}, {}},
    {"all",
     {&Settings::dumpQbmBdd, &Settings::dumpQbmDot, &Settings::dumpExpBdd, &Settings::dumpExpDot,
      &Settings::dumpExpCnf, &Settings::dumpQdc},
     {}},
};

const DumpItem* dumpItem(const char* word) {
    for (const DumpItem& item : kDumpItems)
        if (std::strcmp(item.name, word) == 0) return &item;
    return nullptr;
}

void applyDumpItem(const DumpItem& item) {
    Settings& s = scanSettings();
    for (Flag flag : item.set)
        if (flag) s.*flag = 1;
    for (Flag flag : item.clear)
        if (flag) s.*flag = 0;
}

// Handlers of options with one argument: 1 accepted, 0 malformed (the scan stops).
using ArgumentHandler = int (*)(const char* argument);

int setVar(const char* argument) {
    // Empty items (",,", a comma at either end, an empty list) are refused: the count of
    // intervals would not match the pieces read.
    std::string list(argument);
    if (list.empty() || list.front() == ',' || list.back() == ',' || list.find(",,") != std::string::npos)
        return 0;
    std::vector<int> low, high;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string piece = list.substr(start, end - start);
        int a = 0, b = 0;
        int read = std::sscanf(piece.c_str(), "%i-%i", &a, &b);
        if (read < 1) return 0;
        low.push_back(a);
        high.push_back(read == 2 ? b : a);
        start = end + 1;
    }
    Settings& s = scanSettings();
    s.varLow = std::move(low);
    s.varHigh = std::move(high);
    return 1;
}

int setQbf(const char* argument) {
    scanSettings().qbfPath = argument;
    return 1;
}

int setRemove(const char* argument) {
    if (std::strcmp(argument, "log") == 0) {
        scanSettings().removeLog = 1;
        return 1;
    }
    if (std::strcmp(argument, "qbm") == 0) {
        scanSettings().removeQbm = 1;
        return 1;
    }
    return 0;
}

int setVerbosity(const char* argument) {
    if (std::strlen(argument) != 1) return 0;
    unsigned char c = static_cast<unsigned char>(argument[0]);
    scanSettings().verbosity = c < '0' ? 0 : c > '4' ? 4 : c - '0';
    steps::setVerbosity(scanSettings().verbosity);
    return 1;
}

// Opened without waiting: a pipe is readable here and waits, if at all, where the
// expressions are read (under the instance's line and its timeout).
bool readable(const char* path) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    return true;
}

int setEval(const char* argument) {
    Settings& s = scanSettings();
    if (g_probing) {
        // Nothing is opened: an expression file that is a pipe would keep the parent waiting.
        ExpList* list = expParseList(argument);
        if (list) expListFree(list);
        return list || access(argument, R_OK) == 0;
    }
    // A later "-eval" replaces an earlier one, whichever of the two forms each has.
    if (ExpList* list = expParseList(argument)) {
        if (s.expressions) expListFree(s.expressions);
        s.expressions = list;
        s.expressionFile.clear();
    } else if (readable(argument)) {
        if (s.expressions) expListFree(s.expressions);
        s.expressions = nullptr;
        s.expressionFile = argument;
    } else {
        return 0;
    }
    if (!anyExpDump()) s.dumpExpBdd = 1;
    return 1;
}

int setHbdd(const char* argument) {
    int h1 = 0, h2 = 0;
    int read = std::sscanf(argument, "%d:%d", &h1, &h2);
    if (read < 1) return 0;
    int method = reorderMethodForUserNumber(h1);
    if (method < 0) return 0;
    scanSettings().reorderReconstruction = method;
    if (read == 2) {
        method = reorderMethodForUserNumber(h2);
        if (method < 0) return 0;
        scanSettings().reorderFinal = method;
    }
    return 1;
}

// The runner reads the value; the line's scan only steps over it.
int skipTimeout(const char*) { return 1; }

// A whole non-negative decimal number (digits only) that fits an int; -1 otherwise.
int readCount(const char* text, const char* end) {
    if (text == end) return -1;
    long value = 0;
    for (const char* p = text; p != end; ++p) {
        if (*p < '0' || *p > '9') return -1;
        value = value * 10 + (*p - '0');
        if (value > INT_MAX) return -1;
    }
    return static_cast<int>(value);
}

// "-j N": N children at once, 0 for as many as the run may use.
int setJobs(const char* argument) {
    int jobs = readCount(argument, argument + std::strlen(argument));
    if (jobs < 0) return 0;
    scanSettings().jobs = jobs;
    return 1;
}

// "-shard K/N" with 0 <= K < N.
int setShard(const char* argument) {
    const char* slash = std::strchr(argument, '/');
    if (!slash) return 0;
    int index = readCount(argument, slash);
    int count = readCount(slash + 1, slash + std::strlen(slash));
    if (index < 0 || count < 1 || index >= count) return 0;
    scanSettings().shardIndex = index;
    scanSettings().shardCount = count;
    return 1;
}

// "-mem MB": at least one megabyte.
int setMemory(const char* argument) {
    int megabytes = readCount(argument, argument + std::strlen(argument));
    if (megabytes < 1) return 0;
    scanSettings().memoryMB = megabytes;
    return 1;
}

int setRecord(const char* argument) {
    if (!*argument) return 0;
    scanSettings().recordPath = argument;
    return 1;
}

int setResume(const char* argument) {
    if (!*argument) return 0;
    scanSettings().resumePath = argument;
    return 1;
}

// "-progress auto|off|tty|N": where the progress of a batch run is shown.
int setProgress(const char* argument) {
    struct Word {
        const char* name;
        int mode;
    };
    static const Word kWords[] = {{"auto", 0}, {"off", 1}, {"tty", 2}};
    for (const Word& word : kWords)
        if (std::strcmp(argument, word.name) == 0) {
            scanSettings().progress = word.mode;
            return 1;
        }
    int seconds = readCount(argument, argument + std::strlen(argument));
    if (seconds < 1) return 0;
    scanSettings().progress = 3;
    scanSettings().progressSeconds = seconds;
    return 1;
}

// Handlers of options without argument; they return what the option parser returns.
using PlainHandler = int (*)(int argc);

int raiseCheck(int) { return scanSettings().check = 1; }
int raiseReport(int) { return scanSettings().report = 1; }
int raiseGiveup(int) { return scanSettings().giveup = 1; }
int raiseAutoGiveup(int) { return scanSettings().autoGiveup = 1; }
int raiseSummary(int) { return scanSettings().summary = 1; }
int showVersion(int) {
    if (!g_probing) usage::printVersion();
    return kEndProcess;
}
int showCopyright(int) {
    if (!g_probing) usage::printCopyright();
    return kEndProcess;
}

struct Option {
    const char* name;
    ArgumentHandler withArgument;  // one argument
    PlainHandler plain;            // no argument
    bool dump;                     // one or more "-dump" items
    bool configurationOnly;
    bool commandLineOnly = false;  // governs the whole run: a configuration line steps over it
    // The form of the argument of an option that shapes a whole batch run; a command
    // line on which such an option is malformed, or would be left unread, is rejected.
    const char* runForm = nullptr;
};

const Option kOptions[] = {
    {"-var", setVar, nullptr, false, false},
    {"-dump", nullptr, nullptr, true, false},
    {"-check", nullptr, raiseCheck, false, false},
    {"-report", nullptr, raiseReport, false, false},
    {"-giveup", nullptr, raiseGiveup, false, false},
    {"-autogiveup", nullptr, raiseAutoGiveup, false, false},
    {"-qbf", setQbf, nullptr, false, false},
    {"-remove", setRemove, nullptr, false, false},
    {"-v", setVerbosity, nullptr, false, false},
    {"-eval", setEval, nullptr, false, false},
    {"-hbdd", setHbdd, nullptr, false, false},
    {"-version", nullptr, showVersion, false, false},
    {"-copyright", nullptr, showCopyright, false, false},
    {"-timeout", skipTimeout, nullptr, false, true},
    {"-j", setJobs, nullptr, false, false, true, "N, a whole number (0: the processors the run may use)"},
    {"-shard", setShard, nullptr, false, false, true, "K/N, whole numbers with 0 <= K < N"},
    {"-mem", setMemory, nullptr, false, false, false, "MB, a whole number of megabytes, at least 1"},
    {"-record", setRecord, nullptr, false, false, true, "FILE"},
    {"-resume", setResume, nullptr, false, false, true, "FILE"},
    {"-progress", setProgress, nullptr, false, false, true, "auto, off, tty or a whole number of seconds"},
    {"-summary", nullptr, raiseSummary, false, false, true, ""},
};

const Option* findOption(const char* name) {
    for (const Option& option : kOptions)
        if (std::strcmp(option.name, name) == 0) return &option;
    return nullptr;
}

// Returns the index of the last argument consumed, kEndProcess, or argc to stop the scan.
int parseOption(int argc, const char* const* argv, int i, Mode mode) {
    for (const Option& option : kOptions) {
        if (std::strcmp(option.name, argv[i]) != 0) continue;
        if (option.configurationOnly && mode != Mode::ConfigurationLine) break;
        if (option.commandLineOnly && mode == Mode::ConfigurationLine) {
            if (option.plain) return i;
            return i + 1 < argc ? i + 1 : argc;
        }
        if (option.plain) {
            int r = option.plain(argc);
            return r == kEndProcess ? kEndProcess : i;
        }
        if (i + 1 >= argc) return argc;  // its argument is missing
        if (option.withArgument) return option.withArgument(argv[i + 1]) ? i + 1 : argc;
        // "-dump": items as long as they come; none at all stops the scan.
        int last = i;
        while (last + 1 < argc) {
            const DumpItem* item = dumpItem(argv[last + 1]);
            if (!item) break;
            applyDumpItem(*item);
            ++last;
        }
        return last == i ? argc : last;
    }
    return argc;  // unknown
}

// The usage, then what was wrong when there is more to say than the usage tells.
[[noreturn]] void reject(const std::string& why = "") {
    usage::printUsage();
    if (!why.empty()) std::printf("%s\n", why.c_str());
    std::fflush(stdout);
    std::exit(outcome::exitStatus(outcome::IoError));
}

// On the command line an option that shapes a whole batch run is never dropped: a
// malformed or missing argument, or the reading stopped before it, rejects the line
// (a batch run that silently took every instance, or no record, would waste a cluster).
void checkRunOption(int argc, const char* const* argv, int i, int stoppedAt) {
    const Option* option = findOption(argv[i]);
    if (!option || !option->runForm) return;
    std::string name = argv[i];
    if (stoppedAt < i)
        reject(name + " is not read: the reading of the command line stopped at \"" + argv[stoppedAt] + "\".");
    if (!option->plain && i + 1 >= argc) reject(name + " needs its argument: " + option->runForm + ".");
    if (!option->plain)
        reject("Bad argument of " + name + ": \"" + argv[i + 1] + "\" (" + option->runForm + " is expected).");
}

// TIMEOUT in whole seconds, truncated toward zero.
int readTimeout(const char* text) {
    double value = std::atof(text);
    if (!(value == value)) return 0;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= 0.0) return 0;
    return static_cast<int>(value);
}

// A file that is there but is no input: the usage, then what is wrong with it.
[[noreturn]] void rejectInput(const char* argument) {
    usage::printUsage();
    std::printf("\nError: \"%s\": %s\n", argument, inputs::notAnInput(argument).c_str());
    std::fflush(stdout);
    std::exit(outcome::exitStatus(outcome::IoError));
}

bool classifyInput(const char* argument) {
    Settings& s = scanSettings();
    int defaultVerbosity;
    // A file named like a trace or circuit is taken as one: what is wrong with it is then
    // said on its instance's line.
    struct stat st {};
    bool file = stat(argument, &st) == 0 && !S_ISDIR(st.st_mode);
    if (inputs::isLogFile(argument) || inputs::isQbmFile(argument) || inputs::isTraceFile(argument) ||
        inputs::isCircuitFile(argument) || (file && inputs::isCertificateInputNamed(argument))) {
        s.batchMode = 0;
        defaultVerbosity = 3;
    } else if (runner::isDirectory(argument)) {
        s.batchMode = 1;
        defaultVerbosity = 1;
    } else {
        return false;
    }
    if (s.verbosity == -1) s.verbosity = defaultVerbosity;
    steps::setVerbosity(s.verbosity);
    s.inputPath = argument;
    return true;
}

int scan(int argc, const char* const* argv, Mode mode) {
    Settings& s = scanSettings();
    bool haveInput = false;
    if (mode == Mode::CommandLine) {
        s.verbosity = -1;
        steps::setVerbosity(-1);
        s.inputPath.clear();
        s.timeout = 0;
    }
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (!argument) break;
        if (argument[0] == '-') {
            int r = parseOption(argc, argv, i, mode);
            if (r == kEndProcess) return 0;
            if (r >= argc) {
                if (mode == Mode::CommandLine)
                    for (int j = i; j < argc && argv[j]; ++j) checkRunOption(argc, argv, j, i);
                break;
            }
            i = r;
            continue;
        }
        if (mode == Mode::ConfigurationLine) continue;
        if (!haveInput) {
            if (!classifyInput(argument)) {
                struct stat st {};
                if (stat(argument, &st) == 0) rejectInput(argument);
                reject();
            }
            haveInput = true;
            continue;
        }
        if (i != argc - 1) reject();
        int timeout = readTimeout(argument);
        if (timeout <= 0) reject();
        s.timeout = timeout;
    }
    if (mode == Mode::CommandLine && !haveInput) reject();
    return 1;
}

}  // namespace

int scanCommandLine(int argc, const char* const* argv) { return scan(argc, argv, Mode::CommandLine); }

int applyConfigurationLine(int count, const char* const* tokens) {
    return scan(count, tokens, Mode::ConfigurationLine);
}

LineRules configurationLineRules(int count, const char* const* tokens) {
    Settings saved = scanSettings();
    int verbosity = steps::verbosity();
    Settings& s = scanSettings();
    s.giveup = s.autoGiveup = s.memoryMB = 0;
    g_probing = true;
    scan(count, tokens, Mode::ConfigurationLine);
    g_probing = false;
    LineRules rules{s.giveup, s.autoGiveup, s.memoryMB};
    scanSettings() = saved;
    steps::setVerbosity(verbosity);
    return rules;
}

}  // namespace cli
