// The settings store: initial values, the combined queries and the "-hbdd" map.
#include "pipeline/settings.h"

#include <gtest/gtest.h>

TEST(Settings, InitialValues) {
    Settings s;
    EXPECT_EQ(s.verbosity, -1);
    EXPECT_EQ(s.timeout, 0);
    EXPECT_EQ(s.batchMode, 0);
    EXPECT_EQ(s.singleExpBddFile, 1);
    EXPECT_EQ(s.singleExpDotFile, 1);
    EXPECT_EQ(s.reorderReconstruction, 14);
    EXPECT_EQ(s.reorderFinal, 1);
    EXPECT_EQ(s.reconstructionPhase, 1);
    EXPECT_EQ(s.dddmpMode, 'B');
    EXPECT_EQ(s.expressions, nullptr);
}

TEST(Settings, HbddUserNumbersSkipLinear) {
    const int stored[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 19, 20, 21};
    for (int h = 0; h < 20; ++h) EXPECT_EQ(reorderMethodForUserNumber(h), stored[h]) << h;
    EXPECT_EQ(reorderMethodForUserNumber(-1), -1);
    EXPECT_EQ(reorderMethodForUserNumber(20), -1);
}

TEST(Settings, CombinedQueries) {
    scanSettings() = Settings{};
    EXPECT_FALSE(anyDump());
    scanSettings().dumpDirExp = 1;
    EXPECT_FALSE(anyDump());
    scanSettings().dumpQdc = 1;
    EXPECT_TRUE(anyDump());
    EXPECT_FALSE(anyQbmDump());
    EXPECT_FALSE(anyExpDump());
    setDumpQbmBdd(1);
    EXPECT_TRUE(anyQbmDump());
    setDumpExpBdd(1);
    EXPECT_TRUE(anyExpDump());
    scanSettings() = Settings{};
    scanSettings().dumpExpCnf = 1;
    EXPECT_TRUE(anyExpDump());
    EXPECT_TRUE(anyDump());
}

TEST(Settings, ReorderCurrentFollowsThePhase) {
    scanSettings() = Settings{};
    scanSettings().reorderFinal = 5;
    EXPECT_EQ(reorderCurrent(), 14);
    leaveReconstructionPhase();
    EXPECT_EQ(reorderCurrent(), 5);
    enterReconstructionPhase();
    EXPECT_EQ(reorderCurrent(), 14);
    setDddmpMode('A');
    EXPECT_EQ(settings().dddmpMode, 'A');
    setCheck(1);
    EXPECT_EQ(settings().check, 1);
}
