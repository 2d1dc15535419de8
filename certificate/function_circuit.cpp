// Gates of a certificate's and-inverter graph.
#include "certificate/function_circuit.h"

std::uint32_t FunctionCircuit::conjoin(std::uint32_t a, std::uint32_t b) {
    if (a == kFalse || b == kFalse || a == negateLiteral(b)) return kFalse;
    if (a == kTrue || a == b) return b;
    if (b == kTrue) return a;
    left.push_back(a);
    right.push_back(b);
    return 2 * variableOf(left.size() - 1);
}
