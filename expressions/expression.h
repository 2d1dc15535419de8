// Parsed "-eval" expressions: trees over existential literals, lists with an optional
// universal scenario, and their values once evaluated.
#pragma once

#include <memory>
#include <vector>

#include "bdd/engine.h"

enum ExpKind { EXP_LIT = 1, EXP_NOT = 2, EXP_AND = 3, EXP_OR = 4, EXP_IMPLIES = 5, EXP_XOR = 6, EXP_DC = 7 };

struct ExpNode {
    int kind = EXP_LIT;
    int literal = 0;
    std::unique_ptr<ExpNode> left;
    std::unique_ptr<ExpNode> right;
};

struct IntVector {
    int capacity = 0;
    int count = 0;
    std::vector<int> items;
};

struct ExpValue {
    bdd::Bdd trueBdd;
    bdd::Bdd falseBdd;
    bool missing() const { return trueBdd.isNull() || falseBdd.isNull(); }
};

struct ExpList {
    int mode = 1;  // 0 direct, 1 inverse
    int textLength = 0;
    std::unique_ptr<IntVector> scenario;  // direct lists only
    std::vector<std::unique_ptr<ExpNode>> exprs;
    int count = 0;
    std::vector<int> directResults;  // direct lists only
    std::vector<ExpValue> values;
};
