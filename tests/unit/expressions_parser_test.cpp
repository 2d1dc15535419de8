// The "-eval" language as users write it: classification, parsing, canonical text and
// the consumed length, over the documented examples and the quirks scripts rely on.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "expressions/parser.h"

namespace {

struct ListDeleter {
    void operator()(ExpList* l) const { expListFree(l); }
};
using ListPtr = std::unique_ptr<ExpList, ListDeleter>;

std::string canonical(const ExpList* list, int index = -1) {
    char buffer[4096];
    int n = expFormatList(buffer, sizeof buffer, list, index, false);
    EXPECT_EQ(n, static_cast<int>(std::string(buffer).size()));
    return buffer;
}

constexpr int kFails = -1;

struct Case {
    const char* text;
    int classification;  // 0 direct, 1 inverse, 2 malformed
    int count;           // from the classification
    const char* canonical;  // nullptr: the parse fails
    int textLength;
    std::vector<int> scenario;  // direct lists
};

const Case kCases[] = {
    // literals
    {"5", 1, 1, "5", 1, {}},
    {"-20", 1, 1, "-20", 3, {}},
    {"0", 2, 1, nullptr, kFails, {}},
    {"and(0,1)", 1, 1, nullptr, kFails, {}},
    {"  5", 1, 1, "5", 3, {}},
    {"5   ", 1, 1, "5", 1, {}},
    {"5 3", 1, 1, "5", 3, {}},
    {"12abc", 1, 1, "12", 5, {}},
    {"0x1F", 1, 1, "31", 4, {}},
    {"010", 1, 1, "8", 3, {}},
    {"09", 2, 1, nullptr, kFails, {}},
    {"+7", 1, 1, "7", 2, {}},
    {"(1)", 1, 1, nullptr, kFails, {}},
    // unary operators need a parenthesis somewhere unless the text starts with a number
    {"not 5", 2, 1, nullptr, kFails, {}},
    {"!5", 2, 1, nullptr, kFails, {}},
    {"dc dc 3", 2, 1, nullptr, kFails, {}},
    {"not (5)", 1, 1, "!(5)", 7, {}},
    {"!(5)", 1, 1, "!(5)", 4, {}},
    {"and(dc 2, dc 10)", 1, 1, "and(dc(2),dc(10))", 16, {}},
    {"dc dc(3)", 1, 1, "dc(dc(3))", 8, {}},
    {"not and(1,2)", 1, 1, "!(and(1,2))", 12, {}},
    {"not or(-20, and (dc 2, dc 10))", 1, 1, "!(or(-20,and(dc(2),dc(10))))", 30, {}},
    {"xor(1, implies (2,-3))", 1, 1, "xor(1,implies(2,-3))", 22, {}},
    // direct and inverse, told apart by a second parenthesised group
    {"or(-20, and (2,10))(1,-3,5)", 0, 1, "<or(-20,and(2,10))>(1,-3,5)", 27, {1, -3, 5}},
    {"or(-20, and (2,10))<1,-3,5>", 1, 1, "or(-20,and(2,10))", 19, {}},
    {"not(5)(4)", 0, 1, "<!(5)>(4)", 9, {4}},
    {"5 (3)", 0, 1, "5(3)", 5, {3}},
    {"5(1)", 0, 1, "5(1)", 4, {1}},
    {"and(1,2) (3) ", 0, 1, "<and(1,2)>(3)", 12, {3}},
    // lists
    {"<1, -2>", 1, 2, "<1,-2>", 7, {}},
    {" < 1 , -2 >  x", 1, 2, "<1,-2>", 11, {}},
    {"<and(1,2),3>(4)", 0, 2, "<and(1,2),3>(4)", 15, {4}},
    {"<1,and(2,3)>(-4)", 0, 2, "<1,and(2,3)>(-4)", 16, {-4}},
    {"<5>", 1, 1, nullptr, kFails, {}},
    {"<5>(1)", 0, 1, nullptr, kFails, {}},
    {"<1,2", 2, 2, nullptr, kFails, {}},
    {"<1,2,>", 1, 3, nullptr, kFails, {}},
    // scenarios
    {"5()", 0, 1, "5()", 3, {}},
    {"5(1,)", 0, 1, "5(1)", 5, {1}},
    {"5(0)", 0, 1, nullptr, kFails, {}},
    {"5(,1)", 0, 1, nullptr, kFails, {}},
    {"5(1 x, 2)", 0, 1, "5(1,2)", 9, {1, 2}},
    {"5(1,2", 0, 1, nullptr, kFails, {}},
    {"5(1)x", 0, 1, "5(1)", 4, {1}},
    {"5( 1 , -2 )", 0, 1, "5(1,-2)", 11, {1, -2}},
    {"5(1,2,3,4,5,6,7)", 0, 1, "5(1,2,3,4,5,6,7)", 16, {1, 2, 3, 4, 5, 6, 7}},
    // operand counts
    {"not(1,2)", 1, 1, nullptr, kFails, {}},
    {"and(1)", 1, 1, nullptr, kFails, {}},
    {"and 1 2", 2, 1, nullptr, kFails, {}},
    {"and(1,2", 1, 1, nullptr, kFails, {}},
    // keywords are prefixes
    {"order(1,2)", 1, 1, nullptr, kFails, {}},
    {"notdc(5)", 1, 1, "!(dc(5))", 8, {}},
    {"andor(1,2)", 1, 1, nullptr, kFails, {}},
    // only the blank is skipped by the parser; the integer conversion skips any white space
    {"and\t(1,2)", 1, 1, nullptr, kFails, {}},
    {"\tnot(5)", 1, 1, nullptr, kFails, {}},
    {"and(1,\t2)", 1, 1, "and(1,2)", 9, {}},
    {"\t5", 1, 1, "5", 2, {}},
};

TEST(ExpressionParser, ClassifiesParsesAndPrintsTheDocumentedCases) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string("text '") + c.text + "'");
        int count = -7;
        EXPECT_EQ(expClassify(c.text, &count), c.classification);
        EXPECT_EQ(count, c.count);
        ListPtr list(expParseList(c.text));
        if (!c.canonical) {
            EXPECT_EQ(list, nullptr);
            continue;
        }
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->mode, c.classification);
        EXPECT_EQ(list->count, c.count);
        EXPECT_EQ(canonical(list.get()), c.canonical);
        EXPECT_EQ(list->textLength, c.textLength);
        if (c.classification == 0) {
            ASSERT_NE(list->scenario, nullptr);
            std::vector<int> got(list->scenario->items.begin(), list->scenario->items.begin() + list->scenario->count);
            EXPECT_EQ(got, c.scenario);
        } else {
            EXPECT_EQ(list->scenario, nullptr);
        }
    }
}

