// The DDDMP codec against the golden dumps of the reference library: every sample
// loads to its sidecar's truth tables, and storing the same functions in the same
// variable order with the same arguments gives the same bytes.
#include <gtest/gtest.h>

#include "bdd/dddmp.h"
#include "tests/unit/bdd_dddmp_samples.h"

using namespace dddmptest;

namespace {

std::vector<std::string> dumpSamples() {
    std::vector<std::string> out;
    for (const std::string& name : samples(".dddmp"))
        if (name != "concat4.dddmp") out.push_back(name);
    return out;
}

// Store arguments of a sidecar (or of one dump of concat4's).
dddmp::StoreOptions optionsOf(const Json& args, char mode, bool array) {
    dddmp::StoreOptions o;
    o.mode = mode;
    o.varInfo = args["varinfo"].integer();
    if (args.has("varnames")) o.varNames = args["varnames"].strings();
    if (args.has("auxids")) o.auxIds = args["auxids"].ints();
    if (array && args.has("rootnames")) o.rootNames = args["rootnames"].strings();
    return o;
}

std::vector<bdd::Bdd> rootsOf(const Json& side) {
    std::vector<bdd::Bdd> roots;
    for (const Json& r : side["roots"].items) roots.push_back(fromTruthTable(r["truth_table"].text, side["nvars"].integer()));
    return roots;
}

void expectTables(const Json& side, const std::vector<bdd::Bdd>& roots, const std::string& what) {
    ASSERT_EQ(roots.size(), side["roots"].size()) << what;
    for (std::size_t k = 0; k < roots.size(); ++k)
        EXPECT_EQ(truthTable(roots[k], side["nvars"].integer()), side["roots"][k]["truth_table"].text)
            << what << " root " << k;
}

}  // namespace

TEST(DddmpSamples, EverySampleLoadsToItsTruthTablesAndEndsAtTheEnd) {
    std::vector<std::string> files = dumpSamples();
    ASSERT_GT(files.size(), 140u);
    for (const std::string& file : files) {
        Json side = readJson(sidecarOf(file));
        char mode = side["mode"].text[0];
        // Variables are created up to the largest index of the support.
        int largest = -1;
        for (int i = 0; i < side["nvars"].integer(); ++i)
            for (const Json& root : side["roots"].items) {
                const std::string& t = root["truth_table"].text;
                for (std::size_t m = 0; m < t.size() && largest < i; ++m)
                    if (t[m] != t[m ^ (1u << i)]) largest = i;
            }
        bdd::Manager manager(0);
        for (char want : {'D', mode}) {
            File fp = openRead(samplesDir() + file);
            ASSERT_TRUE(fp) << file;
            dddmp::LoadResult r = dddmp::loadArray(fp.get(), want);
            ASSERT_TRUE(r.ok()) << file << ": " << r.message();
            expectTables(side, *r, file);
            EXPECT_EQ(std::ftell(fp.get()), side["file_bytes"].integer()) << file;
            EXPECT_EQ(manager.size(), largest + 1) << file;
        }
        File fp = openRead(samplesDir() + file);
        dddmp::LoadResult wrong = dddmp::loadArray(fp.get(), mode == 'A' ? 'B' : 'A');
        EXPECT_FALSE(wrong.ok()) << file;
        EXPECT_FALSE(wrong.message().empty()) << file;
    }
}

TEST(DddmpSamples, LoadingIntoAnotherOrderGivesTheSameFunctions) {
    for (std::string file : {"permforest.array.h3n.B.dddmp", "rand12.store.h0.A.dddmp", "skipforest.array.h1.A.dddmp"}) {
        Json side = readJson(sidecarOf(file));
        int n = side["nvars"].integer();
        bdd::Manager manager(n);
        std::vector<int> reversed;
        for (int i = n - 1; i >= 0; --i) reversed.push_back(i);
        manager.setOrder(reversed);
        File fp = openRead(samplesDir() + file);
        dddmp::LoadResult r = dddmp::loadArray(fp.get(), 'D');
        ASSERT_TRUE(r.ok()) << file << ": " << r.message();
        expectTables(side, *r, file);
        EXPECT_EQ(manager.levelOf(0), n - 1);
    }
}

TEST(DddmpSamples, StoringTheSameFunctionsGivesTheSameBytes) {
    for (const std::string& file : dumpSamples()) {
        Json side = readJson(sidecarOf(file));
        bdd::Manager manager(side["nvars"].integer());
        manager.setOrder(side["order"].ints());
        std::vector<bdd::Bdd> roots = rootsOf(side);
        const Json& args = side["call_args"];
        bool array = side["api"].text == "Dddmp_cuddBddArrayStore";
        dddmp::StoreOptions options = optionsOf(args, side["mode"].text[0], array);
        std::string ddName = args["ddname"].text;
        if (args.has("ddname")) options.ddName = ddName.c_str();
        File out(std::tmpfile());
        ASSERT_TRUE(dddmp::storeArray(out.get(), roots, options)) << file;
        EXPECT_EQ(contents(out.get()), testsupport::readFile(samplesDir() + file)) << file;
        EXPECT_EQ(dddmp::sharingSize(roots), side["sharing_size"].integer()) << file;
    }
}

TEST(DddmpSamples, ConcatenatedDumpsLoadInTurn) {
    Json side = readJson(samplesDir() + "concat4.json");
    const long ends[4] = {262, 383, 504, 802};
    File fp = openRead(samplesDir() + "concat4.dddmp");
    ASSERT_EQ(side["dumps"].size(), 4u);
    for (int k = 0; k < 4; ++k) {
        bdd::Manager manager(0);
        dddmp::LoadResult r = dddmp::loadArray(fp.get(), 'D');
        ASSERT_TRUE(r.ok()) << "dump " << k << ": " << r.message();
        expectTables(side["dumps"][k], *r, "dump " + std::to_string(k));
        EXPECT_EQ(std::ftell(fp.get()), ends[k]);
    }
    bdd::Manager manager(0);
    dddmp::LoadResult past = dddmp::loadArray(fp.get(), 'D');
    EXPECT_FALSE(past.ok());
}

TEST(DddmpSamples, ConcatenatedStoresGiveTheSameBytes) {
    Json side = readJson(samplesDir() + "concat4.json");
    File out(std::tmpfile());
    for (int k = 0; k < 4; ++k) {
        const Json& dump = side["dumps"][k];
        bdd::Manager manager(dump["nvars"].integer());
        manager.setOrder(dump["order"].ints());
        dddmp::StoreOptions o;
        const std::string& how = dump["how"].text;
        o.mode = how.find("mode B") != std::string::npos ? 'B' : 'A';
        o.varInfo = how.find("h4") != std::string::npos ? dddmp::VarDefault : dddmp::VarIds;
        std::string name = dump["case"].text;
        if (how.find("ddname") != std::string::npos) {
            o.ddName = name.c_str();
            // The sidecar's root names are those of the separate sample; this dump has f<k>.
            for (std::size_t r = 0; r < dump["roots"].size(); ++r) o.rootNames.push_back("f" + std::to_string(r));
            for (int j = 0; j < dump["nvars"].integer(); ++j) {
                o.varNames.push_back("x" + std::to_string(j));
                o.auxIds.push_back(200 - 10 * j);
            }
        }
        ASSERT_TRUE(dddmp::storeArray(out.get(), rootsOf(dump), o));
    }
    EXPECT_EQ(contents(out.get()), testsupport::readFile(samplesDir() + "concat4.dddmp"));
}
