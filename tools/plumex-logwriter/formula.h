// QDIMACS formulas for the log writer: reading (plain or gzip), the quantifier model the
// solver and the log work with, and the random formula generator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lw {

// The formula as written: external numbers, blocks in prefix order, clauses cleaned of
// repeated literals and without tautologies.
struct Formula {
    int maxVar = 0;
    struct Block {
        char quantifier;  // 'e' or 'a'
        std::vector<int> vars;
    };
    std::vector<Block> prefix;
    std::vector<std::vector<int>> clauses;
};

// Reads a QDIMACS file through zlib (plain or gzip). False with a message on bad input.
bool readFormula(const std::string& path, Formula& out, std::string& error);

// The quantifier structure in the log's internal numbering. Internal numbers 1..numVars-1:
// variables that no block quantifies come first (they are existentials of the outermost
// block), then the prefix in order. Universal k (1..numUniv) is univ[k]; an existential
// depends on the first depth[x] universals, which are exactly those quantified before it.
struct Model {
    int numVars = 1;             // slots, slot 0 included
    std::vector<int> intToExt;   // numVars entries
    std::vector<int> univ;       // numUniv + 1 entries, univ[0] = 0
    std::vector<int> univIndex;  // internal -> 1..numUniv, 0 for existentials
    std::vector<int> depth;      // internal existential -> number of universals before it
    std::vector<int> exist;      // existentials in internal order
    std::vector<std::vector<int>> clauses;  // internal literals
    int numUniv() const { return static_cast<int>(univ.size()) - 1; }
    bool isUniv(int v) const { return univIndex[v] != 0; }
};

Model buildModel(const Formula& f);

struct GenOptions {
    int vars = 12;
    int clauses = 30;
    int blocks = 3;
    char first = 'e';
    int width = 3;
    std::uint64_t seed = 1;
};

std::string generateFormula(const GenOptions& o);

}  // namespace lw
