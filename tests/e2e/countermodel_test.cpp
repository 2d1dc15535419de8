// Countermodels end to end: random false formulas traced by DepQBF become countermodels
// that Plumex certifies (outcome 11), and each is checked again here by brute force on
// the AIGER file Plumex writes of it; the QBM file, queries, narrowing, the partial
// certificate and batch runs serve a countermodel as they serve a certificate.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run.h"

namespace {

using testsupport::plumex;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

const char* const kDepqbf = "/usr/bin/depqbf";

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Formula {
    std::vector<std::pair<char, std::vector<int>>> blocks;
    std::vector<std::vector<int>> clauses;
    int numVars = 0;
};

Formula parseFormula(const std::string& text) {
    Formula f;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream ls(line);
        std::string first;
        if (!(ls >> first) || first == "c") continue;
        if (first == "p") {
            std::string cnf;
            ls >> cnf >> f.numVars;
            continue;
        }
        std::vector<int> nums;
        if (first == "a" || first == "e") {
            for (int v; ls >> v && v != 0;) nums.push_back(v);
            f.blocks.emplace_back(first[0], nums);
            continue;
        }
        nums.push_back(std::stoi(first));
        for (int v; ls >> v;) nums.push_back(v);
        if (!nums.empty() && nums.back() == 0) nums.pop_back();
        f.clauses.push_back(nums);
    }
    return f;
}

// An ASCII AIGER file: inputs and outputs named by their symbols (QDIMACS numbers).
struct Aag {
    std::vector<unsigned> inputs, outputs;
    std::vector<int> inputName, outputName;
    std::map<unsigned, std::pair<unsigned, unsigned>> gates;
    // The value of a literal under values of the input literals.
    bool value(unsigned lit, std::map<unsigned, bool>& memo) const {
        unsigned var = lit >> 1;
        bool v;
        if (var == 0) {
            v = false;
        } else if (auto m = memo.find(var); m != memo.end()) {
            v = m->second;
        } else {
            const auto& g = gates.at(var);
            v = value(g.first, memo) && value(g.second, memo);
            memo[var] = v;
        }
        return (lit & 1) ? !v : v;
    }
    // The inputs in the cone of a literal.
    void cone(unsigned lit, std::vector<unsigned>& seen) const {
        unsigned var = lit >> 1;
        if (var == 0) return;
        for (unsigned s : seen)
            if (s == var) return;
        seen.push_back(var);
        if (auto g = gates.find(var); g != gates.end()) {
            cone(g->second.first, seen);
            cone(g->second.second, seen);
        }
    }
};

Aag parseAag(const std::string& text) {
    Aag a;
    std::istringstream in(text);
    std::string kind;
    unsigned m, i, l, o, n;
    in >> kind >> m >> i >> l >> o >> n;
    a.inputs.resize(i);
    a.outputs.resize(o);
    for (unsigned& x : a.inputs) in >> x;
    for (unsigned& x : a.outputs) in >> x;
    for (unsigned k = 0; k < n; ++k) {
        unsigned lhs, r0, r1;
        in >> lhs >> r0 >> r1;
        a.gates[lhs >> 1] = {r0, r1};
    }
    a.inputName.assign(i, 0);
    a.outputName.assign(o, 0);
    for (std::string sym; in >> sym && sym != "c";) {
        int name;
        in >> name;
        (sym[0] == 'i' ? a.inputName : a.outputName)[std::stoul(sym.substr(1))] = name;
    }
    return a;
}

