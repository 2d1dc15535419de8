// Countermodel circuits of random false formulas: the universal player's winning
// strategy, found by brute force, is written as an AIGER circuit (ASCII with its gates in
// a random order, or binary) whose inputs are the existentials and whose outputs are
// the universals. Read by Plumex, every function is the table that was written, its
// BDDs and its and-inverter graph agree, and the countermodel falsifies the matrix under
// every existential assignment (brute force, none of Plumex's checks). plumex-aigercheck
// agrees with brute force on it and on planted faults: a function with one value flipped,
// and a function that reads an existential quantified after its universal, which is never
// accepted.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "certificate/circuit.h"
#include "tests/support/run.h"

namespace {

using testsupport::TempDir;
using testsupport::writeFile;

// A formula over variables 1..n: `order` lists them as the certificate numbers them
// (free variables first, then the prefix), `quantifier` gives each one's.
struct Qbf {
    int n = 0;
    std::vector<int> order;
    std::vector<char> quantifier;     // by variable
    std::vector<int> position;        // by variable: its place in order
    std::vector<std::vector<int>> clauses;
    std::string text;

    bool matrix(const std::vector<bool>& value) const {
        for (const auto& clause : clauses) {
            bool sat = false;
            for (int l : clause) sat = sat || value[std::abs(l)] == (l > 0);
            if (!sat) return false;
        }
        return true;
    }
    // The game from place i of the order on, the earlier places set in value.
    bool truth(std::size_t i, std::vector<bool>& value) const {
        if (i == order.size()) return matrix(value);
        int v = order[i];
        bool any = false, all = true;
        for (bool b : {false, true}) {
            value[v] = b;
            bool t = truth(i + 1, value);
            any = any || t;
            all = all && t;
        }
        return quantifier[v] == 'e' ? any : all;
    }
};

Qbf randomQbf(std::mt19937& rng) {
    Qbf f;
    f.n = 3 + static_cast<int>(rng() % 6);
    std::vector<int> vars;
    for (int v = 1; v <= f.n; ++v) vars.push_back(v);
    std::shuffle(vars.begin(), vars.end(), rng);
    f.quantifier.assign(f.n + 1, 'e');
    // The first variable of the shuffle is free now and then: an outermost existential.
    std::size_t start = rng() % 3 == 0 ? 1 : 0;
    std::string prefix;
    char last = 0;
    for (std::size_t i = start; i < vars.size(); ++i) {
        char q = rng() % 2 ? 'a' : 'e';
        f.quantifier[vars[i]] = q;
        if (q != last) prefix += (last ? " 0\n" : "") + std::string(1, q);
        prefix += " " + std::to_string(vars[i]);
        last = q;
    }
    prefix += " 0\n";
    f.order = vars;
    f.position.assign(f.n + 1, 0);
    for (std::size_t i = 0; i < vars.size(); ++i) f.position[vars[i]] = static_cast<int>(i);
    int m = f.n + static_cast<int>(rng() % (3 * f.n));
    for (int c = 0; c < m; ++c) {
        std::vector<int> clause;
        int width = 1 + static_cast<int>(rng() % 3);
        for (int k = 0; k < width; ++k) {
            int v = 1 + static_cast<int>(rng() % f.n);
            clause.push_back(rng() % 2 ? v : -v);
        }
        f.clauses.push_back(clause);
    }
    f.text = "p cnf " + std::to_string(f.n) + " " + std::to_string(m) + "\n" + prefix;
    for (const auto& clause : f.clauses) {
        for (int l : clause) f.text += std::to_string(l) + " ";
        f.text += "0\n";
    }
    return f;
}

// A universal's function: a table over the existentials before it (bit k: the k-th of
// them in order).
struct Function {
    int universal;
    std::vector<int> inputs;
    std::vector<bool> table;