TEST(ExpressionParser, SingleExpressionsOfADirectListAreBracketedUnlessLiterals) {
    ListPtr list(expParseList("<1,and(2,3)>(-4)"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(canonical(list.get(), 0), "1(-4)");
    EXPECT_EQ(canonical(list.get(), 1), "<and(2,3)>(-4)");
    ListPtr inverse(expParseList("<1,and(2,3)>"));
    ASSERT_NE(inverse, nullptr);
    EXPECT_EQ(canonical(inverse.get(), 1), "and(2,3)");
}

TEST(ExpressionParser, ParseNodeAdvancesPastTheExpressionAndItsBlanks) {
    const char* text = "  and(1, dc 2)   , 7";
    int pos = 0;
    std::unique_ptr<ExpNode> node = expParseNode(text, &pos);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->kind, EXP_AND);
    EXPECT_EQ(node->left->kind, EXP_LIT);
    EXPECT_EQ(node->left->literal, 1);
    EXPECT_EQ(node->right->kind, EXP_DC);
    EXPECT_EQ(node->right->left->literal, 2);
    EXPECT_EQ(text[pos], ',');
}

TEST(ExpressionParser, BoundedFormattingCutsAtTheBufferEnd) {
    ListPtr list(expParseList("and (dc 2, dc 10)"));
    ASSERT_NE(list, nullptr);
    char small[10];
    EXPECT_EQ(expFormatNode(small, sizeof small, list->exprs[0].get()), 9);
    EXPECT_STREQ(small, "and(dc(2)");
    char tiny[1] = {'x'};
    EXPECT_EQ(expFormatList(tiny, sizeof tiny, list.get(), -1, false), 0);
    EXPECT_EQ(tiny[0], '\0');
    EXPECT_EQ(expFormatList(nullptr, 0, list.get(), -1, false), 0);
    char exact[18];
    EXPECT_EQ(expFormatList(exact, sizeof exact, list.get(), -1, false), 17);
    EXPECT_STREQ(exact, "and(dc(2),dc(10))");
}

std::string nested(const std::string& open, const std::string& inner, const std::string& close, int depth) {
    std::string s;
    s.reserve((open.size() + close.size()) * depth + inner.size());
    for (int i = 0; i < depth; ++i) s += open;
    s += inner;
    for (int i = 0; i < depth; ++i) s += close;
    return s;
}

TEST(ExpressionParser, DeepNestingFailsInsteadOfExhaustingTheStack) {
    EXPECT_EQ(ListPtr(expParseList(nested("not(", "5", ")", 100000).c_str())), nullptr);
    EXPECT_EQ(ListPtr(expParseList(nested("not ", "(5)", "", 100000).c_str())), nullptr);
    EXPECT_EQ(ListPtr(expParseList(nested("and(1,", "5", ")", 100000).c_str())), nullptr);
    EXPECT_EQ(ListPtr(expParseList(nested("not(", "", "", 100000).c_str())), nullptr);

    // Within the limit, a deep tree parses, prints (cut to the buffer) and is released.
    std::string deep = nested("not(", "5", ")", kExpMaxDepth);
    ListPtr list(expParseList(deep.c_str()));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->textLength, static_cast<int>(deep.size()));
    char buffer[100];
    EXPECT_EQ(expFormatList(buffer, sizeof buffer, list.get(), -1, false), 99);
    EXPECT_EQ(std::string(buffer).substr(0, 6), "!(!(!(");
}