// Brute force: every universal's function reads only existentials quantified before it,
// and under every assignment of the existentials some clause is false.
std::string countermodelFault(const Formula& f, const Aag& a) {
    std::map<int, int> blockOf;  // free variables: block 0
    for (std::size_t b = 0; b < f.blocks.size(); ++b)
        for (int v : f.blocks[b].second) blockOf[v] = static_cast<int>(b) + 1;
    std::map<unsigned, int> inputVar;  // AIGER variable -> existential
    for (std::size_t k = 0; k < a.inputs.size(); ++k) inputVar[a.inputs[k] >> 1] = a.inputName[k];
    std::map<int, unsigned> function;  // universal -> literal
    for (std::size_t k = 0; k < a.outputs.size(); ++k) {
        int u = a.outputName[k];
        function[u] = a.outputs[k];
        std::vector<unsigned> seen;
        a.cone(a.outputs[k], seen);
        for (unsigned var : seen)
            if (inputVar.count(var) && blockOf[inputVar[var]] >= blockOf[u])
                return "universal " + std::to_string(u) + " reads existential " + std::to_string(inputVar[var]);
    }
    std::vector<int> existentials;
    for (int v = 1; v <= f.numVars; ++v)
        if (!blockOf.count(v) || f.blocks[blockOf[v] - 1].first == 'e') existentials.push_back(v);
    for (unsigned long bits = 0; bits < (1ul << existentials.size()); ++bits) {
        std::map<int, bool> value;
        std::map<unsigned, bool> memo;
        for (std::size_t k = 0; k < existentials.size(); ++k) value[existentials[k]] = (bits >> k) & 1;
        for (const auto& [var, e] : inputVar) memo[var] = value[e];
        for (const auto& [u, lit] : function) value[u] = a.value(lit, memo);
        bool allSatisfied = true;
        for (const auto& c : f.clauses) {
            bool sat = false;
            for (int l : c) sat = sat || (value[std::abs(l)] == (l > 0));
            allSatisfied = allSatisfied && sat;
        }
        if (allSatisfied) return "every clause holds under existential assignment " + std::to_string(bits);
    }
    return "";
}

class Countermodels : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!testsupport::fileExists(kDepqbf)) GTEST_SKIP() << "depqbf is missing: install the Debian package depqbf";
    }
    TempDir dir;

    // A random formula from the log writer's generator; DepQBF's answer with its trace.
    int randomFormula(int seed, const std::string& name, bool binary) {
        std::string gen = testsupport::binary("plumex-logwriter");
        testsupport::run({gen, "gen", "--vars", "9", "--clauses", std::to_string(14 + seed % 12), "--blocks",
                          std::to_string(2 + seed % 3), "--first", seed % 2 ? "a" : "e", "--seed",
                          std::to_string(seed), "-o", dir.file(name + ".qdimacs")});
        return trace(name, binary);
    }
    int trace(const std::string& name, bool binary) {
        std::string command = std::string(kDepqbf) + (binary ? " --trace=bqrp" : " --trace") +
                              " --dep-man=simple --traditional-qcdcl --no-qbce-dynamic '" + dir.file(name + ".qdimacs") +
                              "' > '" + dir.file(name + ".qrp") + "' 2>/dev/null";
        return testsupport::run({"/bin/sh", "-c", command}).status;
    }
};

TEST_F(Countermodels, FalseTracesGiveCountermodelsThatHoldByBruteForce) {
    int falseOnes = 0;
    for (int seed = 1; seed <= 80 && falseOnes < 24; ++seed) {
        bool binary = seed % 2 == 0;
        std::string name = "r" + std::to_string(seed);
        if (randomFormula(seed, name, binary) != 20) continue;
        ++falseOnes;
        testsupport::RunResult r = plumex({"-dump", "qbm", "aag", name + ".qrp"}, dir.path());
        ASSERT_EQ(r.status, 11) << name << "\n" << r.out;
        EXPECT_TRUE(has(r.out, "Countermodel is VALID")) << r.out;
        EXPECT_TRUE(has(r.out, "[OK, VALID, ")) << r.out;
        Formula f = parseFormula(readFile(dir.file(name + ".qdimacs")));
        EXPECT_EQ(countermodelFault(f, parseAag(readFile(dir.file(name + ".qbm.aag")))), "") << name;
        // The QBM file reads back as a countermodel, and its AIGER file as a circuit.
        EXPECT_TRUE(has(readFile(dir.file(name + ".qbm")), "# QBM file, 1.4\n# polarity: countermodel\n"));
        EXPECT_EQ(plumex({"-check", name + ".qbm"}, dir.path()).status, 11) << name;
        r = plumex({"-qbf", name + ".qdimacs", name + ".qbm.aag"}, dir.path());
        EXPECT_EQ(r.status, 11) << name << "\n" << r.out;
    }
    EXPECT_GE(falseOnes, 10);
}

