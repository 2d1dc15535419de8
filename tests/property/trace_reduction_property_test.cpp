// Reductions in DepQBF's proof traces of random formulas, true and false. A planted
// illegal reduction (a step that drops a literal of a variable with a function while a
// later input stays: an existential before a kept universal in a cube, a universal before
// a kept existential in a clause) is refused with its message, also where the same step
// removes a literal it may remove. A trace whose formula has two
// neighbouring quantifier blocks swapped (in the trace's prefix and the formula alike) is
// refused, or its certificate holds for the swapped formula (brute force): an order that
// makes the proof's reductions illegal never passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "certificate/trace_extraction.h"
#include "certificate_oracle.h"
#include "countermodel_oracle.h"
#include "tests/support/run.h"
#include "trace_text.h"

namespace {

ModelResult extract(const std::string& trace, const std::string& formula) {
    ExtractionOptions options;
    options.countermodels = true;
    return extractFromTrace(trace, formula, options, steps::silent());
}

// The certificate holds for the formula (by brute force, either answer).
bool holds(const QBModel& m, const oracle::Formula& f, std::string* why) {
    if (m.countermodel()) return countermodel::refutes(m, f, why) && countermodel::readsOnlyEarlier(m, f, why);
    oracle::Table t = oracle::tabulate(m);
    if (!oracle::consistent(t)) {
        if (why) *why = "inconsistent";
        return false;
    }
    if (!oracle::satisfies(t, m, f, why)) return false;
    // Each existential reads only universals before it.
    countermodel::Quantifiers q(f);
    for (int x = 1; x < m.numVars; ++x) {
        if (m.isUniversal(x) || m.posBdd[x].isNull()) continue;
        bool ok = true;
        bdd::visitNodes(std::vector<bdd::Bdd>{m.posBdd[x]}, [&](const bdd::VisitedNode& n) {
            if (n.var >= 0 && q.level[static_cast<std::size_t>(m.univVar[static_cast<std::size_t>(n.var)])] >=
                                  q.level[static_cast<std::size_t>(x)])
                ok = false;
            return 0;
        });
        if (!ok) {
            if (why) *why = "the function of " + std::to_string(x) + " reads a later universal";
            return false;
        }
    }
    return true;
}

// The text with the prefix lines at a and a + 1 (counted among prefix lines) swapped.
std::string swapBlocks(const std::string& text, std::size_t a) {
    std::vector<std::string> lines;
    std::vector<std::size_t> prefix;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        if (!lines.back().empty() && (lines.back()[0] == 'a' || lines.back()[0] == 'e')) prefix.push_back(lines.size() - 1);
        start = end + 1;
    }
    std::swap(lines[prefix[a]], lines[prefix[a + 1]]);
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

}  // namespace

