// Parsed "-eval" expressions: trees over existential literals, lists with an optional
// universal scenario, and their values once evaluated.
#pragma once

#include <memory>
#include <vector>

#include "bdd/engine.h"

enum ExpKind { EXP_LIT = 1, EXP_NOT = 2, EXP_AND = 3, EXP_OR = 4, EXP_IMPLIES = 5, EXP_XOR = 6, EXP_DC = 7 };

// The operator table that parser, printer, checker and evaluator share, indexed by kind.
struct ExpKindInfo {
    const char* name;  // canonical name (EXP_LIT prints its number instead)
    int operands;
};
const ExpKindInfo& expKindInfo(int kind);
inline bool expIsBinary(int kind) { return expKindInfo(kind).operands == 2; }

// Deepest nesting of operators that the parser accepts; evaluation and printing refuse
// anything deeper, so that no input can exhaust the stack.
constexpr int kExpMaxDepth = 10000;

struct ExpNode {
    int kind = EXP_LIT;
    int literal = 0;  // EXP_LIT only: the formula's number, negative when negated
    std::unique_ptr<ExpNode> left;
    std::unique_ptr<ExpNode> right;

    ExpNode() = default;
    ExpNode(const ExpNode&) = delete;
    ExpNode& operator=(const ExpNode&) = delete;
    // Dismantles the tree without recursion.
    ~ExpNode();
};

// A growable array of int: an append to a full vector doubles the capacity (to 5 from 0).
struct IntVector {
    int capacity = 0;
    int count = 0;
    std::vector<int> items;

    explicit IntVector(int initialCapacity = 0);
    void append(int value);
    int operator[](int i) const { return items[i]; }
};

// The value of one expression: the universal scenarios in which it is certainly true and
// those in which it is certainly false. A pair with a null BDD means evaluation failed.
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
    std::vector<int> directResults;  // direct lists only, filled by evaluation
    std::vector<ExpValue> values;    // filled by evaluation

    bool direct() const { return mode == 0; }
};
