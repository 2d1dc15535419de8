// Skolem functions extracted from DepQBF's proof traces, over random small formulas:
// for every true formula, the ASCII and the binary trace give the same certificate, and
// that certificate is consistent and satisfies every clause in every universal scenario
// (brute force, without Plumex's own checks). A planted wrong trace (an initial cube
// that misses a clause, or one flipped literal in a derived proof step) is never VALID.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "certificate/trace_extraction.h"
#include "certificate_oracle.h"
#include "pipeline/settings.h"
#include "tests/support/run.h"

namespace {

extern "C" char** environ;

const char* const kDepqbf = "/usr/bin/depqbf";

// Exit status of the command, with its standard output in the file out.
int spawnTo(const std::vector<std::string>& argv, const std::string& out) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int writeTrace(const std::string& formula, const std::string& trace, bool binary) {
    return spawnTo({kDepqbf, binary ? "--trace=bqrp" : "--trace", "--dep-man=simple", "--traditional-qcdcl",
                    "--no-qbce-dynamic", formula},
                   trace);
}

ModelResult extract(const std::string& trace, const std::string& formula, bool tables = true) {
    ExtractionOptions options;
    if (!tables) options.tableUniversals = -1;
    return extractFromTrace(trace, formula, options, steps::silent());
}

// An ASCII trace as lines of numbers, with the proof's steps marked.
struct Steps {
    std::vector<std::string> head;            // header and prefix lines
    std::vector<std::vector<long>> lits, ants;
    std::vector<long> ids;
    std::vector<bool> proof;
    std::string tail;

    explicit Steps(const std::string& text) {
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (line.empty()) continue;
            if (line[0] == 'p' || line[0] == 'a' || line[0] == 'e') {
                head.push_back(line);
                continue;
            }
            if (line[0] == 'r') {
                tail = line;
                continue;
            }
            std::istringstream ls(line);
            long id = 0, v = 0;
            ls >> id;
            std::vector<long> l, a;
            while (ls >> v && v != 0) l.push_back(v);
            while (ls >> v && v != 0) a.push_back(v);
            ids.push_back(id);
            lits.push_back(l);
            ants.push_back(a);
        }
        proof.assign(ids.size(), false);
        if (!ids.empty()) proof.back() = true;
        for (std::size_t i = ids.size(); i-- > 0;) {
            if (!proof[i]) continue;
            for (long a : ants[i])
                for (std::size_t j = 0; j < i; ++j)
                    if (ids[j] == a) proof[j] = true;
        }
    }
    std::string text() const {
        std::string out;
        for (const std::string& h : head) out += h + "\n";
        for (std::size_t i = 0; i < ids.size(); ++i) {
            out += std::to_string(ids[i]);
            for (long l : lits[i]) out += " " + std::to_string(l);
            out += " 0";
            for (long a : ants[i]) out += " " + std::to_string(a);
            out += " 0\n";
        }
        return out + tail + "\n";
    }
};

bool clauseTautological(const std::vector<int>& clause) {
    for (int l : clause)
        for (int k : clause)
            if (l == -k) return true;
    return false;
}

// The plumex verdict on a trace beside its formula: true when it says VALID.
bool plumexValid(const std::string& trace) {
    testsupport::RunResult r = testsupport::plumex({"-v", "2", trace});
    return r.status == 10 && r.out.find("Certificate is VALID") != std::string::npos;
}

}  // namespace

