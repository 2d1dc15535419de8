// Inductive reconstruction: the log's entries, from the last to the first, grow for
// every existential the scenarios in which it is true (posBdd) and false (negBdd),
// restricted to the universal hypothesis in force.
#include "certificate/reconstruct.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "outcomes/clocks.h"
#include "outcomes/outcome.h"

namespace {

// "Bad univ. hypothesis depth" ends the process at this line number, which is part of
// the program's output.
constexpr int kBadHypothesisDepthLine = 166;

constexpr ReplayVerdict kReplayed{};
constexpr ReplayVerdict kContradiction{true, 0};
constexpr ReplayVerdict fault(int status) { return {false, status}; }

int absOf(int l) { return l < 0 ? -l : l; }

bool variableOk(const QBModel& m, long v) { return v >= 1 && v < m.numVars; }
bool literalOk(const QBModel& m, int l) { return l != 0 && variableOk(m, absOf(l)); }

// A missing condition (a clause built without one) stands for every scenario.
bdd::Bdd orOne(const bdd::Bdd& b) { return b.isNull() ? bdd::one() : b; }

bdd::Bdd hypothesis(const QBModel& m) { return m.hypDepth > 0 ? m.hypStack[m.hypDepth - 1] : bdd::one(); }

// The universals x must not depend on. A variable that no CUBES entry has set yet is
// taken to depend on every universal.
bdd::Bdd independent(const QBModel& m, int x) { return orOne(m.indepCube[x]); }

bdd::Bdd univLiteralFalse(const QBModel& m, int l) {
    bdd::Bdd v = bdd::ithVar(m.univIndex[absOf(l)]);
    return l > 0 ? !v : v;
}

void assignUnder(QBModel& m, int l, const bdd::Bdd& condition) {
    bdd::Bdd b = m.hypDepth > 0 ? condition & m.hypStack[m.hypDepth - 1] : condition;
    if (l > 0)
        m.posBdd[l] |= b;
    else
        m.negBdd[-l] |= b;
}

ReplayVerdict pushHypothesis(QBModel& m, int l) {
    if (m.hypDepth >= static_cast<int>(m.hypStack.size())) return fault(LOG_DEEP_HYPOTHESIS);
    bdd::Bdd v = bdd::ithVar(m.univIndex[absOf(l)]);
    if (l < 0) v = !v;
    m.hypStack[m.hypDepth] = m.hypDepth == 0 ? v : m.hypStack[m.hypDepth - 1] & v;
    ++m.hypDepth;
    return kReplayed;
}

void popHypothesis(QBModel& m) {
    if (m.hypDepth < 1)
        outcome::abnormalExit("Bad univ. hypothesis depth", kBadHypothesisDepthLine, "QbfModelReconstruct");
    --m.hypDepth;
    m.hypStack[m.hypDepth].release();
}

// Universal literals leave the clause and become its condition: the scenarios in
// which they are all false.
void groundToSymbolic(const QBModel& m, LogClause& clause) {
    std::vector<bdd::Bdd> falsified;
    std::size_t kept = 0;
    for (int l : clause.literals) {
        if (m.isUniversal(absOf(l)))
            falsified.push_back(univLiteralFalse(m, l));
        else
            clause.literals[kept++] = l;
    }
    clause.literals.resize(kept);
    clause.bdd = bdd::conjunction(std::move(falsified));
}

// Narrows every condition to the scenarios in which the clause is not yet satisfied,
// drops the clauses satisfied everywhere, and returns the union of what is left.
bdd::Bdd expungeSatisfied(const QBModel& m, std::vector<LogClause>& list) {
    bdd::Bdd r = bdd::zero();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        LogClause& clause = list[i];
        bdd::Bdd c = orOne(clause.bdd);
        for (std::size_t j = 0; j < clause.literals.size() && !c.isZero(); ++j) {
            int l = clause.literals[j];
            c &= !(l > 0 ? m.posBdd[l] : m.negBdd[-l]);
        }
        if (c.isZero()) continue;
        clause.bdd = c;
        r = c | r;
        if (kept != i) list[kept] = std::move(clause);
        ++kept;
    }
    list.resize(kept);
    return r;
}

