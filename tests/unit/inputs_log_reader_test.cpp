// The solver-log reader: header, trailer, statuses, both storage modes, the backward
// walk with its rollback and branch skipping, and malformed payloads.
#include "inputs/log_reader.h"

#include <gtest/gtest.h>

#include "log_builder.h"
#include "runcontrol/settings.h"
#include "tests/support/run.h"

using logtest::LogBuilder;

namespace {

// Three existentials 1, 2, 4 and the universals 3 and 5, numbered 11..15 outside.
LogBuilder tiny(bool binary) { return LogBuilder(binary, 6, {3, 5}, {11, 12, 13, 14, 15}); }

struct Opened {
    testsupport::TempDir dir;
    LogReaderPtr reader{nullptr, nullptr};
    explicit Opened(const std::string& content) {
        std::string path = dir.file("x.Tobrin.log");
        testsupport::writeFile(path, content);
        reader = logOpen(path);
    }
    LogReader& r() { return *reader; }
};

// Every entry the reader delivers, last first, until the first entry or an error.
std::vector<LogEntry> readAll(LogReader& r) {
    std::vector<LogEntry> out;
    do {
        LogEntry e = logReadPrevious(r);
        if (logIsError(r) || e.kind == LOG_UNKNOWN) break;
        out.push_back(std::move(e));
    } while (!logAtFirstEntry(r));
    return out;
}

std::vector<int> ids(const std::vector<LogEntry>& entries) {
    std::vector<int> out;
    for (const LogEntry& e : entries) out.push_back(e.id);
    return out;
}

}  // namespace

// ---- header and trailer ----

TEST(LogHeader, ReadsEveryFieldAndTheTrailer) {
    for (bool binary : {false, true}) {
        LogBuilder b = tiny(binary);
        b.entry(1, "G_ASSIGN", b.assign(1));
        Opened o(b.finish(2));
        ASSERT_FALSE(logIsError(o.r())) << logStatusText(o.r());
        EXPECT_STREQ(logStatusText(o.r()), "Init");
        EXPECT_EQ(logFormula(o.r()), "tiny.qdimacs");
        EXPECT_EQ(logNumVars(o.r()), 6);
        EXPECT_EQ(logNumUniv(o.r()), 2);
        EXPECT_EQ(logUniversals(o.r()), (std::vector<int>{0, 3, 5}));
        EXPECT_EQ(logIntToExt(o.r()), (std::vector<int>{0, 11, 12, 13, 14, 15}));
        EXPECT_EQ(logMaxExt(o.r()), 15);
        EXPECT_DOUBLE_EQ(logSolverTime(o.r()), 1.25);
        EXPECT_EQ(logTrailerId(o.r()), 2);
        EXPECT_EQ(logCurrentId(o.r()), 2);
        EXPECT_FALSE(logAtFirstEntry(o.r()));
        EXPECT_EQ(logBinary(o.r()), binary);
    }
}

TEST(LogHeader, UnsupportedVersionStopsAtTheBanner) {
    // Nothing after the banner is read: a broken rest does not matter.
    Opened o("# Tobrin log file, 1.2\ngarbage\n");
    EXPECT_EQ(logStatus(o.r()), LOG_BAD_VERSION);
    EXPECT_TRUE(logIsError(o.r()));
    EXPECT_STREQ(logStatusText(o.r()), "Unsupported log version");
    EXPECT_EQ(logNumVars(o.r()), 0);
    Opened notALog("c a QDIMACS file\np cnf 1 1\n");
    EXPECT_EQ(logStatus(notALog.r()), LOG_BAD_VERSION);
}

TEST(LogHeader, BannerRestAndSecondLine) {
    // When the banner ends at the version, the whole second line is the free text.
    LogBuilder plain = tiny(false);
    Opened a(plain.finish(0));
    EXPECT_FALSE(logIsError(a.r()));
    // Free text after the version on the banner line: that rest is the discarded line,
    // and the second line must then be the formula line.
    LogBuilder withRest(false, 6, {3, 5}, {11, 12, 13, 14, 15}, "\"tiny.qdimacs\"",
                        "# Tobrin log file, 1.3 built today\n");
    std::string content = withRest.finish(0);
    Opened b(content);
    EXPECT_FALSE(logIsError(b.r())) << logStatusText(b.r());
    EXPECT_EQ(logFormula(b.r()), "tiny.qdimacs");
}

