// The SAT solver over CaDiCaL's library.
#include "certification/sat_solver.h"

#include <cadical.hpp>

namespace sat {

struct Solver::Engine {
    CaDiCaL::Solver solver;
};

Solver::Solver() : engine_(std::make_unique<Engine>()) {
    // The solver's own messages (a clause falsified when added, say) would reach
    // standard output past the step reporter.
    engine_->solver.set("quiet", 1);
    // The check's problems are a matrix plus the Tseitin definitions of deep decision
    // lists, refuted through hundreds of thousands of conflicts. There the solver's
    // shrinking of learnt clauses and its vivification cost more than they save: the
    // countermodel of a hex game (65,000 variables, 273,000 clauses) is refuted in 15.5 s
    // without both, 26 s with them.
    engine_->solver.set("shrink", 0);
    engine_->solver.set("vivify", 0);
}

Solver::~Solver() = default;

int Solver::newVariable() { return ++variables_; }

void Solver::addClause(const int* literals, int count) {
    for (int i = 0; i < count; ++i) engine_->solver.add(literals[i]);
    engine_->solver.add(0);
}

bool Solver::solve() {
    // Without any clause the solver knows no variable; the model is then all false.
    return engine_->solver.solve() == 10;
}

bool Solver::value(int variable) const {
    if (variable < 1 || variable > engine_->solver.vars()) return false;
    return engine_->solver.val(variable) > 0;
}

}  // namespace sat