TEST(TraceReductionProperty, IllegalReductionsAndSwappedPrefixesNeverPass) {
    if (!testsupport::fileExists(tracetext::kDepqbf)) GTEST_SKIP() << "depqbf is missing: install the Debian package depqbf";
    std::string gen = testsupport::binary("plumex-logwriter");
    ASSERT_TRUE(testsupport::fileExists(gen)) << gen;
    testsupport::TempDir dir;
    std::mt19937 rng(21);
    int formulas = 0, planted = 0, besideLegal = 0, swaps = 0, swapsRefused = 0;
    for (int seed = 1; formulas < 200 && seed < 4000; ++seed) {
        int vars = 8 + static_cast<int>(rng() % 16);
        int clauses = vars + static_cast<int>(rng() % static_cast<unsigned>(3 * vars));
        int blocks = 3 + static_cast<int>(rng() % 3);
        const char* first = rng() % 2 ? "a" : "e";
        std::string base = dir.file("f" + std::to_string(seed));
        std::string qdimacs = base + ".qdimacs", trace = base + ".qrp";
        ASSERT_EQ(tracetext::spawnTo({gen, "gen", "--vars", std::to_string(vars), "--clauses", std::to_string(clauses),
                                      "--blocks", std::to_string(blocks), "--first", first, "--width",
                                      std::to_string(3 + rng() % 4), "--seed", std::to_string(seed), "-o", qdimacs},
                                     "/dev/null"),
                  0);
        int verdict = tracetext::writeTrace(qdimacs, trace, false);
        ASSERT_TRUE(verdict == 10 || verdict == 20) << verdict;
        bool truth = verdict == 10;
        ++formulas;
        std::string formulaText = testsupport::readFile(qdimacs), traceText = testsupport::readFile(trace);
        SCOPED_TRACE("seed " + std::to_string(seed) + ":\n" + formulaText);
        oracle::Formula formula = oracle::parseQdimacs(qdimacs);
        countermodel::Quantifiers q(formula);
        auto level = [&](long l) { return q.level[static_cast<std::size_t>(l < 0 ? -l : l)]; };
        // A cube keeps universals, a clause existentials: inputs of the functions.
        auto isInput = [&](long l) { return (q.existential[static_cast<std::size_t>(l < 0 ? -l : l)] != 0) != truth; };

        // An illegal reduction: a new step reduces a proof step s, dropping a literal x of
        // a function variable that comes before one of its kept inputs u and, where s has
        // one, a literal y it may drop (no input after it); the steps that resolved s
        // resolve the new step instead (ids doubled to make room).
        tracetext::Steps steps(traceText);
        std::vector<std::size_t> candidates[2];  // without and with a legal literal beside
        auto legalOf = [&](const std::vector<long>& lits) {
            int last = -1;
            for (long u : lits)
                if (isInput(u)) last = std::max(last, level(u));
            for (long y : lits)
                if (!isInput(y) && level(y) > last) return y;
            return 0L;
        };
        auto illegalOf = [&](const std::vector<long>& lits) {
            for (long x : lits)
                for (long u : lits)
                    if (!isInput(x) && isInput(u) && level(u) > level(x)) return x;
            return 0L;
        };
        // A derived step of the proof that removes literals already (a resolvent is printed
        // reduced), and may not drop x as well, is planted in place.
        std::vector<std::size_t> reductions;
        for (std::size_t i = 0; i + 1 < steps.ids.size(); ++i) {
            if (!steps.proof[i] || illegalOf(steps.lits[i]) == 0) continue;
            candidates[legalOf(steps.lits[i]) != 0].push_back(i);
            std::vector<long> before;
            for (long a : steps.ants[i]) {
                const std::vector<long>& l = steps.lits[steps.indexOf(a)];
                before.insert(before.end(), l.begin(), l.end());
            }
            for (long l : before)
                if (std::find(steps.lits[i].begin(), steps.lits[i].end(), l) == steps.lits[i].end() &&
                    std::find(before.begin(), before.end(), -l) == before.end()) {
                    reductions.push_back(i);  // l is removed (not the pivot)
                    break;
                }
        }
        if (!reductions.empty()) {
            std::size_t i = reductions[rng() % reductions.size()];
            long x = illegalOf(steps.lits[i]);
            tracetext::Steps bad = steps;
            bad.lits[i].erase(std::find(bad.lits[i].begin(), bad.lits[i].end(), x));
            std::string planted1 = dir.file("p" + std::to_string(seed) + ".qrp");
            testsupport::writeFile(planted1, bad.text());
            ModelResult r = extract(planted1, qdimacs);
            std::string expected = "step " + std::to_string(steps.ids[i]) + ": a reduction removes " +
                                   (truth ? "existential " : "universal ") + std::to_string(x < 0 ? -x : x) +
                                   (truth ? " with a later universal left" : " with a later existential left");
            EXPECT_EQ(r ? std::string("passes") : r.message(), expected) << bad.text();
            ++planted;
            ++besideLegal;
            candidates[0].clear();
            candidates[1].clear();
        }
        for (int beside : {1, 0}) {
            if (candidates[beside].empty()) continue;
            std::size_t i = candidates[beside][rng() % candidates[beside].size()];
            long x = illegalOf(steps.lits[i]), y = legalOf(steps.lits[i]);
            tracetext::Steps bad = steps;
            long id = steps.ids[i];
            for (std::size_t k = 0; k < bad.ids.size(); ++k) {
                bad.ids[k] *= 2;
                for (long& ant : bad.ants[k]) ant = (k > i && ant == id) ? 2 * id + 1 : 2 * ant;
            }
            std::vector<long> reduced;
            for (long l : steps.lits[i])
                if (l != x && l != y) reduced.push_back(l);
            bad.ids.insert(bad.ids.begin() + static_cast<long>(i) + 1, 2 * id + 1);
            bad.lits.insert(bad.lits.begin() + static_cast<long>(i) + 1, reduced);
            bad.ants.insert(bad.ants.begin() + static_cast<long>(i) + 1, std::vector<long>{2 * id});
            std::string planted1 = dir.file("p" + std::to_string(seed) + ".qrp");
            testsupport::writeFile(planted1, bad.text());
            ModelResult r = extract(planted1, qdimacs);
            std::string expected = "step " + std::to_string(2 * id + 1) + ": a reduction removes " +
                                   (truth ? "existential " : "universal ") + std::to_string(x < 0 ? -x : x) +
                                   (truth ? " with a later universal left" : " with a later existential left");
            EXPECT_EQ(r ? std::string("passes") : r.message(), expected) << bad.text();
            ++planted;
            besideLegal += beside;
            break;
        }

        // Neighbouring blocks swapped in the formula and the trace alike.
        std::size_t blockCount = formula.prefix.size();
        if (blockCount < 2) continue;
        std::size_t a = rng() % (blockCount - 1);
        std::string swappedFormula = dir.file("s" + std::to_string(seed) + ".qdimacs");
        std::string swappedTrace = dir.file("s" + std::to_string(seed) + ".qrp");
        testsupport::writeFile(swappedFormula, swapBlocks(formulaText, a));
        testsupport::writeFile(swappedTrace, swapBlocks(traceText, a));
        ModelResult r = extract(swappedTrace, swappedFormula);
        ++swaps;
        if (!r) {
            ++swapsRefused;
            continue;
        }
        std::string why;
        EXPECT_TRUE(holds(**r, oracle::parseQdimacs(swappedFormula), &why))
            << "a trace with swapped blocks gives a certificate that does not hold (" << why << "):\n"
            << testsupport::readFile(swappedTrace);
    }
    EXPECT_GE(formulas, 200);
    EXPECT_GT(planted, 60);
    EXPECT_GT(besideLegal, 10);
    EXPECT_GT(swapsRefused, 10);
    std::printf("%d formulas, %d illegal reductions planted (%d beside legal ones), %d swapped prefixes (%d refused)\n",
                formulas, planted, besideLegal, swaps, swapsRefused);
}