TEST(LogHeader, FormulaNameWithBlanks) {
    LogBuilder b(false, 2, {}, {1}, "\"/tmp/my  odd\tformula.qdimacs\"");
    Opened o(b.finish(0));
    ASSERT_FALSE(logIsError(o.r()));
    EXPECT_EQ(logFormula(o.r()), "/tmp/my odd formula.qdimacs");
}

TEST(LogHeader, LongLinesAreSafe) {
    // A banner rest and a formula name far beyond the line buffer.
    std::string longName = "\"" + std::string(50000, 'f') + " " + std::string(30000, 'g') + "\"";
    LogBuilder b(false, 2, {}, {1}, longName, "# Tobrin log file, 1.3 " + std::string(100000, 'x') + "\n");
    b.entry(1, "G_ASSIGN", b.assign(1));
    Opened o(b.finish(2));
    ASSERT_FALSE(logIsError(o.r())) << logStatusText(o.r());
    EXPECT_EQ(logFormula(o.r()).size(), 80001u);
    // An entry header line of 30000 bytes: an error status, nothing overflows.
    LogBuilder c = tiny(false);
    c.entry(1, std::string(30000, 'K'), c.assign(1));
    Opened p(c.finish(2));
    logReadPrevious(p.r());
    EXPECT_TRUE(logIsError(p.r()));
    EXPECT_LE(std::string(logLastLine(p.r())).size(), 10000u);
}

TEST(LogHeader, UnknownDumpFormatGoesOnParsing) {
    std::string content = tiny(false).finish(0);
    content.replace(content.find("text"), 4, "ascii");
    Opened o(content);
    EXPECT_EQ(logStatus(o.r()), LOG_BAD_HEADER);
    EXPECT_STREQ(logStatusText(o.r()), "Header data parsing problems");
    EXPECT_EQ(logNumVars(o.r()), 6);  // parsing went on
    EXPECT_EQ(logIntToExt(o.r()).back(), 15);
}

TEST(LogHeader, BrokenCountsAndMapsAreHeaderProblems) {
    struct Case {
        const char* what;
        std::string from, to;
    } cases[] = {
        {"no slots", "# vars: (6,2)", "# vars: (0,0)"},
        {"more universals than variables", "# vars: (6,2)", "# vars: (3,4)"},
        {"slot count beyond the file", "# vars: (6,2)", "# vars: (2000000000,2)"},
        {"universal out of range", "# universals: 3 5", "# universals: 3 9"},
        {"universal listed twice", "# universals: 3 5", "# universals: 3 3"},
        {"external number 0", "# int/ext mapping: 11", "# int/ext mapping: 0"},
        {"external number beyond any table", "# int/ext mapping: 11", "# int/ext mapping: 2000000000"},
        {"missing vars line", "# vars: (6,2)", "# variables"},
    };
    for (const Case& c : cases) {
        std::string content = tiny(false).finish(0);
        content.replace(content.find(c.from), c.from.size(), c.to);
        Opened o(content);
        EXPECT_EQ(logStatus(o.r()), LOG_BAD_HEADER) << c.what;
    }
}

TEST(LogTrailer, FoundOnlyWithinTheLast99Bytes) {
    // The trailer header at exactly 99 bytes before the end is found; at 100, not.
    for (int distance : {99, 100}) {
        LogBuilder b = tiny(false);
        b.entry(1, "G_ASSIGN", b.assign(1));
        std::string head = "#2: END [";
        std::string content = b.data();
        long back = static_cast<long>(content.size() - content.rfind("#1:"));
        std::string trailer = head + std::to_string(back) + "]\noutcome: TRUE\ntime: 2.5";
        trailer += std::string(static_cast<std::size_t>(distance) - trailer.size() - 1, ' ') + "\n";
        ASSERT_EQ(trailer.size(), static_cast<std::size_t>(distance));
        Opened o(content + trailer);
        if (distance == 99) {
            EXPECT_FALSE(logIsError(o.r())) << logStatusText(o.r());
            EXPECT_DOUBLE_EQ(logSolverTime(o.r()), 2.5);
        } else {
            EXPECT_EQ(logStatus(o.r()), LOG_NO_TRAILER);
            EXPECT_STREQ(logStatusText(o.r()), "Last record sync failed (corrupted log?)");
        }
    }
    Opened cut(tiny(false).data());  // no trailer at all
    EXPECT_EQ(logStatus(cut.r()), LOG_NO_TRAILER);
}

