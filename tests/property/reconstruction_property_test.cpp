// Reconstruction against independent oracles, over random small formulas: the log
// writer's verdict agrees with depqbf's; for every true formula, in every log style and
// both storage modes, the reconstructed certificate is consistent and satisfies every
// clause in every universal scenario (brute force, without Plumex's own checks); text
// and binary logs of one run deliver identical entries and certificates, and so does a
// log read through windows of a few bytes; and a planted
// invalid or inconsistent assignment is caught by the brute-force check.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "certificate/reconstruct.h"
#include "outcomes/steps.h"
#include "certificate_oracle.h"
#include "inputs/log_reader.h"
#include "pipeline/settings.h"
#include "tests/support/run.h"

namespace {

const char* const kStyles[] = {"search", "symbolic", "mix"};

std::string writer() { return testsupport::binary("plumex-logwriter"); }

extern "C" char** environ;

// Exit status of the command, its output dropped. posix_spawn does not copy the test's
// address space (a fork of a sanitizer build costs more than the command itself); a
// failing command is run again through testsupport::run for its messages.
int spawn(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string messagesOf(const std::vector<std::string>& argv) { return testsupport::run(argv).err; }

struct Counts {
    int universals = 0;
    int existentials = 0;
};

Counts countVariables(const oracle::Formula& f) {
    Counts c;
    std::vector<char> quantified(static_cast<std::size_t>(f.numVars) + 1, 0);
    for (const auto& block : f.prefix)
        for (int v : block.second) {
            if (v < 1 || v > f.numVars) continue;
            quantified[v] = block.first;
        }
    // Variables that no block quantifies are outermost existentials.
    for (int v = 1; v <= f.numVars; ++v) (quantified[v] == 'a' ? c.universals : c.existentials)++;
    return c;
}

struct Reconstructed {
    bool ok = false;
    oracle::Table table;
    bool consistent = false;
    bool satisfies = false;
    std::string why;
};

Reconstructed reconstruct(const std::string& log, const oracle::Formula& formula) {
    Reconstructed r;
    LogReaderPtr reader = logOpen(log);
    std::unique_ptr<QBModel> model = reconstructModel(*reader, {}, steps::display());
    if (!model) {
        r.why = std::string("no certificate: ") + logStatusText(*reader) + " at " + logLastLine(*reader);
        return r;
    }
    r.ok = true;
    r.table = oracle::tabulate(*model);
    r.consistent = oracle::consistent(r.table);
    r.satisfies = oracle::satisfies(r.table, *model, formula, &r.why);
    return r;
}

// Reads both logs side by side into one manager, the second through a window of the
// given size (0: the default); the first difference, or "".
std::string compareEntries(const std::string& textLog, const std::string& binaryLog, long window = 0) {
    LogReaderPtr a = logOpen(textLog);
    LogReaderPtr b = logOpen(binaryLog, window);
    if (logIsError(*a) || logIsError(*b)) return "a log does not open";
    if (logNumUniv(*a) != logNumUniv(*b) || logIntToExt(*a) != logIntToExt(*b) ||
        logUniversals(*a) != logUniversals(*b) || logTrailerId(*a) != logTrailerId(*b))
        return "headers differ";
    bdd::Manager manager(logNumUniv(*a));
    logInstallManager(*a, &manager);
    logInstallManager(*b, &manager);
    for (;;) {
        LogEntry x = logReadPrevious(*a);
        LogEntry y = logReadPrevious(*b);
        if (logIsError(*a) || logIsError(*b)) return std::string("read error: ") + logStatusText(*a) + " / " +
                                                       logStatusText(*b);
        if (!oracle::sameEntry(x, y)) return "entries " + std::to_string(x.id) + " and " + std::to_string(y.id) + " differ";
        if (logAtFirstEntry(*a) != logAtFirstEntry(*b)) return "different entry counts";
        if (logAtFirstEntry(*a)) return "";
    }
}

// A clause made false in one scenario where its universal literals are all false; false
// when the clause cannot be falsified that way.
bool plantInvalid(oracle::Table& t, const QBModel& m, const std::vector<int>& clause) {
    for (unsigned s = 0; s < t.rows.size(); ++s) {
        bool universalsFalse = true;
        for (int l : clause) {
            int x = m.extToInt[l < 0 ? -l : l];
            if (m.isUniversal(x) && (((s >> (m.univIndex[x] - 1)) & 1u) != 0) == (l > 0)) universalsFalse = false;
        }
        if (!universalsFalse) continue;
        for (int l : clause) {
            int x = m.extToInt[l < 0 ? -l : l];
            if (!m.isUniversal(x)) t.rows[s][x] = l > 0 ? '0' : '1';
        }
        return true;
    }
    return false;
}

}  // namespace

TEST(ReconstructionProperty, CertificatesOfRandomFormulasHoldInEveryScenario) {
    ASSERT_TRUE(testsupport::fileExists(writer())) << writer();
    if (!testsupport::fileExists("/usr/bin/depqbf")) GTEST_SKIP() << "depqbf is missing: install the Debian package depqbf";
    scanSettings().verbosity = 0;
    testsupport::TempDir dir;
    std::mt19937 rng(20261208);
    std::mt19937 windows(7);
    int formulas = 0, trueOnes = 0, planted = 0, writerFaults = 0;
    // The sanitizer build takes the first half of the same sequence of formulas.
    const int wanted = testsupport::kSanitized ? 100 : 205;
    for (int seed = 1; formulas < wanted && seed < 2000; ++seed) {
        int vars = 3 + static_cast<int>(rng() % 15);  // 3..17
        int clauses = vars / 3 + static_cast<int>(rng() % static_cast<unsigned>(vars));
        int blocks = 1 + static_cast<int>(rng() % 4);
        const char* first = rng() % 2 ? "a" : "e";
        int width = 2 + static_cast<int>(rng() % 3);
        std::string qdimacs = dir.file("f" + std::to_string(seed) + ".qdimacs");
        std::vector<std::string> gen = {writer(), "gen", "--vars", std::to_string(vars), "--clauses",
                                        std::to_string(clauses), "--blocks", std::to_string(blocks), "--first", first,
                                        "--width", std::to_string(width), "--seed", std::to_string(seed), "-o", qdimacs};
        ASSERT_EQ(spawn(gen), 0) << messagesOf(gen);
        oracle::Formula formula = oracle::parseQdimacs(qdimacs);
        Counts counts = countVariables(formula);
        if (counts.universals > 8 || counts.existentials > 12) continue;
        ++formulas;
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + testsupport::readFile(qdimacs));

        int depqbf = spawn({"/usr/bin/depqbf", qdimacs});
        ASSERT_TRUE(depqbf == 10 || depqbf == 20) << depqbf;
        std::string noise = std::to_string(rng() % 3 * 15);  // 0, 15 or 30 percent
        std::string layout = std::to_string(seed);
        std::vector<std::string> logs;
        for (const char* style : kStyles) {
            for (const char* mode : {"text", "binary"}) {
                std::string base = dir.file(std::string("l") + std::to_string(seed) + "-" + style + "-" + mode);
                std::vector<std::string> w = {writer(), "-q", qdimacs, "-o", base, "--style", style,
                                              "--mode", mode, "--noise", noise, "--seed", layout};
                ASSERT_EQ(spawn(w), depqbf) << "the writer's verdict, " << style << " " << mode << ": " << messagesOf(w);
                logs.push_back(base + ".Tobrin.log");
            }
            if (depqbf == 20) break;  // one verdict is enough for a false formula
        }
        if (depqbf == 20) continue;
        ++trueOnes;

        for (std::size_t i = 0; i < logs.size(); i += 2) {
            SCOPED_TRACE(logs[i]);
            Reconstructed text = reconstruct(logs[i], formula);
            Reconstructed binary = reconstruct(logs[i + 1], formula);
            ASSERT_TRUE(text.ok) << text.why;
            ASSERT_TRUE(binary.ok) << binary.why;
            EXPECT_TRUE(text.consistent);
            EXPECT_TRUE(text.satisfies) << text.why;
            EXPECT_TRUE(binary.table == text.table) << "text and binary certificates differ";
            EXPECT_EQ(compareEntries(logs[i], logs[i + 1]), "");
            // Small windows put their edges inside headers, integers, escapes and dumps.
            for (std::size_t k = i; k < i + 2; ++k) {
                long window = 1 + static_cast<long>(windows() % 300);
                EXPECT_EQ(compareEntries(logs[k], logs[k], window), "") << "window of " << window << " bytes";
            }
        }

        // The brute-force check catches a planted fault in the certificate's table.
        {
            LogReaderPtr reader = logOpen(logs[0]);
            std::unique_ptr<QBModel> model = reconstructModel(*reader, {}, steps::display());
            ASSERT_TRUE(model);
            oracle::Table table = oracle::tabulate(*model);
            for (const std::vector<int>& clause : formula.clauses) {
                oracle::Table bad = table;
                if (!plantInvalid(bad, *model, clause)) continue;
                EXPECT_FALSE(oracle::satisfies(bad, *model, formula)) << "planted invalid assignment not caught";
                ++planted;
                break;
            }
            for (int x = 1; x < model->numVars; ++x) {
                if (model->isUniversal(x)) continue;
                oracle::Table bad = table;
                bad.rows[0][x] = '!';
                EXPECT_FALSE(oracle::consistent(bad));
                break;
            }
        }

        // And the writer's own planted faults, now and then.
        if (trueOnes % 7 == 1) {
            for (const char* fault : {"invalid", "inconsistent"}) {
                std::string base = dir.file(std::string("x") + std::to_string(seed) + fault);
                std::vector<std::string> w = {writer(), "-q", qdimacs, "-o", base, "--fault", fault, "--seed", layout};
                int status = spawn(w);
                if (status == 3) continue;  // this fault cannot be planted in this formula
                ASSERT_EQ(status, 10) << messagesOf(w);
                Reconstructed r = reconstruct(base + ".Tobrin.log", formula);
                ASSERT_TRUE(r.ok) << r.why;
                if (std::string(fault) == "invalid") {
                    EXPECT_TRUE(r.consistent);
                    EXPECT_FALSE(r.satisfies) << "writer's invalid certificate passes";
                } else {
                    EXPECT_FALSE(r.consistent) << "writer's inconsistent certificate passes";
                }
                ++writerFaults;
            }
        }
        for (const std::string& log : logs) std::remove(log.c_str());
        std::remove(qdimacs.c_str());
    }
    EXPECT_GE(formulas, wanted - 5);
    EXPECT_GE(trueOnes, wanted * 3 / 10);
    EXPECT_GE(planted, trueOnes / 2);
    EXPECT_GE(writerFaults, wanted / 20);
    std::printf("%d formulas, %d true, %d planted table faults, %d writer faults\n", formulas, trueOnes, planted,
                writerFaults);
}
