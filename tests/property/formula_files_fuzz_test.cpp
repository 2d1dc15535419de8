// Damaged formula and QBM files: random byte changes, cuts and insertions never crash the
// QDIMACS reader or the QBM reader (the sanitizer build runs these too), and a damaged
// formula whose clauses the certificate does not satisfy is never accepted.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "certificate/reconstruct.h"
#include "certification/checks.h"
#include "files/qbm.h"
#include "inputs/qdimacs_reader.h"
#include "outcomes/reporter.h"
#include "tests/support/run.h"

namespace {

using testsupport::TempDir;

std::string damage(std::string text, std::mt19937& rng) {
    const char pieces[] = {'0', '1', '9', '-', ' ', '\n', '\t', 'x', 'c', 'p', 'a', 'e', '\0', '\xff'};
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < edits && !text.empty(); ++k) {
        std::size_t at = rng() % text.size();
        switch (rng() % 4) {
            case 0: text[at] = pieces[rng() % sizeof pieces]; break;
            case 1: text.insert(at, 1, pieces[rng() % sizeof pieces]); break;
            case 2: text.erase(at, 1 + rng() % 8); break;
            default: text.resize(at); break;
        }
    }
    return text;
}

TEST(DamagedFiles, QdimacsReaderSurvivesAndNeverAcceptsAFalsifiedClause) {
    TempDir dir;
    // x3 = not u1, x4 = u1; the last clause "1 4 0" is false where u1 is false.
    auto m = newReplayModel("f.qdimacs", 5, {0, 1, 2}, {0, 1, 2, 3, 4}, 4);
    bdd::Bdd u = bdd::ithVar(1);
    m->posBdd[3] = !u;
    m->negBdd[3] = u;
    m->posBdd[4] = u;
    m->negBdd[4] = !u;
    const std::string bad = "p cnf 4 4\na 1 2 0\ne 3 4 0\n1 3 0\n-1 4 0\n3 4 2 0\n1 4 0\n";
    std::mt19937 rng(7);
    std::string path = dir.file("f.qdimacs");
    for (int i = 0; i < 200; ++i) {
        std::string text = damage(bad, rng);
        testsupport::writeFile(path, text);
        int result = certification::validityCheck(*m, path, steps::silent());
        // Whenever the falsified clause survived intact on its own line, the check fails.
        if (text.find("\n1 4 0\n") != std::string::npos && text.rfind("p cnf 4 ", 0) == 0) {
            EXPECT_EQ(result, 0) << text;
        }
    }
}

TEST(DamagedFiles, QbmReaderSurvivesAndKeepsItsTablesConsistent) {
    TempDir dir;
    std::string good = dir.file("g.qbm");
    for (char mode : {'A', 'B'}) {
        {
            auto m = newReplayModel("f.qdimacs", 5, {0, 1, 2}, {0, 1, 2, 3, 4}, 4);
            m->dddmpMode = mode;
            bdd::Bdd a = bdd::ithVar(1), b = bdd::ithVar(2);
            m->posBdd[3] = a & b;
            m->negBdd[3] = !a;
            m->posBdd[4] = a | b;
            m->negBdd[4] = !(a | b);
            ASSERT_TRUE(writeQbm(*m, good));
        }
        std::string text = testsupport::readFile(good);
        std::mt19937 rng(mode);
        std::string path = dir.file("d.qbm");
        for (int i = 0; i < 150; ++i) {
            testsupport::writeFile(path, damage(text, rng));
            ModelResult read = readQbm(path);
            if (!read) {
                EXPECT_FALSE(read.message().empty());
                continue;
            }
            const QBModel& r = **read;
            EXPECT_EQ(r.numVars, r.numExist + r.numUniv + 1);
            for (int k = 1; k <= r.numExist; ++k) EXPECT_FALSE(r.posBdd[k].isNull() || r.negBdd[k].isNull());
        }
    }
}

}  // namespace