TEST(LogTrailer, FalseOutcomeIsNoTrueFormula) {
    LogBuilder b = tiny(false);
    Opened o(b.finish(0, "FALSE", "time: 7.5\n"));
    EXPECT_EQ(logStatus(o.r()), LOG_NOT_TRUE);
    EXPECT_STREQ(logStatusText(o.r()), "This is not a TRUE formula");
    EXPECT_DOUBLE_EQ(logSolverTime(o.r()), 0.0);  // the time line is not read
}

TEST(LogTrailer, EmptyLogHasNoEntry) {
    Opened o(tiny(true).finish(0));
    ASSERT_FALSE(logIsError(o.r()));
    EXPECT_TRUE(logAtFirstEntry(o.r()));
    LogEntry e = logReadPrevious(o.r());
    EXPECT_EQ(e.kind, LOG_UNKNOWN);
    EXPECT_FALSE(logIsError(o.r()));
}

TEST(LogReader, MissingFileIsAnError) {
    auto r = logOpen("/nonexistent/dir/x.Tobrin.log");
    EXPECT_EQ(logStatus(*r), LOG_NOT_READABLE);
    EXPECT_TRUE(logIsError(*r));
}

// ---- entries ----

TEST(LogEntries, GroundKindsInBothModesDeliverIdenticalEntries) {
    std::vector<std::vector<LogEntry>> runs;
    for (bool binary : {false, true}) {
        LogBuilder b = tiny(binary);
        b.entry(1, "G_CUBES", b.gCubes({{1, {3}}, {2, {3, 5}}, {4, {}}}));
        b.entry(2, "B_OUT", b.i(-3));
        b.entry(3, "G_RES", b.gRes(2, {{2, -1, 3}, {2, 4}}, {{-2, 1}}));
        b.entry(4, "G_ASSIGN", b.assign(-4));
        b.entry(5, "B_IN", LogBuilder::bIn(1, 'a', -3));
        b.entry(6, "SAT_ENCODING",
                b.satEncoding(9, {1, 0, 7, 1}, {{1, 1, {3}, {{{2}, 1}}}, {2, 3, {3, 5}, {{{0, 1}, 3}, {{1, 2}, 4}}}}));
        Opened o(b.finish(7));
        ASSERT_FALSE(logIsError(o.r()));
        runs.push_back(readAll(o.r()));
        EXPECT_FALSE(logIsError(o.r())) << logStatusText(o.r()) << " at " << logLastLine(o.r());
    }
    for (const std::vector<LogEntry>& entries : runs) {
        ASSERT_EQ(ids(entries), (std::vector<int>{6, 5, 4, 3, 2, 1}));
        const LogEntry& sat = entries[0];
        EXPECT_EQ(sat.kind, SAT_ENCODING);
        EXPECT_EQ(sat.values, (std::vector<int>{0, 1, 0, 7, 1}));
        EXPECT_EQ(sat.mapping.nonemptyExNumVar, 2);
        EXPECT_EQ(sat.mapping.cnfVarNum, 4);
        ASSERT_EQ(sat.mapping.rows.size(), 2u);
        const InverseVarRow& row = sat.mapping.rows[1];
        EXPECT_EQ(row.exVar, 2);
        EXPECT_EQ(row.startingIndex, 3);
        EXPECT_EQ(row.numOfCubes, 2);
        EXPECT_EQ(row.relevantUniv, (std::vector<int>{3, 5}));
        EXPECT_EQ(row.relevantUnivSize, 2);
        EXPECT_EQ(row.cubeMapping[1].univCube, (std::vector<int>{1, 2}));
        EXPECT_EQ(row.cubeMapping[1].firstIndex, 4);
        EXPECT_EQ(entries[1].kind, B_IN);
        EXPECT_EQ(entries[1].literal, -3);
        EXPECT_EQ(entries[1].quantifier, 'a');
        EXPECT_EQ(entries[1].secondBranch, 0);
        EXPECT_EQ(entries[2].kind, G_ASSIGN);
        EXPECT_EQ(entries[2].literal, -4);
        const LogEntry& res = entries[3];
        EXPECT_EQ(res.kind, G_RES);
        EXPECT_EQ(res.variable, 2);
        ASSERT_EQ(res.positive.size(), 2u);
        EXPECT_EQ(res.positive[0].literals, (std::vector<int>{2, -1, 3}));
        EXPECT_EQ(res.positive[1].literals, (std::vector<int>{2, 4}));
        ASSERT_EQ(res.negative.size(), 1u);
        EXPECT_EQ(res.negative[0].literals, (std::vector<int>{-2, 1}));
        EXPECT_TRUE(res.positive[0].bdd.isNull());
        EXPECT_EQ(res.positive[0].sorted, 0);
        EXPECT_EQ(entries[4].kind, B_OUT);
        EXPECT_EQ(entries[4].literal, -3);
        const LogEntry& cubes = entries[5];
        EXPECT_EQ(cubes.kind, G_CUBES);
        ASSERT_EQ(cubes.cubes.size(), 3u);
        EXPECT_EQ(cubes.cubes[1].variable, 2);
        EXPECT_EQ(cubes.cubes[1].dominators, (std::vector<int>{3, 5}));
        EXPECT_TRUE(cubes.cubes[2].dominators.empty());
    }
}

