// The circuit reader: an AIGER file (ASCII or binary) read into a certificate (inputs
// universals) or a countermodel (inputs existentials) over a fixed formula with
// universals and existentials in several blocks. The input's size picks the build:
// without reordering, with sifting, or with a countermodel budget of a few nodes. A
// countermodel's and-inverter graph must agree with its BDDs on every assignment of the
// four existentials; a disagreement is a finding.
#include <cstdlib>

#include "certificate/circuit.h"
#include "fuzz_support.h"

namespace {

const char kFormula[] = "p cnf 8 1\ne 1 0\na 2 3 0\ne 4 5 0\na 6 7 0\ne 8 0\n1 4 8 0\n";
std::string g_formula;

bool graphValue(const FunctionCircuit& c, std::uint32_t literal, unsigned bits) {
    std::vector<char> v(static_cast<std::size_t>(c.numInputs) + 1 + c.gates(), 0);
    for (int k = 1; k <= c.numInputs; ++k) v[k] = (bits >> (k - 1)) & 1;
    auto of = [&v](std::uint32_t l) { return static_cast<bool>(v[l >> 1] ^ (l & 1)); };
    for (std::size_t g = 0; g < c.gates(); ++g) v[c.variableOf(g)] = of(c.left[g]) && of(c.right[g]);
    return of(literal);
}

void checkCountermodel(const QBModel& m) {
    if (!m.countermodel() || !m.circuit || !m.noBdds.empty()) return;
    for (unsigned bits = 0; bits < (1u << m.numUniv); ++bits) {
        std::vector<bdd::Bdd> literals;
        for (int k = 1; k <= m.numUniv; ++k) literals.push_back((bits >> (k - 1)) & 1 ? bdd::ithVar(k) : !bdd::ithVar(k));
        bdd::Bdd cube = bdd::conjunction(literals);
        for (int p = 1; p <= m.numExist; ++p) {
            int x = m.existVar[p];
            if (m.circuit->output[x] == FunctionCircuit::kNone) continue;
            bool bdd = bdd::cofactor(m.posBdd[x], cube).isOne();
            if (bdd != graphValue(*m.circuit, m.circuit->output[x], bits)) std::abort();
        }
    }
}

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
    CircuitOptions options;
    if (size % 3 == 1) options.reorderMethod = 4;
    if (size % 3 == 2) options.countermodelNodes = 8;
    fuzzsupport::guarded([&] {
        ModelResult model = certificateFromCircuit(path, g_formula, options);
        if (model) checkCountermodel(**model);
    });
    return 0;
}
