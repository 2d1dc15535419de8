// The countermodel check on a generated false formula, next to the `cadical` binary
// solving the same SAT problem from a DIMACS file written beside it.
//
// The formula: x (existential), u (universal), then the gates t and the switches d
// (existential). Every universal u_j has a small random and-inverter graph g_j over x,
// written into the matrix by Tseitin (gates t), a switch d_j -> (u_j xor g_j), and one
// long clause asks for some switch. With u_j = g_j(x) every switch is off and the long
// clause fails: the countermodel is the graphs themselves, given to the check as a circuit
// and as BDDs. The equivalent CNF is the matrix with each u_j defined by a second copy of
// its graph, which is the problem the check hands its solver.
//
// Figures: the check (processor time, reading the formula included) with the circuit
// alone, the BDDs alone and both (the check picks), each against cadical's user + system
// time on the CNF; least of three runs. Lines "ROW|shape|figure|anchor|ratio" go to
// bench/run.sh's table.
//
// Usage: bench_countermodel [universals (default 5000)] [directory (default /tmp)]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "certificate/reconstruct.h"
#include "certification/countermodel_check.h"
#include "outcomes/reporter.h"

namespace {

constexpr int kInputs = 2000;  // x
constexpr int kGates = 12;     // per graph
constexpr int kFanIn = 8;      // x read by one graph
constexpr int kRuns = 3;

struct Gate {
    int a, b;  // literals: +-(input number 1..kInputs) or +-(kInputs + gate index + 1)
};

// The graphs, in one numbering: x are 1..kInputs, gate k of graph j is kInputs + j*kGates + k + 1.
struct Instance {
    int universals = 0;
    std::vector<Gate> gates;  // universals * kGates
    std::vector<int> output;  // per graph, a literal of its last gate