TEST(LogEntries, TextIntegersFollowScanfPercentI) {
    LogBuilder b(false, 40, {}, std::vector<int>(39, 1));
    b.entry(1, "G_ASSIGN", "0x1f\n");
    b.entry(2, "G_ASSIGN", "010\n");
    b.entry(3, "G_ASSIGN", "  -7\n");
    b.entry(4, "B_OUT", "+9 ");
    Opened o(b.finish(5));
    std::vector<LogEntry> entries = readAll(o.r());
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].literal, 9);
    EXPECT_EQ(entries[1].literal, -7);
    EXPECT_EQ(entries[2].literal, 8);
    EXPECT_EQ(entries[3].literal, 31);
}

TEST(LogEntries, BinaryIntegerBytes) {
    // -1 is the byte 0x06, 5 the byte 0x14, -2 (code 5, the byte 0x0A) is escaped.
    EXPECT_EQ(logtest::binaryInt(-1), "\x06");
    EXPECT_EQ(logtest::binaryInt(5), "\x14");
    EXPECT_EQ(logtest::binaryInt(-2), std::string("\0\1", 2));
    LogBuilder b(true, 6, {}, {1, 2, 3, 4, 5});
    b.entry(1, "B_OUT", "\x06");
    b.entry(2, "B_OUT", "\x14");
    b.entry(3, "B_OUT", std::string("\0\1", 2));
    b.entry(4, "G_ASSIGN", std::string("\0\0", 2));  // 0: escaped too, and no literal
    Opened o(b.finish(5));
    LogEntry zero = logReadPrevious(o.r());
    EXPECT_EQ(logStatus(o.r()), LOG_BAD_VARIABLE);  // literal 0
    Opened again(b.data().substr(0, b.data().find("#4:")) + "#5: END [" +
                 std::to_string(b.data().find("#4:") - b.data().find("#3:")) + "]\noutcome: TRUE\n");
    std::vector<LogEntry> entries = readAll(again.r());
    ASSERT_EQ(entries.size(), 3u) << logStatusText(again.r());
    EXPECT_EQ(entries[0].literal, -2);
    EXPECT_EQ(entries[1].literal, 5);
    EXPECT_EQ(entries[2].literal, -1);
}

TEST(LogEntries, BinaryLineEndDoesNotSwallowIntegers) {
    // After an EOL, 3 is the single byte 0x0C and 8 the byte 0x20: both white space to
    // scanf, both plain integers here.
    std::vector<int> map(12, 1);
    LogBuilder b(true, 13, {3, 8}, map);
    b.entry(1, "G_CUBES", b.gCubes({{3, {8}}, {8, {3}}, {4, {3, 8}}}));
    b.entry(2, "SAT_ENCODING", b.satEncoding(1, {1, 1}, {{8, 1, {3}, {{{2}, 1}}}}));
    Opened o(b.finish(3));
    std::vector<LogEntry> entries = readAll(o.r());
    ASSERT_EQ(entries.size(), 2u) << logStatusText(o.r());
    EXPECT_EQ(entries[0].mapping.rows[0].exVar, 8);
    EXPECT_EQ(entries[0].mapping.rows[0].relevantUniv, (std::vector<int>{3}));
    EXPECT_EQ(entries[1].cubes[1].variable, 8);
    EXPECT_EQ(entries[1].cubes[1].dominators, (std::vector<int>{3}));
    EXPECT_EQ(entries[1].cubes[2].variable, 4);
    EXPECT_EQ(entries[1].cubes[2].dominators, (std::vector<int>{3, 8}));
}

