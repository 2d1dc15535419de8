// The proof-trace reader through its real consumer: the trace (ASCII or binary, told by
// its header) is indexed, its proof read and the Skolem functions extracted, against a
// formula made of the trace's own prefix (so that every trace whose index reads gets as
// far as the extraction; with no clauses, every 0-antecedent step is an initial cube).
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
        std::string formula = path.substr(0, path.size() - 4) + ".qdimacs";
        {
            std::ofstream out(formula);
            out << "p cnf " << trace.numVars << " 0\n";
            for (const qrp::Block& b : trace.blocks) {
                out << b.kind;
                for (int v : b.vars) out << ' ' << v;
                out << " 0\n";
            }
        }
        ModelResult model = extractFromTrace(path, formula, ExtractionOptions{}, steps::silent());
    });
    return 0;
}
