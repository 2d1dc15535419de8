// The DDDMP codec on its own terms: the binary integer code, the sharing size, round
// trips of random forests in both modes, the loader's leniency where the reference
// writer's own output needs it, and its refusal of malformed dumps.
#include <gtest/gtest.h>

#include <pthread.h>

#include <functional>
#include <random>
#include <sstream>

#include "bdd/dddmp.h"
#include "tests/unit/bdd_dddmp_samples.h"

using namespace dddmptest;

namespace {

std::string hexOf(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, out.empty() ? "%02x" : " %02x", c);
        out += buf;
    }
    return out;
}

std::string store(const std::vector<bdd::Bdd>& roots, char mode, int varInfo = dddmp::VarIds) {
    dddmp::StoreOptions o;
    o.mode = mode;
    o.varInfo = varInfo;
    File out(std::tmpfile());
    EXPECT_TRUE(dddmp::storeArray(out.get(), roots, o));
    return contents(out.get());
}

dddmp::LoadResult load(const std::string& bytes, char mode = 'D') {
    File fp = streamOf(bytes);
    return dddmp::loadArray(fp.get(), mode);
}

// A random function over n variables: an OR of random cubes, XORed with a random
// parity now and then.
bdd::Bdd randomFunction(std::mt19937& rng, int n) {
    bdd::Bdd f = bdd::zero();
    int cubes = 1 + static_cast<int>(rng() % 6);
    for (int c = 0; c < cubes; ++c) {
        bdd::Bdd cube = bdd::one();
        int lits = 1 + static_cast<int>(rng() % 5);
        for (int l = 0; l < lits; ++l) {
            bdd::Bdd x = bdd::ithVar(static_cast<int>(rng() % n));
            cube &= rng() % 2 ? x : !x;
        }
        f |= cube;
    }
    if (rng() % 3 == 0)
        for (int k = 0; k < 3; ++k) f = f ^ bdd::ithVar(static_cast<int>(rng() % n));
    return rng() % 2 ? f : !f;
}

}  // namespace

TEST(DddmpIntCode, WritesAndReadsTheReferenceBytes) {
    Json codes = readJson(samplesDir() + "int-code.json")["codes"];
    ASSERT_EQ(codes.size(), 38u);
    for (const Json& c : codes.items) {
        File out(std::tmpfile());
        ASSERT_TRUE(dddmp::writeInt(out.get(), static_cast<int>(static_cast<long long>(c["value"].number))));
        std::string bytes = contents(out.get());
        EXPECT_EQ(hexOf(bytes), c["hex"].text) << "value " << c["value"].number;
        File in = streamOf(bytes + "x");
        int value = -1;
        ASSERT_TRUE(dddmp::readInt(in.get(), &value));
        EXPECT_EQ(value, c["read_back"].integer());
        EXPECT_EQ(std::getc(in.get()), 'x');  // nothing read beyond the integer
    }
}

TEST(DddmpIntCode, ReadFailsAtTheEndAndOnBadEscapes) {
    int value = 0;
    for (std::string bytes : {std::string(), std::string("\x03", 1), std::string("\x00", 1), std::string("\x00\x04", 2),
                              std::string("\x03\x00\x09", 3)}) {
        File in = streamOf(bytes);
        EXPECT_FALSE(dddmp::readInt(in.get(), &value)) << hexOf(bytes);
    }
}

TEST(DddmpSharingSize, CountsNodesUpToNegationWithTheConstant) {
    bdd::Manager manager(5);
    bdd::Bdd a = bdd::ithVar(0) & bdd::ithVar(1);
    EXPECT_EQ(dddmp::sharingSize({a}), 3);
    EXPECT_EQ(dddmp::sharingSize({a, !a}), 3);
    EXPECT_EQ(dddmp::sharingSize({a, a | bdd::ithVar(3)}), 6);
    EXPECT_EQ(dddmp::sharingSize({bdd::one(), bdd::zero()}), 1);
    EXPECT_EQ(dddmp::sharingSize({}), 0);
    // The parity of five variables: one node per variable, up to negation.
    bdd::Bdd x = bdd::zero();
    for (int i = 0; i < 5; ++i) x = x ^ bdd::ithVar(i);
    EXPECT_EQ(dddmp::sharingSize({x}), 6);
    EXPECT_EQ(bdd::nodeCount(x), 9);
}

