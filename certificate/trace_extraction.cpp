// The stages of a certificate from a proof trace: reading, the leaves against the
// formula, the analysis of the steps, the functions.
#include "certificate/trace_extraction.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

#include "certificate/entry_program.h"
#include "certificate/function_build.h"
#include "certificate/reconstruct.h"
#include "certificate/trace_analysis.h"
#include "inputs/input_kinds.h"
#include "inputs/qdimacs_reader.h"
#include "inputs/qrp_reader.h"
#include "outcomes/clocks.h"

namespace {

std::string stepTitle(const char* title) {
    char padded[64];
    std::snprintf(padded, sizeof padded, "%-24s", title);
    return padded;
}

// Progress marks of a step whose work is known as a share; only whole tens are marked.
struct Share {
    explicit Share(steps::Reporter& reporter) : marks(reporter) {}
    steps::Progress marks;
    void at(double share) {
        long p = static_cast<long>(share * 100.0);
        if (p > 100) p = 100;
        marks.update(p / 10 * 10, 100);
    }
};

bool formulaFits(const qdimacs::Prefix& prefix, const qrp::Trace& t) {
    if (prefix.blockKind.size() != t.blocks.size() + 1) return false;
    for (std::size_t b = 0; b < t.blocks.size(); ++b) {
        if (prefix.blockKind[b + 1] != t.blocks[b].kind) return false;
        for (int v : t.blocks[b].vars)
            if (v >= static_cast<int>(prefix.block.size()) || prefix.block[v] != static_cast<int>(b + 1)) return false;
    }
    return true;
}

}  // namespace

ModelResult extractFromTrace(const std::string& tracePath, const std::string& formulaPath,
                             const ExtractionOptions& options, steps::Reporter& reporter) {
    double start = clocks::checkMicros();
    qrp::Trace trace;

    reporter.open(stepTitle("Proof trace reading"));
    {
        Share share(reporter);
        share.marks.start();
        Status read = qrp::readIndex(tracePath, trace, [&](double d) { share.at(d / 2); });
        if (read && !trace.sat && !options.countermodels) {
            reporter.close();
            return Status::failure("This is not a TRUE formula");
        }
        if (read) read = qrp::readProof(tracePath, trace, [&](double d) { share.at(0.5 + d / 2); });
        if (!read) {
            reporter.close();
            return read;
        }
        share.marks.finish();
        char text[96];
        std::snprintf(text, sizeof text, "%zu steps, %zu in the proof", trace.steps(), trace.proof.size());
        reporter.close(text);
    }
    const Polarity polarity = trace.sat ? Polarity::True : Polarity::False;
    const bool cubes = polarity == Polarity::True;

    // Variables above the trace's count that the formula has (free ones it does not
    // mention) belong to the certificate too.
    int maxVar = static_cast<int>(trace.numVars);
    long quantified = 0;
    for (const qrp::Block& b : trace.blocks)
        for (int v : b.vars) {
            maxVar = std::max(maxVar, v);
            ++quantified;
        }
    if (Result<qdimacs::HeadPrefix> head = qdimacs::readPrefix(formulaPath); head && head->numVars > maxVar &&
                                                                             head->numVars <= (1L << 24))
        maxVar = static_cast<int>(head->numVars);
    extraction::Order order = extraction::makeOrder(trace, maxVar, polarity);
    extraction::ProofAnalysis analysis(trace, order);

    reporter.open(stepTitle(cubes ? "Initial cube check" : "Input clause check"));
    qdimacs::Expect expect;
    expect.numVars = static_cast<int>(quantified + 1);
    expect.maxKnown = maxVar;
    expect.emptyClauses = !cubes;  // a false formula may hold the empty clause
    expect.prefixThroughComments = true;  // as the validity check reads a trace's formula
    bool fits = true;
    int read = qdimacs::read(
        formulaPath, expect, [&](const int* literals, int count) { return analysis.clause(literals, count); },
        reporter, [&](const qdimacs::Prefix& prefix) {
            fits = formulaFits(prefix, trace);
            return fits ? 1 : 0;
        });
    reporter.close();
    if (!read)
        return Status::failure(fits ? "the formula \"" + formulaPath + "\" cannot be read as the trace's formula"
                                    : "the trace's prefix is not that of the formula \"" + formulaPath + "\"");
    if (Status leaves = analysis.checkLeaves(formulaPath); !leaves) return leaves;
    analysis.releaseFormula();

    reporter.open(stepTitle(cubes ? "Skolem extraction" : "Countermodel extraction"));
    Share share(reporter);
    share.marks.start();
    extraction::EntryProgram program(order.maxVar());
    if (Status analysed = analysis.analyse(program); !analysed) {
        reporter.close();
        return analysed;
    }
    // The entries hold all the building needs: the trace's tables go before the BDDs grow.
    trace = qrp::Trace();
    std::vector<int> intToExt(static_cast<std::size_t>(maxVar) + 1);
    for (int v = 0; v <= maxVar; ++v) intToExt[static_cast<std::size_t>(v)] = v;
    // The engine's operator caches are cleared at every collection and reordering, so
    // they are sized by the BDD work to come: the trace's when the functions are built as
    // BDDs, only the formula's (the checks) when they come from truth tables. Caches sized
    // by the trace made a chromatic proof of 49,000 steps 40% slower (0.34 s, 0.24 s).
    const bool tables = extraction::tablesFit(program, order, options.tableUniversals);
    std::unique_ptr<QBModel> model = newReplayModel(formulaPath, maxVar + 1, order.inputs, intToExt, maxVar,
                                                    inputs::fileBytes(tables ? formulaPath : tracePath));
    model->polarity = polarity;
    model->solver = "DepQBF";
    if (options.reorderMethod != 1) {
        model->manager->enableReordering(options.reorderMethod);
        auto reorderStart = std::make_shared<double>(0.0);
        model->manager->setReorderHooks([reorderStart] { *reorderStart = clocks::checkMicros(); },
                                        [reorderStart, to = &reporter] { to->addReorderTime(clocks::checkSecondsSince(*reorderStart)); });
    } else {
        model->manager->disableReordering();
    }
    double from = 0.0;
    if (!cubes) {
        // A countermodel's circuit first: it is linear in the proof and needs no BDD.
        auto circuit = std::make_shared<FunctionCircuit>();
        extraction::buildCircuit(*circuit, order, program, [&](double d) { share.at(d / 2); });
        model->circuit = circuit;
        from = 0.5;
    }
    auto progress = [&](double d) { share.at(from + (1.0 - from) * d); };
    if (tables) {
        extraction::buildTables(*model, order, program, progress);
    } else if (!extraction::buildBdds(*model, order, program, progress,
                                      cubes ? std::numeric_limits<long>::max() : options.countermodelNodes)) {
        model->noBdds = "the countermodel's BDDs exceed " + std::to_string(options.countermodelNodes) + " nodes";
    }
    share.marks.finish();
    reporter.close();
    model->reconstructionTime = clocks::checkSecondsSince(start);
    return model;
}
