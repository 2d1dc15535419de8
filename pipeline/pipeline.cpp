// The instance pipeline: certificate from a log (reconstruction) or a QBM file, the
// checks, the optional final reordering, expressions, stripping, the dumps, removals and
// the report line.
#include "pipeline/pipeline.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "certificate/circuit.h"
#include "certificate/reconstruct.h"
#include "certificate/strip.h"
#include "certificate/trace_extraction.h"
#include "certification/checks.h"
#include "files/aiger.h"
#include "files/certificate_dot.h"
#include "files/qbm.h"
#include "files/qdc.h"
#include "files/report.h"
#include "inputs/input_kinds.h"
#include "inputs/log_reader.h"
#include "outcomes/instance_facts.h"
#include "outcomes/outcome.h"
#include "pipeline/expression_stage.h"
#include "outcomes/steps.h"
#include "pipeline/settings.h"

namespace {

constexpr int kReorderNone = 1;

// What the log tells beyond the certificate, for the report line.
struct LogFacts {
    double solverTime = 0.0;
    long trailerId = 0;
};

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::unique_ptr<QBModel> certificateFromLog(const std::string& logPath, LogFacts& facts) {
    steps::open("Model reconstruction and certification.");
    LogReaderPtr reader = logOpen(logPath);
    if (Status opened = logError(*reader); !opened) {
        steps::close("Error: " + opened.message());
        return nullptr;
    }
    enterReconstructionPhase();
    ReconstructOptions options;
    options.reorderMethod = reorderCurrent();
    options.showReordering = settings().verbosity > 3;
    std::unique_ptr<QBModel> model = reconstructModel(*reader, options, steps::display());
    if (Status read = logError(*reader); !read) {
        steps::close("Error: " + read.message() + " at line \"" + withoutLineEnd(logLastLine(*reader)) + "\"");
        return nullptr;
    }
    if (!model) {
        steps::close("Error: Reconstruction failure");
        return nullptr;
    }
    facts.solverTime = logSolverTime(*reader);
    facts.trailerId = logTrailerId(*reader);
    return model;
}

std::unique_ptr<QBModel> certificateFromQbm(const std::string& qbmPath) {
    steps::open("Certification");
    ModelResult read = readQbm(qbmPath);
    if (!read) {
        steps::close("Error: " + read.message());
        return nullptr;
    }
    return std::move(*read);
}

// A proof trace or a Skolem circuit: the certificate is built against the formula, which
// must be named or found beside the input.
std::unique_ptr<QBModel> certificateFromSolverOutput(const std::string& path, bool trace,
                                                     const std::string& formulaPath) {
    steps::open("Model extraction and certification.");
    if (formulaPath.empty()) {
        steps::close("Error: no formula for \"" + path +
                     "\" (give -qbf, or put NAME.qdimacs, NAME.qdimacs.gz, NAME.qcnf or NAME.qcnf.gz beside it)");
        return nullptr;
    }
    ExtractionOptions options;
    enterReconstructionPhase();  // traces and circuits build with the -hbdd method
    options.reorderMethod = reorderCurrent();
    options.countermodels = true;
    ModelResult built = trace ? extractFromTrace(path, formulaPath, options, steps::display())
                              : certificateFromCircuit(path, formulaPath, CircuitOptions{options.reorderMethod});
    if (!built) {
        steps::close("Error: " + built.message());
        return nullptr;
    }
    std::unique_ptr<QBModel> model = std::move(*built);
    if (!trace && model->solver == "Tobrin") model->solver = "AIGER";
    if (model->formula.empty()) model->formula = formulaPath;
    // A countermodel's outermost universals, whose values the QDC file gives.
    if (model->countermodel())
        if (Result<qdimacs::HeadPrefix> prefix = qdimacs::readPrefix(formulaPath); prefix)
            markOutermostFunctions(*model, prefix->blocks);
    return model;
}

// Steps 5 and 6: the checks and, for a consistent certificate, the final reordering.
// Returns the valid flag.
// A trace or circuit was read against its formula, which is then part of the certificate:
// it is checked whatever the formula's name.
bool certify(QBModel& model, const std::string& formulaPath, bool formulaRead) {
    const std::string noun = model.countermodel() ? "Countermodel" : "Certificate";
    if (!certification::consistencyCheck(model, steps::display())) {
        steps::closeWithShare("\n" + noun + " is INCONSISTENT");
        return false;
    }
    bool valid = true;
    if (!formulaRead && !inputs::formulaExists(formulaPath) && !inputs::formulaUnreadable(formulaPath)) {
        steps::close("Verification skipped, cannot parse \"" + formulaPath + "\"");
    } else if (!settings().check) {
        steps::close("Verification skipped as requested");
    } else if (certification::FailingClause failing;
               certification::validityCheck(model, formulaPath, steps::display(), &failing)) {
        steps::closeWithShare(noun + " is VALID");
    } else {
        // The first failing clause is drawn into the working directory.
        if (!failing.satisfied.isNull()) {
            Status drawn = writeClauseDot(failing.satisfied, failing.hypothesis, failing.alwaysSat, "bdd_test.dot");
            if (!drawn) steps::print("(%s) ", drawn.message().c_str());
        }
        steps::closeWithShare(noun + " is INVALID");
        valid = false;
    }
    if (settings().reorderFinal != kReorderNone) {
        steps::open("Additional reordering");
        leaveReconstructionPhase();
        model.manager->enableReordering(reorderCurrent());
        steps::close();
    }
    return valid;
}

long fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

// One file of "Dump to file:": its step, closed with the writer's success text or with
// its failure message. False when the file was not written.
// A file drawn from the BDDs of a certificate whose functions have none (too large) is
// not written: its step says why, and that is no failure.
template <typename Write>
bool dumpStep(const std::string& title, const std::string& noBdds, Write write) {
    steps::open(title);
    if (!noBdds.empty()) {
        steps::close("not written: " + noBdds);
        return true;
    }
    std::string done;
    Status written = write(&done);
    if (!written) instance_facts::noteFailure(written.message());
    if (!written)
        steps::close(written.message());
    else if (done.empty())
        steps::close();
    else
        steps::close(done);
    return written.ok();
}

struct Dumps {
    bool failed = false;      // some file could not be written
    bool qbmWritten = false;  // the QBM file is complete under its name
};

Dumps dumpFiles(QBModel& model, std::string& qbmPath, const std::string& logPath, bool logIsTraceOrCircuit,
                const std::string& formulaPath, int evaluated) {
    Dumps result;
    const Settings& s = settings();
    auto deriveQbm = [&] {
        if (qbmPath.empty())
            qbmPath = logIsTraceOrCircuit ? inputs::certificateInputToQbmName(logPath) : inputs::logToQbmName(logPath);
    };
    // The files written from a trace or circuit name its formula as seen from their own
    // directory, so that a later run finds it from anywhere.
    if (logIsTraceOrCircuit) {
        deriveQbm();
        model.formula = inputs::relativeTo(formulaPath, qbmPath);
    }
    steps::open("Dump to file:");
    // AIGER files come from the circuit form where there are no BDDs.
    const std::string circuitOnly = model.circuit ? "" : model.noBdds;
    if (s.dumpQbmBdd) {
        deriveQbm();
        bool ok = dumpStep("QBM representation: \"" + qbmPath + "\"", model.noBdds, [&](std::string* done) {
            if (Status written = writeQbm(model, qbmPath); !written) return written;
            char text[96];
            std::snprintf(text, sizeof text, "%li node%s, %.1f KBytes", model.nodeCount,
                          model.nodeCount == 1 ? "" : "s", static_cast<double>(fileSize(qbmPath)) / 1024.0);
            *done = text;
            return Status();
        });
        result.qbmWritten = ok && model.noBdds.empty();
        result.failed |= !ok;
    }
    if (s.dumpQbmDot) {
        deriveQbm();
        std::string dot = inputs::dotName(qbmPath);
        result.failed |= !dumpStep("DOT representation: \"" + dot + "\"", model.noBdds, [&](std::string*) {
            return writeCertificateDot(model, dot);
        });
    }
    if (s.dumpQdc) {
        deriveQbm();
        std::string qdc = inputs::qbmToQdcName(qbmPath);
        result.failed |= !dumpStep("QDC representation: \"" + qdc + "\"", "", [&](std::string*) {
            return writeQdc(model, qdc);
        });
    }
    if (s.dumpAag) {
        deriveQbm();
        std::string aag = qbmPath + ".aag";
        result.failed |= !dumpStep("AIGER representation: \"" + aag + "\"", circuitOnly, [&](std::string*) {
            return writeAag(model, aag);
        });
    }
    if (s.dumpAig) {
        deriveQbm();
        std::string aig = qbmPath + ".aig";
        result.failed |= !dumpStep("AIGER representation: \"" + aig + "\"", circuitOnly, [&](std::string*) {
            return writeAig(model, aig);
        });
    }
    result.failed |= !expDumpStage(model, qbmPath, evaluated);
    steps::close();
    return result;
}

}  // namespace

