#include "runcontrol/entry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "files/report.h"
#include "framework/batch.h"
#include "framework/pool.h"
#include "framework/processors.h"
#include "framework/runner.h"
#include "inputs/input_kinds.h"
#include "outcomes/outcome.h"
#include "pipeline/pipeline.h"
#include "runcontrol/cli.h"
#include "pipeline/settings.h"
#include "runcontrol/usage.h"

namespace entry {

namespace {

// Solver outputs Plumex builds certificates from: logs, proof traces, Skolem circuits.
bool isSolverOutput(const std::string& path) {
    return inputs::isLogFile(path) || inputs::isTraceFile(path) || inputs::isCircuitFile(path);
}

bool isInstance(const std::string& path) {
    // A single file named like a trace or circuit runs, so that what is wrong with it is said.
    if (!settings().batchMode)
        return isSolverOutput(path) || inputs::isQbmFile(path) || inputs::isCertificateInputNamed(path);
    return settings().check ? inputs::isQbmFile(path) : isSolverOutput(path);
}

// A certificate that holds, of a true formula or (a countermodel) of a false one.
bool isSuccess(int code) { return code == outcome::True || code == outcome::Refuted; }

void outcomeName(char* buffer, int code) {
    const char* word = isSuccess(code) ? "VALID" : code == outcome::False ? "INVALID" : "PROBLEMS";
    std::snprintf(buffer, kOutcomeNameSize, "%s", word);
}

// The file's size in bytes, told without opening it (the batch walk never opens what
// could make it wait).
int sortKey(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || st.st_size < 0) return 0;
    return st.st_size > INT_MAX ? INT_MAX : static_cast<int>(st.st_size);
}

// The endings of the inputs a batch run takes, by name alone.
bool namedLikeInstance(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    if (settings().check) return inputs::endsWithSuffix(name, ".qbm");
    for (const char* ending : {".Tobrin.log", ".qrp", ".qrp.gz", ".aag", ".aig"})
        if (inputs::endsWithSuffix(name, ending)) return true;
    return false;
}

// The batch parent must never block on an instance's files: a formula that is no
// regular file (a pipe, say, whose open would wait for a writer) gets no line.
bool reportable(const std::string& formula) {
    struct stat st {};
    return stat(formula.c_str(), &st) == 0 && S_ISREG(st.st_mode) && inputs::formulaExists(formula);
}

// The hooks hand the instance path where a formula path is expected: a line is written
// only for an instance that passes the formula test, so a solver log's timeout or crash
// leaves no line. The instance has failed already and its line says why ("[TIMEOUT]",
// "[CRASH]"); the parent prints nothing more of its own in the middle of the children's
// output, so a report line that cannot be written is not said again.
void onTimeout(const std::string& path) {
    if (!settings().report || !reportable(path)) return;
    Status appended =
        report::appendReportLine(path, 0, runner::currentTimeout(), 0, 0, 0, "TIMEOUT", reportFileSuffix());
    (void)appended;
}

void onCrash(const std::string& path, int) {
    if (!settings().report || !reportable(path)) return;
    Status appended = report::appendReportLine(path, 0, 0, 0, 0, 0, "CRASH", reportFileSuffix());
    (void)appended;
}

// "-j 0" stands for as many children as the run has processors (its CPU affinity,
// within its control group's quota).
int jobs() {
    if (settings().jobs > 0) return settings().jobs;
    return processors::usable();
}

progress::Mode progressMode() {
    switch (settings().progress) {
        case 1: return progress::Mode::Off;
        case 2: return progress::Mode::Terminal;
        case 3: return progress::Mode::Lines;
        default: return progress::Mode::Auto;
    }
}

}  // namespace

InstanceFramework makeFramework() {
    InstanceFramework framework;
    framework.batchMode = settings().batchMode;
    framework.giveup = settings().giveup;
    framework.autoGiveup = settings().autoGiveup;
    framework.report = settings().report;
    framework.timeout = settings().timeout;
    framework.configName = "Plumex.conf";
    framework.jobs = jobs();
    if (settings().shardCount > 0) {
        framework.shardIndex = settings().shardIndex;
        framework.shardCount = settings().shardCount;
    }
    // A shard's record names its shard, like its report files: shards never share one.
    framework.memoryMB = settings().memoryMB;
    std::string record = settings().recordPath.empty() ? settings().resumePath : settings().recordPath;
    if (!record.empty()) framework.recordPath = record + reportFileSuffix();
    if (!settings().resumePath.empty()) framework.resumePath = settings().resumePath + reportFileSuffix();
    framework.progress = progressMode();
    framework.progressSeconds = settings().progressSeconds;
    framework.summary = settings().summary;
    framework.processInstance = [](const std::string& path) { return ::processInstance(path); };
    framework.isInstance = isInstance;
    framework.namedLikeInstance = namedLikeInstance;
    framework.isSuccess = isSuccess;
    framework.outcomeName = outcomeName;
    framework.sortKey = sortKey;
    framework.onTimeout = onTimeout;
    framework.onCrash = onCrash;
    framework.applyLine = cli::applyConfigurationLine;
    framework.lineRules = cli::configurationLineRules;
    return framework;
}

int run(int argc, const char* const* argv) {
    if (!cli::scanCommandLine(argc, argv)) return 0;
    if (settings().verbosity >= 0) {
        std::printf("%s", usage::banner());
        std::fflush(stdout);
    }
    int result = runner::frameworkMain(settings().inputPath, makeFramework());
    if (settings().batchMode)
        std::printf("\n\n%i/%i instances successfully processed.\n\n", result, batch::totalInstances());
    else
        std::puts("\n");
    std::fflush(stdout);
    // An interrupted run has said what it had; it ends the way the signal ends a process,
    // so that the shell, a job script or a scheduler sees it was stopped.
    if (int signal = pool::interruption()) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return result;
}

}  // namespace entry