    int gateVar(int j, int k) const { return kInputs + j * kGates + k + 1; }
};

Instance generate(int universals) {
    std::mt19937 rng(24);
    Instance in;
    in.universals = universals;
    for (int j = 0; j < universals; ++j) {
        std::vector<int> leaves;
        for (int i = 0; i < kFanIn; ++i) leaves.push_back(1 + static_cast<int>(rng() % kInputs));
        for (int k = 0; k < kGates; ++k) {
            auto pick = [&]() {
                // Mostly the graph's own earlier gates, so that it is one function, not many.
                int v = (k > 1 && rng() % 3 != 0) ? in.gateVar(j, static_cast<int>(rng() % k))
                                                  : leaves[rng() % leaves.size()];
                return (rng() & 1) ? v : -v;
            };
            int a = pick(), b = pick();
            while (std::abs(b) == std::abs(a)) b = pick();
            in.gates.push_back({a, b});
        }
        in.output.push_back((rng() & 1) ? in.gateVar(j, kGates - 1) : -in.gateVar(j, kGates - 1));
    }
    return in;
}

// Variables of the formula: x, then u_j = uBase + j, then the gates (their numbers shifted
// past u), then d_j.
struct Numbers {
    int universals;
    int u(int j) const { return kInputs + 1 + j; }
    int lit(int l) const {  // a graph literal in the formula
        int v = std::abs(l);
        int w = v <= kInputs ? v : v + universals;
        return l < 0 ? -w : w;
    }
    int d(int j) const { return kInputs + universals + universals * kGates + 1 + j; }
    int vars() const { return kInputs + universals * (kGates + 2); }
};

void tseitin(std::FILE* fp, int g, int a, int b) {
    std::fprintf(fp, "%i %i 0\n%i %i 0\n%i %i %i 0\n", -g, a, -g, b, g, -a, -b);
}

long writeFormula(const Instance& in, const std::string& path) {
    Numbers n{in.universals};
    long clauses = static_cast<long>(in.universals) * (3 * kGates + 2) + 1;
    std::FILE* fp = std::fopen(path.c_str(), "w");
    std::fprintf(fp, "p cnf %i %li\ne", n.vars(), clauses);
    for (int x = 1; x <= kInputs; ++x) std::fprintf(fp, " %i", x);
    std::fprintf(fp, " 0\na");
    for (int j = 0; j < in.universals; ++j) std::fprintf(fp, " %i", n.u(j));
    std::fprintf(fp, " 0\ne");
    for (int v = kInputs + in.universals + 1; v <= n.vars(); ++v) std::fprintf(fp, " %i", v);
    std::fprintf(fp, " 0\n");
    for (int j = 0; j < in.universals; ++j) {
        for (int k = 0; k < kGates; ++k) {
            const Gate& g = in.gates[static_cast<std::size_t>(j) * kGates + k];
            tseitin(fp, n.lit(in.gateVar(j, k)), n.lit(g.a), n.lit(g.b));
        }
        int out = n.lit(in.output[j]);
        std::fprintf(fp, "%i %i %i 0\n%i %i %i 0\n", -n.d(j), n.u(j), out, -n.d(j), -n.u(j), -out);
    }
    for (int j = 0; j < in.universals; ++j) std::fprintf(fp, "%i ", n.d(j));
    std::fprintf(fp, "0\n");
    std::fclose(fp);
    return clauses;
}

// The check's problem as DIMACS: the matrix, and u_j defined by a copy of graph j.
void writeCnf(const Instance& in, const std::string& formula, const std::string& path) {
    Numbers n{in.universals};
    int copyBase = n.vars();
    long clauses = static_cast<long>(in.universals) * (3 * kGates + 2) + 1 + static_cast<long>(in.universals) * (3 * kGates + 2);
    std::FILE* fp = std::fopen(path.c_str(), "w");
    std::fprintf(fp, "p cnf %i %li\n", copyBase + in.universals * kGates, clauses);
    // The matrix's clauses as they stand in the formula.
    std::FILE* f = std::fopen(formula.c_str(), "r");
    char* line = nullptr;
    std::size_t size = 0;
    while (getline(&line, &size, f) > 0)
        if (line[0] != 'p' && line[0] != 'a' && line[0] != 'e') std::fputs(line, fp);
    std::free(line);
    std::fclose(f);
    auto copy = [&](int l) {
        int v = std::abs(l);
        int w = v <= kInputs ? v : copyBase + (v - kInputs);
        return l < 0 ? -w : w;
    };
    for (int j = 0; j < in.universals; ++j) {
        for (int k = 0; k < kGates; ++k) {
            const Gate& g = in.gates[static_cast<std::size_t>(j) * kGates + k];
            tseitin(fp, copy(in.gateVar(j, k)), copy(g.a), copy(g.b));
        }
        int out = copy(in.output[j]);
        std::fprintf(fp, "%i %i 0\n%i %i 0\n", -n.u(j), out, n.u(j), -out);
    }
    std::fclose(fp);
}

enum class Form { Circuit, Bdds, Both };

// The countermodel in certificate order (x, u, gates, d), checked once: its processor seconds.
double check(const Instance& in, const std::string& formula, Form form, int& result) {
    Numbers n{in.universals};
    int vars = n.vars();
    std::vector<int> order(static_cast<std::size_t>(vars) + 1);
    for (int v = 0; v <= vars; ++v) order[v] = v;
    std::vector<int> inputs{0};
    for (int v = 1; v <= vars; ++v)
        if (v <= kInputs || v > kInputs + in.universals) inputs.push_back(v);
    auto model = newReplayModel(formula, vars + 1, inputs, order, vars);
    model->polarity = Polarity::False;
    auto c = std::make_shared<FunctionCircuit>();
    c->numInputs = model->numUniv;
    c->output.assign(static_cast<std::size_t>(vars) + 1, FunctionCircuit::kNone);
    std::vector<std::uint32_t> lit(static_cast<std::size_t>(kInputs) + 1 + in.gates.size() + 1);
    for (int x = 1; x <= kInputs; ++x) lit[x] = c->input(x);  // x are the first inputs
    auto of = [&](int l) { return l < 0 ? negateLiteral(lit[-l]) : lit[l]; };
    for (int j = 0; j < in.universals; ++j) {
        for (int k = 0; k < kGates; ++k) {
            const Gate& g = in.gates[static_cast<std::size_t>(j) * kGates + k];
            lit[in.gateVar(j, k)] = c->conjoin(of(g.a), of(g.b));
        }
        c->output[n.u(j)] = of(in.output[j]);
    }
    for (int j = 0; j < in.universals; ++j) {
        model->posBdd[n.u(j)] = bdd::Bdd();
        model->negBdd[n.u(j)] = bdd::Bdd();
    }
    if (form != Form::Circuit) {
        std::vector<bdd::Bdd> value(static_cast<std::size_t>(c->numInputs) + 1 + c->gates());
        value[0] = bdd::zero();
        for (int k = 1; k <= kInputs; ++k) value[k] = bdd::ithVar(k);
        auto bddOf = [&](std::uint32_t l) { return (l & 1) ? !value[l >> 1] : value[l >> 1]; };
        for (std::size_t g = 0; g < c->gates(); ++g) value[c->variableOf(g)] = bddOf(c->left[g]) & bddOf(c->right[g]);
        for (int j = 0; j < in.universals; ++j) {
            bdd::Bdd f = bddOf(c->output[n.u(j)]);
            model->negBdd[n.u(j)] = !f;
            model->posBdd[n.u(j)] = std::move(f);
        }
    }
    if (form != Form::Bdds) model->circuit = c;
    if (form == Form::Circuit) model->noBdds = "not built";
    result = certification::countermodelCheck(*model, formula, steps::silent());
    return model->validityTime;
}

// cadical's user + system seconds and exit status on the CNF.
double cadical(const std::string& cnf, int& status) {
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        execlp("cadical", "cadical", "-q", cnf.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int raw = 0;
    struct rusage usage {};
    wait4(pid, &raw, 0, &usage);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    int universals = argc > 1 ? std::atoi(argv[1]) : 5000;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    std::string formula = dir + "/plumex-bench-countermodel.qdimacs";
    std::string cnf = dir + "/plumex-bench-countermodel.cnf";
    Instance in = generate(universals);
    long clauses = writeFormula(in, formula);
    writeCnf(in, formula, cnf);
    std::printf("%i universals, %i gates each over %i of %i existentials: %li clauses\n", universals, kGates, kFanIn,
                kInputs, clauses);

    double anchor = 1e9;
    int status = 0;
    for (int r = 0; r < kRuns; ++r) anchor = std::min(anchor, cadical(cnf, status));
    std::printf("cadical on the equivalent CNF: %.2fs (exit %i, 20 = unsatisfiable)\n", anchor, status);
    const char* names[] = {"circuit", "bdds", "both"};
    for (Form form : {Form::Circuit, Form::Bdds, Form::Both}) {
        double best = 1e9;
        int result = -1;
        for (int r = 0; r < kRuns; ++r) best = std::min(best, check(in, formula, form, result));
        const char* name = names[static_cast<int>(form)];
        std::printf("check, %-7s %.2fs (result %i)  ratio %.2f\n", name, best, result, best / anchor);
        std::printf("ROW|countermodel %i universals (%s)|check %.2fs|cadical %.2fs|%.2f\n", universals, name, best,
                    anchor, best / anchor);
    }
    std::remove(formula.c_str());
    std::remove(cnf.c_str());
    return 0;
}
