// Expression dump files checked by what they mean: BDD dumps load back into the same
// functions, CNF clauses are satisfied exactly by the scenarios of the dumped BDD, DOT
// drawings are accepted by graphviz, and a file that cannot be written is reported.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "bdd/dddmp.h"
#include "expressions/dumps.h"
#include "expressions/evaluate.h"
#include "expressions_fixture.h"
#include "tests/support/recorder.h"
#include "tests/support/run.h"

namespace {

using namespace exptest;
using testsupport::fileExists;
using testsupport::readFile;
using testsupport::TempDir;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// The comment lines at the top of a dump, and the roots of the DDDMP data after them.
struct LoadedDump {
    std::vector<std::string> comments;
    std::string data;
    dddmp::LoadResult result = Status::failure("not loaded");
};

LoadedDump loadDump(const std::string& path) {
    LoadedDump d;
    std::string text = readFile(path);
    std::size_t at = 0;
    while (at < text.size() && text[at] == 'c') {
        std::size_t end = text.find('\n', at);
        d.comments.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    d.data = text.substr(at);
    std::FILE* fp = fmemopen(d.data.data(), d.data.size(), "rb");
    d.result = dddmp::loadArray(fp, 'D');
    std::fclose(fp);
    return d;
}

std::string listText(const ExpList& list, int index, bool withResults) {
    char buffer[1000];
    expFormatList(buffer, sizeof buffer, &list, index, withResults);
    return buffer;
}

// In text mode the reader takes the node-line form from ".varinfo": with 3 every line
// carries a variable field (the constant "1 T 1 0 0" included).
void expectNamedTextNodes(const std::string& data) {
    std::vector<std::string> l = lines(data);
    bool inNodes = false;
    int nodes = 0;
    for (const std::string& line : l) {
        if (line == ".nodes") {
            inNodes = true;
            continue;
        }
        if (line == ".end") break;
        if (!inNodes) continue;
        std::istringstream in(line);
        std::vector<std::string> f;
        for (std::string w; in >> w;) f.push_back(w);
        ASSERT_EQ(f.size(), 5u) << "node line '" << line << "'";
        if (nodes == 0) {
            EXPECT_EQ(line, "1 T 1 0 0");
        } else {
            EXPECT_EQ(f[1][0], 'a') << line;
        }
        ++nodes;
    }
    EXPECT_GT(nodes, 0);
    EXPECT_NE(data.find(".varinfo 3\n"), std::string::npos);
}

struct DumpFixture : ::testing::Test {
    TempDir dir;
};

ListPtr evaluatedList(const QBModel& model, const std::string& text) {
    ListPtr list(expParseList(text.c_str()));
    EXPECT_NE(list, nullptr) << text;
    if (!list) return list;
    EXPECT_EQ(expCheckArgs(model, *list), 1);
    EXPECT_EQ(expEvaluateList(model, *list, steps::silent()), 1);
    return list;
}

std::string randomInverseList(std::mt19937& rng, const Certificate& c, int count) {
    std::string t = count > 1 ? "<" : "";
    for (int k = 0; k < count; ++k) t += (k ? "," : "") + text(*randomExpression(rng, c.existExt, 1 + k % 3));
    return count > 1 ? t + ">" : t;
}

TEST_F(DumpFixture, OneFileBddDumpsLoadBackIntoTheSameFunctionsInBothModes) {
    std::mt19937 rng(11);
    for (char mode : {'A', 'B'}) {
        for (int round = 0; round < 12; ++round) {
            SCOPED_TRACE(std::string("mode ") + mode + " round " + std::to_string(round));
            ExpDumpOptions options;
            options.dddmpMode = mode;
            auto cert = randomCertificate(rng, round % 6 + 1, 3);
            int count = 1 + round % 3;
            ListPtr list = evaluatedList(cert->model, randomInverseList(rng, *cert, count));
            ASSERT_NE(list, nullptr);
            std::string base = dir.file("f" + std::to_string(round) + ".qbm");
            expDumpBdd(cert->model, *list, base, options, steps::silent());
            std::string path = base + ".exp.bdd";
            ASSERT_TRUE(fileExists(path));
            LoadedDump d = loadDump(path);
            ASSERT_EQ(d.comments.size(), 4u);
            EXPECT_EQ(d.comments[0], "c Tobrin BDD expression dump file");
            EXPECT_EQ(d.comments[1], "c QBModel: " + base);
            EXPECT_EQ(d.comments[2], "c Expression: " + listText(*list, -1, true));
            EXPECT_EQ(d.comments[3], "c");
            ASSERT_TRUE(d.result.ok()) << d.result.message();
            std::vector<bdd::Bdd> roots;
            std::vector<std::string> names;
            expCollectRoots(cert->model, *list, roots, names);
            ASSERT_EQ(d.result->size(), roots.size());
            for (std::size_t k = 0; k < roots.size(); ++k) EXPECT_EQ((*d.result)[k], roots[k]) << "root " << k;
            EXPECT_NE(d.data.find(".dd " + base + "\n"), std::string::npos);
            std::string rootnames = ".rootnames";
            for (const std::string& n : names) rootnames += " " + n;
            EXPECT_NE(d.data.find(rootnames + "\n"), std::string::npos);
            std::vector<int> ids = expUniversalIds(cert->model);
            for (int j = 1; j <= cert->numUniv; ++j) EXPECT_EQ(ids[j], cert->univExt[j]);
            if (mode == 'A') {
                expectNamedTextNodes(d.data);
                EXPECT_NE(d.data.find(".orderedvarnames a0"), std::string::npos);
            } else {
                EXPECT_EQ(d.data.find("varnames"), std::string::npos);  // binary dumps carry no names
            }
        }
    }
}

TEST_F(DumpFixture, PerExpressionBddDumpsHoldBothRootsOrANoteForConstants) {
    std::mt19937 rng(5);
    auto cert = randomCertificate(rng, 3, 2);
    int x = cert->existExt[0];
    std::string t = "<" + std::to_string(x) + ",or(" + std::to_string(x) + ",dc(" + std::to_string(x) + ")),and(" +
                    std::to_string(x) + ",-" + std::to_string(x) + "),dc(dc(" + std::to_string(x) + ")),or(" + std::to_string(x) + ",or(-" + std::to_string(x) + ",dc(" +
                    std::to_string(x) + ")))>";
    for (char mode : {'A', 'B'}) {
        ExpDumpOptions options;
        options.dddmpMode = mode;
        options.singleBddFile = false;
        ListPtr list = evaluatedList(cert->model, t);
        ASSERT_NE(list, nullptr);
        std::string base = dir.file(std::string("m") + mode + ".qbm");
        expDumpBdd(cert->model, *list, base, options, steps::silent());
        ASSERT_EQ(list->count, 5);
        EXPECT_TRUE(list->values[3].falseBdd.isOne());
        EXPECT_TRUE(list->values[4].trueBdd.isOne());
        for (int k = 0; k < list->count; ++k) {
            SCOPED_TRACE("expression " + std::to_string(k));
            std::string path = base + "." + std::to_string(k + 1) + ".exp.bdd";
            ASSERT_TRUE(fileExists(path));
            const ExpValue& v = list->values[k];
            LoadedDump d = loadDump(path);
            ASSERT_GE(d.comments.size(), 3u);
            EXPECT_EQ(d.comments[2], "c Expression: " + listText(*list, k, false));
            std::string text = readFile(path);
            if (v.falseBdd.isOne()) {
                std::string note = "c\nc NOTE: the expression is always FALSE\nc\n";
                EXPECT_EQ(text.substr(text.size() - note.size()), note);
                EXPECT_EQ(text.find(".ver"), std::string::npos);
            } else if (v.trueBdd.isOne()) {
                std::string note = "c\nc NOTE: the expression is always TRUE\nc\n\n";
                EXPECT_EQ(text.substr(text.size() - note.size()), note);
                EXPECT_EQ(text.find(".ver"), std::string::npos);
            } else {
                ASSERT_TRUE(d.result.ok()) << d.result.message();
                ASSERT_EQ(d.result->size(), 2u);
                EXPECT_EQ((*d.result)[0], v.trueBdd);
                EXPECT_EQ((*d.result)[1], v.falseBdd);
                std::string e = listText(*list, k, false);
                EXPECT_NE(d.data.find(".rootnames " + e + " !" + e + "\n"), std::string::npos);
                if (mode == 'A') expectNamedTextNodes(d.data);
            }
        }
    }
}

// Clauses of a DIMACS file, and the largest variable.
std::vector<std::vector<int>> clausesOf(const std::string& text) {
    std::vector<std::vector<int>> out;
    for (const std::string& line : lines(text)) {
        if (line.empty() || line[0] == 'c' || line[0] == 'p') continue;
        std::istringstream in(line);
        std::vector<int> clause;
        int lit;
        while (in >> lit && lit != 0) clause.push_back(lit);
        out.push_back(clause);
    }
    return out;
}

bool satisfies(const std::vector<std::vector<int>>& clauses, const Certificate& c, unsigned s) {
    for (const auto& clause : clauses) {
        bool sat = false;
        for (int lit : clause) {
            int j = 0;
            for (int k = 1; k <= c.numUniv; ++k)
                if (c.univExt[k] == std::abs(lit)) j = k;
            EXPECT_NE(j, 0) << "clause variable " << lit << " is no universal";
            bool value = (s >> (j - 1)) & 1;
            if (value == (lit > 0)) sat = true;
        }
        if (!sat) return false;
    }
    return true;
}

TEST_F(DumpFixture, CnfClausesAreSatisfiedExactlyByTheScenariosOfTheDumpedFunction) {
    std::mt19937 rng(99);
    int files = 0;
    for (int round = 0; round < 16; ++round) {
        auto cert = randomCertificate(rng, 1 + round % 6, 3, round % 2 ? 0.0 : 0.4);
        int count = 1 + round % 2;
        std::string t = randomInverseList(rng, *cert, count);
        if (round == 0) t = "<" + std::to_string(cert->existExt[0]) + ",dc(dc(" + std::to_string(cert->existExt[0]) + "))>";
        ListPtr list = evaluatedList(cert->model, t);
        ASSERT_NE(list, nullptr);
        std::string base = dir.file("c" + std::to_string(round) + ".qbm");
        expDumpCnf(cert->model, *list, base, steps::silent());
        for (int k = 0; k < list->count; ++k) {
            const ExpValue& v = list->values[k];
            bool split = v.trueBdd != !v.falseBdd;
            std::string stem = base + (list->count > 1 ? "." + std::to_string(k + 1) : "");
            std::string e = listText(*list, k, false);
            for (int pass = 0; pass < (split ? 2 : 1); ++pass) {
                std::string path = stem + (split ? (pass ? ".false" : ".true") : "") + ".exp.cnf";
                SCOPED_TRACE(path);
                ASSERT_TRUE(fileExists(path));
                std::string text = readFile(path);
                std::vector<std::string> l = lines(text);
                ASSERT_GE(l.size(), 4u);
                EXPECT_EQ(l[0], "c Tobrin CNF expression dump file");
                EXPECT_EQ(l[1], "c QBModel: " + base);
                EXPECT_EQ(l[2], "c Expression: " + (pass ? "!" + e : e));
                const bdd::Bdd& f = pass ? v.falseBdd : v.trueBdd;
                if (f.isZero()) {
                    EXPECT_NE(text.find("always FALSE\nc\np cnf 1 1\n0\n"), std::string::npos);
                }
                if (f.isOne()) {
                    EXPECT_NE(text.find("always TRUE\nc\np cnf 0 0\n"), std::string::npos);
                }
                auto clauses = clausesOf(text);
                for (int s = 0; s < cert->scenarios(); ++s)
                    ASSERT_EQ(satisfies(clauses, *cert, s), holds(f, cert->numUniv, s)) << "scenario " << s;
                ++files;
            }
        }
    }
    EXPECT_GT(files, 20);
}

int runDot(const std::string& path) {
    std::string cmd = "/usr/bin/dot -Tsvg -o /dev/null '" + path + "' 2>&1";
    int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(DumpFixture, DotDrawingsAreAcceptedByGraphviz) {
    if (!fileExists("/usr/bin/dot")) GTEST_SKIP() << "dot is missing: install the Debian package graphviz";
    std::mt19937 rng(3);
    auto cert = randomCertificate(rng, 4, 3);
    ListPtr list = evaluatedList(cert->model, randomInverseList(rng, *cert, 3));
    ASSERT_NE(list, nullptr);
    std::string base = dir.file("d.qbm");
    ExpDumpOptions options;
    expDumpDot(cert->model, *list, base, options, steps::silent());
    ASSERT_TRUE(fileExists(base + ".exp.dot"));
    EXPECT_EQ(runDot(base + ".exp.dot"), 0);
    std::string drawing = readFile(base + ".exp.dot");
    std::vector<bdd::Bdd> roots;
    std::vector<std::string> names;
    expCollectRoots(cert->model, *list, roots, names);
    for (const std::string& n : names) EXPECT_NE(drawing.find("\"  " + n + "  \""), std::string::npos) << n;
    for (int j = 1; j <= cert->numUniv; ++j) {
        bool inSupport = false;
        for (const bdd::Bdd& r : roots) inSupport |= bdd::exist(r, bdd::ithVar(j)) != r;
        if (inSupport) {
            EXPECT_NE(drawing.find("\" a" + std::to_string(cert->univExt[j]) + " \""), std::string::npos);
        }
    }
    options.singleDotFile = false;
    expDumpDot(cert->model, *list, base, options, steps::silent());
    for (int k = 1; k <= 3; ++k) {
        std::string path = base + "." + std::to_string(k) + ".exp.dot";
        ASSERT_TRUE(fileExists(path));
        EXPECT_EQ(runDot(path), 0) << path;
    }
}

TEST_F(DumpFixture, DirectResultFileHoldsOneLine) {
    std::mt19937 rng(8);
    auto cert = randomCertificate(rng, 2, 2);
    std::string t = "<" + std::to_string(cert->existExt[0]) + ",and(" + std::to_string(cert->existExt[0]) + "," +
                    std::to_string(cert->existExt[1]) + ")>(-" + std::to_string(cert->univExt[1]) + ")";
    ListPtr list(expParseList(t.c_str()));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(expEvaluateList(cert->model, *list, steps::silent()), 1);
    std::string base = dir.file("x.qbm");
    expDumpDirect(cert->model, *list, base, steps::silent());
    EXPECT_EQ(readFile(base + ".exp.direct"), listText(*list, -1, true) + "\n");
    EXPECT_EQ(listText(*list, -1, true).find("<" + std::to_string(cert->existExt[0]) + ",and("), 0u);
}

TEST_F(DumpFixture, AFileThatCannotBeWrittenIsReportedAndNotLeftBehind) {
    std::mt19937 rng(4);
    auto cert = randomCertificate(rng, 2, 2);
    ListPtr list = evaluatedList(cert->model, "<" + std::to_string(cert->existExt[0]) + "," +
                                                  std::to_string(cert->existExt[1]) + ">");
    ASSERT_NE(list, nullptr);
    std::string base = dir.file("missing/f.qbm");
    testsupport::Recorder r;
    ExpDumpOptions options;
    EXPECT_FALSE(expDumpBdd(cert->model, *list, base, options, r));
    EXPECT_FALSE(expDumpCnf(cert->model, *list, base, r));
    EXPECT_FALSE(expDumpDot(cert->model, *list, base, options, r));
    EXPECT_FALSE(expDumpDirect(cert->model, *list, base, r));
    // One step per file, each closed with why its file is missing, and nothing else.
    std::regex step(R"re((BDD representation|CNF representation|DOT representation|Direct expression result): )re"
                    R"re("([^"]+)" \[OK, cannot create "\2": [^\]]+\])re");
    std::set<std::string> kinds;
    std::string rest = r.text;
    for (std::smatch m; std::regex_search(rest, m, step, std::regex_constants::match_continuous);
         rest = m.suffix().str())
        kinds.insert(m[1].str());
    EXPECT_EQ(rest, "") << r.text;
    EXPECT_EQ(kinds.size(), 4u) << r.text;
}

}  // namespace
