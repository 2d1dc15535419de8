// The maxterm CNF store and the DOT drawing: the reference library's CNF samples byte
// for byte, CNF files that mean the function, DOT drawings with the reference layout
// (compared by structure: node names and the order inside a rank are free) that
// graphviz accepts.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "bdd/dddmp.h"
#include "tests/unit/bdd_dddmp_samples.h"

using namespace dddmptest;

namespace {

std::string storeCnf(const bdd::Bdd& f, const std::vector<int>& cnfIds, int* clauses) {
    File out(std::tmpfile());
    int added = -1;
    EXPECT_TRUE(dddmp::storeCnfMaxterm(out.get(), f, cnfIds, clauses, &added));
    EXPECT_EQ(added, 0);
    return contents(out.get());
}

// Value of the CNF's clauses under an assignment of the DIMACS variables.
bool cnfValue(const std::string& text, const std::map<int, bool>& value) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == 'c' || line[0] == 'p') continue;
        std::istringstream lits(line);
        int lit = 0;
        bool sat = false;
        while (lits >> lit && lit != 0) sat = sat || (lit > 0 ? value.at(lit) : !value.at(-lit));
        if (!sat) return false;
    }
    return true;
}

}  // namespace

TEST(DddmpCnf, SamplesAreReproducedByteForByte) {
    std::vector<std::string> files = samples(".cnf");
    ASSERT_EQ(files.size(), 10u);
    for (const std::string& file : files) {
        Json side = readJson(sidecarOf(file));
        bdd::Manager manager(side["nvars"].integer());
        manager.setOrder(side["order"].ints());
        bdd::Bdd f = fromTruthTable(side["roots"][0]["truth_table"].text, side["nvars"].integer());
        int clauses = -1;
        EXPECT_EQ(storeCnf(f, side["cnf_ids"].ints(), &clauses), testsupport::readFile(samplesDir() + file)) << file;
        EXPECT_EQ(clauses, side["clauses_in_file"].integer()) << file;
    }
}

TEST(DddmpCnf, ClausesMeanTheFunctionAndTheStreamEndsAtTheEnd) {
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        int n = 2 + round % 7;
        bdd::Manager manager(n);
        std::vector<int> order(n);
        for (int i = 0; i < n; ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), rng);
        manager.setOrder(order);
        std::string table;
        for (int m = 0; m < (1 << n); ++m) table.push_back(rng() % 3 ? '1' : '0');
        bdd::Bdd f = fromTruthTable(table, n);
        if (f.isConstant()) continue;
        std::vector<int> ids;
        for (int i = 0; i < n; ++i) ids.push_back(3 * i + 2);
        // Whatever the caller wrote before stays; the stream is left at the end.
        File out(std::tmpfile());
        std::fputs("c\n", out.get());
        int clauses = 0;
        ASSERT_TRUE(dddmp::storeCnfMaxterm(out.get(), f, ids, &clauses, nullptr));
        long end = std::ftell(out.get());
        std::string text = contents(out.get());
        EXPECT_EQ(end, static_cast<long>(text.size()));
        ASSERT_EQ(text.substr(0, 4), "c\nc ");
        std::smatch p;
        ASSERT_TRUE(std::regex_search(text, p, std::regex("\np cnf (-?[0-9]+) ([0-9]+) *\n")));
        EXPECT_EQ(std::stoi(p[2]), clauses);
        for (int m = 0; m < (1 << n); ++m) {
            std::map<int, bool> value;
            for (int i = 0; i < n; ++i) value[ids[i]] = (m >> i) & 1;
            EXPECT_EQ(cnfValue(text, value), table[m] == '1') << "round " << round << " assignment " << m;
        }
    }
}

TEST(DddmpCnf, MissingCnfIdsAreRefusedBeforeWriting) {
    bdd::Manager manager(3);
    File out(std::tmpfile());
    int clauses = 0, added = 0;
    EXPECT_FALSE(dddmp::storeCnfMaxterm(out.get(), bdd::ithVar(2), {1, 2}, &clauses, &added));
    EXPECT_EQ(contents(out.get()), "");
}

