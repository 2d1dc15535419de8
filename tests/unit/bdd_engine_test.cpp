#include "bdd/engine.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

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

TEST(BddEngine, CubesAndConjunctionsEqualTheirPlainFold) {
    bdd::Manager m(10);
    m.setOrder({9, 2, 5, 0, 7, 1, 8, 3, 6, 4});
    auto fold = [](const std::vector<Bdd>& fs) {
        Bdd r = bdd::one();
        for (const Bdd& f : fs) r &= f;
        return r;
    };
    EXPECT_TRUE(bdd::positiveCube({}).isOne());
    EXPECT_EQ(bdd::positiveCube({3, 7, 1, 3}), bdd::ithVar(3) & bdd::ithVar(7) & bdd::ithVar(1));
    // indices beyond the manager are created, as ithVar does
    EXPECT_EQ(bdd::positiveCube({12, 0}), bdd::ithVar(0) & bdd::ithVar(12));
    EXPECT_EQ(m.size(), 13);
    std::vector<Bdd> factors = {!bdd::ithVar(4), bdd::ithVar(2) | bdd::ithVar(6), bdd::one(), bdd::ithVar(9),
                                !bdd::ithVar(5) ^ bdd::ithVar(0)};
    EXPECT_EQ(bdd::conjunction(factors), fold(factors));
    factors.push_back(bdd::zero());
    EXPECT_TRUE(bdd::conjunction(factors).isZero());
    EXPECT_TRUE(bdd::conjunction({}).isOne());
}

TEST(BddEngine, HundredsOfThousandsOfVariablesStayCheap) {
    // Laying the reordering blocks and building the cube are linear in the count (from the
    // top, either takes minutes for 200,000 variables).
    const int n = 200000;
    bdd::Manager m(n / 2);
    m.ensureVars(n);
    std::vector<int> all(n);
    for (int i = 0; i < n; ++i) all[i] = i;
    Bdd cube = bdd::positiveCube(all);
    int length = 0;
    for (Bdd f = cube; !f.isConstant(); f = f.high()) {
        EXPECT_TRUE(f.low().isZero());
        ++length;
    }
    EXPECT_EQ(length, n);
}

TEST(BddEngine, EngineErrorsEndAsAbnormalExitsOnStandardOutput) {
    // BuDDy holds at most 2,097,151 variables; asking for more is an engine error, which
    // must end the process the program's own way and print nothing on standard error.
    EXPECT_EXIT(
        {
            bdd::Manager m(1);
            bdd::ithVar(3000000);
        },
        testing::ExitedWithCode(255), "^$");
}

TEST(BddEngine, AHandleOfAnEarlierManagerIsRefusedInDebugBuilds) {
#ifdef NDEBUG
    GTEST_SKIP() << "the handle generation check is compiled out of release builds";
#else
    Bdd kept;
    {
        bdd::Manager m(2);
        kept = bdd::ithVar(1);
    }
    // The abnormal exit prints on standard output; nothing goes to standard error.
    EXPECT_EXIT(
        {
            bdd::Manager again(2);
            Bdd x = bdd::ithVar(0) & kept;
        },
        testing::ExitedWithCode(255), "^$");
#endif
}

TEST(BddEngine, TheNodeVisitorSeesEveryNodeOnceChildrenFirst) {
    bdd::Manager m(6);
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<Bdd> roots;
        for (int r = 0; r < 4; ++r) {
            Bdd f = rng() % 2 ? bdd::one() : bdd::zero();
            for (int step = 0; step < 6; ++step) {
                Bdd x = bdd::ithVar(static_cast<int>(rng() % 6));
                f = rng() % 2 ? (f & x) | ((!f) & (!x)) : f ^ (x & bdd::ithVar(static_cast<int>(rng() % 6)));
            }
            roots.push_back(f);
        }
        roots.push_back(roots[0]);
        // Rebuilding each visited node from its children gives back the roots, and no
        // two visited nodes are the same function.
        std::vector<Bdd> fn;
        auto edge = [&fn](bdd::Edge e) { return e.complemented ? !fn.at(e.node) : fn.at(e.node); };
        std::vector<bdd::Edge> rootEdges = bdd::visitNodes(roots, [&](const bdd::VisitedNode& n) {
            EXPECT_EQ(n.index, static_cast<int>(fn.size()));
            if (n.var < 0) {
                fn.push_back(n.value ? bdd::one() : bdd::zero());
            } else {
                EXPECT_LT(n.thenChild.node, n.index);
                EXPECT_LT(n.elseChild.node, n.index);
                EXPECT_EQ(n.thenChild.label, 1000 + n.thenChild.node);  // the label given back
                fn.push_back(bdd::ite(bdd::ithVar(n.var), edge(n.thenChild), edge(n.elseChild)));
            }
            return 1000 + n.index;
        });
        ASSERT_EQ(rootEdges.size(), roots.size());
        for (std::size_t k = 0; k < roots.size(); ++k) EXPECT_EQ(edge(rootEdges[k]), roots[k]);
        for (std::size_t a = 0; a < fn.size(); ++a)
            for (std::size_t b = a + 1; b < fn.size(); ++b) EXPECT_NE(fn[a], fn[b]);
    }
}

