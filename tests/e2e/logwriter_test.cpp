// The log writer tool end to end: its verdicts against depqbf on generated formulas, the
// byte layout of the logs it writes (header, trailer, back offsets walked from the
// trailer to the first entry) in both modes, that its true logs certify as VALID in
// plumex in every style, that the size knob keeps the certificate, and that every
// planted fault produces the defect it is meant to.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/support/run.h"

using testsupport::binary;
using testsupport::readFile;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

RunResult writer(const std::vector<std::string>& args, const std::string& cwd = "") {
    std::vector<std::string> argv{binary("plumex-logwriter")};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::run(argv, cwd);
}

bool haveDepqbf() { return access("/usr/bin/depqbf", X_OK) == 0; }

// depqbf's verdict: 10 satisfiable (true), 20 unsatisfiable (false).
int depqbf(const std::string& formula) { return testsupport::run({"/usr/bin/depqbf", formula}).status; }

std::string generate(const TempDir& dir, const std::string& name, int vars, int clauses, int blocks,
                     const std::string& first, int seed) {
    std::string path = dir.file(name);
    RunResult r = writer({"gen", "--vars", std::to_string(vars), "--clauses", std::to_string(clauses),
                          "--blocks", std::to_string(blocks), "--first", first, "--width", "4", "--seed",
                          std::to_string(seed), "-o", path});
    EXPECT_EQ(r.status, 0) << r.err;
    return path;
}

struct Entry {
    long id;
    std::string kind;
    long back;
    long pos;
};

struct Walk {
    bool ok = false;
    std::string why;
    std::vector<Entry> entries;  // from the last to the first
    long trailerId = -1;
    std::string outcome;
};

std::string lineAt(const std::string& data, long pos) {
    std::size_t end = data.find('\n', static_cast<std::size_t>(pos));
    return data.substr(static_cast<std::size_t>(pos), end == std::string::npos ? std::string::npos : end - pos);
}

// Finds the trailer as the reader does (a line starting with '#' within the last 99
// bytes) and walks the back offsets to the entry whose back offset is 0.
Walk walkBack(const std::string& data) {
    Walk w;
    long size = static_cast<long>(data.size());
    long at = -1;
    for (long n = 2; n <= 99 && n <= size; ++n)
        if (data[size - n] == '#') {
            at = size - n;
            break;
        }
    if (at < 0) {
        w.why = "no trailer in the last 99 bytes";
        return w;
    }
    long back = 0;
    if (std::sscanf(lineAt(data, at).c_str(), "#%ld: END [%ld]", &w.trailerId, &back) != 2) {
        w.why = "bad trailer line";
        return w;
    }
    char word[64] = {0};
    long next = at + static_cast<long>(lineAt(data, at).size()) + 1;
    if (next < size && std::sscanf(lineAt(data, next).c_str(), "outcome: %63s", word) == 1) w.outcome = word;
    long pos = at, prevId = w.trailerId;
    while (back > 0) {
        pos -= back;
        if (pos < 0 || data[pos] != '#') {
            w.why = "back offset leads to a line not starting with '#' at " + std::to_string(pos);
            return w;
        }
        Entry e{0, "", 0, pos};
        char kind[64] = {0};
        if (std::sscanf(lineAt(data, pos).c_str(), "#%ld: %63s [%ld]", &e.id, kind, &e.back) != 3) {
            w.why = "bad entry header " + lineAt(data, pos);
            return w;
        }
        e.kind = kind;
        if (e.id >= prevId) {
            w.why = "ids do not grow in file order at " + std::to_string(e.id);
            return w;
        }
        prevId = e.id;
        back = e.back;
        w.entries.push_back(e);
    }
    w.ok = true;
    return w;
}

std::map<std::string, int> kindCounts(const Walk& w) {
    std::map<std::string, int> n;
    for (const Entry& e : w.entries) ++n[e.kind];
    return n;
}