void sortClause(LogClause& clause) {
    if (clause.sorted) return;
    std::sort(clause.literals.begin(), clause.literals.end(), [](int a, int b) { return absOf(a) < absOf(b); });
    clause.sorted = 1;
}

// The first variable other than x that the two clauses hold with opposite signs; 0 if none.
int firstOpposite(const LogClause& p, const LogClause& n, int x) {
    std::size_t i = 0, j = 0;
    while (i < p.literals.size() && j < n.literals.size()) {
        int a = p.literals[i], b = n.literals[j];
        if (absOf(a) < absOf(b)) {
            ++i;
        } else if (absOf(b) < absOf(a)) {
            ++j;
        } else {
            if (absOf(a) != x && a == -b) return absOf(a);
            ++i;
            ++j;
        }
    }
    return 0;
}

// Breaks a clash of the resolution on x by making false, where both clauses are present
// and it is still free, the first variable the clauses hold with opposite signs. Only
// the scenarios of the hypothesis count: an assignment outside it would be restricted
// away and the clash never end. An assignment that changes nothing counts as none, so
// every successful call grows a negBdd and the caller's loop ends.
bool breakClash(QBModel& m, int x, std::vector<LogClause>& P, std::vector<LogClause>& N) {
    bdd::Bdd hyp = hypothesis(m);
    for (LogClause& p : P) {
        sortClause(p);
        for (LogClause& n : N) {
            sortClause(n);
            int v = firstOpposite(p, n, x);
            if (v == 0 || m.isUniversal(v)) continue;  // a universal is never assigned
            bdd::Bdd f = orOne(p.bdd) & orOne(n.bdd) & hyp;
            if (f.isZero()) continue;
            f = f & !m.posBdd[v] & !m.negBdd[v];
            if (f.isZero()) continue;
            bdd::Bdd before = m.negBdd[v];
            assignUnder(m, -v, bdd::exist(f, independent(m, v)));
            if (m.negBdd[v] != before) return true;
        }
    }
    return false;
}

ReplayVerdict resolveOn(QBModel& m, int x, std::vector<LogClause>& P, std::vector<LogClause>& N) {
    for (;;) {
        bdd::Bdd a = expungeSatisfied(m, P);
        bdd::Bdd b = expungeSatisfied(m, N);
        bdd::Bdd cube = independent(m, x);
        bdd::Bdd cp = bdd::exist(a, cube);
        bdd::Bdd cn = bdd::exist(b, cube);
        // Outside the hypothesis both assignments are restricted away: no clash there.
        if ((cp & cn & hypothesis(m)).isZero()) {
            assignUnder(m, x, cp);
            assignUnder(m, -x, cn);
            return kReplayed;
        }
        if (!breakClash(m, x, P, N)) return kContradiction;
    }
}

ReplayVerdict applyEquivalence(QBModel& m, LogEntry& e) {
    bdd::Bdd c = orOne(e.bdd);
    int x = e.a;
    // b is a literal: a negated variable carries its sign into s.
    int s = e.s == 1 ? 1 : -1;
    int y = e.b;
    if (y < 0) {
        y = -y;
        s = -s;
    }
    bdd::Bdd t = c & (s == 1 ? m.posBdd[y] : m.negBdd[y]);
    bdd::Bdd f = c & (s == 1 ? m.negBdd[y] : m.posBdd[y]);
    assignUnder(m, x, t);
    assignUnder(m, -x, f);
    bdd::Bdd d = c & expungeSatisfied(m, e.clauses);
    if (d.isZero()) return kReplayed;
    assignUnder(m, x, bdd::exist(d, independent(m, absOf(x))));
    assignUnder(m, s * y, bdd::exist(d, independent(m, y)));
    return kReplayed;
}