namespace {

// x_i == x_(i+n) for i < n, built under the identity order: about 3 * 2^n nodes.
Bdd farEquality(int n) {
    Bdd f = bdd::one();
    for (int i = n - 1; i >= 0; --i) f &= !(bdd::ithVar(i) ^ bdd::ithVar(i + n));
    return f;
}

// Bytes of this process's virtual memory (VmSize).
long long virtualBytes() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmSize:", 0) == 0) return std::stoll(line.substr(7)) * 1024;
    return -1;
}

// Limits this process's address space to what it uses now plus `more` bytes.
void limitAddressSpace(long long more) {
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(virtualBytes() + more);
    setrlimit(RLIMIT_AS, &limit);
}

}  // namespace

TEST(BddEngine, TheNodeLimitKeepsToTheAddressSpaceLimit) {
    // Run in a child: the limit stays with it.
    EXPECT_EXIT(
        {
            limitAddressSpace(256LL << 20);
            bdd::Manager m(4);
            // 20 bytes a node in the table: the limit must leave room for more than it.
            long long tableBytes = 20LL * m.nodeLimit();
            std::_Exit(m.nodeLimit() > 65536 && tableBytes < (256LL << 20) ? 0 : 1);
        },
        testing::ExitedWithCode(0), "^$");
}

TEST(BddEngine, ABuildBeyondTheMemoryLimitEndsWithMemout) {
    // Equalities of far variables grow exponentially until the table reaches its limit:
    // the run ends the program's own way (exit status 250, nothing on standard error)
    // instead of growing until the system stops it.
    EXPECT_EXIT(
        {
            limitAddressSpace(96LL << 20);
            bdd::Manager m(60);
            Bdd f = farEquality(30);
        },
        testing::ExitedWithCode(250), "^$");
}

TEST(BddEngine, LiveNodesAndBudgetsCountWhatHandlesHold) {
    bdd::Manager m(24);
    long base = m.liveNodes();
    EXPECT_TRUE(m.withinNodes(base + 10));
    {
        Bdd f = farEquality(12);  // some 12,000 nodes
        int size = bdd::nodeCount(f);
        EXPECT_GT(size, 10000);
        EXPECT_GE(m.liveNodes(), base + size);
        EXPECT_FALSE(m.withinNodes(size / 2));
        EXPECT_TRUE(m.withinNodes(base + 2 * size));
    }
    // Released: the nodes are garbage, which liveNodes still counts; a budget check
    // collects them to tell.
    EXPECT_GT(m.liveNodes(), base + 100);
    EXPECT_TRUE(m.withinNodes(base + 100));
    EXPECT_LE(m.liveNodes(), base + 100);
    // A budget that was passed stays passed until the nodes go.
    Bdd f = farEquality(12);
    EXPECT_FALSE(m.withinNodes(1000));
    EXPECT_FALSE(m.withinNodes(1000));
    f.release();
    EXPECT_TRUE(m.withinNodes(1000));
}

TEST(BddEngine, AReorderingOnRequestShrinksAndKeepsTheFunctions) {
    bdd::Manager m(20);
    Bdd f = farEquality(10);
    double share = bdd::mintermFraction(f);
    int before = bdd::nodeCount(f);
    int pre = 0, post = 0;
    m.setReorderHooks([&] { ++pre; }, [&] { ++post; });
    m.reorder();  // reordering is off: nothing happens
    EXPECT_EQ(pre, 0);
    EXPECT_EQ(bdd::nodeCount(f), before);
    m.enableReordering(4);
    m.reorder();
    EXPECT_EQ(pre, 1);
    EXPECT_EQ(post, 1);
    EXPECT_LT(bdd::nodeCount(f), before / 10);
    EXPECT_DOUBLE_EQ(bdd::mintermFraction(f), share);
    Bdd g = bdd::one();
    for (int i = 0; i < 10; ++i) g &= !(bdd::ithVar(i) ^ bdd::ithVar(i + 10));
    EXPECT_EQ(f, g);
}