    bool at(const std::vector<bool>& value) const {
        std::size_t index = 0;
        for (std::size_t k = 0; k < inputs.size(); ++k) index |= static_cast<std::size_t>(value[inputs[k]]) << k;
        return table[index];
    }
};

// The universal player's strategy: at every universal, a value that keeps the rest of the
// game false, for every assignment of the existentials before it (the earlier universals
// follow their own functions). The formula must be false.
std::vector<Function> strategy(const Qbf& f, std::mt19937& rng) {
    std::vector<Function> fs;
    for (std::size_t i = 0; i < f.order.size(); ++i) {
        int u = f.order[i];
        if (f.quantifier[u] != 'a') continue;
        Function fn{u, {}, {}};
        for (std::size_t j = 0; j < i; ++j)
            if (f.quantifier[f.order[j]] == 'e') fn.inputs.push_back(f.order[j]);
        for (std::size_t bits = 0; bits < (std::size_t{1} << fn.inputs.size()); ++bits) {
            std::vector<bool> value(f.n + 1, false);
            for (std::size_t k = 0; k < fn.inputs.size(); ++k) value[fn.inputs[k]] = (bits >> k) & 1;
            for (const Function& earlier : fs) value[earlier.universal] = earlier.at(value);
            std::vector<bool> falsifying;
            for (bool b : {false, true}) {
                value[u] = b;
                if (!f.truth(i + 1, value)) falsifying.push_back(b);
            }
            if (falsifying.empty()) ADD_FAILURE() << "no falsifying value at universal " << u << "\n" << f.text;
            fn.table.push_back(falsifying.empty() ? false : falsifying[rng() % falsifying.size()]);
        }
        fs.push_back(fn);
    }
    return fs;
}

// The countermodel holds: under every assignment of the existentials the universals'
// functions falsify the matrix.
bool holds(const Qbf& f, const std::vector<Function>& fs) {
    std::vector<int> existentials;
    for (int v : f.order)
        if (f.quantifier[v] == 'e') existentials.push_back(v);
    for (std::size_t bits = 0; bits < (std::size_t{1} << existentials.size()); ++bits) {
        std::vector<bool> value(f.n + 1, false);
        for (std::size_t k = 0; k < existentials.size(); ++k) value[existentials[k]] = (bits >> k) & 1;
        for (const Function& fn : fs) value[fn.universal] = fn.at(value);
        if (f.matrix(value)) return false;
    }
    return true;
}

// An and-inverter graph under construction: inputs are variables 1..I, gates follow in
// the order they are made (children first), equal gates shared.
struct Aig {
    int inputs = 0;
    std::vector<std::pair<unsigned, unsigned>> gates;
    std::map<std::pair<unsigned, unsigned>, unsigned> made;

