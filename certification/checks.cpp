// Consistency, dependency and clause checks of a certificate.
#include "certification/checks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "certification/countermodel_check.h"
#include "outcomes/clocks.h"

namespace certification {

namespace {

// The internal variable of an external number, 0 when the certificate does not know it.
int internalOf(const QBModel& model, int external) {
    if (!model.knowsExternal(external)) return 0;
    int v = model.extToInt[external];
    return v < model.numVars && v < static_cast<int>(model.univIndex.size()) ? v : 0;
}

bool hasFunction(const QBModel& model, int v) {
    return v < static_cast<int>(model.posBdd.size()) && v < static_cast<int>(model.negBdd.size()) &&
           !model.posBdd[v].isNull() && !model.negBdd[v].isNull();
}

void reportFailingClause(const QBModel& model, const int* literals, int count, steps::Reporter& reporter) {
    reporter.write("Non-sat clause: ");
    for (int i = 0; i < count; ++i) {
        int e = literals[i];
        int v = internalOf(model, std::abs(e));
        bool universal = v != 0 && model.univIndex[v] != 0;
        reporter.print("%s%i(orig:%i) ", universal ? "A" : "E", e < 0 ? -v : v, e);
    }
}

}  // namespace

int consistencyCheck(QBModel& model, steps::Reporter& reporter) {
    reporter.open("Consistency check       ");
    double start = clocks::checkMicros();
    steps::Progress progress(reporter);
    progress.start();
    long k = 0;
    for (int i = 1; i < model.numVars; ++i) {
        if (!hasFunction(model, i)) continue;
        bool conflict = !(model.posBdd[i] & model.negBdd[i]).isZero();
        ++k;
        progress.update(k, model.numVars);
        if (conflict) {
            reporter.close("Problem with variable " + std::to_string(model.intToExt[i]));
            return 0;
        }
    }
    progress.finish();
    reporter.close();
    model.consistencyTime = clocks::checkSecondsSince(start);
    return 1;
}

namespace {

// For every BDD index u, the BDD that falsifies the positive literal (not u) at 2u and the
// one that falsifies the negative literal (u) at 2u + 1: built once per check, not per clause.
std::vector<bdd::Bdd> falsifiers(const QBModel& model) {
    std::vector<bdd::Bdd> table(2 * (static_cast<std::size_t>(model.numUniv) + 1));
    for (int u = 1; u <= model.numUniv; ++u) {
        table[2 * u + 1] = bdd::ithVar(u);
        table[2 * u] = !table[2 * u + 1];
    }
    return table;
}

// The literals (external number e at bit 2e, -e at bit 2e + 1) whose function is the
// constant true, decided once per check: most clauses hold by such a literal and are told
// from these bits alone, without a look at the certificate's tables. One bit per literal
// keeps the set in the processor's near caches while the formula streams past.
class AlwaysTrue {
  public:
    explicit AlwaysTrue(const QBModel& model) {
        std::size_t known = model.extToInt.size();
        bits_.assign((2 * known + 63) / 64, 0);
        for (std::size_t e = 1; e < known; ++e) {
            int v = internalOf(model, static_cast<int>(e));
            if (v == 0 || model.univIndex[v] != 0 || !hasFunction(model, v)) continue;
            if (model.posBdd[v].isOne()) set(2 * e);
            if (model.negBdd[v].isOne()) set(2 * e + 1);
        }
    }

    bool holds(const int* literals, int count) const {
        for (int i = 0; i < count; ++i) {
            long e = literals[i];
            std::size_t at = e < 0 ? 2 * static_cast<std::size_t>(-e) + 1 : 2 * static_cast<std::size_t>(e);
            std::size_t word = at >> 6;
            if (word < bits_.size() && (bits_[word] >> (at & 63) & 1)) return true;
        }
        return false;
    }