TEST(DddmpRoundTrip, RandomForestsComeBackInBothModes) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 60; ++round) {
        int n = 1 + round % 20;
        bdd::Manager manager(n);
        std::vector<int> order(n);
        for (int i = 0; i < n; ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), rng);
        manager.setOrder(order);
        std::vector<bdd::Bdd> roots;
        int count = 1 + static_cast<int>(rng() % 8);
        for (int k = 0; k < count; ++k) {
            int pick = static_cast<int>(rng() % 10);
            if (pick == 0) roots.push_back(rng() % 2 ? bdd::one() : bdd::zero());
            else if (pick <= 2 && !roots.empty()) roots.push_back(!roots[rng() % roots.size()]);  // complemented
            else if (pick == 3 && !roots.empty()) roots.push_back(roots[rng() % roots.size()]);   // repeated
            else if (pick == 4 && !roots.empty()) roots.push_back(roots.back() & randomFunction(rng, n));  // shared
            else roots.push_back(randomFunction(rng, n));
        }
        for (char mode : {'A', 'B'}) {
            std::string bytes = store(roots, mode, static_cast<int>(rng() % 5));
            dddmp::LoadResult r = load(bytes, mode);
            ASSERT_TRUE(r.ok()) << r.message() << "\n" << bytes;
            ASSERT_EQ(r->size(), roots.size());
            for (std::size_t k = 0; k < roots.size(); ++k) EXPECT_TRUE((*r)[k] == roots[k]) << "round " << round;
            // The same functions give the same dump, whatever order the loader's
            // manager built them in.
            EXPECT_EQ(store(*r, mode), store(roots, mode));
        }
    }
}

TEST(DddmpRoundTrip, FunctionsSurviveAFreshManagerInAnotherOrder) {
    std::mt19937 rng(99);
    const int n = 16;
    std::vector<std::string> tables;
    std::string bytes[2];
    {
        bdd::Manager manager(n);
        std::vector<bdd::Bdd> roots;
        for (int k = 0; k < 4; ++k) roots.push_back(randomFunction(rng, n));
        for (const bdd::Bdd& f : roots) tables.push_back(truthTable(f, n));
        bytes[0] = store(roots, 'A');
        bytes[1] = store(roots, 'B');
    }
    for (const std::string& b : bytes) {
        bdd::Manager manager(3);
        manager.setOrder({2, 0, 1});
        dddmp::LoadResult r = load(b);
        ASSERT_TRUE(r.ok()) << r.message();
        for (std::size_t k = 0; k < tables.size(); ++k) EXPECT_EQ(truthTable((*r)[k], n), tables[k]);
    }
}

