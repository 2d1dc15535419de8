#include "bdd/engine.h"

#include <gtest/gtest.h>

using bdd::Bdd;

TEST(BddEngine, BasicOperationsAndConstants) {
    bdd::Manager m(3);
    Bdd x = bdd::ithVar(0), y = bdd::ithVar(1), z = bdd::ithVar(2);
    EXPECT_TRUE((x & !x).isZero());
    EXPECT_TRUE((x | !x).isOne());
    EXPECT_EQ(x & y, y & x);
    EXPECT_DOUBLE_EQ(bdd::mintermFraction(x & y), 0.25);
    EXPECT_DOUBLE_EQ(bdd::mintermFraction(x | y | z), 0.875);
    EXPECT_EQ(bdd::exist(x & y, y), x);
    EXPECT_EQ(bdd::exist(x & y, bdd::one()), x & y);
    EXPECT_EQ(bdd::cofactor(x | y, !x), y);
    EXPECT_EQ(bdd::cofactor(x & y, x & y), bdd::one());
    EXPECT_EQ(m.size(), 3);
}

TEST(BddEngine, VariablesAreCreatedOnDemandAtTheBottom) {
    bdd::Manager m(0);
    EXPECT_EQ(m.size(), 0);
    Bdd v = bdd::ithVar(4);
    EXPECT_EQ(m.size(), 5);
    EXPECT_EQ(m.levelOf(4), 4);
    EXPECT_EQ(v.var(), 4);
    EXPECT_TRUE(v.high().isOne());
    EXPECT_TRUE(v.low().isZero());
}

TEST(BddEngine, HandlesOutliveTheirManagerHarmlessly) {
    Bdd kept;
    {
        bdd::Manager m(2);
        kept = bdd::ithVar(1);
    }
    bdd::Manager again(2);
    EXPECT_TRUE(bdd::ithVar(0) != bdd::ithVar(1));
}

TEST(BddEngine, ReorderingRunsTheHooksAndKeepsFunctions) {
    bdd::Manager m(12);
    int pre = 0, post = 0;
    m.setReorderHooks([&] { ++pre; }, [&] { ++post; });
    m.enableReordering(4);
    // x_i == x_(i+6) for i = 0..5 has an exponential size in the identity order.
    Bdd f = bdd::one();
    for (int i = 0; i < 6; ++i) f &= !(bdd::ithVar(i) ^ bdd::ithVar(i + 6));
    double before = bdd::mintermFraction(f);
    int sizeBefore = bdd::nodeCount(f);
    // Build lots of garbage to make the engine reorder on its own.
    for (int round = 0; round < 200 && pre == 0; ++round) {
        Bdd g = bdd::zero();
        for (int i = 0; i < 12; ++i) g = g ^ (bdd::ithVar(i) & bdd::ithVar((i * 7 + round) % 12));
    }
    EXPECT_DOUBLE_EQ(bdd::mintermFraction(f), before);
    if (pre > 0) {
        EXPECT_EQ(pre, post);
        EXPECT_LE(bdd::nodeCount(f), sizeBefore);
    }
}