  private:
    void set(std::size_t at) { bits_[at >> 6] |= std::uint64_t{1} << (at & 63); }
    std::vector<std::uint64_t> bits_;
};

// The universal literals' falsifiers make the hypothesis; falsified is a buffer kept from
// clause to clause, since this runs once per clause of the formula.
int checkClause(const QBModel& model, const std::vector<bdd::Bdd>& falsify, std::vector<bdd::Bdd>& falsified,
                const int* literals, int count, steps::Reporter& reporter, FailingClause* failing) {
    falsified.clear();
    bdd::Bdd s;  // null: the empty satisfying set
    for (int i = 0; i < count; ++i) {
        int e = literals[i];
        int v = internalOf(model, std::abs(e));
        if (v == 0) continue;  // unknown to the certificate: it contributes nothing
        if (int u = model.univIndex[v]) {
            falsified.push_back(falsify[2 * static_cast<std::size_t>(u) + (e > 0 ? 0 : 1)]);
        } else if (hasFunction(model, v)) {
            const bdd::Bdd& f = e > 0 ? model.posBdd[v] : model.negBdd[v];
            if (f.isOne()) return 1;  // satisfied in every scenario
            if (f.isZero()) continue;
            s = s.isNull() ? f : s | f;
        }
    }
    if (s.isNull()) s = bdd::zero();
    bdd::Bdd h;  // null: the constant true hypothesis
    if (!falsified.empty()) h = bdd::conjunctionInPlace(falsified);
    bdd::Bdd r = h.isNull() ? s : bdd::cofactor(s, h);
    if (r.isOne()) return 1;
    reportFailingClause(model, literals, count, reporter);
    if (failing) *failing = {s, h.isNull() ? bdd::one() : h, r};
    return 0;
}

}  // namespace

int clauseCheck(const QBModel& model, const int* literals, int count, steps::Reporter& reporter,
                FailingClause* failing) {
    std::vector<bdd::Bdd> falsified;
    return checkClause(model, falsifiers(model), falsified, literals, count, reporter, failing);
}

int dependencyCheck(const QBModel& model, const qdimacs::Prefix& prefix, steps::Reporter& reporter,
                    const std::function<bool(int)>& select) {
    int blocks = static_cast<int>(prefix.blockKind.size());
    auto blockOf = [&](int internal) {
        int e = model.intToExt[internal];
        return e > 0 && e < static_cast<int>(prefix.block.size()) ? prefix.block[e] : 0;
    };
    // The formula quantifies a variable as an input of the functions: universally for a
    // certificate, existentially (free variables too) for a countermodel.
    auto quantifiedAsInput = [&](int b) {
        bool universal = b > 0 && prefix.blockKind[b] == 'a';
        return model.countermodel() ? !universal : universal;
    };
    // later[b]: the inputs quantified in blocks after b, computed once per block.
    std::vector<bdd::Bdd> later(static_cast<std::size_t>(blocks));
    for (int x = 1; x < model.numVars; ++x) {
        if (model.univIndex[x] != 0 || !hasFunction(model, x)) continue;
        if (select && !select(x)) continue;
        int b = blockOf(x);
        if (quantifiedAsInput(b)) {
            reporter.print("Problem, variable %i is %s in the formula ", model.intToExt[x], model.inputQuantifier());
            return 0;
        }
        if (later[b].isNull()) {
            std::vector<int> laterInputs;
            for (int k = 1; k <= model.numUniv; ++k)
                if (blockOf(model.univVar[k]) > b) laterInputs.push_back(k);
            later[b] = bdd::positiveCube(std::move(laterInputs));
        }
        if (later[b].isOne()) continue;
        bdd::Bdd t = bdd::exist(model.posBdd[x], later[b]);
        bdd::Bdd f = bdd::exist(model.negBdd[x], later[b]);
        if (!(t & f).isZero()) {
            reporter.print("Problem, variable %i depends on a later %s ", model.intToExt[x], model.inputQuantifier());
            return 0;
        }
    }
    return 1;
}

int validityCheck(QBModel& model, const std::string& formulaPath, steps::Reporter& reporter, FailingClause* failing) {
    if (model.countermodel()) return countermodelCheck(model, formulaPath, reporter);
    reporter.open("Validity check          ");
    double start = clocks::checkMicros();
    qdimacs::Expect expect;
    expect.numVars = model.numVars;
    expect.maxKnown = static_cast<int>(model.extToInt.size()) - 1;
    expect.prefixThroughComments = model.solver != "Tobrin";  // a trace's or a circuit's
    const QBModel& m = model;
    std::vector<bdd::Bdd> falsify = falsifiers(model);
    AlwaysTrue alwaysTrue(model);
    std::vector<bdd::Bdd> falsified;
    int result = qdimacs::read(
        formulaPath, expect,
        [&](const int* literals, int count) {
            if (alwaysTrue.holds(literals, count)) return 1;
            return checkClause(m, falsify, falsified, literals, count, reporter, failing);
        },
        reporter, [&m, &reporter](const qdimacs::Prefix& prefix) { return dependencyCheck(m, prefix, reporter); });
    reporter.close();
    model.validityTime = clocks::checkSecondsSince(start);
    return result;
}

}  // namespace certification