std::string verdictOf(const RunResult& r) {
    for (const char* v : {"Certificate is VALID", "Certificate is INVALID", "Certificate is INCONSISTENT"})
        if (r.out.find(v) != std::string::npos) return v;
    return "";
}

class LogWriter : public ::testing::Test {
  protected:
    // A handful of generated formulas, each with its known verdict.
    void SetUp() override {
        ASSERT_TRUE(testsupport::fileExists(binary("plumex-logwriter")))
            << "plumex-logwriter was not built (it needs CaDiCaL: Debian package libcadical-dev)";
        for (int seed = 1; seed <= 12; ++seed) {
            std::string f = generate(dir, "g" + std::to_string(seed) + ".qdimacs", 10 + seed % 4, 14 + seed % 9,
                                     2 + seed % 3, seed % 2 ? "e" : "a", seed);
            formulas.push_back(f);
        }
    }
    std::string firstTrue() {
        for (const std::string& f : formulas)
            if (writer({"-q", f, "-o", dir.file("probe")}).status == 10) return f;
        return "";
    }
    TempDir dir;
    std::vector<std::string> formulas;
};

}  // namespace

TEST_F(LogWriter, VerdictsAgreeWithDepqbfAndTheTrailerSaysTheOutcome) {
    if (!haveDepqbf()) GTEST_SKIP() << "depqbf is not installed";
    int seenTrue = 0, seenFalse = 0;
    for (std::size_t i = 0; i < formulas.size(); ++i) {
        std::string log = dir.file("v" + std::to_string(i));
        RunResult r = writer({formulas[i], "-o", log});
        ASSERT_TRUE(r.status == 10 || r.status == 20) << formulas[i] << ": " << r.err;
        EXPECT_EQ(r.status, depqbf(formulas[i])) << formulas[i];
        EXPECT_EQ(r.out, std::string(r.status == 10 ? "TRUE " : "FALSE ") + log + ".Tobrin.log\n");
        Walk w = walkBack(readFile(log + ".Tobrin.log"));
        ASSERT_TRUE(w.ok) << w.why;
        EXPECT_EQ(w.outcome, r.status == 10 ? "TRUE" : "FALSE");
        (r.status == 10 ? seenTrue : seenFalse)++;
    }
    EXPECT_GT(seenTrue, 0);
    EXPECT_GT(seenFalse, 0);
}

TEST_F(LogWriter, HeaderTrailerAndBackOffsetsInBothModes) {
    std::string f = firstTrue();
    ASSERT_FALSE(f.empty());
    for (const std::string mode : {"text", "binary"}) {
        for (const std::string style : {"search", "symbolic", "mix"}) {
            SCOPED_TRACE(mode + " " + style);
            std::string log = dir.file("h-" + mode + "-" + style);
            ASSERT_EQ(writer({f, "--mode", mode, "--style", style, "--noise", "20", "-o", log, "--record", "rec.qdimacs"}).status, 10);
            std::string data = readFile(log + ".Tobrin.log");
            EXPECT_EQ(data.rfind("# Tobrin log file, 1.3 ", 0), 0u);
            EXPECT_NE(data.find("\n# formula: \"rec.qdimacs\"\n# dump format: " + mode + "\n# vars: ("), std::string::npos);
            EXPECT_NE(data.find("\n# universals: "), std::string::npos);
            EXPECT_NE(data.find("\n# int/ext mapping: "), std::string::npos);
            Walk w = walkBack(data);
            ASSERT_TRUE(w.ok) << w.why;
            ASSERT_FALSE(w.entries.empty());
            // Ids 1.. in file order, the trailer carrying the highest.
            EXPECT_EQ(w.entries.back().id, 1);
            EXPECT_EQ(w.entries.back().back, 0);
            EXPECT_EQ(static_cast<long>(w.entries.size()), w.trailerId - 1);
            // The first entry follows the header directly.
            std::size_t mapping = data.find("\n# int/ext mapping: ");
            EXPECT_EQ(w.entries.back().pos, static_cast<long>(data.find('\n', mapping + 1) + 1));
            EXPECT_NE(data.rfind("\noutcome: TRUE\ntime: "), std::string::npos);
            auto kinds = kindCounts(w);
            if (style == "search") {
                EXPECT_GT(kinds["G_CUBES"], 0);
                EXPECT_GT(kinds["G_ASSIGN"] + kinds["B_OUT"], 0);
            }
            if (style == "symbolic") {
                EXPECT_GT(kinds["S_CUBES"], 0);
            }
        }
    }
}

