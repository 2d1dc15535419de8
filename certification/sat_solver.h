// The SAT solver of the countermodel check behind an interface of its own: clauses in,
// a verdict and a model out. sat_solver.cpp is the only file that knows the solver
// underneath (CaDiCaL), so another one could take its place there alone.
#pragma once

#include <initializer_list>
#include <memory>

namespace sat {

class Solver {
  public:
    Solver();
    ~Solver();
    Solver(const Solver&) = delete;
    Solver& operator=(const Solver&) = delete;

    // A variable no clause has used yet: 1, 2, 3, ...
    int newVariable();
    int variables() const { return variables_; }

    // A clause of literals (a variable, or its negation as -variable) over variables made
    // by newVariable. No literal makes the empty clause, which no model satisfies.
    void addClause(const int* literals, int count);
    void addClause(std::initializer_list<int> literals) {
        addClause(literals.begin(), static_cast<int>(literals.size()));
    }

    // True when some assignment satisfies every clause; value() then reads one.
    bool solve();
    // The variable's value in the model of the last satisfiable solve.
    bool value(int variable) const;

  private:
    struct Engine;
    std::unique_ptr<Engine> engine_;
    int variables_ = 0;
};

}  // namespace sat
