// Evaluation against brute force: random certificates over up to six universals and
// random expressions, checked scenario by scenario with the three-valued tables; direct
// results checked by enumerating the completions of random scenarios.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "expressions/evaluate.h"
#include "expressions_fixture.h"
#include "tests/support/recorder.h"

namespace {

using namespace exptest;

std::string summaryOracle(const Certificate& c, const Gen& g) {
    int t = 0, f = 0, n = c.scenarios();
    for (int s = 0; s < n; ++s) {
        int v = tri(c, g, s);
        t += v == T;
        f += v == F;
    }
    char buffer[64];
    if (t == n) return "always";
    if (f == n) return "never";
    if (t + f == n)
        std::snprintf(buffer, sizeof buffer, "%g%%", 100.0 * t / n);
    else
        std::snprintf(buffer, sizeof buffer, "[%g%%:%g%%]", 100.0 * t / n, 100.0 * f / n);
    return buffer;
}

int directOracle(const Certificate& c, const Gen& g, const std::vector<int>& scenario) {
    int completions = 0, t = 0, f = 0;
    for (int s = 0; s < c.scenarios(); ++s) {
        bool agrees = true;
        for (int lit : scenario) {
            int j = 0;
            for (int k = 1; k <= c.numUniv; ++k)
                if (c.univExt[k] == std::abs(lit)) j = k;
            bool value = (s >> (j - 1)) & 1;
            if (value != (lit > 0)) agrees = false;
        }
        if (!agrees) continue;
        ++completions;
        int v = tri(c, g, s);
        t += v == T;
        f += v == F;
    }
    bool noneT = t == 0, allT = t == completions, noneF = f == 0, allF = f == completions;
    if (noneT) return noneF ? DIR_DC : (allF ? DIR_F : DIR_WF);
    if (allT) return noneF ? DIR_T : DIR_ERR;
    return noneF ? DIR_WT : DIR_UNKNOWN;
}

std::string results(const ExpList& list, int index) {
    char buffer[1000];
    expFormatResults(buffer, sizeof buffer, &list, index);
    return buffer;
}

TEST(ExpressionEvaluation, InverseValuesMatchTheThreeValuedTablesScenarioByScenario) {
    std::mt19937 rng(20261208);
    int checked = 0;
    for (int round = 0; round < 60; ++round) {
        int u = round % 7;
        auto cert = randomCertificate(rng, u, 1 + round % 4, round % 3 == 0 ? 0.0 : 0.3);
        for (int e = 0; e < 25; ++e) {
            auto g = randomExpression(rng, cert->existExt, 1 + e % 5);
            std::string t = text(*g);
            SCOPED_TRACE("u=" + std::to_string(u) + " expression " + t);
            ListPtr list(expParseList(t.c_str()));
            ASSERT_NE(list, nullptr);
            ASSERT_EQ(list->mode, 1);
            char canonical[4096];
            expFormatList(canonical, sizeof canonical, list.get(), -1, false);
            EXPECT_EQ(canonical, t);
            ASSERT_EQ(expCheckArgs(cert->model, *list), 1);
            ASSERT_EQ(expEvaluateList(cert->model, *list, steps::silent()), 1);
            const ExpValue& v = list->values[0];
            for (int s = 0; s < cert->scenarios(); ++s) {
                int expected = tri(*cert, *g, s);
                ASSERT_EQ(holds(v.trueBdd, u, s), expected == T) << "scenario " << s;
                ASSERT_EQ(holds(v.falseBdd, u, s), expected == F) << "scenario " << s;
            }
            EXPECT_EQ(results(*list, -1), summaryOracle(*cert, *g));
            ++checked;
        }
    }
    EXPECT_EQ(checked, 1500);
}

TEST(ExpressionEvaluation, DirectResultsMatchTheCompletionsOfRandomScenarios) {
    std::mt19937 rng(7);
    for (int round = 0; round < 60; ++round) {
        int u = 1 + round % 6;
        auto cert = randomCertificate(rng, u, 3, round % 2 ? 0.5 : 0.1);
        for (int e = 0; e < 20; ++e) {
            int count = 1 + e % 3;
            std::vector<std::unique_ptr<Gen>> gens;
            std::string t = count > 1 ? "<" : "";
            for (int k = 0; k < count; ++k) {
                gens.push_back(randomExpression(rng, cert->existExt, e % 4));
                t += (k ? "," : "") + text(*gens.back());
            }
            if (count > 1) t += ">";
            // Random scenario literals, repeats and contradictions included.
            std::vector<int> scenario;
            int len = static_cast<int>(rng() % (u + 2));
            t += "(";
            for (int k = 0; k < len; ++k) {
                int lit = cert->univExt[1 + rng() % u] * (rng() % 2 ? 1 : -1);
                scenario.push_back(lit);
                t += (k ? "," : "") + std::to_string(lit);
            }
            t += ")";
            SCOPED_TRACE("u=" + std::to_string(u) + " text " + t);
            ListPtr list(expParseList(t.c_str()));
            ASSERT_NE(list, nullptr);
            ASSERT_EQ(list->mode, 0);
            ASSERT_EQ(list->count, count);
            ASSERT_EQ(expCheckArgs(cert->model, *list), 1);
            int ok = expEvaluateList(cert->model, *list, steps::silent());
            EXPECT_EQ(ok, 1);  // consistent certificates never give "ERR"
            std::string all = count > 1 ? "<" : "";
            for (int k = 0; k < count; ++k) {
                int expected = directOracle(*cert, *gens[k], scenario);
                EXPECT_EQ(list->directResults[k], expected) << "expression " << k;
                EXPECT_TRUE(list->values[k].trueBdd.isNull());  // released once classified
                all += std::string(k ? "," : "") + directResultName(expected);
            }
            if (count > 1) all += ">";
            EXPECT_EQ(results(*list, -1), all);
        }
    }
}

std::string evaluated(const QBModel& model, const char* text, int* ok = nullptr) {
    ListPtr list(expParseList(text));
    if (!list) return "(no list)";
    if (!expCheckArgs(model, *list)) return "(bad argument)";
    int r = expEvaluateList(model, *list, steps::silent());
    if (ok) *ok = r;
    return results(*list, -1);
}

TEST(ExpressionEvaluation, SummariesOfTheDocumentedCases) {
    Small s;
    EXPECT_EQ(evaluated(s.model, "5"), "always");
    EXPECT_EQ(evaluated(s.model, "-5"), "never");
    EXPECT_EQ(evaluated(s.model, "6"), "50%");
    EXPECT_EQ(evaluated(s.model, "7"), "[25%:25%]");
    EXPECT_EQ(evaluated(s.model, "dc(7)"), "50%");
    EXPECT_EQ(evaluated(s.model, "not(dc(7))"), "50%");
    EXPECT_EQ(evaluated(s.model, "dc(5)"), "never");
    EXPECT_EQ(evaluated(s.model, "<not(not(7)),7,and(6,-6)>"), "<[25%:25%],[25%:25%],never>");
    EXPECT_EQ(evaluated(s.model, "or(6,7)"), "[50%:25%]");
}

TEST(ExpressionEvaluation, DcIsTrueExactlyWhereTheOperandIsUndetermined) {
    Small s;
    ListPtr list(expParseList("<dc(7),not(not(7)),7>"));
    ASSERT_NE(list, nullptr);
    testsupport::Recorder r;
    ASSERT_EQ(expEvaluateList(s.model, *list, r), 1);
    EXPECT_EQ(r.text, "dc(7) = 50% [OK]!(!(7)) = [25%:25%] [OK]7 = [25%:25%] [OK]");  // a step per expression
    bdd::Bdd pos = s.model.posBdd[5], neg = s.model.negBdd[5];
    EXPECT_EQ(list->values[0].trueBdd, !(pos | neg));
    EXPECT_EQ(list->values[0].falseBdd, pos | neg);
    EXPECT_EQ(list->values[1].trueBdd, list->values[2].trueBdd);
    EXPECT_EQ(list->values[1].falseBdd, list->values[2].falseBdd);
}

TEST(ExpressionEvaluation, DirectResultCodesOfTheDocumentedCases) {
    Small s;
    EXPECT_EQ(evaluated(s.model, "6(3)"), "T");
    EXPECT_EQ(evaluated(s.model, "6(-3)"), "F");
    EXPECT_EQ(evaluated(s.model, "6()"), "?");
    EXPECT_EQ(evaluated(s.model, "5()"), "T");
    EXPECT_EQ(evaluated(s.model, "7(3)"), "wT");
    EXPECT_EQ(evaluated(s.model, "7(-3)"), "wF");
    EXPECT_EQ(evaluated(s.model, "7(3,-4)"), "DC");
    EXPECT_EQ(evaluated(s.model, "6(3,-3)"), "DC");  // a contradictory scenario leaves no completion
    EXPECT_EQ(evaluated(s.model, "<6,and(6,7)>(3)"), "<T,wT>");
    int ok = -1;
    EXPECT_EQ(evaluated(s.model, "8()", &ok), "ERR");  // true everywhere, also false where 3
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(evaluated(s.model, "<6,8>(3)", &ok), "<T,ERR>");
    EXPECT_EQ(ok, 0);
    EXPECT_STREQ(directResultName(-1), "?");
    EXPECT_STREQ(directResultName(7), "?");
}

TEST(ExpressionEvaluation, ArgumentCheckRefusesWhatIsNoAvailableExistential) {
    Small s;
    EXPECT_EQ(evaluated(s.model, "3"), "(bad argument)");            // a universal
    EXPECT_EQ(evaluated(s.model, "9"), "(bad argument)");            // stripped: no functions
    EXPECT_EQ(evaluated(s.model, "and(5,10)"), "(bad argument)");    // beyond the formula
    EXPECT_EQ(evaluated(s.model, "and(5,-1)"), "(bad argument)");    // a hole in the numbering
    EXPECT_EQ(evaluated(s.model, "<5,2147483647>"), "(bad argument)");
    EXPECT_EQ(evaluated(s.model, "-2147483648"), "(bad argument)");
    EXPECT_EQ(evaluated(s.model, "5(6)"), "(bad argument)");         // scenario names an existential
    EXPECT_EQ(evaluated(s.model, "5(12)"), "(bad argument)");        // scenario beyond the formula
    EXPECT_EQ(evaluated(s.model, "5(-4,3)"), "T");

    // Evaluated all the same, a literal that is no existential gives the missing pair,
    // and a scenario literal that is no universal gives "ERR".
    ExpNode lit;
    lit.literal = 3;
    EXPECT_TRUE(expEvaluateNode(s.model, &lit).missing());
    lit.literal = 6;
    ExpValue v = expEvaluateNode(s.model, &lit);
    ASSERT_FALSE(v.missing());
    IntVector scenario;
    scenario.append(6);
    EXPECT_EQ(expDirectResult(s.model, v.trueBdd, v.falseBdd, &scenario), DIR_ERR);
    ListPtr list(expParseList("<3,6>"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(expEvaluateList(s.model, *list, steps::silent()), 0);
    EXPECT_EQ(results(*list, -1), "<ERR,50%>");
}

TEST(ExpressionEvaluation, DeepTreesEvaluateWithinTheLimitAndFailBeyondIt) {
    Small s;
    std::string deep;
    for (int i = 0; i < kExpMaxDepth; ++i) deep += "not(";
    deep += "7";
    for (int i = 0; i < kExpMaxDepth; ++i) deep += ")";
    EXPECT_EQ(evaluated(s.model, deep.c_str()), "[25%:25%]");

    // A tree built by hand beyond the parser's limit evaluates to the missing pair.
    auto root = std::make_unique<ExpNode>();
    ExpNode* n = root.get();
    for (int i = 0; i < kExpMaxDepth + 5; ++i) {
        n->kind = EXP_NOT;
        n->left = std::make_unique<ExpNode>();
        n = n->left.get();
    }
    n->literal = 7;
    EXPECT_TRUE(expEvaluateNode(s.model, root.get()).missing());
    char buffer[50];
    EXPECT_EQ(expFormatNode(buffer, sizeof buffer, root.get()), 49);
}

}  // namespace
