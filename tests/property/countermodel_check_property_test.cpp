// The countermodel check against brute force, over random small formulas and random
// countermodels: correct ones (the universal player's winning strategy, found by
// evaluating the formula), the same with open scenarios, with flipped or random
// functions, with a universal left without a function, and with a function that reads
// a later existential; as BDDs, as a circuit, and as both. The check's verdict must be
// the oracle's, a named witness must satisfy every clause, and nothing holds for a true
// formula.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "certification/countermodel_check.h"
#include "tests/support/countermodel.h"
#include "tests/support/recorder.h"
#include "tests/support/run.h"

namespace {

using testsupport::Qbf;

constexpr signed char kOpen = -1;

// A formula with its variables in certificate order, and the brute force over it.
struct Game {
    Qbf f;
    std::vector<int> order;        // position -> external number (slot 0 unused)
    std::vector<int> existential;  // existential k (BDD index k + 1) -> external number
    std::vector<int> bitOf;        // external -> existential bit, -1 for a universal
    std::vector<int> universals;   // in prefix order

    explicit Game(Qbf formula) : f(std::move(formula)), order(f.order()) {
        bitOf.assign(static_cast<std::size_t>(f.maxVar()) + 1, -1);
        for (std::size_t i = 1; i < order.size(); ++i) {
            if (f.kindOf(order[i]) == 'e') {
                bitOf[order[i]] = static_cast<int>(existential.size());
                existential.push_back(order[i]);
            } else {
                universals.push_back(order[i]);
            }
        }
    }
    int scenarios() const { return 1 << existential.size(); }
    // The existentials' bits before universal u.
    unsigned earlierMask(int u) const {
        unsigned mask = 0;
        for (std::size_t i = 1; i < order.size() && order[i] != u; ++i)
            if (bitOf[order[i]] >= 0) mask |= 1u << bitOf[order[i]];
        return mask;
    }

