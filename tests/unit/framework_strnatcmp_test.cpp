// Natural-order comparison.
#include "framework/strnatcmp.h"

#include <gtest/gtest.h>

using strnatcmp::strnatcmp0;

TEST(Strnatcmp, NaturalOrderExamples) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"a2", "a10", -1},
        {"a10", "a2", +1},
        {"a1", "a1", 0},
        {"x007", "x07", -1},   // leading zeros compare left-aligned
        {"x07", "x007", +1},
        {"x1.05", "x1.5", -1},
        {"  abc", "abc", 0},  // leading blanks are skipped
        {"a b", "ab", 0},
        {"abc", "abd", -1},
        {"ab", "abc", -1},
        {"", "", 0},
        {"", "a", -1},
        {"file9.Tobrin.log", "file10.Tobrin.log", -1},
        {"a123b", "a124b", -1},
        {"a99", "a100", -1},
        {"a0", "a00", -1},
        {"d/a2.Tobrin.log", "d/a10.Tobrin.log", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(strnatcmp0(c.a, c.b, true), c.expected) << c.a << " vs " << c.b;
}

TEST(Strnatcmp, CaseFolding) {
    EXPECT_EQ(strnatcmp0("ABC", "abc", true), 0);
    EXPECT_EQ(strnatcmp0("B", "a", true), +1);
    EXPECT_EQ(strnatcmp0("B", "a", false), -1);  // 'B' < 'a' in ASCII
    EXPECT_EQ(strnatcmp0("_", "a", true), +1);   // folded, 'a' is 'A', below '_'
    EXPECT_EQ(strnatcmp0("_", "a", false), -1);
}

TEST(Strnatcmp, HighBytesRankBelowAscii) {
    EXPECT_EQ(strnatcmp0("\xe9", "a", true), -1);
    EXPECT_EQ(strnatcmp0("a", "\xe9", true), +1);
    EXPECT_EQ(strnatcmp0("x\xe9", "x", true), -1);
}