// A dump written under a reordered manager, loaded in the file's order: the support
// takes the file's relative order in the levels it held, the rest stays, the functions
// are the same, and storing them again gives the same nodes.
TEST(DddmpRoundTrip, LoadingInTheFilesOrderKeepsItsOrder) {
    std::mt19937 rng(5);
    for (int round = 0; round < 20; ++round) {
        const int n = 12;
        std::vector<int> order(n);
        for (int i = 0; i < n; ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), rng);
        std::vector<std::string> tables;
        std::string bytes;
        char mode = round % 2 ? 'A' : 'B';
        {
            bdd::Manager manager(n);
            manager.setOrder(order);
            std::vector<bdd::Bdd> roots;
            for (int k = 0; k < 3; ++k) roots.push_back(randomFunction(rng, n));
            for (const bdd::Bdd& f : roots) tables.push_back(truthTable(f, n));
            bytes = store(roots, mode);
        }
        bdd::Manager manager(n + 2);
        File fp = streamOf(bytes);
        dddmp::LoadResult r = dddmp::loadArray(fp.get(), 'D', -1, dddmp::LoadOrder::File);
        ASSERT_TRUE(r.ok()) << r.message();
        for (std::size_t k = 0; k < tables.size(); ++k) EXPECT_EQ(truthTable((*r)[k], n), tables[k]) << round;
        auto nodes = [](const std::string& dump) { return dump.substr(dump.find(".nodes")); };
        EXPECT_EQ(nodes(store(*r, mode)), nodes(bytes)) << round;
        // The support (".ids") in the writer's order: order[] lists it by level.
        std::vector<char> inSupport(n, 0);
        std::size_t at = bytes.find(".ids ") + 5;
        std::istringstream ids(bytes.substr(at, bytes.find('\n', at) - at));
        for (int id; ids >> id;) inSupport[id] = 1;
        int last = -1;
        for (int index : order) {
            if (!inSupport[index]) continue;
            EXPECT_GT(manager.levelOf(index), last) << "variable " << index << " round " << round;
            last = manager.levelOf(index);
        }
        // Variables n and n + 1 are in no dump: they keep their levels.
        EXPECT_EQ(manager.levelOf(n), n);
        EXPECT_EQ(manager.levelOf(n + 1), n + 1);
    }
}

// Runs the work on a thread with a small stack: a codec that recursed once per node
// of a long path would overflow it.
void onSmallStack(const std::function<void()>& work) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 1 << 20);
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

TEST(DddmpRoundTrip, LongChainsNeedNoDeepRecursion) {
    // Variables are costly to create in the engine; 20000 make a path deep enough.
    const int n = 20000;
    bdd::Manager manager(n);
    // Built from the bottom up, so that no engine operation recurses deeply: f is a
    // cube of alternating literals, g the same cube with the last literal flipped.
    bdd::Bdd f = bdd::one(), g = bdd::one();
    for (int i = n - 1; i >= 0; --i) {
        bdd::Bdd lit = i % 2 ? bdd::ithVar(i) : !bdd::ithVar(i);
        f = lit & f;
        g = (i == n - 1 ? !lit : lit) & g;
    }
    std::string bytes[2] = {store({f, g, !f}, 'A'), store({f, g, !f}, 'B')};
    onSmallStack([&] {
        EXPECT_EQ(dddmp::sharingSize({f, g}), 2 * n);
        for (const std::string& b : bytes) {
            dddmp::LoadResult r = load(b);
            ASSERT_TRUE(r.ok()) << r.message();
            EXPECT_TRUE((*r)[0] == f && (*r)[1] == g && (*r)[2] == !f);
            EXPECT_TRUE(store(*r, b[b.find(".mode ") + 6]) == b);
        }
        File out(std::tmpfile());
        ASSERT_TRUE(dddmp::dumpDot(out.get(), {f}, {}, {}));
        int clauses = 0;
        std::vector<int> ids(n);
        for (int i = 0; i < n; ++i) ids[i] = i + 1;
        ASSERT_TRUE(dddmp::storeCnfMaxterm(out.get(), f, ids, &clauses, nullptr));
        EXPECT_EQ(clauses, n);
    });
}

TEST(DddmpRoundTrip, AnEmptyArrayComesBackEmpty) {
    bdd::Manager manager(3);
    for (char mode : {'A', 'B'}) {
        std::string bytes = store({}, mode);
        EXPECT_NE(bytes.find(".nnodes 0\n"), std::string::npos) << bytes;
        EXPECT_NE(bytes.find(".nroots 0\n.rootids\n.nodes\n.end\n"), std::string::npos) << bytes;
        dddmp::LoadResult r = load(bytes, mode);
        ASSERT_TRUE(r.ok()) << r.message();
        EXPECT_TRUE(r->empty());
    }
}