ReplayVerdict applySatEncoding(QBModel& m, LogEntry& e) {
    std::vector<int> bits;
    const InverseVarMapping& map = e.mapping;
    for (int i = 1; i <= map.cnfVarNum && i < static_cast<int>(e.values.size()); ++i) {
        int value = e.values[i];
        if (value != 0 && value != 1) continue;
        InverseLookup found = inverseLookup(map, i, bits);
        if (found.exVar == 0) return fault(LOG_BAD_CNF_VARIABLE);
        int x = found.exVar;
        if (!variableOk(m, x)) return fault(LOG_BAD_VARIABLE);
        if (m.isUniversal(x)) return fault(LOG_UNIVERSAL_ASSIGNED);
        std::vector<bdd::Bdd> scenario;
        for (int j = 0; j < found.count; ++j) {
            int u = (*found.universals)[j];
            if (!variableOk(m, u) || !m.isUniversal(u)) return fault(LOG_BAD_VARIABLE);
            bdd::Bdd v = bdd::ithVar(m.univIndex[u]);
            scenario.push_back(bits[j] == 1 ? v : !v);
        }
        assignUnder(m, value == 1 ? x : -x, bdd::conjunction(std::move(scenario)));
    }
    return kReplayed;
}

bool isPositiveCube(bdd::Bdd b) {
    while (!b.isOne()) {
        if (b.isZero() || !b.low().isZero()) return false;
        b = b.high();
    }
    return true;
}

bool clausesOk(const QBModel& m, const std::vector<LogClause>& list) {
    for (const LogClause& c : list)
        for (int l : c.literals)
            if (!literalOk(m, l)) return false;
    return true;
}

// Every number of the entry that indexes a table of the model lies in 1..numVars-1.
bool numbersOk(const QBModel& m, const LogEntry& e) {
    switch (e.kind) {
        case G_CUBES:
        case S_CUBES:
            for (const LogCube& cube : e.cubes) {
                if (!variableOk(m, cube.variable)) return false;
                for (int u : cube.dominators)
                    if (!variableOk(m, u)) return false;
            }
            return true;
        case G_RES:
        case S_RES: return variableOk(m, e.variable) && clausesOk(m, e.positive) && clausesOk(m, e.negative);
        case G_ASSIGN:
        case S_ASSIGN:
        case B_IN:
        case B_OUT: return literalOk(m, e.literal);
        case S_EQUIV: return literalOk(m, e.a) && literalOk(m, e.b) && clausesOk(m, e.clauses);
        default: return true;
    }
}

ReplayVerdict replay(QBModel& m, LogEntry& e) {
    if (!numbersOk(m, e)) return fault(LOG_BAD_VARIABLE);
    switch (e.kind) {
        case G_CUBES:
            for (const LogCube& cube : e.cubes) {
                std::vector<int> dominators;
                for (int u : cube.dominators) dominators.push_back(m.univIndex[u]);
                bdd::Bdd c = bdd::positiveCube(std::move(dominators));
                m.indepCube[cube.variable] = bdd::exist(m.allUnivCube, c);
            }
            return kReplayed;
        case S_CUBES:
            for (const LogCube& cube : e.cubes) {
                bdd::Bdd c = orOne(cube.cube);
                if (!isPositiveCube(c)) return fault(LOG_BAD_CUBE);
                m.indepCube[cube.variable] = bdd::exist(m.allUnivCube, c);
            }
            return kReplayed;
        case G_RES:
            for (LogClause& c : e.positive) groundToSymbolic(m, c);
            for (LogClause& c : e.negative) groundToSymbolic(m, c);
            [[fallthrough]];
        case S_RES:
            if (m.isUniversal(e.variable)) return fault(LOG_UNIVERSAL_ASSIGNED);
            return resolveOn(m, e.variable, e.positive, e.negative);
        case G_ASSIGN:
        case S_ASSIGN:
            if (m.isUniversal(absOf(e.literal))) return kReplayed;
            assignUnder(m, e.literal, e.kind == S_ASSIGN ? orOne(e.bdd) : bdd::one());
            return kReplayed;
        case S_EQUIV:
            if (m.isUniversal(absOf(e.a)) || m.isUniversal(absOf(e.b))) return fault(LOG_UNIVERSAL_ASSIGNED);
            return applyEquivalence(m, e);
        case B_OUT:
            if (m.isUniversal(absOf(e.literal))) return pushHypothesis(m, e.literal);
            assignUnder(m, e.literal, bdd::one());
            return kReplayed;
        case B_IN:
            if (m.isUniversal(absOf(e.literal))) popHypothesis(m);
            return kReplayed;
        case SAT_ENCODING: return applySatEncoding(m, e);
        default: return kReplayed;
    }
}

