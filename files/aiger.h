// The certificate as an AIGER circuit: one input per universal, one output per in-scope
// existential computing its true set (undetermined scenarios read as false, which keeps
// every clause satisfied). Every BDD node becomes at most three AND gates, shared as the
// nodes are, so the circuit grows linearly with the forest.
//
// ASCII ("aag"): the index-based layout of the QBF certificate checkers. An AIGER variable
// is the QDIMACS variable of the same number: universal u is the input 2u, existential e
// the AND gate "2e f 1" (f its function, 1 the constant true) and the output 2e; the
// helper gates of the nodes are numbered above the largest QDIMACS variable.
// Binary ("aig"): the same circuit, but the format wants the inputs to be variables
// 1..I and the gates I+1..M in order, so everything is renumbered and only the symbol
// table carries the QDIMACS numbers.
// Both: inputs ordered by increasing QDIMACS number, then outputs the same way; the
// symbol table names input k "ik N" and output k "ok N" with N the QDIMACS number.
#pragma once

#include <string>

#include "certificate/model.h"

// A failure saying why, and nothing under the final name, when the file cannot be written.
Status writeAag(const QBModel& model, const std::string& path);
Status writeAig(const QBModel& model, const std::string& path);
