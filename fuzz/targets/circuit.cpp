// The Skolem-circuit reader: an AIGER file (ASCII or binary) read into a certificate over
// a fixed formula with universals and existentials in several blocks.
#include "certificate/circuit.h"
#include "fuzz_support.h"

namespace {

const char kFormula[] = "p cnf 8 1\ne 1 0\na 2 3 0\ne 4 5 0\na 6 7 0\ne 8 0\n1 4 8 0\n";
std::string g_formula;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::silenceOutput();
    g_formula = fuzzsupport::writeInput(reinterpret_cast<const uint8_t*>(kFormula), sizeof kFormula - 1,
                                        "formula.qdimacs");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A binary file starts "aig", an ASCII one "aag"; the reader tells them apart itself.
    std::string path = fuzzsupport::writeInput(data, size, "input.aag");
    fuzzsupport::guarded([&] {
        ModelResult model = certificateFromCircuit(path, g_formula);
    });
    return 0;
}