TEST(LogEntries, KindTable) {
    EXPECT_EQ(logKindOf("G_CUBES"), G_CUBES);
    EXPECT_EQ(logKindOf("SAT_ENCODING"), SAT_ENCODING);
    EXPECT_EQ(logKindOf("END"), LOG_END);
    EXPECT_EQ(logKindOf("g_cubes"), LOG_UNKNOWN);
    EXPECT_EQ(logKindOf("ERROR OR UNKNOWN"), LOG_UNKNOWN);
    EXPECT_STREQ(logKindName(S_EQUIV), "S_EQUIV");
    EXPECT_STREQ(logKindName(99), "ERROR OR UNKNOWN");
}

TEST(LogEntries, UnknownKindAndEndInTheMiddle) {
    for (const char* kind : {"END", "G_FOO"}) {
        LogBuilder b = tiny(false);
        b.entry(1, "G_ASSIGN", b.assign(1));
        b.entry(2, kind, b.assign(2));
        b.entry(3, "G_ASSIGN", b.assign(4));
        Opened o(b.finish(4));
        EXPECT_EQ(logReadPrevious(o.r()).id, 3);
        LogEntry e = logReadPrevious(o.r());
        EXPECT_EQ(e.kind, LOG_UNKNOWN);
        EXPECT_EQ(logStatus(o.r()), LOG_UNKNOWN_KIND) << kind;
        EXPECT_STREQ(logStatusText(o.r()), "Unknown log entry type");
        EXPECT_EQ(std::string(logLastLine(o.r())), "#2: " + std::string(kind) + " [" +
                                                       std::to_string(b.data().find("#2:") - b.data().find("#1:")) +
                                                       "]\n");
        // An error is never cleared: the reader delivers nothing more.
        EXPECT_EQ(logReadPrevious(o.r()).kind, LOG_UNKNOWN);
        EXPECT_EQ(logStatus(o.r()), LOG_UNKNOWN_KIND);
    }
}

TEST(LogEntries, BackOffsetToNoHeaderIsSyncLost) {
    LogBuilder b = tiny(false);
    b.entry(1, "G_ASSIGN", b.assign(1));
    b.entry(2, "G_ASSIGN", b.assign(2));
    std::string content = b.finish(3);
    std::string bad = "#2: G_ASSIGN [" + std::to_string(content.find("#2:") - content.find("#1:")) + "]";
    content.replace(content.find(bad), bad.size(), "#2: G_ASSIGN [" +
                    std::to_string(content.find("#2:") - content.find("#1:") - 2) + "]");
    Opened o(content);
    EXPECT_EQ(logReadPrevious(o.r()).id, 2);
    EXPECT_FALSE(logIsError(o.r()));
    logReadPrevious(o.r());
    EXPECT_EQ(logStatus(o.r()), LOG_SYNC_LOST);
    EXPECT_STREQ(logStatusText(o.r()), "Sync lost (corrupted log?)");
    // A back offset beyond the start of the file.
    LogBuilder c = tiny(false);
    c.entry(1, "G_ASSIGN", c.assign(1));
    std::string d = c.finish(2);
    d.replace(d.find("END [") + 5, 2, "99999");
    Opened p(d);
    logReadPrevious(p.r());
    EXPECT_EQ(logStatus(p.r()), LOG_SYNC_LOST);
    // Negative back offsets point nowhere: in an entry header the walk has lost its
    // way, in the trailer there is no usable trailer.
    LogBuilder e = tiny(false);
    e.entry(1, "G_ASSIGN", e.assign(1));
    e.entry(2, "G_ASSIGN", e.assign(2));
    std::string negative = e.finish(3);
    negative.replace(negative.find("#2: G_ASSIGN [") + 14, 0, "-");
    Opened q(negative);
    ASSERT_FALSE(logIsError(q.r()));
    EXPECT_EQ(logReadPrevious(q.r()).kind, LOG_UNKNOWN);
    EXPECT_EQ(logStatus(q.r()), LOG_SYNC_LOST);
    std::string trailer = e.data();
    trailer.replace(trailer.find("END [") + 5, 0, "-");
    Opened t(trailer);
    EXPECT_EQ(logStatus(t.r()), LOG_NO_TRAILER);
}