TEST_F(Countermodels, AWrongCountermodelIsNeverValidAndNamesAWitness) {
    // forall 1 exists 2: (1 | 2) & (1 | -2) is false, and universal 1 must be false.
    writeFile(dir.file("f.qdimacs"), "p cnf 2 2\na 1 0\ne 2 0\n1 2 0\n1 -2 0\n");
    writeFile(dir.file("right.aag"), "aag 1 0 0 1 0\n0\no0 1\n");
    writeFile(dir.file("wrong.aag"), "aag 1 0 0 1 0\n1\no0 1\n");
    writeFile(dir.file("late.aag"), "aag 2 1 0 1 0\n2\n2\ni0 2\no0 1\n");
    EXPECT_EQ(plumex({"-qbf", "f.qdimacs", "right.aag"}, dir.path()).status, 11);
    testsupport::RunResult r = plumex({"-qbf", "f.qdimacs", "wrong.aag"}, dir.path());
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_TRUE(has(r.out, "Satisfying assignment: ")) << r.out;
    EXPECT_TRUE(has(r.out, "Countermodel is INVALID")) << r.out;
    r = plumex({"-qbf", "f.qdimacs", "late.aag"}, dir.path());
    EXPECT_EQ(r.status, 20) << r.out;
}

TEST_F(Countermodels, QueriesNarrowingAndPartialCertificatesServeCountermodels) {
    // forall 1 exists 2 forall 3 exists 4: false; 1 = false and 3 = 2 refute it.
    writeFile(dir.file("g.qdimacs"), "p cnf 4 3\na 1 0\ne 2 0\na 3 0\ne 4 0\n1 2 3 0\n1 -2 -3 0\n1 4 -4 2 0\n");
    writeFile(dir.file("g.aag"), "aag 2 1 0 2 0\n4\n0\n4\ni0 2\no0 1\no1 3\n");
    testsupport::RunResult r = plumex({"-dump", "qdc", "-qbf", "g.qdimacs", "g.aag"}, dir.path());
    ASSERT_EQ(r.status, 11) << r.out;
    EXPECT_EQ(readFile(dir.file("g.qdc")).substr(readFile(dir.file("g.qdc")).find("s cnf")), "s cnf 0 5 [unknown]\nv -1 \n");
    // A direct query names a universal and gives the existentials: 3 where 2 is true.
    EXPECT_EQ(plumex({"-eval", "3(2)", "-v", "0", "g.qbm"}, dir.path()).status, 1);
    EXPECT_EQ(plumex({"-eval", "3(-2)", "-v", "0", "g.qbm"}, dir.path()).status, 0);
    // An existential is no function of a countermodel.
    r = plumex({"-eval", "2(-2)", "g.qbm"}, dir.path());
    EXPECT_TRUE(has(r.out, "Bad argument type")) << r.out;
    r = plumex({"-var", "3", "-dump", "qbm", "g.qbm"}, dir.path());
    EXPECT_TRUE(has(readFile(dir.file("g.qbm")), "# complete: NO\n")) << r.out;
    EXPECT_TRUE(has(readFile(dir.file("g.qbm")), "# universals[1]: 3 \n"));
}

TEST_F(Countermodels, BatchRunsCountACountermodelThatHoldsAsASuccess) {
    writeFile(dir.file("t.qdimacs"), "p cnf 2 2\na 1 0\ne 2 0\n1 2 0\n-1 -2 0\n");
    writeFile(dir.file("f.qdimacs"), "p cnf 2 2\na 1 0\ne 2 0\n1 2 0\n1 -2 0\n");
    ASSERT_EQ(trace("t", false), 10);
    ASSERT_EQ(trace("f", true), 20);
    testsupport::RunResult r = plumex({"."}, dir.path());
    EXPECT_TRUE(has(r.out, "2/2 instances successfully processed.")) << r.out;
    EXPECT_EQ(r.status, 2);
}

}  // namespace
