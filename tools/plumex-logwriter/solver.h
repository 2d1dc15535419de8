// Deciding a formula: expansion of the universal variables into one propositional
// problem solved by CaDiCaL. A copy of existential x exists per assignment of the
// universals quantified before it, so a model is a set of Skolem tables.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/plumex-logwriter/formula.h"

namespace lw {

enum class Verdict { True, False, TooLarge };

struct Solution {
    Verdict verdict = Verdict::TooLarge;
    // table[x][s] for existential x: its value when universal k (1..depth[x]) has the
    // value of bit k-1 of s. Empty for universals.
    std::vector<std::vector<std::uint8_t>> table;
};

// Expands and solves; TooLarge when the expansion would exceed the literal budget.
Solution solve(const Model& m, long long literalBudget);

}  // namespace lw
