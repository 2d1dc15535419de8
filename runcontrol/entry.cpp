#include "runcontrol/entry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "files/report.h"
#include "framework/batch.h"
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

int sortKey(const std::string& path) {
    std::FILE* fp = std::fopen(path.c_str(), "r");
    if (!fp) return 0;
    long size = 0;
    if (std::fseek(fp, 0, SEEK_END) == 0) size = std::ftell(fp);
    std::fclose(fp);
    if (size < 0) return 0;
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

// The batch parent must never block on an instance's files: a formula that is no
// regular file (a pipe, say, whose open would wait for a writer) gets no line.
bool reportable(const std::string& formula) {
    struct stat st {};
    return stat(formula.c_str(), &st) == 0 && S_ISREG(st.st_mode) && inputs::formulaExists(formula);
}

// The hooks hand the instance path where a formula path is expected: a line is written
// only for an instance that passes the formula test, so a solver log's timeout or crash
// leaves no line.
void onTimeout(const std::string& path) {
    if (!settings().report || !reportable(path)) return;
    report::appendReportLine(path, 0, runner::currentTimeout(), 0, 0, 0, "TIMEOUT", reportFileSuffix());
}

void onCrash(const std::string& path, int) {
    if (!settings().report || !reportable(path)) return;
    report::appendReportLine(path, 0, 0, 0, 0, 0, "CRASH", reportFileSuffix());
}

// "-j 0" stands for as many children as there are online processors.
int jobs() {
    if (settings().jobs > 0) return settings().jobs;
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 && online < INT_MAX ? static_cast<int>(online) : 1;
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
    framework.processInstance = [](const std::string& path) { return ::processInstance(path); };
    framework.isInstance = isInstance;
    framework.isSuccess = isSuccess;
    framework.outcomeName = outcomeName;
    framework.sortKey = sortKey;
    framework.onTimeout = onTimeout;
    framework.onCrash = onCrash;
    framework.applyLine = cli::applyConfigurationLine;
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
    return result;
}

}  // namespace entry
