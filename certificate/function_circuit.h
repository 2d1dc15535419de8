// A certificate's functions as an and-inverter graph over its inputs: the form in which
// a proof or a circuit gives them before they become BDDs, linear in its source. The
// check of a countermodel can encode it for a SAT solver instead of the BDDs, and it
// stands in for BDDs that would not fit in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct FunctionCircuit {
    // Literals as in AIGER: 2 * variable, plus 1 for the negation. Variable 0 is the
    // constant false, variables 1..numInputs are the certificate's inputs by BDD index,
    // and variable numInputs + 1 + k is gate k, the AND of left[k] and right[k], whose
    // variables are both lower than its own.
    static constexpr std::uint32_t kFalse = 0, kTrue = 1;
    static constexpr std::uint32_t kNone = ~std::uint32_t{0};

    int numInputs = 0;
    std::vector<std::uint32_t> left, right;
    // Internal variable of the certificate -> the literal of its function (true where the
    // variable is true, false elsewhere), kNone for a variable without one.
    std::vector<std::uint32_t> output;

    std::uint32_t input(int index) const { return 2 * static_cast<std::uint32_t>(index); }
    std::uint32_t variableOf(std::size_t gate) const {
        return static_cast<std::uint32_t>(numInputs + 1 + gate);
    }
    std::size_t gates() const { return left.size(); }
    // The AND of a and b as a literal: constants and a literal met with itself or its
    // negation are folded, anything else takes a new gate.
    std::uint32_t conjoin(std::uint32_t a, std::uint32_t b);
};

inline std::uint32_t negateLiteral(std::uint32_t literal) { return literal ^ 1u; }
