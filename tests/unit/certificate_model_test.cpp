// The certificate record's tables and the inverse map from SAT-encoding variables back
// to (existential, universal values).
#include "certificate/model.h"
#include "inputs/inverse_mapping.h"

#include <gtest/gtest.h>

#include "log_builder.h"

namespace {

CubeMapping cube(std::vector<int> values, int first) { return CubeMapping{std::move(values), first}; }

// Rows for the existentials 4 (CNF 1..), 7 (CNF 10..) and 9 (CNF 20..).
InverseVarMapping sample() {
    InverseVarMapping map;
    map.nonemptyExNumVar = 3;
    map.cnfVarNum = 27;
    InverseVarRow a;
    a.exVar = 4;
    a.startingIndex = 1;
    a.relevantUniv = {2, 3, 5};
    a.relevantUnivSize = 3;
    a.cubeMapping = {cube({2, 2, 2}, 1), cube({1, 0, 1}, 9)};  // 8 variables, then one
    a.numOfCubes = 2;
    InverseVarRow b;
    b.exVar = 7;
    b.startingIndex = 10;
    b.relevantUniv = {};
    b.relevantUnivSize = 0;
    b.cubeMapping = {cube({}, 10)};
    b.numOfCubes = 1;
    InverseVarRow c;
    c.exVar = 9;
    c.startingIndex = 20;
    c.relevantUniv = {3, 5};
    c.relevantUnivSize = 2;
    c.cubeMapping = {cube({0, 2}, 20), cube({2, 1}, 22), cube({1, 1}, 24)};
    c.numOfCubes = 3;
    map.rows = {a, b, c};
    return map;
}

}  // namespace

TEST(InverseLookup, FreePositionsTakeTheOffsetBitsLowestFirst) {
    InverseVarMapping map = sample();
    std::vector<int> values;
    // All three positions free: 8 consecutive variables, the first all zero.
    InverseLookup first = inverseLookup(map, 1, values);
    EXPECT_EQ(first.exVar, 4);
    EXPECT_EQ(first.count, 3);
    ASSERT_NE(first.universals, nullptr);
    EXPECT_EQ(*first.universals, (std::vector<int>{2, 3, 5}));
    EXPECT_EQ(values, (std::vector<int>{0, 0, 0}));
    inverseLookup(map, 2, values);
    EXPECT_EQ(values, (std::vector<int>{1, 0, 0}));
    inverseLookup(map, 1 + 6, values);
    EXPECT_EQ(values, (std::vector<int>{0, 1, 1}));
    inverseLookup(map, 8, values);
    EXPECT_EQ(values, (std::vector<int>{1, 1, 1}));
    // No free position: exactly one variable, the values copied.
    InverseLookup fixed = inverseLookup(map, 9, values);
    EXPECT_EQ(fixed.exVar, 4);
    EXPECT_EQ(values, (std::vector<int>{1, 0, 1}));
}

TEST(InverseLookup, RowsAndCubesAtTheirBounds) {
    InverseVarMapping map = sample();
    std::vector<int> values;
    // A row without relevant universals.
    InverseLookup empty = inverseLookup(map, 10, values);
    EXPECT_EQ(empty.exVar, 7);
    EXPECT_EQ(empty.count, 0);
    EXPECT_TRUE(values.empty());
    // The last row's starting index and the last cube's first index.
    InverseLookup last = inverseLookup(map, 20, values);
    EXPECT_EQ(last.exVar, 9);
    EXPECT_EQ(values, (std::vector<int>{0, 0}));
    inverseLookup(map, 21, values);
    EXPECT_EQ(values, (std::vector<int>{0, 1}));
    inverseLookup(map, 23, values);
    EXPECT_EQ(values, (std::vector<int>{1, 1}));
    InverseLookup lastCube = inverseLookup(map, 24, values);
    EXPECT_EQ(lastCube.exVar, 9);
    EXPECT_EQ(values, (std::vector<int>{1, 1}));
    // Between rows: the lower row.
    EXPECT_EQ(inverseLookup(map, 15, values).exVar, 7);
    EXPECT_EQ(inverseLookup(map, 19, values).exVar, 7);
}

TEST(InverseLookup, VariablesNoRowCoversAreRefused) {
    InverseVarMapping map = sample();
    std::vector<int> values;
    EXPECT_EQ(inverseLookup(map, 0, values).exVar, 0);
    EXPECT_EQ(inverseLookup(map, -5, values).exVar, 0);
    // Below the first cube of its row.
    map.rows[2].cubeMapping[0].firstIndex = 21;
    EXPECT_EQ(inverseLookup(map, 20, values).exVar, 0);
    EXPECT_EQ(inverseLookup(map, 21, values).exVar, 9);
    // No rows, or a row without cubes.
    InverseVarMapping none;
    EXPECT_EQ(inverseLookup(none, 1, values).exVar, 0);
    map.rows[1].cubeMapping.clear();
    map.rows[1].numOfCubes = 0;
    EXPECT_EQ(inverseLookup(map, 10, values).exVar, 0);
}

TEST(InverseLookup, SingleRowAndManyRows) {
    // The halving walk over 100 rows finds every row's range.
    InverseVarMapping map;
    for (int r = 0; r < 100; ++r) {
        InverseVarRow row;
        row.exVar = r + 1;
        row.startingIndex = 1 + 3 * r;
        row.relevantUniv = {1};
        row.relevantUnivSize = 1;
        row.cubeMapping = {cube({2}, 1 + 3 * r), cube({1}, 3 + 3 * r)};
        row.numOfCubes = 2;
        map.rows.push_back(row);
    }
    map.nonemptyExNumVar = 100;
    map.cnfVarNum = 300;
    std::vector<int> values;
    for (int c = 1; c <= 300; ++c) {
        InverseLookup found = inverseLookup(map, c, values);
        EXPECT_EQ(found.exVar, (c - 1) / 3 + 1) << c;
        int within = (c - 1) % 3;
        EXPECT_EQ(values, (std::vector<int>{within == 2 ? 1 : within})) << c;
    }
}

TEST(InverseLookup, WrongCubeValueIsFatal) {
    InverseVarMapping map = sample();
    map.rows[0].cubeMapping[0].univCube[1] = 3;
    logtest::Ended ended = logtest::inChild([&] {
        std::vector<int> values;
        inverseLookup(map, 1, values);
    });
    EXPECT_EQ(ended.status, 255);
    EXPECT_EQ(ended.out, "[Abnormal exit due to error \"Wrong universal cube found\" at line 159, file "
                         "\"InverseVarMapping\"]\n");
}

TEST(ModelTables, AllocatedAtTheirSizes) {
    bdd::Manager manager(2);
    QBModel m;
    allocateModelTables(m, 5, 2, 9, true);
    EXPECT_EQ(m.posBdd.size(), 5u);
    EXPECT_TRUE(m.posBdd[4].isZero());
    EXPECT_TRUE(m.negBdd[0].isZero());
    EXPECT_EQ(m.extToInt.size(), 10u);
    EXPECT_EQ(m.univVar.size(), 3u);
    EXPECT_EQ(m.hypStack.size(), 6u);
    EXPECT_TRUE(m.indepCube[1].isNull());
    EXPECT_TRUE(m.allUnivCube.isOne());
    QBModel q;
    allocateModelTables(q, 3, 0, 2, false);
    EXPECT_TRUE(q.posBdd[1].isNull());
    EXPECT_EQ(q.univVar.size(), 1u);
}
