// Reads a QDIMACS formula, plain or gzip-compressed: the prefix as numbered blocks and
// the clauses. Variables left out of the prefix are existential in an outermost block.
#pragma once

#include <string>
#include <vector>

namespace aigercheck {

struct Formula {
    int maxVar = 0;                         // largest variable the "p" line or the body names
    std::vector<char> quantifier;           // per variable: 'a', 'e' ('e' when not quantified)
    std::vector<int> block;                 // per variable: its prefix block, 0 for the outermost
    std::vector<int> universals;            // in prefix order
    std::vector<int> existentials;          // free ones first (by number), then in prefix order
    std::vector<std::vector<int>> clauses;  // as written
};

struct FormulaRead {
    bool ok = false;
    Formula formula;
    std::string error;
};

FormulaRead readFormula(const std::string& path);

}  // namespace aigercheck
