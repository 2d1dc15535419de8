// The functions an EntryProgram defines, built position by position of the extraction's
// order: at a variable's position its function is the chain of its entries in file order
// (the first whose condition holds gives the value, false where none does), then every
// step with a literal there extends its condition by that literal's function. Three
// builders, one walk: truth tables (few inputs), BDDs, and an and-inverter graph.
#pragma once

#include <functional>
#include <limits>

#include "certificate/entry_program.h"
#include "certificate/function_circuit.h"
#include "certificate/model.h"
#include "certificate/trace_analysis.h"

namespace extraction {

// Share of the walk done, 0..1.
using Progress = std::function<void(double done)>;

// Whether the truth-table builder may take the program: at most maxInputs inputs, its
// tables within a fixed memory budget and its work, estimated by a dry walk over the
// program (kept), not much above that of reading the lists.
bool tablesFit(EntryProgram& program, const Order& order, int maxInputs);

// The functions as truth tables over the inputs before each variable, then as BDDs of
// the model (whose inputs are BDD variables 1..numInputs in order). Takes the lists.
void buildTables(QBModel& model, const Order& order, EntryProgram& program, const Progress& progress);

// The functions as BDDs of the model, built in place. Takes the lists. False, with the
// functions left null, when the live nodes pass nodeBudget; with a budget, automatic
// reordering is switched off once a sifting pass would cost seconds.
bool buildBdds(QBModel& model, const Order& order, EntryProgram& program, const Progress& progress,
               long nodeBudget = std::numeric_limits<long>::max());

// The functions as an and-inverter graph over the inputs (by BDD index), equal gates
// made once; output[v] for every variable with a function. The lists are kept.
void buildCircuit(FunctionCircuit& circuit, const Order& order, EntryProgram& program, const Progress& progress);

}  // namespace extraction