TEST(LogEntries, RollbackDropsTheStretchAfterItsTarget) {
    for (bool binary : {false, true}) {
        LogBuilder b = tiny(binary);
        for (int id = 1; id <= 11; ++id) b.entry(id, "G_ASSIGN", b.assign(id % 2 ? 1 : -2));
        // Rolled-back entries are never read: garbage payloads do not matter.
        b.raw("\x01\x03\x05 not an integer");
        b.entry(12, "ROLLBACK", LogBuilder::rollback(7));
        b.entry(13, "B_OUT", b.i(4));
        Opened o(b.finish(14));
        std::vector<LogEntry> entries = readAll(o.r());
        EXPECT_FALSE(logIsError(o.r())) << logStatusText(o.r());
        EXPECT_EQ(ids(entries), (std::vector<int>{13, 7, 6, 5, 4, 3, 2, 1}));
    }
}

TEST(LogEntries, BadRollbackTargetsLoseSync) {
    for (const std::string& payload : {LogBuilder::rollback(-3), std::string("to: x\n"), LogBuilder::rollback(50)}) {
        LogBuilder b = tiny(false);
        b.entry(1, "G_ASSIGN", b.assign(1));
        b.entry(2, "ROLLBACK", payload);
        Opened o(b.finish(3));
        LogEntry e = logReadPrevious(o.r());
        EXPECT_EQ(e.kind, LOG_UNKNOWN);
        EXPECT_EQ(logStatus(o.r()), LOG_SYNC_LOST) << payload;
    }
}

TEST(LogEntries, FailedExistentialBranchIsSkipped) {
    for (bool binary : {false, true}) {
        LogBuilder b = tiny(binary);
        b.entry(1, "G_ASSIGN", b.assign(2));
        b.entry(2, "B_IN", LogBuilder::bIn(1, 'e', -4));
        b.entry(3, "G_ASSIGN", b.assign(1));
        b.raw("garbage of the failed branch");  // never read
        b.entry(4, "B_IN", LogBuilder::bIn(1, 'a', 3));
        b.entry(5, "B_IN", LogBuilder::bIn(2, 'e', 4));
        b.entry(6, "G_ASSIGN", b.assign(-1));
        b.entry(7, "B_IN", LogBuilder::bIn(2, 'a', -5));  // a universal's second branch stays
        Opened o(b.finish(8));
        std::vector<LogEntry> entries = readAll(o.r());
        EXPECT_FALSE(logIsError(o.r())) << logStatusText(o.r());
        ASSERT_EQ(ids(entries), (std::vector<int>{7, 6, 2, 1}));
        EXPECT_EQ(entries[0].literal, -5);
        EXPECT_EQ(entries[0].secondBranch, 1);
        // The first branch's B_IN carries the second branch's literal.
        EXPECT_EQ(entries[2].literal, 4);
        EXPECT_EQ(entries[2].quantifier, 'e');
        EXPECT_EQ(entries[2].secondBranch, 0);
    }
}

TEST(LogEntries, SkippingIntoTheFirstEntryLosesSync) {
    LogBuilder b = tiny(false);
    b.entry(1, "G_ASSIGN", b.assign(2));
    b.entry(2, "B_IN", LogBuilder::bIn(2, 'e', 4));
    Opened o(b.finish(3));
    EXPECT_EQ(logReadPrevious(o.r()).kind, LOG_UNKNOWN);
    EXPECT_EQ(logStatus(o.r()), LOG_SYNC_LOST);
}

// ---- entries with BDDs ----

