// Three-valued evaluation over the certificate. A value is the pair (T, F) of the
// scenarios in which the expression is certainly true and certainly false; the rest are
// its don't-care scenarios. Every operator is a handful of BDD operations; no scenario is
// ever enumerated.
#include "expressions/evaluate.h"

#include <cstdio>
#include <cstdlib>

#include "expressions/parser.h"
#include "expressions/text_sink.h"

namespace {

using expressions::TextSink;

// The internal number of the formula's variable |literal|, 0 when it names none.
int internalOf(const QBModel& model, long literal) {
    long e = std::labs(literal);
    if (e <= 0 || e >= static_cast<long>(model.extToInt.size())) return 0;
    int i = model.extToInt[static_cast<std::size_t>(e)];
    if (i <= 0 || i >= model.numVars) return 0;
    return i;
}

bool isAvailableExistential(const QBModel& model, long literal) {
    int i = internalOf(model, literal);
    if (i == 0 || i >= static_cast<int>(model.existPos.size())) return false;
    if (i >= static_cast<int>(model.posBdd.size()) || i >= static_cast<int>(model.negBdd.size())) return false;
    return model.existPos[i] != 0 && !model.posBdd[i].isNull() && !model.negBdd[i].isNull();
}

int bddIndexOfUniversal(const QBModel& model, long literal) {
    int i = internalOf(model, literal);
    if (i == 0 || i >= static_cast<int>(model.univIndex.size())) return 0;
    return model.univIndex[i];
}

ExpValue evaluate(const QBModel& model, const ExpNode* node, int depth) {
    ExpValue v;
    if (!node || depth > kExpMaxDepth) return v;
    if (node->kind == EXP_LIT) {
        int i = internalOf(model, node->literal);
        if (i == 0 || i >= static_cast<int>(model.existPos.size()) || model.existPos[i] == 0) return v;
        if (i >= static_cast<int>(model.posBdd.size()) || i >= static_cast<int>(model.negBdd.size())) return v;
        if (node->literal > 0) {
            v.trueBdd = model.posBdd[i];
            v.falseBdd = model.negBdd[i];
        } else {
            v.trueBdd = model.negBdd[i];
            v.falseBdd = model.posBdd[i];
        }
        return v;
    }
    ExpValue a = evaluate(model, node->left.get(), depth + 1);
    if (a.missing()) return v;
    ExpValue b;
    if (expIsBinary(node->kind)) {
        b = evaluate(model, node->right.get(), depth + 1);
        if (b.missing()) return v;
    }
    switch (node->kind) {
        case EXP_NOT:
            v.trueBdd = std::move(a.falseBdd);
            v.falseBdd = std::move(a.trueBdd);
            break;
        case EXP_AND:
            v.trueBdd = a.trueBdd & b.trueBdd;
            v.falseBdd = a.falseBdd | b.falseBdd;
            break;
        case EXP_OR:
            v.trueBdd = a.trueBdd | b.trueBdd;
            v.falseBdd = a.falseBdd & b.falseBdd;
            break;
        case EXP_IMPLIES:
            v.trueBdd = a.falseBdd | b.trueBdd;
            v.falseBdd = a.trueBdd & b.falseBdd;
            break;
        case EXP_XOR:
            v.trueBdd = (a.trueBdd & b.falseBdd) | (a.falseBdd & b.trueBdd);
            v.falseBdd = (a.trueBdd & b.trueBdd) | (a.falseBdd & b.falseBdd);
            break;
        case EXP_DC: {
            bdd::Bdd determined = a.trueBdd | a.falseBdd;
            a = ExpValue();
            v.trueBdd = !determined;
            v.falseBdd = std::move(determined);
            break;
        }
        default:
            break;
    }
    return v;
}

const char* const kDirectNames[] = {"F", "T", "wF", "wT", "DC", "?", "ERR"};

}  // namespace

int expCheckArgs(const QBModel& model, const ExpList& list) {
    std::vector<const ExpNode*> stack;
    for (const auto& root : list.exprs) {
        stack.assign(1, root.get());
        while (!stack.empty()) {
            const ExpNode* n = stack.back();
            stack.pop_back();
            if (!n) return 0;
            if (n->kind == EXP_LIT) {
                if (!isAvailableExistential(model, n->literal)) return 0;
                continue;
            }
            if (n->kind < EXP_NOT || n->kind > EXP_DC) return 0;
            stack.push_back(n->left.get());
            if (expIsBinary(n->kind)) stack.push_back(n->right.get());
        }
    }
    if (list.direct()) {
        if (!list.scenario) return 0;
        for (int k = 0; k < list.scenario->count; ++k)
            if (bddIndexOfUniversal(model, (*list.scenario)[k]) == 0) return 0;
    }
    return 1;
}

