// The proof-trace reader through its real consumer: the trace (ASCII or binary, told by
// its header) is indexed, its proof read and the certificate extracted, against a formula
// made of the trace's own prefix (so that every trace whose index reads gets as far as
// the extraction). A true formula's trace gets no clauses: every 0-antecedent step is an
// initial cube. A false formula's gets the trace's own input clauses: the proof's leaves
// as they are printed, a one-literal clause for every other step without antecedents, so
// that its countermodel is extracted too.
#include <algorithm>
#include <fstream>

#include "certificate/trace_extraction.h"
#include "inputs/qrp_reader.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::silenceOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzzsupport::writeInput(data, size, "input.qrp");
    fuzzsupport::guarded([&] {
        qrp::Trace trace;
        if (!qrp::readIndex(path, trace)) return;
        // The extraction's tables are sized by the header's variable count; a formula of
        // millions of variables is legitimate but no matter for this target.
        long maxVar = trace.numVars;
        for (const qrp::Block& b : trace.blocks)
            for (int v : b.vars) maxVar = std::max<long>(maxVar, v);
        if (maxVar > 100000) return;
        std::vector<std::vector<int>> clauses;
        if (!trace.sat) {
            if (!qrp::readProof(path, trace)) return;
            std::size_t p = 0;
            std::vector<int> lits;
            for (std::size_t i = 0; i < trace.steps() && clauses.size() < 100000; ++i) {
                bool inProof = p < trace.proof.size() && trace.proof[p] == static_cast<std::int32_t>(i);
                if (trace.antCount[i] == 0) {
                    if (inProof) {
                        trace.literalsOf(p, lits);
                        clauses.push_back(lits);
                    } else {
                        clauses.push_back(maxVar > 0 ? std::vector<int>{1} : std::vector<int>{});
                    }
                }
                if (inProof) ++p;
            }
        }
        std::string formula = path.substr(0, path.size() - 4) + ".qdimacs";
        {
            std::ofstream out(formula);
            out << "p cnf " << maxVar << " " << clauses.size() << "\n";
            for (const qrp::Block& b : trace.blocks) {
                out << b.kind;
                for (int v : b.vars) out << ' ' << v;
                out << " 0\n";
            }
            for (const std::vector<int>& c : clauses) {
                for (int l : c) out << l << ' ';
                out << "0\n";
            }
        }
        ExtractionOptions options;
        options.countermodels = true;
        options.countermodelNodes = 200000;
        ModelResult model = extractFromTrace(path, formula, options, steps::silent());
    });
    return 0;
}
