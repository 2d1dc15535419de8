// Real formulas: the true formulas of the shared CADET test set with at most 12
// universals and 5,000 clauses. The log writer decides each within 10 seconds and writes
// its log in text and in binary storage mode; Plumex must certify every such log VALID,
// and the QBM file it writes must pass the same checks when read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run.h"

namespace {

using testsupport::fileExists;
using testsupport::TempDir;

struct Formula {
    std::string name;
    int universals = 0;
    long clauses = 0;
    long vars = 0;
    long maxVar = 0;  // largest variable used in the prefix or a clause
};

// The formulas of the set whose every listed result is 10 (true), small enough.
std::vector<Formula> smallTrueFormulas() {
    std::map<std::string, std::set<int>> results = testsupport::cadetResults();
    std::vector<Formula> chosen;
    for (const auto& [name, codes] : results) {
        if (codes != std::set<int>{10}) continue;
        std::ifstream in(testsupport::cadetDir() + "/" + name);
        if (!in) continue;
        Formula f;
        f.name = name;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("p cnf", 0) == 0) {
                std::istringstream p(line.substr(5));
                p >> f.vars >> f.clauses;
            } else if (!line.empty() && line[0] != 'c') {
                std::istringstream a(line[0] == 'a' || line[0] == 'e' ? line.substr(1) : line);
                for (long v; a >> v;) {
                    if (line[0] == 'a') f.universals += v != 0;
                    f.maxVar = std::max(f.maxVar, v < 0 ? -v : v);
                }
            }
        }
        if (f.universals <= 12 && f.clauses <= 5000) chosen.push_back(f);
    }
    return chosen;
}

// The formula copied under a name the certifier accepts (".qdimacs").
std::string copyFormula(const TempDir& dir, const std::string& name) {
    std::string base = name;
    for (char& c : base)
        if (c == '.' || c == '=') c = '_';
    std::string path = dir.file(base + ".qdimacs");
    testsupport::writeFile(path, testsupport::readFile(testsupport::cadetDir() + "/" + name));
    return path;
}

// Runs the log writer on the formula with at most 10 seconds; true when it decided the
// formula true and wrote the log.
bool writeLog(const std::string& formula, const std::string& log, bool binary, const char* style) {
    testsupport::RunResult r =
        testsupport::run({"/usr/bin/timeout", "10", testsupport::binary("plumex-logwriter"), "-q", "-o", log, "--mode",
                          binary ? "binary" : "text", "--style", style, formula});
    return r.status == 10 && fileExists(log);
}

TEST(RealFormulas, LogWriterLogsOfTrueFormulasAreCertifiedValid) {
    std::vector<Formula> formulas = smallTrueFormulas();
    ASSERT_GE(formulas.size(), 40u);
    TempDir dir;
    int decided = 0, certified = 0;
    const char* styles[] = {"search", "symbolic", "mix"};
    int index = 0;
    std::string checker = testsupport::binary("plumex-aigercheck");
    int aigerChecked = 0;
    int aboveV = 0;  // formulas that use variables above their problem line's count
    for (const Formula& f : formulas) {
        const char* style = styles[index++ % 3];
        std::string formula = copyFormula(dir, f.name);
        std::string stem = formula.substr(0, formula.size() - 8);
        bool any = false;
        for (bool binary : {false, true}) {
            std::string log = stem + (binary ? "-b" : "-t") + ".Tobrin.log";
            if (!writeLog(formula, log, binary, style)) continue;
            any = true;
            testsupport::RunResult r = testsupport::plumex({log});
            // A few reduced files kept a problem line that counts fewer variables than
            // they quantify and use; they are certified all the same.
            aboveV += f.maxVar > f.vars && !binary;
            certified += !binary;
            EXPECT_EQ(r.status, 10) << f.name << " " << style << (binary ? " binary\n" : " text\n") << r.out;
            EXPECT_NE(r.out.find("Certificate is VALID"), std::string::npos) << f.name << "\n" << r.out;
            // The QBM file read back passes the same checks.
            std::string qbm = log.substr(0, log.size() - 11) + ".qbm";
            r = testsupport::plumex({"-dump", "aag", "aig", qbm});
            EXPECT_EQ(r.status, 10) << f.name << "\n" << r.out;
            EXPECT_NE(r.out.find("Certificate is VALID"), std::string::npos) << f.name << "\n" << r.out;
            // Its AIGER exports are valid for a SAT-based checker too.
            if (fileExists(checker)) {
                for (const char* ending : {".aag", ".aig"}) {
                    testsupport::RunResult c = testsupport::run({checker, formula, qbm + ending});
                    EXPECT_EQ(c.status, 0) << f.name << ending << "\n" << c.out << c.err;
                    aigerChecked += c.status == 0;
                }
            }
        }
        decided += any;
    }
    EXPECT_GE(decided, 40) << "of " << formulas.size();
    EXPECT_GE(certified, 40) << "of " << formulas.size();
    EXPECT_GE(aboveV, 2);
    std::printf("log writer decided %i of %zu formulas, %i well-formed ones certified, %i AIGER exports checked\n",
                decided, formulas.size(), certified, aigerChecked);
}

}  // namespace