TEST(TraceProperty, FunctionsFromTracesHoldInEveryScenarioAndPlantedFaultsAreCaught) {
    if (!testsupport::fileExists(kDepqbf)) GTEST_SKIP() << "depqbf is missing: install the Debian package depqbf";
    std::string gen = testsupport::binary("plumex-logwriter");
    ASSERT_TRUE(testsupport::fileExists(gen)) << gen;
    scanSettings().verbosity = 0;
    testsupport::TempDir dir;
    std::mt19937 rng(16);
    int trueOnes = 0, plantedCubes = 0, plantedFlips = 0;
    for (int seed = 1; trueOnes < 120 && seed < 3000; ++seed) {
        int vars = 3 + static_cast<int>(rng() % 14);
        int clauses = vars / 3 + static_cast<int>(rng() % static_cast<unsigned>(vars));
        int blocks = 1 + static_cast<int>(rng() % 4);
        const char* first = rng() % 2 ? "a" : "e";
        int width = 2 + static_cast<int>(rng() % 3);
        std::string base = dir.file("f" + std::to_string(seed));
        std::string qdimacs = base + ".qdimacs";
        ASSERT_EQ(spawnTo({gen, "gen", "--vars", std::to_string(vars), "--clauses", std::to_string(clauses), "--blocks",
                           std::to_string(blocks), "--first", first, "--width", std::to_string(width), "--seed",
                           std::to_string(seed), "-o", qdimacs},
                          "/dev/null"),
                  0);
        oracle::Formula formula = oracle::parseQdimacs(qdimacs);
        std::string ascii = base + ".qrp", binary = dir.file("b" + std::to_string(seed) + ".qrp");
        int verdict = writeTrace(qdimacs, ascii, false);
        ASSERT_TRUE(verdict == 10 || verdict == 20) << verdict;
        if (verdict != 10) continue;
        ASSERT_EQ(writeTrace(qdimacs, binary, true), 10);
        ++trueOnes;
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + testsupport::readFile(qdimacs));

        oracle::Table tables[2];
        for (int mode = 0; mode < 2; ++mode) {
            ModelResult e = extract(mode ? binary : ascii, qdimacs);
            ASSERT_TRUE(e) << (mode ? "binary: " : "ascii: ") << e.message();
            tables[mode] = oracle::tabulate(**e);
            std::string why;
            EXPECT_TRUE(oracle::consistent(tables[mode]));
            EXPECT_TRUE(oracle::satisfies(tables[mode], **e, formula, &why)) << why;
        }
        EXPECT_TRUE(tables[0] == tables[1]) << "ASCII and binary traces give different functions";
        {
            ModelResult e = extract(ascii, qdimacs, false);
            ASSERT_TRUE(e) << e.message();
            EXPECT_TRUE(oracle::tabulate(**e) == tables[0]) << "built with BDDs, the functions differ";
        }

        // Planted faults, checked through the real binary every few formulas.
        if (trueOnes % 4 != 1) continue;
        Steps steps(testsupport::readFile(ascii));
        std::vector<std::vector<int>> nonTautological;
        for (const auto& c : formula.clauses)
            if (!clauseTautological(c)) nonTautological.push_back(c);
        for (std::size_t i = 0; i < steps.ids.size() && !nonTautological.empty(); ++i) {
            if (!steps.proof[i] || !steps.ants[i].empty() || steps.lits[i].empty()) continue;
            const std::vector<int>& clause = nonTautological[rng() % nonTautological.size()];
            Steps bad = steps;
            std::vector<long> kept;
            for (long l : bad.lits[i])
                if (std::find(clause.begin(), clause.end(), static_cast<int>(l)) == clause.end()) kept.push_back(l);
            bad.lits[i] = kept;
            std::string planted = dir.file("c" + std::to_string(seed) + ".qrp");
            testsupport::writeFile(planted, bad.text());
            testsupport::writeFile(dir.file("c" + std::to_string(seed) + ".qdimacs"), testsupport::readFile(qdimacs));
            EXPECT_FALSE(plumexValid(planted)) << "an initial cube missing a clause passes:\n" << bad.text();
            ++plantedCubes;
            break;
        }
        for (std::size_t i = 0; i < steps.ids.size(); ++i) {
            if (!steps.proof[i] || steps.ants[i].empty() || steps.lits[i].empty()) continue;
            Steps bad = steps;
            std::size_t k = rng() % bad.lits[i].size();
            bad.lits[i][k] = -bad.lits[i][k];
            std::string planted = dir.file("x" + std::to_string(seed) + ".qrp");
            testsupport::writeFile(planted, bad.text());
            testsupport::writeFile(dir.file("x" + std::to_string(seed) + ".qdimacs"), testsupport::readFile(qdimacs));
            EXPECT_FALSE(plumexValid(planted)) << "a flipped literal passes:\n" << bad.text();
            ++plantedFlips;
            break;
        }
    }
    EXPECT_GE(trueOnes, 100);
    EXPECT_GT(plantedCubes, 5);
    EXPECT_GT(plantedFlips, 5);
    std::printf("%d true formulas, %d planted cubes, %d planted flips\n", trueOnes, plantedCubes, plantedFlips);
}