// Reordering hooks: the time spent goes to the reporter's reordering account.
void reportReorderings(bdd::Manager& manager, const ReconstructOptions& options, steps::Reporter& reporter) {
    auto start = std::make_shared<double>(0.0);
    bool show = options.showReordering;
    steps::Reporter* to = &reporter;
    manager.setReorderHooks(
        [start, show, to] {
            if (show) to->write("[BDD");
            *start = clocks::checkMicros();
        },
        [start, show, to] {
            to->addReorderTime(clocks::checkSecondsSince(*start));
            if (show) to->write("]");
        });
}

// The reader must not keep a manager that dies with an abandoned model.
struct ManagerInstalled {
    LogReader& reader;
    ~ManagerInstalled() { logInstallManager(reader, nullptr); }
};

}  // namespace

std::unique_ptr<QBModel> newReplayModel(const std::string& formula, int numVars, const std::vector<int>& universals,
                                        const std::vector<int>& intToExt, int maxExtVar, long inputBytes) {
    int numUniv = static_cast<int>(universals.size()) - 1;
    if (numUniv < 0) numUniv = 0;
    auto model = std::make_unique<QBModel>();
    QBModel& m = *model;
    m.formula = formula;
    m.manager = std::make_unique<bdd::Manager>(numUniv, inputBytes);
    allocateModelTables(m, numVars, numUniv, maxExtVar, true);
    for (int i = 0; i < numVars && i < static_cast<int>(intToExt.size()); ++i) {
        int e = intToExt[i];
        m.intToExt[i] = e;
        if (e >= 0 && e <= maxExtVar) m.extToInt[e] = i;
    }
    std::vector<int> universalIndices;
    for (int k = 1; k <= numUniv; ++k) {
        int u = universals[k];
        m.univVar[k] = u;
        if (u >= 1 && u < numVars) m.univIndex[u] = k;
        universalIndices.push_back(k);
    }
    m.allUnivCube = bdd::positiveCube(std::move(universalIndices));
    for (int i = 1; i < numVars; ++i) {
        if (m.univIndex[i] != 0) continue;
        m.existVar[++m.numExist] = i;
        m.existPos[i] = m.numExist;
    }
    return model;
}

ReplayVerdict replayEntry(QBModel& model, LogEntry& entry) { return replay(model, entry); }

std::unique_ptr<QBModel> reconstructModel(LogReader& reader, const ReconstructOptions& options,
                                          steps::Reporter& reporter) {
    if (logIsError(reader)) return nullptr;
    reporter.open("Inductive reconstruction");
    double start = clocks::checkMicros();

    std::unique_ptr<QBModel> model = newReplayModel(logFormula(reader), logNumVars(reader), logUniversals(reader),
                                                    logIntToExt(reader), logMaxExt(reader), logFileBytes(reader));
    model->dddmpMode = logBinary(reader) ? 'B' : 'A';
    bdd::Manager& manager = *model->manager;
    if (options.reorderMethod == 1) {
        manager.disableReordering();
    } else {
        manager.enableReordering(options.reorderMethod);
        reportReorderings(manager, options, reporter);
    }
    logInstallManager(reader, &manager);
    ManagerInstalled installed{reader};

    long total = logTrailerId(reader);
    steps::Progress progress(reporter);
    progress.start();
    long failedId = -1;
    do {
        long id = 0;
        ReplayVerdict verdict;
        {
            LogEntry entry = logReadPrevious(reader);
            if (logIsError(reader)) {
                reporter.close();
                return nullptr;
            }
            verdict = replay(*model, entry);
            id = entry.id;
        }  // the entry is released here
        if (verdict.fault != 0) {
            logSetStatus(reader, verdict.fault);
            reporter.close();
            return nullptr;
        }
        if (verdict.contradiction) reporter.write("(UNSAT contradiction)");
        // The trailer's id may be 0: Progress scales nothing against it.
        progress.update(total - id, total);
        if (verdict.contradiction) {
            failedId = id;
            break;
        }
    } while (!logAtFirstEntry(reader));
    logClose(reader);

    if (failedId >= 0) {
        reporter.close("PROBLEMS, entry " + std::to_string(failedId));
        return nullptr;
    }
    progress.finish();
    reporter.close();
    model->reconstructionTime = clocks::checkSecondsSince(start);
    return model;
}