    unsigned conj(unsigned a, unsigned b) {
        if (a > b) std::swap(a, b);
        if (a == 0 || a == (b ^ 1)) return 0;
        if (a == 1 || a == b) return b;
        auto [it, fresh] = made.try_emplace({a, b}, 0);
        if (fresh) {
            gates.push_back({b, a});
            it->second = 2 * static_cast<unsigned>(inputs + gates.size());
        }
        return it->second;
    }
    unsigned ite(unsigned c, unsigned t, unsigned e) { return conj(conj(c, t) ^ 1, conj(c ^ 1, e) ^ 1) ^ 1; }
    // The table over these input literals, as a tree of multiplexers (shared where the
    // halves repeat).
    unsigned table(const std::vector<bool>& t, const std::vector<unsigned>& lits, std::size_t from, std::size_t size,
                   std::size_t depth) {
        if (size == 1) return t[from] ? 1 : 0;
        std::size_t half = size / 2;
        unsigned low = table(t, lits, from, half, depth - 1), high = table(t, lits, from + half, half, depth - 1);
        return low == high ? low : ite(lits[depth - 1], high, low);
    }
};

// A countermodel circuit: an input per existential (in a random order), an output per
// universal; binary or ASCII with the gates shuffled.
std::string writeCircuit(const Qbf& f, const std::vector<Function>& fs, bool binary, std::mt19937& rng,
                         int laterReader = 0) {
    Aig g;
    std::vector<int> existentials;
    for (int v : f.order)
        if (f.quantifier[v] == 'e') existentials.push_back(v);
    std::shuffle(existentials.begin(), existentials.end(), rng);
    g.inputs = static_cast<int>(existentials.size());
    std::vector<unsigned> literalOf(f.n + 1, 0);
    for (std::size_t k = 0; k < existentials.size(); ++k) literalOf[existentials[k]] = 2 * static_cast<unsigned>(k + 1);
    std::vector<unsigned> outputs;
    for (const Function& fn : fs) {
        std::vector<unsigned> lits;
        for (int x : fn.inputs) lits.push_back(literalOf[x]);
        unsigned out = g.table(fn.table, lits, 0, fn.table.size(), lits.size());
        // The planted fault: the function reads an existential quantified after it.
        if (fn.universal == laterReader)
            for (int x : f.order)
                if (f.quantifier[x] == 'e' && f.position[x] > f.position[fn.universal]) {
                    out = g.ite(literalOf[x], out, out ^ 1);
                    break;
                }
        outputs.push_back(out);
    }
    const std::size_t m = existentials.size() + g.gates.size();
    std::string text = std::string(binary ? "aig " : "aag ") + std::to_string(m) + " " +
                       std::to_string(existentials.size()) + " 0 " + std::to_string(outputs.size()) + " " +
                       std::to_string(g.gates.size()) + "\n";
    if (!binary)
        for (std::size_t k = 0; k < existentials.size(); ++k) text += std::to_string(2 * (k + 1)) + "\n";
    for (unsigned o : outputs) text += std::to_string(o) + "\n";
    if (binary) {
        auto delta = [&text](unsigned x) {
            while (x >= 0x80) {
                text += static_cast<char>((x & 0x7f) | 0x80);
                x >>= 7;
            }
            text += static_cast<char>(x);
        };
        for (std::size_t k = 0; k < g.gates.size(); ++k) {
            unsigned lhs = 2 * static_cast<unsigned>(existentials.size() + k + 1);
            delta(lhs - g.gates[k].first);
            delta(g.gates[k].first - g.gates[k].second);
        }
    } else {
        std::vector<std::size_t> shuffled(g.gates.size());
        for (std::size_t k = 0; k < shuffled.size(); ++k) shuffled[k] = k;
        std::shuffle(shuffled.begin(), shuffled.end(), rng);
        for (std::size_t k : shuffled)
            text += std::to_string(2 * (existentials.size() + k + 1)) + " " + std::to_string(g.gates[k].first) + " " +
                    std::to_string(g.gates[k].second) + "\n";
    }
    for (std::size_t k = 0; k < existentials.size(); ++k) text += "i" + std::to_string(k) + " " + std::to_string(existentials[k]) + "\n";
    for (std::size_t k = 0; k < fs.size(); ++k) text += "o" + std::to_string(k) + " " + std::to_string(fs[k].universal) + "\n";
    return text;
}

// The value of a BDD of the model, or of its graph, under an existential assignment.
bool bddAt(const QBModel& m, const bdd::Bdd& f, const std::vector<bool>& value) {
    std::vector<bdd::Bdd> literals;
    for (int k = 1; k <= m.numUniv; ++k) {
        bdd::Bdd x = bdd::ithVar(k);
        literals.push_back(value[m.intToExt[m.univVar[k]]] ? x : !x);
    }
    return bdd::cofactor(f, bdd::conjunction(literals)).isOne();
}

bool graphAt(const QBModel& m, std::uint32_t literal, const std::vector<bool>& value) {
    const FunctionCircuit& c = *m.circuit;
    std::vector<char> v(static_cast<std::size_t>(c.numInputs) + 1 + c.gates(), 0);
    for (int k = 1; k <= c.numInputs; ++k) v[k] = value[m.intToExt[m.univVar[k]]];
    auto of = [&v](std::uint32_t l) { return static_cast<bool>(v[l >> 1] ^ (l & 1)); };
    for (std::size_t g = 0; g < c.gates(); ++g) v[c.variableOf(g)] = of(c.left[g]) && of(c.right[g]);
    return of(literal);
}

// Plumex's reading of the circuit gives back every function, in BDDs and in its graph;
// and by brute force over the values read, the countermodel holds as `expected` says.
void expectReadBack(const std::string& circuit, const std::string& formula, const Qbf& f,
                    const std::vector<Function>& fs, const CircuitOptions& options, bool expected) {
    ModelResult read = certificateFromCircuit(circuit, formula, options);
    ASSERT_TRUE(read) << read.message() << "\n" << f.text << testsupport::readFile(circuit);
    const QBModel& m = **read;
    ASSERT_TRUE(m.countermodel());
    ASSERT_TRUE(m.circuit);
    bool bdds = m.noBdds.empty();
    std::vector<int> existentials;
    for (int v : f.order)
        if (f.quantifier[v] == 'e') existentials.push_back(v);
    bool falsifiedEverywhere = true;
    for (std::size_t bits = 0; bits < (std::size_t{1} << existentials.size()); ++bits) {
        std::vector<bool> value(f.n + 1, false);
        for (std::size_t k = 0; k < existentials.size(); ++k) value[existentials[k]] = (bits >> k) & 1;
        for (const Function& fn : fs) {
            int x = m.extToInt[fn.universal];
            bool want = fn.at(value);
            bool got = graphAt(m, m.circuit->output[x], value);
            ASSERT_EQ(got, want) << "universal " << fn.universal << "\n" << f.text;
            if (bdds) {
                ASSERT_EQ(bddAt(m, m.posBdd[x], value), want) << "universal " << fn.universal << "\n" << f.text;
                ASSERT_EQ(bddAt(m, m.negBdd[x], value), !want) << "universal " << fn.universal << "\n" << f.text;
            } else {
                ASSERT_TRUE(m.posBdd[x].isNull());
            }
            value[fn.universal] = got;
        }
        falsifiedEverywhere = falsifiedEverywhere && !f.matrix(value);
    }
    EXPECT_EQ(falsifiedEverywhere, expected) << f.text;
}

TEST(CountermodelCircuits, StrategiesOfFalseFormulasReadBackAndCheck) {
    const std::string checker = testsupport::binary("plumex-aigercheck");
    const bool haveChecker = testsupport::fileExists(checker);
    if (!haveChecker) std::printf("plumex-aigercheck not built (Debian package libcadical-dev): its checks are skipped\n");
    TempDir dir;
    std::mt19937 rng(2026);
    int formulas = 0, flippedHolding = 0, flippedFailing = 0, later = 0;
    while (formulas < 150) {
        Qbf f = randomQbf(rng);
        std::vector<bool> value(f.n + 1, false);
        if (f.truth(0, value)) continue;
        bool anyUniversal = false, satisfiable = false;
        for (int v = 1; v <= f.n; ++v) anyUniversal = anyUniversal || f.quantifier[v] == 'a';
        // A matrix that nothing satisfies makes every countermodel hold: most are left out.
        for (unsigned bits = 0; bits < (1u << f.n) && !satisfiable; ++bits) {
            for (int v = 1; v <= f.n; ++v) value[v] = (bits >> (v - 1)) & 1;
            satisfiable = f.matrix(value);
        }
        if (!anyUniversal || (!satisfiable && rng() % 8 != 0)) continue;
        ++formulas;
        std::string formula = dir.file("f.qdimacs");
        writeFile(formula, f.text);
        std::vector<Function> fs = strategy(f, rng);
        ASSERT_TRUE(holds(f, fs)) << f.text;
        bool binary = rng() % 2;
        std::string circuit = dir.file(binary ? "c.aig" : "c.aag");
        writeFile(circuit, writeCircuit(f, fs, binary, rng));
        CircuitOptions options;
        options.reorderMethod = rng() % 2 ? 4 : 1;
        if (rng() % 4 == 0) options.countermodelNodes = 1;  // the graph alone
        expectReadBack(circuit, formula, f, fs, options, true);
        if (::testing::Test::HasFatalFailure()) return;
        if (haveChecker) {
            testsupport::RunResult r = testsupport::run({checker, formula, circuit});
            ASSERT_EQ(r.status, 3) << r.out << r.err << f.text << testsupport::readFile(circuit);
        }

        // A flipped value, one that breaks the countermodel where there is one (strategies
        // of very false formulas survive most flips): the checker says what brute force says.
        std::vector<std::pair<std::size_t, std::size_t>> entries;
        for (std::size_t k = 0; k < fs.size(); ++k)
            for (std::size_t e = 0; e < fs[k].table.size(); ++e) entries.push_back({k, e});
        std::shuffle(entries.begin(), entries.end(), rng);
        std::vector<Function> flipped;
        bool stillHolds = true;
        for (const auto& [k, e] : entries) {
            flipped = fs;
            flipped[k].table[e] = !flipped[k].table[e];
            stillHolds = holds(f, flipped);
            if (!stillHolds) break;
        }
        (stillHolds ? flippedHolding : flippedFailing)++;
        writeFile(circuit, writeCircuit(f, flipped, binary, rng));
        expectReadBack(circuit, formula, f, flipped, options, stillHolds);
        if (::testing::Test::HasFatalFailure()) return;
        if (haveChecker) {
            testsupport::RunResult r = testsupport::run({checker, formula, circuit});
            EXPECT_EQ(r.status, stillHolds ? 3 : 1) << r.out << r.err << f.text << testsupport::readFile(circuit);
            if (!stillHolds) {
                EXPECT_NE(r.out.find("s INVALID\nc every clause is satisfied"), std::string::npos) << r.out;
            }
        }

        // A function that reads an existential after its universal: never accepted.
        int reader = 0;
        for (const Function& fn : fs)
            for (int x : f.order)
                if (!reader && f.quantifier[x] == 'e' && f.position[x] > f.position[fn.universal]) reader = fn.universal;
        if (reader && haveChecker) {
            ++later;
            writeFile(circuit, writeCircuit(f, fs, binary, rng, reader));
            testsupport::RunResult r = testsupport::run({checker, formula, circuit});
            EXPECT_EQ(r.status, 1) << r.out << r.err << f.text << testsupport::readFile(circuit);
            EXPECT_NE(r.out.find("c the function of universal " + std::to_string(reader) + " reads existential"),
                      std::string::npos)
                << r.out;
        }
    }
    std::printf("%d false formulas; flipped values: %d still hold, %d fail; %d read a later existential\n", formulas,
                flippedHolding, flippedFailing, later);
    EXPECT_GT(flippedFailing, 60);
    EXPECT_GT(later, 20);
}

}  // namespace