int processInstance(const std::string& path) {
    // A trace or a circuit takes the log's place: the certificate is built from it, and
    // the QBM file is written next to it.
    bool trace = inputs::isTraceFile(path);
    bool circuit = !trace && inputs::isCircuitFile(path);
    bool solverOutput = trace || circuit;
    std::string logPath = solverOutput || inputs::isLogFile(path) ? path : "";
    std::string qbmPath = logPath.empty() && inputs::isQbmFile(path) ? path : "";
    std::string formulaPath = inputs::resolveFormula(settings().qbfPath, path);
    bool logInput = !logPath.empty();
    if (!logInput && qbmPath.empty()) {
        bool named = inputs::isCertificateInputNamed(path);
        steps::open(named ? "Model extraction and certification." : "Certification");
        steps::close("Error: \"" + path + "\"" +
                     (named ? ": " + inputs::notAnInput(path)
                            : " is neither a solver log, a proof trace, a Skolem circuit nor a QBM file"));
        return outcome::Error;
    }
    if (solverOutput && formulaPath.empty()) formulaPath = inputs::formulaBeside(path);
    instance_facts::setKind(trace ? "trace" : circuit ? "circuit" : logInput ? "log" : "qbm");

    LogFacts facts;
    std::unique_ptr<QBModel> model = solverOutput ? certificateFromSolverOutput(path, trace, formulaPath)
                                     : logInput   ? certificateFromLog(logPath, facts)
                                                  : certificateFromQbm(qbmPath);
    if (!model) return outcome::Error;
    instance_facts::setPolarity(model->countermodel() ? "false" : "true");
    if (logInput) {
        setCheck(1);
        // The log itself is removed only once the QBM file written from it is complete
        // (after the dumps), so that a failed write never loses the certificate.
        if (!anyQbmDump()) setDumpQbmBdd(1);
    }
    if (formulaPath.empty()) formulaPath = inputs::resolveFormula(model->formula, path);
    if (!settings().expressions && settings().expressionFile.empty()) setCheck(1);

    bool valid = certify(*model, formulaPath, solverOutput);
    int evaluated = expEvaluationStage(*model);
    stripVariables(*model, settings().varLow, settings().varHigh, steps::display());

    Dumps dumps;
    if (logInput || anyDump()) dumps = dumpFiles(*model, qbmPath, logPath, solverOutput, formulaPath, evaluated);

    if (logInput && settings().removeLog) {
        if (dumps.qbmWritten) {
            std::remove(logPath.c_str());
        } else {
            steps::open(std::string(solverOutput ? "Input" : "Log") + " \"" + logPath + "\" kept");
            steps::close("no QBM file was written");
        }
    }
    if (settings().removeQbm && !qbmPath.empty()) std::remove(qbmPath.c_str());

    int result = !valid ? outcome::False : model->countermodel() ? outcome::Refuted : outcome::True;
    int direct = 0;
    if (expSingleDirectResult(&direct)) result = direct;
    if (dumps.failed) result = outcome::Error;

    instance_facts::setNodes(model->nodeCount);
    if (logInput && settings().report && inputs::formulaExists(formulaPath)) {
        Status appended = report::appendReportLine(formulaPath, facts.solverTime, model->reconstructionTime,
                                                   model->consistencyTime + model->validityTime, facts.trailerId,
                                                   model->nodeCount, valid ? "VALID" : "INVALID", reportFileSuffix());
        if (!appended) {
            steps::note("Error: " + appended.message());
            result = outcome::Error;
        }
    }
    return result;
}