namespace {

// A DOT text with every node name replaced by a description of the node's function
// (its rank label and its children's descriptions), and the lines of every rank and
// of the edge list sorted: what is left is the structure.
std::string dotStructure(const std::string& dot) {
    std::vector<std::string> lines;
    {
        std::istringstream in(dot);
        std::string line;
        while (std::getline(in, line)) lines.push_back(line);
    }
    static const std::regex nodeName("\"(0|0x[0-9a-f]+)\"");
    static const std::regex edge("^\"(0|0x[0-9a-f]+)\" -> \"(0|0x[0-9a-f]+)\"(.*);$");
    std::map<std::string, std::string> rankOf, thenOf, elseOf, elseStyle;
    std::string rank;
    std::smatch m;
    for (const std::string& line : lines) {
        if (line.rfind("{ rank = same; \"", 0) == 0) rank = line;
        if (std::regex_match(line, m, std::regex("^\"(0|0x[0-9a-f]+)\";$")) && !rank.empty()) rankOf[m[1]] = rank;
        if (std::regex_search(line, m, std::regex("node \\[shape = box\\]; \"(0|0x[0-9a-f]+)\";"))) rankOf[m[1]] = "const";
        if (std::regex_match(line, m, edge)) {
            if (m[3].str().empty()) {
                thenOf[m[1]] = m[2];
            } else {
                elseOf[m[1]] = m[2];
                elseStyle[m[1]] = m[3];
            }
        }
    }
    std::map<std::string, std::string> memo;
    std::function<std::string(const std::string&)> describe = [&](const std::string& name) -> std::string {
        auto it = memo.find(name);
        if (it != memo.end()) return it->second;
        std::string d = rankOf[name] == "const" ? "ONE" : "(" + rankOf[name] + "|" + describe(thenOf[name]) + "|" +
                                                                elseStyle[name] + describe(elseOf[name]) + ")";
        return memo[name] = d;
    };
    std::vector<std::string> renamed;
    for (const std::string& line : lines) {
        std::string out, rest = line;
        while (std::regex_search(rest, m, nodeName)) {
            out += m.prefix().str() + "<" + describe(m[1]) + ">";
            rest = m.suffix().str();
        }
        renamed.push_back(out + rest);
    }
    // Sort runs of node lines inside ranks and the edge list.
    auto isNodeLine = [&](std::size_t i) { return std::regex_match(lines[i], std::regex("^\"(0|0x[0-9a-f]+)\";$")); };
    auto isEdgeLine = [&](std::size_t i) { return std::regex_match(lines[i], edge); };
    for (auto test : {std::function<bool(std::size_t)>(isNodeLine), std::function<bool(std::size_t)>(isEdgeLine)}) {
        for (std::size_t i = 0; i < lines.size();) {
            std::size_t j = i;
            while (j < lines.size() && test(j)) ++j;
            std::sort(renamed.begin() + static_cast<long>(i), renamed.begin() + static_cast<long>(j));
            i = j == i ? i + 1 : j;
        }
    }
    std::string out;
    for (const std::string& line : renamed) out += line + "\n";
    return out;
}

std::string dot(const std::vector<bdd::Bdd>& roots, const std::vector<std::string>& in,
                const std::vector<std::string>& outNames) {
    File out(std::tmpfile());
    EXPECT_TRUE(dddmp::dumpDot(out.get(), roots, in, outNames));
    return contents(out.get());
}

}  // namespace

TEST(DddmpDot, SamplesHaveTheSameStructure) {
    std::vector<std::string> files = samples(".dot");
    ASSERT_EQ(files.size(), 4u);
    for (const std::string& file : files) {
        Json side = readJson(sidecarOf(file));
        bdd::Manager manager(side["nvars"].integer());
        manager.setOrder(side["order"].ints());
        std::vector<bdd::Bdd> roots;
        for (const Json& r : side["roots"].items) roots.push_back(fromTruthTable(r["truth_table"].text, side["nvars"].integer()));
        std::vector<std::string> in = side.has("inames") ? side["inames"].strings() : std::vector<std::string>{};
        std::vector<std::string> outNames = side.has("onames") ? side["onames"].strings() : std::vector<std::string>{};
        std::string ours = dot(roots, in, outNames), theirs = testsupport::readFile(samplesDir() + file);
        EXPECT_EQ(dotStructure(ours), dotStructure(theirs)) << file << "\n" << ours;
        // The sample whose only node is the constant has nothing left to chance.
        if (file == "dotconst.dot-nonames.dot") {
            EXPECT_EQ(ours, theirs);
        }
    }
}

TEST(DddmpDot, NamesAreDeterministicAndDistinct) {
    bdd::Manager manager(4);
    bdd::Bdd f = (bdd::ithVar(0) & bdd::ithVar(2)) | (bdd::ithVar(1) ^ bdd::ithVar(3));
    std::string first = dot({f, !f}, {}, {}), second = dot({f, !f}, {}, {});
    EXPECT_EQ(first, second);
    std::smatch m;
    std::set<std::string> names;
    std::string rest = first;
    while (std::regex_search(rest, m, std::regex("^(\"0x[0-9a-f]+\");$", std::regex::multiline))) {
        EXPECT_TRUE(names.insert(m[1]).second) << m[1];
        rest = m.suffix().str();
    }
    EXPECT_EQ(names.size() + 1, static_cast<std::size_t>(dddmp::sharingSize({f, !f})));
}

TEST(DddmpDot, GraphvizAcceptsTheDrawings) {
    if (!testsupport::fileExists("/usr/bin/dot")) GTEST_SKIP() << "dot is missing: install the Debian package graphviz";
    testsupport::TempDir dir;
    bdd::Manager manager(6);
    bdd::Bdd f = bdd::one();
    for (int i = 0; i < 3; ++i) f &= !(bdd::ithVar(i) ^ bdd::ithVar(i + 3));
    std::vector<std::pair<std::vector<bdd::Bdd>, std::vector<std::string>>> cases = {
        {{f, !f, bdd::ithVar(4), bdd::zero(), bdd::one()}, {"eq", "!eq", "x4", "zero", "one"}},
        {{bdd::zero()}, {}},
        {{f}, {}},
    };
    int k = 0;
    for (const auto& [roots, names] : cases) {
        std::string path = dir.file("d" + std::to_string(k++) + ".dot");
        File out(std::fopen(path.c_str(), "w"));
        ASSERT_TRUE(dddmp::dumpDot(out.get(), roots, {"a1", "a2", "", "a4", "a5", "a6"}, names));
        out.reset();
        testsupport::RunResult r = testsupport::run({"/usr/bin/dot", "-Tsvg", "-o", path + ".svg", path});
        EXPECT_EQ(r.status, 0) << path << "\n" << r.err << testsupport::readFile(path);
    }
}