TEST(DddmpStore, WriteErrorsAreReported) {
    if (!testsupport::fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    bdd::Manager manager(3);
    bdd::Bdd f = bdd::ithVar(0) | bdd::ithVar(2);
    for (char mode : {'A', 'B'}) {
        File full(std::fopen("/dev/full", "w"));
        ASSERT_TRUE(full);
        dddmp::StoreOptions o;
        o.mode = mode;
        EXPECT_FALSE(dddmp::storeArray(full.get(), {f, !f}, o));
    }
    File full(std::fopen("/dev/full", "w"));
    EXPECT_FALSE(dddmp::dumpDot(full.get(), {f}, {}, {}));
    int clauses = 0;
    EXPECT_FALSE(dddmp::storeCnfMaxterm(full.get(), f, {1, 2, 3}, &clauses, nullptr));
}

TEST(DddmpLoad, DumpsInsideOtherTextLeaveTheStreamRightAfterTheirEnd) {
    bdd::Manager manager(4);
    bdd::Bdd f = bdd::ithVar(1) | (bdd::ithVar(0) & !bdd::ithVar(3));
    for (char mode : {'A', 'B'}) {
        std::string text = "\n# a comment line\n   \n" + store({f}, mode) + "# between\n\n" + store({!f, f}, mode) + "tail";
        File fp = streamOf(text);
        dddmp::LoadResult a = dddmp::loadArray(fp.get(), mode);
        ASSERT_TRUE(a.ok()) << a.message();
        int next = std::getc(fp.get());
        EXPECT_EQ(next, '#');
        std::ungetc(next, fp.get());
        dddmp::LoadResult b = dddmp::loadArray(fp.get(), 'D');
        ASSERT_TRUE(b.ok()) << b.message();
        EXPECT_TRUE(a->at(0) == f && b->at(0) == !f && b->at(1) == f);
        char rest[8] = {};
        EXPECT_EQ(std::fread(rest, 1, 7, fp.get()), 4u);
        EXPECT_STREQ(rest, "tail");
    }
}

TEST(DddmpLoad, AcceptsWhatTheReferenceLoaderAccepts) {
    bdd::Manager manager(4);
    bdd::Bdd f = (bdd::ithVar(0) & bdd::ithVar(2)) | !bdd::ithVar(3);
    // Header keys in another order, comments, an unknown key without argument, no
    // .ver, four-field lines under .varinfo 0, words after .end, CRLF line ends.
    std::string base = store({f, !f}, 'A', dddmp::VarDefault);
    auto lineOf = [&](const std::string& key) {
        std::size_t at = base.find("\n" + key) + 1;
        return base.substr(at, base.find('\n', at) + 1 - at);
    };
    std::string nodes = base.substr(base.find(".nodes\n"));
    std::string shuffled = "# made by hand\n.mode A\n.nroots 2\n.rootids" + lineOf(".rootids").substr(8) +
                           ".nsuppvars 3 # three of them\n" + lineOf(".ids") + ".flag\n" + lineOf(".permids") +
                           ".varinfo 0\n" + lineOf(".nvars") + lineOf(".nnodes") + nodes;
    shuffled.replace(shuffled.rfind(".end\n"), 5, ".end of it\n");
    std::string crlf;
    for (char c : base) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string fiveFields = store({f, !f}, 'A', dddmp::VarIds);
    fiveFields.replace(fiveFields.find(".varinfo 0"), 10, ".varinfo 4");
    for (const std::string& text : {shuffled, crlf, fiveFields}) {
        dddmp::LoadResult r = load(text, 'A');
        ASSERT_TRUE(r.ok()) << r.message() << "\n" << text;
        EXPECT_TRUE(r->at(0) == f && r->at(1) == !f) << text;
    }
}

TEST(DddmpLoad, RefusesMalformedDumpsWithAReason) {
    bdd::Manager manager(5);
    bdd::Bdd f = (bdd::ithVar(0) & bdd::ithVar(2)) | (bdd::ithVar(1) ^ bdd::ithVar(4));
    std::string text = store({f, !f}, 'A');
    std::string binary = store({f, !f}, 'B');
    auto with = [](std::string s, const std::string& from, const std::string& to) {
        std::size_t at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return s.replace(at, from.size(), to);
    };
    std::size_t records = binary.find(".nodes\n") + 7;
    std::vector<std::pair<std::string, std::string>> cases = {
        {"unknown key with argument", with(text, ".nvars", ".numvars 5\n.nvars")},
        {"line not starting with a dot", "c comment\n" + text},
        {"list before its count", with(with(text, ".nsuppvars 4\n", ""), ".nroots", ".nsuppvars 4\n.nroots")},
        {"more nodes announced than present", with(text, ".nnodes 7", ".nnodes 9")},
        {"fewer nodes announced than present", with(text, ".nnodes 7", ".nnodes 6")},
        {"more roots announced than listed", with(text, ".nroots 2", ".nroots 3")},
        {"root naming no node", with(text, ".rootids 7 -7", ".rootids 7 8")},
        {"root zero", with(text, ".rootids 7 -7", ".rootids 0 -7")},
        {"child naming a later node", with(text, "\n3 ", "\n3 0 0 5 -1\n#")},
        {"variable outside the support", with(text, "\n2 4 3 ", "\n2 4 4 ")},
        {"three fields", with(text, "\n2 4 3 1 -1", "\n2 4 3")},
        {"node numbers out of sequence", with(text, "\n2 4 3 ", "\n3 4 3 ")},
        {"id outside nvars", with(text, ".ids 0 1 2 4", ".ids 0 1 2 9")},
        {"repeated permid", with(text, ".permids 0 1 2 4", ".permids 0 1 1 4")},
        {"huge node count", with(text, ".nnodes 7", ".nnodes 2000000000")},
        {"huge support", with(text, ".nsuppvars 4", ".nsuppvars 1000000")},
        {"huge variable count", with(text, ".nvars 5", ".nvars 999999999")},
        {"bad number", with(text, ".nnodes 7", ".nnodes seven")},
        {"unsupported version", with(text, "DDDMP-2.0", "DDDMP-3.0")},
        // Keys match by prefix: a count given again after its list must not outgrow it
        // (found by fuzzing: ".nsuppvarsotids 4" after ".ids 0 1 2").
        {"support count raised after its lists", with(text, ".nroots", ".nsuppvarsx 5\n.nroots")},
        {"root count raised after its list", with(text, ".nodes\n", ".nrootsx 3\n.nodes\n")},
        {"no mode", with(text, ".mode A\n", "")},
        {"no .end", text.substr(0, text.size() - 5)},
        {"missing .end in binary", binary.substr(0, binary.size() - 5) + "\n"},
        {"binary code out of range", binary.substr(0, records + 2) + "\x80" + binary.substr(records + 3)},
        {"bad escape", binary.substr(0, records) + std::string("\x00\x07", 2) + binary.substr(records + 2)},
        {"empty input", ""},
        {"only comments", "# nothing here\n\n"},
    };
    for (const auto& [what, bytes] : cases) {
        dddmp::LoadResult r = load(bytes);
        EXPECT_FALSE(r.ok()) << what;
        EXPECT_FALSE(r.message().empty()) << what;
        }
}

TEST(DddmpLoad, EveryTruncationAndManyCorruptionsFailCleanly) {
    bdd::Manager manager(12);
    std::mt19937 rng(5);
    std::vector<bdd::Bdd> roots = {randomFunction(rng, 12), randomFunction(rng, 12)};
    roots.push_back(!roots[0]);
    for (char mode : {'A', 'B'}) {
        std::string bytes = store(roots, mode);
        // Only the prefixes that end inside the ".end" line's newline can load.
        for (std::size_t len = 0; len + 1 < bytes.size(); ++len) {
            dddmp::LoadResult r = load(bytes.substr(0, len));
            EXPECT_FALSE(r.ok()) << "prefix " << len << " of " << bytes.size();
        }
        EXPECT_TRUE(load(bytes.substr(0, bytes.size() - 1)).ok());
        for (int k = 0; k < 3000; ++k) {
            std::string broken = bytes;
            int changes = 1 + static_cast<int>(rng() % 3);
            for (int c = 0; c < changes; ++c) broken[rng() % broken.size()] = static_cast<char>(rng() % 256);
            dddmp::LoadResult r = load(broken);
            EXPECT_TRUE(r.ok() || !r.message().empty());
        }
    }
}
