// Real formulas through DepQBF's proof traces: every formula of the CADET test set that
// DepQBF, with the tracing options, proves true within 10 seconds must be certified VALID
// from its trace, ASCII and binary alike.
#include <gtest/gtest.h>
#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/run.h"

namespace {

const char* const kDepqbf = "/usr/bin/depqbf";

// The set's formulas, less those every listed result calls false: DepQBF cannot prove
// them true, and leaving them out keeps the test's time to the formulas that count.
std::vector<std::string> formulas() { return testsupport::sanitizerSample(testsupport::cadetFormulasBut(20)); }

// The trace of DepQBF within 10 seconds; its exit status (10 true, 20 false, 124 timeout).
int writeTrace(const std::string& formula, const std::string& trace, bool binary) {
    return testsupport::depqbfTrace(formula, trace, binary, 10);
}

}  // namespace

TEST(TraceCadet, EveryFormulaDepqbfProvesTrueIsCertifiedFromItsTrace) {
    if (!testsupport::fileExists(kDepqbf)) GTEST_SKIP() << "depqbf is missing: install the Debian package depqbf";
    testsupport::TempDir dir;
    int proved = 0, certified = 0;
    std::vector<std::string> failures;
    for (const std::string& name : formulas()) {
        std::string base = name;
        for (char& c : base)
            if (c == '.' || c == '=' || c == ' ') c = '_';
        std::string formula = dir.file(base + ".qdimacs");
        testsupport::writeFile(formula, testsupport::readFile(testsupport::cadetDir() + "/" + name));
        for (bool binary : {false, true}) {
            std::string stem = dir.file(base + (binary ? "-b" : "-a"));
            std::string trace = stem + ".qrp";
            int status = writeTrace(formula, trace, binary);
            if (status != 10) {
                std::remove(trace.c_str());
                break;  // false, or not proved in time (then in neither mode)
            }
            testsupport::writeFile(stem + ".qdimacs", testsupport::readFile(formula));
            ++proved;
            testsupport::RunResult r = testsupport::plumex({"-v", "2", trace});
            bool valid = r.status == 10 && r.out.find("Certificate is VALID") != std::string::npos;
            if (valid)
                ++certified;
            else
                failures.push_back(name + (binary ? " (binary)" : " (ASCII)") + ":\n" + r.out);
            std::remove(trace.c_str());
            std::remove((stem + ".qbm").c_str());
            std::remove((stem + ".qdimacs").c_str());
        }
        std::remove(formula.c_str());
    }
    for (const std::string& f : failures) ADD_FAILURE() << f;
    std::printf("%d traces of formulas proved true, %d certified VALID\n", proved, certified);
    EXPECT_GT(proved, 0);
}