ExpValue expEvaluateNode(const QBModel& model, const ExpNode* node) { return evaluate(model, node, 0); }

int expDirectResult(const QBModel& model, const bdd::Bdd& trueBdd, const bdd::Bdd& falseBdd,
                    const IntVector* scenario) {
    if (trueBdd.isNull() || falseBdd.isNull()) return DIR_ERR;
    std::vector<bdd::Bdd> variables, literals;
    int n = scenario ? scenario->count : 0;
    for (int k = 0; k < n; ++k) {
        int u = (*scenario)[k];
        int b = bddIndexOfUniversal(model, u);
        if (b == 0) return DIR_ERR;
        bdd::Bdd x = bdd::ithVar(b);
        variables.push_back(x);
        literals.push_back(u > 0 ? x : !x);
    }
    bdd::Bdd v = bdd::conjunction(std::move(variables));
    bdd::Bdd s = bdd::conjunction(std::move(literals));
    bdd::Bdd rt = s & trueBdd;
    bdd::Bdd rf = s & falseBdd;
    if (n > 0) {
        rt = bdd::exist(rt, v);
        rf = bdd::exist(rf, v);
    }
    if (rt.isZero()) {
        if (rf.isZero()) return DIR_DC;
        return rf.isOne() ? DIR_F : DIR_WF;
    }
    if (rt.isOne()) return rf.isZero() ? DIR_T : DIR_ERR;
    return rf.isZero() ? DIR_WT : DIR_UNKNOWN;
}

const char* directResultName(int code) {
    if (code < DIR_F || code > DIR_ERR) return "?";
    return kDirectNames[code];
}

int expEvaluateList(const QBModel& model, ExpList& list, steps::Reporter& reporter) {
    list.values.clear();
    list.values.resize(static_cast<std::size_t>(list.count));
    if (list.direct()) list.directResults.assign(static_cast<std::size_t>(list.count), DIR_ERR);
    int ok = 1;
    char title[100];
    for (int i = 0; i < list.count; ++i) {
        ExpValue& value = list.values[i];
        value = expEvaluateNode(model, list.exprs[i].get());
        if (value.missing()) {
            ok = 0;
        } else if (list.direct()) {
            list.directResults[i] = expDirectResult(model, value.trueBdd, value.falseBdd, list.scenario.get());
            value = ExpValue();
            if (list.directResults[i] == DIR_ERR) ok = 0;
        }
        expFormatList(title, sizeof title, &list, i, true);
        reporter.open(title);
        reporter.close();
    }
    return ok;
}

int expSummary(char* buffer, std::size_t size, const ExpValue& value) {
    TextSink out(buffer, size);
    if (value.missing()) {
        // Only the BDD package itself can leave a pair missing; the list's evaluation
        // has reported the failure already.
        out.put("ERR");
        return out.length();
    }
    char text[80];
    if (value.trueBdd.isOne()) {
        out.put("always");
    } else if (value.falseBdd.isOne()) {
        out.put("never");
    } else if (value.trueBdd == !value.falseBdd) {
        std::snprintf(text, sizeof text, "%g%%", 100.0 * bdd::mintermFraction(value.trueBdd));
        out.put(text);
    } else {
        std::snprintf(text, sizeof text, "[%g%%:%g%%]", 100.0 * bdd::mintermFraction(value.trueBdd),
                      100.0 * bdd::mintermFraction(value.falseBdd));
        out.put(text);
    }
    return out.length();
}

namespace {

void formatResult(TextSink& out, const ExpList* list, int i) {
    if (list->direct()) {
        int code = i < static_cast<int>(list->directResults.size()) ? list->directResults[i] : DIR_ERR;
        out.put(directResultName(code));
        return;
    }
    if (i >= static_cast<int>(list->values.size())) {
        out.put("ERR");
        return;
    }
    int n = expSummary(out.end(), out.room(), list->values[i]);
    out.advance(n);
}

}  // namespace

int expFormatResults(char* buffer, std::size_t size, const ExpList* list, int index) {
    TextSink out(buffer, size);
    if (index >= 0 || list->count == 1) {
        formatResult(out, list, index >= 0 ? index : 0);
    } else {
        out.put('<');
        for (int i = 0; i < list->count && !out.full(); ++i) {
            if (i > 0) out.put(',');
            formatResult(out, list, i);
        }
        out.put('>');
    }
    return out.length();
}