TEST_F(LogWriter, TrueLogsCertifyAsValidInEveryStyleAndMode) {
    int checked = 0;
    std::map<std::string, int> kinds;
    for (std::size_t i = 0; i < formulas.size(); ++i) {
        for (const std::string mode : {"text", "binary"}) {
            for (const std::string style : {"search", "symbolic", "mix"}) {
                std::string log = dir.file("t" + std::to_string(i) + mode + style);
                RunResult r = writer({formulas[i], "--mode", mode, "--style", style, "--noise", "15", "--seed",
                                      std::to_string(i + 7), "-o", log});
                if (r.status != 10) continue;
                RunResult p = testsupport::plumex({log + ".Tobrin.log"});
                EXPECT_EQ(verdictOf(p), "Certificate is VALID") << log << "\n" << p.out;
                for (const auto& [k, n] : kindCounts(walkBack(readFile(log + ".Tobrin.log")))) kinds[k] += n;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 0);
    // Together the styles exercise every entry kind.
    for (const char* k : {"G_CUBES", "G_RES", "G_ASSIGN", "S_CUBES", "S_RES", "S_ASSIGN", "S_EQUIV", "B_IN", "B_OUT",
                          "SAT_ENCODING", "ROLLBACK"})
        EXPECT_GT(kinds[k], 0) << k;
}

TEST_F(LogWriter, FailedExistentialBranchesAreLeftForTheReaderToSkip) {
    std::string f = firstTrue();
    ASSERT_FALSE(f.empty());
    std::string log = dir.file("branches");
    ASSERT_EQ(writer({f, "--style", "search", "--seed", "3", "-o", log}).status, 10);
    std::string data = readFile(log + ".Tobrin.log");
    // A second-branch B_IN "2e<lit>" and, earlier, the first branch "1e<-lit>".
    std::size_t second = data.find("\n2e");
    ASSERT_NE(second, std::string::npos);
    int lit = std::stoi(data.substr(second + 3));
    std::size_t first = data.rfind("\n1e" + std::to_string(-lit) + "\n", second);
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(verdictOf(testsupport::plumex({log + ".Tobrin.log"})), "Certificate is VALID");
}

TEST_F(LogWriter, SizeKnobPadsTheLogAndKeepsTheCertificate) {
    std::string f = firstTrue();
    ASSERT_FALSE(f.empty());
    for (const std::string padding : {"rollback", "reassign"}) {
        for (const std::string mode : {"text", "binary"}) {
            SCOPED_TRACE(padding + " " + mode);
            std::string log = dir.file("size-" + padding + mode);
            ASSERT_EQ(writer({f, "--size", "2M", "--padding", padding, "--mode", mode, "-o", log}).status, 10);
            struct stat st {};
            ASSERT_EQ(stat((log + ".Tobrin.log").c_str(), &st), 0);
            EXPECT_GT(st.st_size, 2 * 1024 * 1024 - 4096);
            EXPECT_LT(st.st_size, 2 * 1024 * 1024 + 4096);
            Walk w = walkBack(readFile(log + ".Tobrin.log"));
            EXPECT_TRUE(w.ok) << w.why;
            EXPECT_EQ(verdictOf(testsupport::plumex({log + ".Tobrin.log"})), "Certificate is VALID");
        }
    }
}

TEST_F(LogWriter, EveryPlantedFaultProducesItsDefect) {
    std::string f = firstTrue();
    ASSERT_FALSE(f.empty());
    struct Case {
        const char* fault;
        const char* plumexSays;
    };
    const Case cases[] = {
        {"bad-version", "Error: Unsupported log version"},
        {"bad-format", "Error: Header data parsing problems"},
        {"no-trailer", "Error: Last record sync failed (corrupted log?)"},
        {"outcome-false", "Error: This is not a TRUE formula"},
        {"back-offset", "Error: Sync lost (corrupted log?)"},
        {"unknown-kind", "Error: Unknown log entry type at line \"#"},
        {"end-in-middle", "Error: Unknown log entry type at line \"#"},
        {"negative-rollback", "Error: Sync lost (corrupted log?) at line \"to: -3"},
        {"truncated-int", "[Abnormal exit due to error \"Problem in DddmpReadInt\" at line 116, file \"Log\"]"},
        {"unbalanced-branch", "[Abnormal exit due to error \"Bad univ. hypothesis depth\" at line 166, file \"QbfModelReconstruct\"]"},
        {"res-contradiction", "(UNSAT contradiction)"},
        {"invalid", "Certificate is INVALID"},
        {"inconsistent", "Certificate is INCONSISTENT"},
    };
    // A formula with a universal, for the unbalanced branch.
    std::string withUniv;
    for (const std::string& g : formulas)
        if (readFile(g).find("\na ") != std::string::npos && writer({"-q", g, "-o", dir.file("probe")}).status == 10) withUniv = g;
    ASSERT_FALSE(withUniv.empty());
    for (const Case& c : cases) {
        for (const std::string mode : {"text", "binary"}) {
            SCOPED_TRACE(std::string(c.fault) + " " + mode);
            std::string log = dir.file(std::string("fault-") + c.fault + mode);
            RunResult r = writer({withUniv, "--fault", c.fault, "--mode", mode, "--style", "mix", "--noise", "10", "-o", log});
            ASSERT_EQ(r.status, 10) << r.err;
            std::string data = readFile(log + ".Tobrin.log");
            RunResult p = testsupport::plumex({log + ".Tobrin.log"});
            EXPECT_NE(p.out.find(c.plumexSays), std::string::npos) << p.out;
            std::string fault = c.fault;
            Walk w = walkBack(data);
            if (fault == "no-trailer" || fault == "back-offset") {
                EXPECT_FALSE(w.ok);
            } else if (fault == "outcome-false") {
                EXPECT_EQ(w.outcome, "FALSE");
            } else if (fault == "bad-version") {
                EXPECT_EQ(data.rfind("# Tobrin log file, 1.2 ", 0), 0u);
            } else if (fault == "truncated-int") {
                // Forced to binary: the last entry's payload is the lone escape byte.
                EXPECT_NE(data.find("# dump format: binary\n"), std::string::npos);
                ASSERT_TRUE(w.ok);
                EXPECT_EQ(data.substr(static_cast<std::size_t>(w.entries.front().pos) + lineAt(data, w.entries.front().pos).size() + 1, 2),
                          std::string("\0\n", 2));
            } else if (fault == "unknown-kind" || fault == "end-in-middle") {
                ASSERT_TRUE(w.ok);
                EXPECT_EQ(w.entries.front().kind, fault == "unknown-kind" ? "G_MAGIC" : "END");
            }
        }
    }
}

TEST_F(LogWriter, FalseFormulaGivesAFalseTrailerAndExit20) {
    std::string f = dir.file("false.qdimacs");
    writeFile(f, "p cnf 2 2\na 1 0\ne 2 0\n1 2 0\n1 -2 0\n");
    RunResult r = writer({f});
    EXPECT_EQ(r.status, 20);
    std::string data = readFile(dir.file("false.Tobrin.log"));
    Walk w = walkBack(data);
    ASSERT_TRUE(w.ok) << w.why;
    EXPECT_EQ(w.outcome, "FALSE");
    EXPECT_NE(testsupport::plumex({dir.file("false.Tobrin.log")}).out.find("Error: This is not a TRUE formula"),
              std::string::npos);
}

TEST_F(LogWriter, GzipFormulasAndLogNames) {
    std::string f = dir.file("small.qdimacs");
    writeFile(f, "p cnf 3 2\ne 1 0\na 2 0\ne 3 0\n1 2 3 0\n-2 -3 0\n");
    EXPECT_EQ(writer({f}).status, 10);
    EXPECT_TRUE(testsupport::fileExists(dir.file("small.Tobrin.log")));
    ASSERT_EQ(testsupport::run({"/bin/sh", "-c", "gzip -c small.qdimacs > other.qcnf.gz"}, dir.path()).status, 0);
    EXPECT_EQ(writer({"other.qcnf.gz"}, dir.path()).status, 10);
    std::string log = readFile(dir.file("other.Tobrin.log"));
    EXPECT_NE(log.find("# formula: \"other.qcnf.gz\"\n"), std::string::npos);
    EXPECT_EQ(verdictOf(testsupport::plumex({"other.Tobrin.log"}, dir.path())), "Certificate is VALID");
    EXPECT_EQ(writer({f, "-o", dir.file("named.Tobrin.log")}).status, 10);
    EXPECT_TRUE(testsupport::fileExists(dir.file("named.Tobrin.log")));
}

TEST_F(LogWriter, CommandLineErrorsAndHelp) {
    RunResult h = writer({"--help"});
    EXPECT_EQ(h.status, 0);
    for (const char* word : {"--mode", "--style", "--noise", "--seed", "--size", "--padding", "--fault", "--record",
                             "bad-version", "bad-format", "no-trailer", "outcome-false", "back-offset", "unknown-kind",
                             "end-in-middle", "negative-rollback", "truncated-int", "unbalanced-branch",
                             "res-contradiction", "invalid", "inconsistent", "Exit status: 10 true, 20 false", "gen"})
        EXPECT_NE(h.out.find(word), std::string::npos) << word;
    EXPECT_EQ(writer({}).status, 1);
    EXPECT_EQ(writer({"--style", "fancy", "x.qdimacs"}).status, 1);
    EXPECT_EQ(writer({"--fault", "nonsense", "x.qdimacs"}).status, 1);
    EXPECT_EQ(writer({dir.file("missing.qdimacs")}).status, 2);
    std::string noUniv = dir.file("nouniv.qdimacs");
    writeFile(noUniv, "p cnf 1 1\ne 1 0\n1 0\n");
    EXPECT_EQ(writer({noUniv, "--fault", "unbalanced-branch"}).status, 3);
    EXPECT_FALSE(testsupport::fileExists(dir.file("nouniv.Tobrin.log")));
}

TEST_F(LogWriter, GeneratorIsDeterministicAndFollowsThePrefixShape) {
    RunResult a = writer({"gen", "--vars", "9", "--clauses", "7", "--blocks", "3", "--first", "a", "--seed", "5"});
    RunResult b = writer({"gen", "--vars", "9", "--clauses", "7", "--blocks", "3", "--first", "a", "--seed", "5"});
    RunResult c = writer({"gen", "--vars", "9", "--clauses", "7", "--blocks", "3", "--first", "a", "--seed", "6"});
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.out, b.out);
    EXPECT_NE(a.out, c.out);
    EXPECT_NE(a.out.find("\np cnf 9 7\na "), std::string::npos);
    int quantifierLines = 0, clauses = 0;
    std::size_t pos = 0;
    while ((pos = a.out.find('\n', pos)) != std::string::npos) {
        ++pos;
        if (pos >= a.out.size()) break;
        char ch = a.out[pos];
        if (ch == 'a' || ch == 'e') ++quantifierLines;
        else if (ch == '-' || (ch >= '0' && ch <= '9')) ++clauses;
    }
    EXPECT_EQ(quantifierLines, 3);
    EXPECT_EQ(clauses, 7);
}