TEST(LogEntries, SymbolicKindsLoadTheirBdds) {
    for (bool binary : {false, true}) {
        bdd::Manager manager(2);
        bdd::Bdd u1 = bdd::ithVar(1), u2 = bdd::ithVar(2);
        LogBuilder b = tiny(binary);
        b.entry(1, "S_CUBES", b.sCubes({1, 2}, {u1, u1 & u2}));
        b.entry(2, "S_RES", b.sRes(1, {{1, 2}}, {{-1}, {-1, 4}}, {u1, !u2, u1 | u2}));
        b.entry(3, "S_ASSIGN", b.sAssign(-4, (!u1) & u2));
        b.entry(4, "S_EQUIV", b.sEquiv(2, -4, -1, {{1}, {2, 4}}, {u2, bdd::one(), u1 ^ u2}));
        Opened o(b.finish(5));
        logInstallManager(o.r(), &manager);
        std::vector<LogEntry> entries = readAll(o.r());
        ASSERT_EQ(entries.size(), 4u) << logStatusText(o.r()) << " at " << logLastLine(o.r());
        const LogEntry& eq = entries[0];
        EXPECT_EQ(eq.a, 2);
        EXPECT_EQ(eq.b, -4);
        EXPECT_EQ(eq.s, -1);
        ASSERT_EQ(eq.clauses.size(), 2u);
        EXPECT_EQ(eq.clauses[1].literals, (std::vector<int>{2, 4}));
        EXPECT_TRUE(eq.clauses[0].bdd == u2);
        EXPECT_TRUE(eq.clauses[1].bdd.isOne());
        EXPECT_TRUE(eq.bdd == (u1 ^ u2));
        EXPECT_EQ(entries[1].literal, -4);
        EXPECT_TRUE(entries[1].bdd == ((!u1) & u2));
        const LogEntry& res = entries[2];
        ASSERT_EQ(res.positive.size(), 1u);
        ASSERT_EQ(res.negative.size(), 2u);
        EXPECT_TRUE(res.positive[0].bdd == u1);
        EXPECT_TRUE(res.negative[0].bdd == !u2);
        EXPECT_TRUE(res.negative[1].bdd == (u1 | u2));
        const LogEntry& cubes = entries[3];
        ASSERT_EQ(cubes.cubes.size(), 2u);
        EXPECT_EQ(cubes.cubes[1].variable, 2);
        EXPECT_TRUE(cubes.cubes[1].cube == (u1 & u2));
    }
}

TEST(LogEntries, ReleaseDropsTheReferences) {
    bdd::Manager manager(2);
    LogBuilder b = tiny(true);
    bdd::Bdd f = (bdd::ithVar(1) & !bdd::ithVar(2)) | (bdd::ithVar(2) & !bdd::ithVar(1));
    b.entry(1, "S_ASSIGN", b.sAssign(1, f));
    f.release();
    Opened o(b.finish(2));
    logInstallManager(o.r(), &manager);
    LogEntry e = logReadPrevious(o.r());
    ASSERT_EQ(e.kind, S_ASSIGN);
    EXPECT_FALSE(e.bdd.isConstant());
    logRelease(e);
    EXPECT_TRUE(e.bdd.isNull());
    EXPECT_EQ(e.kind, LOG_UNKNOWN);
}

// ---- malformed payloads ----

TEST(LogHardening, MalformedPayloadsGiveTheirStatus) {
    struct Case {
        const char* what;
        bool binary;
        const char* kind;
        std::string payload;
        int status;
    };
    LogBuilder B = tiny(true);
    const Case cases[] = {
        {"huge clause count", false, "G_RES", "1 1000000000 0 ", LOG_BAD_COUNT},
        {"huge literal count", false, "G_RES", "1 1 0 2000000000 1 ", LOG_BAD_COUNT},
        {"negative count", false, "G_CUBES", "-1\n", LOG_BAD_COUNT},
        {"huge cube count (binary)", true, "G_CUBES", B.i(1 << 26) + "\n", LOG_BAD_COUNT},
        {"huge CNF variable count", false, "SAT_ENCODING", "symbVar: 1(0) cnfVar: 99999999\n", LOG_BAD_COUNT},
        {"literal beyond the slots", false, "G_ASSIGN", "6\n", LOG_BAD_VARIABLE},
        {"negative literal beyond the slots", true, "B_OUT", B.i(-7), LOG_BAD_VARIABLE},
        {"literal 0", false, "G_ASSIGN", "0\n", LOG_BAD_VARIABLE},
        {"clause literal out of range", false, "G_RES", "1 1 0 2 1 -6 ", LOG_BAD_VARIABLE},
        {"pivot out of range", false, "G_RES", "0 0 0 ", LOG_BAD_VARIABLE},
        {"cube variable out of range", false, "G_CUBES", "1\n9 0\n", LOG_BAD_VARIABLE},
        {"dominator negative", false, "G_CUBES", "1\n1 1 -3\n", LOG_BAD_VARIABLE},
        {"encoded existential out of range", false, "SAT_ENCODING", "symbVar: 1(1) cnfVar: 0\n\nvar 6: (1,0)\n0\n",
         LOG_BAD_VARIABLE},
        {"S_EQUIV b of 0", false, "S_EQUIV", "1 0 1\n0\n", LOG_BAD_VARIABLE},
        {"text integer unreadable", false, "G_ASSIGN", "x1\n", LOG_BAD_PAYLOAD},
        {"text integer too large", false, "G_ASSIGN", "99999999999\n", LOG_BAD_PAYLOAD},
        {"SAT_ENCODING title broken", false, "SAT_ENCODING", "symbVars 1\n", LOG_BAD_PAYLOAD},
        {"B_IN without literal", false, "B_IN", "1e\n", LOG_BAD_PAYLOAD},
    };
    for (const Case& c : cases) {
        LogBuilder b = tiny(c.binary);
        b.entry(1, "G_ASSIGN", b.assign(1));
        b.entry(2, c.kind, c.payload);
        Opened o(b.finish(3));
        LogEntry e = logReadPrevious(o.r());
        EXPECT_EQ(e.kind, LOG_UNKNOWN) << c.what;
        EXPECT_EQ(logStatus(o.r()), c.status) << c.what << ": " << logStatusText(o.r());
        EXPECT_TRUE(logIsError(o.r())) << c.what;
        EXPECT_EQ(std::string(logLastLine(o.r())).substr(0, 4), "#2: ") << c.what;
    }
}

