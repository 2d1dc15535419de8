// The countermodel check on real false formulas, next to DepQBF writing the trace the
// countermodel comes from. For each formula: DepQBF with tracing (the anchor, its user +
// system time), then a countermodel from the trace, then the check, timed with its
// function forms: the circuit alone, and the circuit with the BDDs (the check picks the
// smaller). The BDDs are built with reordering and given up past kBddSeconds, as a
// certifier gives them up when they do not fit.
//
// The countermodel is built here by the dual of the Skolem rule (for each universal
// reduction in a proof step, in proof order, an entry: when every literal of the step's
// clause before the universal is false, the universal takes the value that falsifies its
// literal; the first entry that applies wins, 0 otherwise), a stand-in for the product's
// own extraction until it builds countermodels, so that the check can be measured on
// real functions.
//
// Usage: bench_countermodel_traces FORMULA...   (QDIMACS, plain; false formulas)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "certificate/reconstruct.h"
#include "certification/countermodel_check.h"
#include "inputs/qrp_reader.h"
#include "outcomes/reporter.h"

namespace {

constexpr double kBddSeconds = 30.0;

double cpu() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// DepQBF's user + system seconds writing the ASCII trace of formula to trace.
double depqbf(const std::string& formula, const std::string& trace, int& status) {
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen(trace.c_str(), "w", stdout) || !std::freopen("/dev/null", "w", stderr)) _exit(127);
        execlp("depqbf", "depqbf", "--trace", "--dep-man=simple", "--traditional-qcdcl", "--no-qbce-dynamic",
               formula.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int raw = 0;
    struct rusage usage {};
    wait4(pid, &raw, 0, &usage);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One entry of a universal's list: the first `length` literals of a step's clause (in
// variable order) are false -> the universal takes `value`.
struct Entry {
    int clause;
    int length;
    int value;
};

struct Extracted {
    std::vector<int> order{0};     // internal -> external
    std::vector<int> inputs{0};    // BDD index -> internal
    std::vector<int> universals;   // external, prefix order
    std::vector<int> inputIndex;   // external -> BDD index
    std::vector<char> kind;        // external -> 'a' / 'e'
    std::vector<std::vector<int>> clauses;
    std::vector<std::vector<Entry>> entries;  // external -> its list
    int maxVar = 0;
};

bool extract(const std::string& tracePath, Extracted& x) {
    qrp::Trace trace;
    if (!qrp::readIndex(tracePath, trace) || trace.sat || !qrp::readProof(tracePath, trace)) return false;
    x.maxVar = static_cast<int>(trace.numVars);
    for (const auto& b : trace.blocks)
        for (int v : b.vars) x.maxVar = std::max(x.maxVar, v);
    std::vector<int> pos(static_cast<std::size_t>(x.maxVar) + 1, 0);
    x.kind.assign(static_cast<std::size_t>(x.maxVar) + 1, 'e');
    std::vector<char> listed(x.kind.size(), 0);
    for (const auto& b : trace.blocks)
        for (int v : b.vars) {
            listed[v] = 1;
            x.kind[v] = b.kind;
        }
    for (int v = 1; v <= trace.numVars; ++v)
        if (!listed[v]) x.order.push_back(v);
    for (const auto& b : trace.blocks) x.order.insert(x.order.end(), b.vars.begin(), b.vars.end());
    x.inputIndex.assign(x.kind.size(), 0);
    for (std::size_t i = 1; i < x.order.size(); ++i) {
        int v = x.order[i];
        pos[v] = static_cast<int>(i);
        if (x.kind[v] == 'e') {
            x.inputs.push_back(static_cast<int>(i));
            x.inputIndex[v] = static_cast<int>(x.inputs.size()) - 1;
        } else {
            x.universals.push_back(v);
        }
    }
    x.entries.assign(x.kind.size(), {});
    auto literals = [&](std::size_t p) {
        return std::vector<int>(trace.lits.begin() + trace.litStart[p], trace.lits.begin() + trace.litStart[p + 1]);
    };
    auto proofPosition = [&](std::int32_t step) {
        return static_cast<std::size_t>(std::lower_bound(trace.proof.begin(), trace.proof.end(), step) -
                                        trace.proof.begin());
    };
    std::vector<signed char> mark(x.kind.size(), 0);
    for (std::size_t p = 0; p < trace.proof.size(); ++p) {
        std::int32_t step = trace.proof[p];
        int n = trace.antCount[step];
        if (n == 0) continue;
        // The clause before reduction: the antecedent, or the resolvent of two.
        std::vector<int> clause = literals(proofPosition(trace.ants[2 * step]));
        if (n == 2) {
            std::vector<int> other = literals(proofPosition(trace.ants[2 * step + 1]));
            for (int l : clause) mark[std::abs(l)] = l > 0 ? 1 : -1;
            int pivot = 0;
            for (int l : other)
                if (x.kind[std::abs(l)] == 'e' && mark[std::abs(l)] == (l > 0 ? -1 : 1)) pivot = std::abs(l);
            for (int l : clause) mark[std::abs(l)] = 0;
            std::vector<int> resolvent;
            for (int l : clause)
                if (std::abs(l) != pivot) {
                    resolvent.push_back(l);
                    mark[std::abs(l)] = 1;
                }
            for (int l : other)
                if (std::abs(l) != pivot && !mark[std::abs(l)]) resolvent.push_back(l);
            for (int l : resolvent) mark[std::abs(l)] = 0;
            clause.swap(resolvent);
        }
        std::vector<int> printed = literals(p);
        for (int l : printed) mark[std::abs(l)] = 1;
        std::sort(clause.begin(), clause.end(), [&](int a, int b) { return pos[std::abs(a)] < pos[std::abs(b)]; });
        int index = -1;
        for (std::size_t i = 0; i < clause.size(); ++i) {
            int l = clause[i];
            if (mark[std::abs(l)]) continue;  // kept: not reduced here
            if (index < 0) {
                x.clauses.push_back(clause);
                index = static_cast<int>(x.clauses.size()) - 1;
            }
            x.entries[std::abs(l)].push_back({index, static_cast<int>(i), l > 0 ? 0 : 1});
        }
        for (int l : printed) mark[std::abs(l)] = 0;
    }
    return true;
}

// The decision lists as one circuit; a condition's conjunction is extended, not rebuilt,
// for the longer prefixes later universals need.
std::shared_ptr<FunctionCircuit> circuitOf(const Extracted& x) {
    auto c = std::make_shared<FunctionCircuit>();
    c->numInputs = static_cast<int>(x.inputs.size()) - 1;
    c->output.assign(x.order.size(), FunctionCircuit::kNone);
    std::vector<std::uint32_t> f(x.kind.size(), FunctionCircuit::kFalse);
    std::vector<std::pair<int, std::uint32_t>> prefix(x.clauses.size(), {0, FunctionCircuit::kTrue});
    for (int u : x.universals) {
        std::uint32_t value = FunctionCircuit::kFalse;
        const std::vector<Entry>& list = x.entries[u];
        for (std::size_t i = list.size(); i-- > 0;) {
            const Entry& e = list[i];
            auto& [have, conjunction] = prefix[e.clause];
            int k = have <= e.length ? have : 0;
            std::uint32_t condition = have <= e.length ? conjunction : FunctionCircuit::kTrue;
            for (; k < e.length; ++k) {
                int l = x.clauses[e.clause][k];
                int v = std::abs(l);
                std::uint32_t lit = x.kind[v] == 'e' ? c->input(x.inputIndex[v]) : f[v];
                condition = c->conjoin(condition, l > 0 ? negateLiteral(lit) : lit);
            }
            if (e.length >= have) {
                have = e.length;
                conjunction = condition;
            }
            value = e.value ? negateLiteral(c->conjoin(negateLiteral(condition), negateLiteral(value)))
                            : c->conjoin(negateLiteral(condition), value);
        }
        f[u] = value;
        c->output[static_cast<std::size_t>(std::find(x.order.begin(), x.order.end(), u) - x.order.begin())] = value;
    }
    return c;
}

// The decision lists as BDDs, into the model; false when they take longer than kBddSeconds.
bool bddsOf(const Extracted& x, QBModel& m) {
    double start = cpu();
    m.manager->enableReordering(14);
    std::vector<bdd::Bdd> f(x.kind.size());
    for (int u : x.universals) {
        bdd::Bdd value = bdd::zero();
        const std::vector<Entry>& list = x.entries[u];
        for (std::size_t i = list.size(); i-- > 0;) {
            const Entry& e = list[i];
            bdd::Bdd condition = bdd::one();
            for (int k = e.length; k-- > 0;) {
                int l = x.clauses[e.clause][k];
                int v = std::abs(l);
                bdd::Bdd lit = x.kind[v] == 'e' ? bdd::ithVar(x.inputIndex[v]) : f[v];
                condition &= l > 0 ? !lit : lit;
            }
            value = bdd::ite(condition, e.value ? bdd::one() : bdd::zero(), value);
            if (cpu() - start > kBddSeconds) return false;
        }
        f[u] = value;
    }
    m.manager->disableReordering();
    for (int u : x.universals) {
        int internal = m.extToInt[u];
        m.posBdd[internal] = f[u];
        m.negBdd[internal] = !f[u];
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: bench_countermodel_traces FORMULA...\n");
        return 2;
    }
    for (int a = 1; a < argc; ++a) {
        std::string formula = argv[a];
        std::string name = formula.substr(formula.rfind('/') + 1);
        std::string trace = "/tmp/plumex-bench-countermodel.qrp";
        int status = 0;
        double anchor = depqbf(formula, trace, status);
        if (status != 20) {
            std::printf("%s: depqbf exit %i, not a false formula\n", name.c_str(), status);
            continue;
        }
        double start = cpu();
        Extracted x;
        if (!extract(trace, x)) {
            std::printf("%s: trace not read\n", name.c_str());
            continue;
        }
        std::remove(trace.c_str());
        std::shared_ptr<FunctionCircuit> circuit = circuitOf(x);
        std::printf("%s: depqbf %.2fs; countermodel %.2fs, %zu universals, %zu gates\n", name.c_str(), anchor,
                    cpu() - start, x.universals.size(), circuit->gates());
        for (bool withBdds : {false, true}) {
            auto m = newReplayModel(formula, static_cast<int>(x.order.size()), x.inputs, x.order, x.maxVar);
            m->polarity = Polarity::False;
            for (int u : x.universals) {
                m->posBdd[m->extToInt[u]] = bdd::Bdd();
                m->negBdd[m->extToInt[u]] = bdd::Bdd();
            }
            m->circuit = circuit;
            if (!withBdds) m->noBdds = "not built";
            double built = cpu();
            if (withBdds && !bddsOf(x, *m)) {
                std::printf("  BDDs given up after %.0fs\n", kBddSeconds);
                continue;
            }
            if (withBdds) std::printf("  BDDs built in %.2fs\n", cpu() - built);
            int result = certification::countermodelCheck(*m, formula, steps::silent());
            const char* form = withBdds ? "circuit and BDDs" : "circuit";
            std::printf("  check, %-16s %.2fs (result %i)  ratio %.2f\n", form, m->validityTime, result,
                        m->validityTime / anchor);
            std::printf("ROW|countermodel %s (%s)|check %.2fs|depqbf %.2fs|%.2f\n", name.c_str(), form,
                        m->validityTime, anchor, m->validityTime / anchor);
        }
    }
    return 0;
}