TEST(ExpressionParser, LongListsParseInLinearTime) {
    std::string text = "<1";
    for (int i = 0; i < 200000; ++i) text += ",-2";
    text += ">";
    ListPtr list(expParseList(text.c_str()));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 200001);
    EXPECT_EQ(list->textLength, static_cast<int>(text.size()));
}

TEST(ExpressionParser, ScenarioVectorGrowsByDoubling) {
    IntVector v(0);
    v.append(1);
    EXPECT_EQ(v.capacity, 5);
    for (int i = 0; i < 5; ++i) v.append(i);
    EXPECT_EQ(v.capacity, 10);
    EXPECT_EQ(v.count, 6);
    ListPtr list(expParseList("<1,2,3>(4,5,6,7)"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->scenario->capacity, 6);  // created for the 3 expressions, doubled once
    EXPECT_EQ(list->scenario->count, 4);
}

TEST(ExpressionParser, RandomTextsNeverBreakTheParserAndCanonicalTextIsAFixedPoint) {
    const char* tokens[] = {"not", "!", "and", "or", "xor", "implies", "dc", "(", ")", ",", ",", "(", ")",
                            "<", ">", " ", " ", "\t", "1", "-2", "17", "0", "x", "0x1f", "010", "\n"};
    std::mt19937 rng(42);
    int parsed = 0;
    for (int round = 0; round < 40000; ++round) {
        std::string text;
        int n = 1 + static_cast<int>(rng() % 14);
        for (int k = 0; k < n; ++k) text += tokens[rng() % (sizeof tokens / sizeof *tokens)];
        SCOPED_TRACE("text '" + text + "'");
        int count = 0;
        int mode = expClassify(text.c_str(), &count);
        ListPtr list(expParseList(text.c_str()));
        if (!list) continue;
        ++parsed;
        ASSERT_EQ(list->mode, mode);
        ASSERT_EQ(list->count, count);
        ASSERT_GE(list->count, 1);
        ASSERT_GT(list->textLength, 0);
        ASSERT_LE(list->textLength, static_cast<int>(text.size()));
        if (mode != 1) continue;
        // An inverse list's canonical text reads back as the same list.
        std::string once = canonical(list.get());
        ListPtr again(expParseList(once.c_str()));
        ASSERT_NE(again, nullptr) << once;
        EXPECT_EQ(canonical(again.get()), once);
        EXPECT_EQ(again->textLength, static_cast<int>(once.size()));
    }
    EXPECT_GT(parsed, 1000);
}

}  // namespace