TEST(LogHardening, BddArraysMustHoldEveryRootTheEntryNeeds) {
    for (bool binary : {false, true}) {
        bdd::Manager manager(2);
        bdd::Bdd u1 = bdd::ithVar(1);
        struct Case {
            const char* kind;
            std::string payload;
        };
        LogBuilder b = tiny(binary);
        const Case cases[] = {
            {"S_CUBES", b.sCubes({1, 2}, {u1})},
            {"S_RES", b.sRes(1, {{1}}, {{-1}}, {u1})},
            {"S_EQUIV", b.sEquiv(1, 2, 1, {{1}}, {u1})},
        };
        for (const Case& c : cases) {
            LogBuilder log = tiny(binary);
            log.entry(1, c.kind, c.payload);
            Opened o(log.finish(2));
            logInstallManager(o.r(), &manager);
            EXPECT_EQ(logReadPrevious(o.r()).kind, LOG_UNKNOWN);
            EXPECT_EQ(logStatus(o.r()), LOG_FEW_ROOTS) << c.kind << (binary ? " binary" : " text");
            EXPECT_STREQ(logStatusText(o.r()), "Embedded BDD array has too few roots");
        }
        // No dump at all where one is due.
        LogBuilder log = tiny(binary);
        log.entry(1, "S_ASSIGN", log.i(1) + "\n.nothing\n");
        Opened o(log.finish(2));
        logInstallManager(o.r(), &manager);
        EXPECT_EQ(logReadPrevious(o.r()).kind, LOG_UNKNOWN);
        EXPECT_EQ(logStatus(o.r()), LOG_BAD_BDD);
    }
}

TEST(LogHardening, UnreadableBinaryIntegerIsFatal) {
    testsupport::TempDir dir;
    struct Case {
        const char* what;
        const char* kind;
        std::string payload;
        int line;
    } cases[] = {
        {"bad escape in a plain integer", "G_ASSIGN", std::string("\0\x07", 2), 116},
        {"bad escape in a count", "G_RES", logtest::binaryInt(1) + std::string("\0\x05", 2), 116},
        {"bad escape in the paired SAT_ENCODING value", "SAT_ENCODING",
         "symbVar: 1(1) cnfVar: 0\n\nvar 1: (1,1)\n" + logtest::binaryInt(0) + "\n" + std::string("\0\x09", 2), 137},
    };
    for (const Case& c : cases) {
        LogBuilder b = tiny(true);
        b.entry(1, c.kind, c.payload);
        std::string path = dir.file("f.Tobrin.log");
        testsupport::writeFile(path, b.finish(2));
        logtest::Ended ended = logtest::inChild([&] {
            auto r = logOpen(path);
            logReadPrevious(*r);
        });
        EXPECT_EQ(ended.status, 255) << c.what;
        EXPECT_EQ(ended.out, "[Abnormal exit due to error \"Problem in DddmpReadInt\" at line " +
                                 std::to_string(c.line) + ", file \"Log\"]\n")
            << c.what;
    }
}