    // values: external -> 0/1, for every variable.
    bool matrix(const std::vector<int>& values) const {
        for (const auto& c : f.clauses) {
            bool sat = false;
            for (int l : c) sat = sat || (values[std::abs(l)] == (l > 0 ? 1 : 0));
            if (!sat) return false;
        }
        return true;
    }
    bool value(std::size_t i, std::vector<int>& values) const {
        if (i == order.size()) return matrix(values);
        int v = order[i];
        bool existential = bitOf[v] >= 0;
        bool result = existential ? false : true;
        for (int b = 0; b < 2; ++b) {
            values[v] = b;
            bool r = value(i + 1, values);
            result = existential ? (result || r) : (result && r);
        }
        values[v] = 0;
        return result;
    }
    bool truth() const {
        std::vector<int> values(bitOf.size(), 0);
        return value(1, values);
    }
    // The universals' winning strategy from position i (where the formula is false):
    // table[u][scenario] for every scenario of the existentials.
    void strategy(std::size_t i, std::vector<int>& values, std::vector<std::vector<signed char>>& table,
                  std::mt19937& rng) const {
        if (i == order.size()) return;
        int v = order[i];
        if (bitOf[v] >= 0) {
            for (int b = 0; b < 2; ++b) {
                values[v] = b;
                strategy(i + 1, values, table, rng);
            }
            values[v] = 0;
            return;
        }
        int first = static_cast<int>(rng() & 1);
        int choice = first;
        values[v] = first;
        if (value(i + 1, values)) choice = 1 - first;
        values[v] = choice;
        std::size_t k = std::find(universals.begin(), universals.end(), v) - universals.begin();
        unsigned mask = earlierMask(v), here = 0;
        for (std::size_t j = 1; j < i; ++j)
            if (bitOf[order[j]] >= 0 && values[order[j]]) here |= 1u << bitOf[order[j]];
        for (int s = 0; s < scenarios(); ++s)
            if ((static_cast<unsigned>(s) & mask) == here) table[k][s] = static_cast<signed char>(choice);
        strategy(i + 1, values, table, rng);
        values[v] = 0;
    }
};

Qbf randomFormula(std::mt19937& rng) {
    Qbf f;
    f.numVars = 2 + static_cast<int>(rng() % 6);
    std::vector<int> vars;
    for (int v = 1; v <= f.numVars; ++v) vars.push_back(v);
    std::shuffle(vars.begin(), vars.end(), rng);
    // Some variables stay free (outermost existentials).
    std::size_t quantified = vars.size() - rng() % 2;
    char kind = (rng() & 1) ? 'a' : 'e';
    for (std::size_t i = 0; i < quantified;) {
        std::size_t n = std::min<std::size_t>(1 + rng() % 2, quantified - i);
        f.blocks.emplace_back(kind, std::vector<int>(vars.begin() + i, vars.begin() + i + n));
        i += n;
        kind = kind == 'a' ? 'e' : 'a';
    }
    int clauses = 2 + static_cast<int>(rng() % (3 * f.numVars));
    for (int c = 0; c < clauses; ++c) {
        std::vector<int> clause;
        int len = 1 + static_cast<int>(rng() % 3);
        for (int k = 0; k < len; ++k) {
            int v = 1 + static_cast<int>(rng() % f.numVars);
            int l = (rng() & 1) ? v : -v;
            if (std::find(clause.begin(), clause.end(), l) == clause.end() &&
                std::find(clause.begin(), clause.end(), -l) == clause.end())
                clause.push_back(l);
        }
        f.clauses.push_back(clause);
    }
    return f;
}

enum class Form { Bdd, Circuit, Both };
const char* name(Form f) { return f == Form::Bdd ? "bdd" : f == Form::Circuit ? "circuit" : "both"; }

// One countermodel: per universal (prefix order) a table over the existentials' scenarios
// (0, 1 or open), or none.
// A function given as a circuit of its own (a random and-inverter graph with
// multiplexers), in the numbering of the model's circuit inputs.
struct Piece {
    FunctionCircuit c;
    std::uint32_t out = FunctionCircuit::kFalse;
};

struct Candidate {
    std::vector<std::vector<signed char>> table;
    std::vector<char> has;
    Form form = Form::Bdd;
    std::string what;
    std::vector<Piece> pieces;  // per universal, when the functions come as circuits
};

bool evaluate(const FunctionCircuit& c, std::uint32_t literal, unsigned scenario) {
    std::vector<char> value(static_cast<std::size_t>(c.numInputs) + 1 + c.gates(), 0);
    for (int k = 1; k <= c.numInputs; ++k) value[k] = static_cast<char>(scenario >> (k - 1) & 1);
    auto of = [&](std::uint32_t l) { return static_cast<char>(value[l >> 1] ^ (l & 1)); };
    for (std::size_t g = 0; g < c.gates(); ++g) value[c.variableOf(g)] = of(c.left[g]) & of(c.right[g]);
    return of(literal) != 0;
}

// A random circuit over the inputs in mask, some of its gates multiplexers whose select
// is a gate; its table over every scenario.
Piece randomPiece(std::mt19937& rng, int inputs, unsigned mask, std::vector<signed char>& table) {
    Piece p;
    p.c.numInputs = inputs;
    std::vector<std::uint32_t> pool{FunctionCircuit::kFalse};
    for (int k = 1; k <= inputs; ++k)
        if (mask >> (k - 1) & 1) pool.push_back(p.c.input(k));
    auto any = [&]() { return pool[rng() % pool.size()] ^ static_cast<std::uint32_t>(rng() & 1); };
    for (int n = 0; n < 5; ++n) {
        std::uint32_t a = any(), b = any();
        if (rng() % 2) {
            std::uint32_t s = pool.back() ^ static_cast<std::uint32_t>(rng() & 1);
            std::uint32_t x = p.c.conjoin(s, a), y = p.c.conjoin(negateLiteral(s), b);
            pool.push_back(negateLiteral(p.c.conjoin(negateLiteral(x), negateLiteral(y))));
        } else {
            pool.push_back(p.c.conjoin(a, b));
        }
    }
    p.out = pool.back() ^ static_cast<std::uint32_t>(rng() & 1);
    for (std::size_t s = 0; s < table.size(); ++s)
        table[s] = static_cast<signed char>(evaluate(p.c, p.out, static_cast<unsigned>(s)));
    return p;
}

// Copies the gates of a piece into c; the literal of its output there.
std::uint32_t import(FunctionCircuit& c, const Piece& p) {
    std::vector<std::uint32_t> lit(static_cast<std::size_t>(p.c.numInputs) + 1 + p.c.gates());
    for (int k = 0; k <= p.c.numInputs; ++k) lit[k] = 2 * static_cast<std::uint32_t>(k);
    auto of = [&](std::uint32_t l) { return lit[l >> 1] ^ (l & 1); };
    for (std::size_t g = 0; g < p.c.gates(); ++g) lit[p.c.variableOf(g)] = c.conjoin(of(p.c.left[g]), of(p.c.right[g]));
    return of(p.out);
}

// The circuit literal of a table over the existentials in bits (Shannon expansion).
std::uint32_t circuitOf(FunctionCircuit& c, const std::vector<signed char>& t, const std::vector<int>& bits,
                        std::size_t at, unsigned scenario) {
    if (at == bits.size()) return t[scenario] == 1 ? FunctionCircuit::kTrue : FunctionCircuit::kFalse;
    unsigned bit = 1u << bits[at];
    std::uint32_t hi = circuitOf(c, t, bits, at + 1, scenario | bit);
    std::uint32_t lo = circuitOf(c, t, bits, at + 1, scenario & ~bit);
    std::uint32_t s = c.input(bits[at] + 1);
    std::uint32_t a = c.conjoin(s, hi), b = c.conjoin(negateLiteral(s), lo);
    return negateLiteral(c.conjoin(negateLiteral(a), negateLiteral(b)));
}

// The bits a table reads (its value changes with them), and whether it reads a later one.
bool readsLater(const Game& g, int u, const std::vector<signed char>& t) {
    unsigned earlier = g.earlierMask(u);
    for (int s = 0; s < g.scenarios(); ++s)
        for (int b = 0; b < static_cast<int>(g.existential.size()); ++b) {
            if (earlier >> b & 1) continue;
            signed char x = t[s], y = t[s ^ (1 << b)];
            if (x != kOpen && y != kOpen && x != y) return true;
        }
    return false;
}

struct Verdict {
    bool holds;
    bool dependencyFails;
};

// Under scenario s, whether some value of the universals without function leaves every
// clause satisfied (open scenarios count as either value).
bool satisfiable(const Game& g, const Candidate& c, int s) {
    std::vector<int> free;
    for (std::size_t k = 0; k < g.universals.size(); ++k)
        if (!c.has[k]) free.push_back(static_cast<int>(k));
    for (unsigned pick = 0; pick < (1u << free.size()); ++pick) {
        bool all = true;
        for (const auto& clause : g.f.clauses) {
            bool possible = false;
            for (int l : clause) {
                int v = std::abs(l);
                if (g.bitOf[v] >= 0) {
                    possible = possible || ((s >> g.bitOf[v] & 1) == (l > 0 ? 1 : 0));
                    continue;
                }
                std::size_t k = std::find(g.universals.begin(), g.universals.end(), v) - g.universals.begin();
                if (!c.has[k]) {
                    std::size_t f = std::find(free.begin(), free.end(), static_cast<int>(k)) - free.begin();
                    possible = possible || ((pick >> f & 1) == (l > 0 ? 1u : 0u));
                } else {
                    signed char t = c.table[k][s];
                    possible = possible || t == kOpen || t == (l > 0 ? 1 : 0);
                }
            }
            if (!possible) {
                all = false;
                break;
            }
        }
        if (all) return true;
    }
    return false;
}

Verdict oracle(const Game& g, const Candidate& c) {
    for (std::size_t k = 0; k < g.universals.size(); ++k)
        if (c.has[k] && readsLater(g, g.universals[k], c.table[k])) return {false, true};
    for (int s = 0; s < g.scenarios(); ++s)
        if (satisfiable(g, c, s)) return {false, false};
    return {true, false};
}

// The countermodel record of a candidate. A circuit of a function that reads a later
// existential reads it in its structure too.
std::unique_ptr<QBModel> build(const Game& g, const Candidate& c, const std::string& path) {
    auto m = testsupport::emptyCountermodel(g.f, path);
    auto circuit = std::make_shared<FunctionCircuit>();
    circuit->numInputs = m->numUniv;
    circuit->output.assign(static_cast<std::size_t>(m->numVars), FunctionCircuit::kNone);
    for (std::size_t k = 0; k < g.universals.size(); ++k) {
        if (!c.has[k]) continue;
        int x = m->extToInt[g.universals[k]];
        const std::vector<signed char>& t = c.table[k];
        if (c.form != Form::Circuit) {
            bdd::Bdd pos = bdd::zero(), neg = bdd::zero();
            for (int s = 0; s < g.scenarios(); ++s) {
                if (t[s] == kOpen) continue;
                bdd::Bdd minterm = bdd::one();
                for (std::size_t b = 0; b < g.existential.size(); ++b)
                    minterm &= (s >> b & 1) ? bdd::ithVar(static_cast<int>(b) + 1) : !bdd::ithVar(static_cast<int>(b) + 1);
                (t[s] == 1 ? pos : neg) |= minterm;
            }
            m->posBdd[x] = pos;
            m->negBdd[x] = neg;
        }
        if (c.form != Form::Bdd) {
            std::vector<int> bits;
            unsigned earlier = g.earlierMask(g.universals[k]);
            bool later = readsLater(g, g.universals[k], t);
            for (std::size_t b = 0; b < g.existential.size(); ++b)
                if (later || (earlier >> b & 1)) bits.push_back(static_cast<int>(b));
            circuit->output[x] = c.pieces.empty() ? circuitOf(*circuit, t, bits, 0, 0) : import(*circuit, c.pieces[k]);
        }
    }
    if (c.form != Form::Bdd) m->circuit = circuit;
    if (c.form == Form::Circuit) m->noBdds = "not built";
    return m;
}

// The scenario a witness names, when it lists exactly the formula's existentials (free
// ones first, then in prefix order); -1 otherwise.
int witnessScenario(const Game& g, const std::string& text) {
    const std::string head = "Satisfying assignment: ";
    if (text.rfind(head, 0) != 0) return -1;
    std::istringstream in(text.substr(head.size()));
    int scenario = 0;
    for (int e : g.existential) {
        int l = 0;
        if (!(in >> l) || std::abs(l) != e) return -1;
        if (l > 0) scenario |= 1 << g.bitOf[e];
    }
    int extra;
    return (in >> extra) ? -1 : scenario;
}

TEST(CountermodelCheckProperty, VerdictsAndWitnessesAgreeWithBruteForce) {
    std::mt19937 rng(20261209);
    testsupport::TempDir dir;
    int checked = 0, held = 0, witnesses = 0, dependencies = 0, falseFormulas = 0;
    for (int round = 0; round < 500; ++round) {
        Game g(randomFormula(rng));
        bool truth = g.truth();
        std::string path = dir.file("f" + std::to_string(round) + ".qdimacs");
        testsupport::writeFile(path, g.f.text());
        std::size_t U = g.universals.size();
        std::vector<std::vector<signed char>> winning(U, std::vector<signed char>(g.scenarios(), 0));
        if (!truth) {
            ++falseFormulas;
            std::vector<int> values(g.bitOf.size(), 0);
            g.strategy(1, values, winning, rng);
        }

        std::vector<Candidate> candidates;
        for (Form form : {Form::Bdd, Form::Circuit, Form::Both}) {
            Candidate c{winning, std::vector<char>(U, 1), form, "strategy", {}};
            if (!truth) candidates.push_back(c);
            // Open scenarios (BDDs only: a circuit is total).
            if (form == Form::Bdd) {
                Candidate open = c;
                open.what = "open scenarios";
                for (auto& t : open.table)
                    for (auto& x : t)
                        if (rng() % 3 == 0) x = kOpen;
                candidates.push_back(open);
            }
            // One function flipped where its earlier existentials take one value.
            if (U > 0) {
                Candidate flipped = c;
                flipped.what = "flipped";
                std::size_t k = rng() % U;
                unsigned mask = g.earlierMask(g.universals[k]);
                unsigned at = static_cast<unsigned>(rng()) & mask;
                for (int s = 0; s < g.scenarios(); ++s)
                    if ((static_cast<unsigned>(s) & mask) == at) flipped.table[k][s] ^= 1;
                candidates.push_back(flipped);
                // A universal without function.
                Candidate none = c;
                none.what = "no function";
                none.has[rng() % U] = 0;
                candidates.push_back(none);
                // Random functions of the earlier existentials.
                Candidate random = c;
                random.what = "random";
                for (std::size_t u = 0; u < U; ++u) {
                    unsigned mask = g.earlierMask(g.universals[u]);
                    std::vector<signed char> pick(g.scenarios());
                    for (auto& x : pick) x = static_cast<signed char>(rng() & 1);
                    for (int s = 0; s < g.scenarios(); ++s) random.table[u][s] = pick[static_cast<unsigned>(s) & mask];
                }
                candidates.push_back(random);
                // Random circuits with multiplexers (no BDDs of their own in circuit form).
                if (form != Form::Bdd) {
                    Candidate circuits = c;
                    circuits.what = "random circuits";
                    for (std::size_t u = 0; u < U; ++u)
                        circuits.pieces.push_back(randomPiece(rng, static_cast<int>(g.existential.size()),
                                                              g.earlierMask(g.universals[u]), circuits.table[u]));
                    candidates.push_back(circuits);
                }
                // A function that reads a later existential, when there is one.
                unsigned later = static_cast<unsigned>(g.scenarios() - 1) & ~mask;
                if (later != 0) {
                    Candidate late = c;
                    late.what = "reads a later existential";
                    int b = __builtin_ctz(later);
                    for (int s = 0; s < g.scenarios(); ++s) late.table[k][s] ^= static_cast<signed char>(s >> b & 1);
                    candidates.push_back(late);
                }
            }
        }

        for (const Candidate& c : candidates) {
            Verdict expected = oracle(g, c);
            testsupport::Recorder r;
            int result;
            {
                auto m = build(g, c, path);
                result = certification::countermodelCheck(*m, path, r);
            }
            ++checked;
            std::string context = g.f.text() + "countermodel: " + c.what + " (" + name(c.form) + ")\n" + r.text;
            ASSERT_EQ(result, expected.holds ? 1 : 0) << context;
            if (result) {
                ++held;
                ASSERT_FALSE(truth) << context;
                continue;
            }
            std::size_t from = r.text.find("100%] ");
            std::string line = from == std::string::npos ? "" : r.text.substr(from + 6);
            line = line.substr(0, line.rfind("[OK]"));
            if (expected.dependencyFails) {
                ++dependencies;
                ASSERT_NE(r.text.find("depends on a later existential"), std::string::npos) << context;
                continue;
            }
            int scenario = witnessScenario(g, line);
            ASSERT_GE(scenario, 0) << context;
            ASSERT_TRUE(satisfiable(g, c, scenario)) << context;
            ++witnesses;
        }
    }
    std::printf("%i countermodels of %i false formulas checked: %i held, %i witnesses, %i dependency failures\n",
                checked, falseFormulas, held, witnesses, dependencies);
    EXPECT_GT(held, 100);
    EXPECT_GT(witnesses, 100);
    EXPECT_GT(dependencies, 20);
}

}  // namespace
