// Hostile inputs end to end: truncated, oversized, self-contradicting and garbage
// solver logs, QBM files, formulas, expression texts and expression files, each run
// through the real plumex binary. Every one must end with a clear message on standard
// output and a defined exit status, write nothing to standard error, and leave no
// partly written file behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "expressions/parser.h"
#include "framework/batch.h"
#include "runcontrol/cli.h"
#include "runcontrol/settings.h"
#include "tests/support/run.h"

using testsupport::TempDir;

namespace {

std::string writer() { return testsupport::binary("plumex-logwriter"); }

// A small true formula and its logs in both storage modes, made once.
struct Seeds {
    std::string formula, textLog, binaryLog, textQbm, binaryQbm;
    std::map<std::string, std::string> faults;  // logs with a fault the log writer planted
};

const Seeds& seeds() {
    static Seeds s = [] {
        Seeds made;
        TempDir dir;
        std::string f = dir.file("r.qdimacs");
        auto gen = testsupport::run({writer(), "gen", "--vars", "8", "--clauses", "12", "--blocks", "3", "--seed", "1",
                                     "-o", f});
        EXPECT_EQ(gen.status, 0) << gen.err;
        made.formula = testsupport::readFile(f);
        for (const char* mode : {"text", "binary"}) {
            std::string base = dir.file(std::string("r-") + mode);
            auto w = testsupport::run({writer(), "-q", "--mode", mode, "--style", "mix", "--record", "r.qdimacs",
                                       "-o", base, f});
            EXPECT_EQ(w.status, 10) << w.err;
            auto p = testsupport::plumex({"-v", "0", base + ".Tobrin.log"}, dir.path());
            EXPECT_EQ(p.status, 10) << p.out;
            std::string log = testsupport::readFile(base + ".Tobrin.log");
            std::string qbm = testsupport::readFile(base + ".qbm");
            (std::string(mode) == "text" ? made.textLog : made.binaryLog) = log;
            (std::string(mode) == "text" ? made.textQbm : made.binaryQbm) = qbm;
        }
        for (const char* fault : {"back-offset", "negative-rollback", "truncated-int", "unbalanced-branch",
                                  "res-contradiction", "inconsistent", "invalid"}) {
            std::string base = dir.file(std::string("f-") + fault);
            testsupport::run({writer(), "-q", "--fault", fault, "--style", "mix", "--record", "r.qdimacs", "-o", base, f});
            made.faults[fault] = testsupport::readFile(base + ".Tobrin.log");
            EXPECT_FALSE(made.faults[fault].empty()) << fault;
        }
        return made;
    }();
    return s;
}

std::string replaceFirst(std::string text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << "no \"" << from << "\" in the seed";
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::string replaceLast(std::string text, const std::string& from, const std::string& to) {
    std::size_t at = text.rfind(from);
    EXPECT_NE(at, std::string::npos) << "no \"" << from << "\" in the seed";
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// The text up to (not including) the n-th occurrence of the marker.
std::string cutAt(const std::string& text, const std::string& marker, int n = 1) {
    std::size_t at = 0;
    for (int i = 0; i < n; ++i) {
        at = text.find(marker, i ? at + 1 : 0);
        EXPECT_NE(at, std::string::npos);
        if (at == std::string::npos) return text;
    }
    return text.substr(0, at);
}

// A text log changed inside its entries: every entry header's back offset is written
// anew, so that the reader walks into the changed entry instead of losing its way.
std::string rechain(std::string log) {
    for (int round = 0; round < 8; ++round) {
        std::vector<std::size_t> headers;
        for (std::size_t at = log.find("\n#"); at != std::string::npos; at = log.find("\n#", at + 1)) {
            std::size_t h = at + 1, colon = log.find(": ", h), open = log.find(" [", h), end = log.find(']', h);
            if (colon == std::string::npos || open == std::string::npos || end == std::string::npos) continue;
            if (log.find('\n', h) < end || colon > open) continue;
            bool digits = colon > h + 1;
            for (std::size_t i = h + 1; i < colon; ++i) digits = digits && std::isdigit(static_cast<unsigned char>(log[i]));
            if (digits) headers.push_back(h);
        }
        bool changed = false;
        for (std::size_t k = headers.size(); k-- > 1;) {
            std::size_t open = log.find(" [", headers[k]) + 2, end = log.find(']', open);
            std::string offset = std::to_string(headers[k] - headers[k - 1]);
            if (log.compare(open, end - open, offset) != 0) {
                log.replace(open, end - open, offset);
                changed = true;
            }
        }
        if (!changed) break;
    }
    return log;
}

std::string gzip(const std::string& data) {
    TempDir dir;
    std::string path = dir.file("x.gz");
    gzFile gz = gzopen(path.c_str(), "wb");
    gzwrite(gz, data.data(), static_cast<unsigned>(data.size()));
    gzclose(gz);
    return testsupport::readFile(path);
}

std::set<std::string> listDir(const std::string& path) {
    std::set<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.insert(n);
        }
        closedir(d);
    }
    return names;
}

struct Case {
    std::string name;
    std::map<std::string, std::string> files;  // written into a fresh directory
    std::vector<std::string> args;              // run there
    int status;                                 // exit status byte expected
    std::string message;                        // must appear on standard output
    std::vector<std::string> outputs = {};      // files plumex may leave (complete ones)
    std::string absent = {};                    // must not appear on standard output
};

// With PLUMEX_HOSTILE_TABLE set, the cases print their outcome as a table row.
void runCase(const Case& c) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    for (const auto& [name, content] : c.files) testsupport::writeFile(dir.file(name), content);
    auto r = testsupport::plumex(c.args, dir.path());
    if (std::getenv("PLUMEX_HOSTILE_TABLE")) {
        // the row shows the expected message when the output holds it, else the output's tail
        std::string shown = r.out.find(c.message) != std::string::npos ? c.message : testsupport::maskTimes(r.out);
        for (char& ch : shown)
            if (ch == '\n' || ch == '|') ch = ' ';
        if (shown.size() > 160) shown = shown.substr(shown.size() - 160);
        std::printf("| %s | %d | `%s` |\n", c.name.c_str(), r.status, shown.c_str());
    }
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << "expected \"" << c.message << "\" in:\n" << r.out;
    if (!c.absent.empty()) {
        EXPECT_EQ(r.out.find(c.absent), std::string::npos) << r.out;
    }
    EXPECT_EQ(r.err, "");
    // Nothing but the inputs and the complete outputs named by the case remains: no
    // temporary file, no partial output under its final name.
    std::set<std::string> allowed;
    for (const auto& [name, content] : c.files) allowed.insert(name.substr(0, name.find('/')));
    for (const std::string& o : c.outputs) allowed.insert(o);
    allowed.insert("bdd_test.dot");
    // (an expression file's per-line dumps are named after its result file)
    for (const std::string& n : listDir(dir.path())) {
        bool known = allowed.count(n) > 0;
        for (const std::string& o : c.outputs) known = known || n.rfind(o + ".line", 0) == 0;
        EXPECT_TRUE(known) << "left behind: " << n;
    }
}

const int kValid = 10, kInvalid = 20, kError = 255, kUsage = 254;

std::vector<Case> logCases() {
    const Seeds& s = seeds();
    const std::string& t = s.textLog;
    const std::string& b = s.binaryLog;
    auto log = [&](const std::string& content) {
        return std::map<std::string, std::string>{{"x.Tobrin.log", content}, {"r.qdimacs", s.formula}};
    };
    std::vector<Case> cases;
    auto add = [&](std::string name, std::string content, int status, std::string message) {
        cases.push_back({std::move(name), log(content), {"x.Tobrin.log"}, status, std::move(message)});
    };
    add("log: empty file", "", kUsage, "Usage:");
    add("log: banner line only", "# Tobrin log file, 1.3\n", kError, "Error: Header data parsing problems");
    add("log: banner without line end", "# Tobrin log file, 1.3", kError, "Error: Header data parsing problems");
    add("log: version 1.2", replaceFirst(t, "1.3", "1.2"), kError, "Error: Unsupported log version");
    add("log: dump format ascii", replaceFirst(t, "dump format: text", "dump format: ascii"), kError, "Error: Header data parsing problems");
    add("log: cut after the formula line", cutAt(t, "# dump format"), kError, "Error: Header data parsing problems");
    add("log: cut inside the int/ext mapping", cutAt(t, " 7 1 2"), kError, "Error: Header data parsing problems");
    add("log: two billion variables", replaceFirst(t, "# vars: (9,1)", "# vars: (2000000000,1)"), kError, "Error: Header data parsing problems");
    add("log: negative variable count", replaceFirst(t, "# vars: (9,1)", "# vars: (-9,1)"), kError, "Error: Header data parsing problems");
    add("log: more universals than variables", replaceFirst(t, "# vars: (9,1)", "# vars: (9,500000000)"), kError, "Error: Header data parsing problems");
    add("log: external number 2^31-1", replaceFirst(t, "mapping: 5 ", "mapping: 2147483647 "), kError, "Error: Header data parsing problems");
    add("log: cut in the middle of an entry", cutAt(t, "#5:"), kError, "Error: Last record sync failed");
    add("log: cut in the middle of a BDD dump", cutAt(t, ".nodes", 3), kError, "Error: Last record sync failed");
    add("log: outcome FALSE", replaceLast(t, "outcome: TRUE", "outcome: FALSE"), kError,
        "Error: This is not a TRUE formula");
    add("log: trailer back offset beyond the file", replaceLast(t, "END [", "END [99999"), kError, "Error: Sync lost (corrupted log?) at line");
    add("log: trailer back offset negative", replaceLast(t, "END [", "END [-"), kError, "Error: Last record sync failed");
    add("log: unknown entry kind", replaceFirst(t, "S_RES", "X_RES"), kError, "Unknown log entry type");
    add("log: END in the middle", replaceFirst(t, "S_RES", "END  "), kError, "Unknown log entry type");
    add("log: G_CUBES count of a billion", rechain(replaceFirst(t, "[0]\n7 \n", "[0]\n1000000000 \n")), kError, "Error: Entry count exceeds the data left (corrupted log?) at line \"#1: G_CUBES");
    add("log: S_RES clause counts of a billion", rechain(replaceFirst(t, "7 3 1 2 5", "7 1000000000 1000000000 2 5")), kError,
        "Error: Entry count exceeds the data left (corrupted log?) at line \"#3: S_RES");
    add("log: literal beyond the variables", rechain(replaceFirst(t, "7 3 1 2 5 7", "7 3 1 2 5 70000")), kError, "Error: Literal or variable out of range at line \"#3: S_RES");
    add("log: DDDMP node count of a billion", rechain(replaceFirst(t, ".nnodes 2", ".nnodes 1000000000")), kError, "Error: Embedded BDD unreadable at line \"#2: S_ASSIGN");
    add("log: DDDMP root count of a billion", rechain(replaceFirst(t, ".nroots 4", ".nroots 1000000000")), kError, "Error: Embedded BDD unreadable at line \"#3: S_RES");
    add("log: DDDMP node pointing forward", replaceFirst(t, "2 1 0 1 -1", "2 1 0 7 -1"), kError, "Error: Embedded BDD unreadable");
    add("log: DDDMP node pointing at itself", replaceFirst(t, "2 1 0 1 -1", "2 1 0 2 -1"), kError, "Error: Embedded BDD unreadable");
    add("log: SAT_ENCODING of a billion CNF variables",
        rechain(replaceFirst(t, "symbVar: 1(1) cnfVar: 1\n", "symbVar: 1(1) cnfVar: 1000000000\n")), kError, "Error: Entry count exceeds the data left (corrupted log?) at line \"#10: SAT_ENCODING");
    add("log: SAT_ENCODING of a billion blocks",
        rechain(replaceFirst(t, "symbVar: 1(1) cnfVar: 1\n", "symbVar: 1(1000000000) cnfVar: 1\n")), kError, "Error: Entry count exceeds the data left (corrupted log?) at line \"#10: SAT_ENCODING");
    add("log: SAT_ENCODING block of a billion rows",
        rechain(replaceFirst(t, "var 3: (1,1)\n0 ", "var 3: (1,1000000000)\n0 ")), kError, "Error: Entry count exceeds the data left (corrupted log?) at line \"#10: SAT_ENCODING");
    add("log: SAT_ENCODING block over a billion universals",
        rechain(replaceFirst(t, "var 3: (1,1)\n0 ", "var 3: (1,1)\n1000000000 ")), kError, "Error: Entry count exceeds the data left (corrupted log?) at line \"#10: SAT_ENCODING");
    add("log: SAT_ENCODING cut before its rows", rechain(replaceFirst(t, "var 3: (1,1)\n0 \n (1)\n", "var 3: (1,1)\n")),
        kError, "Error: Entry data parsing problems at line \"#10: SAT_ENCODING");
    add("log: DDDMP without .end", rechain(replaceFirst(t, ".end\n#3", "\n#3")), kError, "Error: Embedded BDD unreadable");
    add("log: formula name of 200,000 characters",
        replaceFirst(t, "\"r.qdimacs\"", "\"" + std::string(200000, 'f') + ".qdimacs\""), kValid, "Verification skipped, cannot parse");
    add("log: banner line of a million characters",
        replaceFirst(t, "written by plumex-logwriter", std::string(1000000, 'w')), kValid, "Certificate is VALID");
    add("log: a million blanks before a header line",
        replaceFirst(t, "# formula", std::string(1000000, ' ') + "# formula"), kError, "Error: Header data parsing problems");
    add("log: payload line of a million blanks", rechain(replaceFirst(t, "[0]\n7 \n", "[0]\n7" + std::string(1000000, ' ') + "\n")),
        kValid, "Certificate is VALID");
    add("log: NUL bytes in the header", replaceFirst(t, "# vars", std::string("\0\0\0", 3) + "# vars"), kError, "Error: Header data parsing problems");
    add("log: binary, cut inside an integer", cutAt(b, "#3:") + "\x1d", kError, "Error: Last record sync failed");
    add("log: binary, cut in the middle of a dump", cutAt(b, ".nodes", 2), kError, "Error: Last record sync failed");
    add("log: binary, garbage payload", replaceFirst(b, "\n.ver DDDMP-2.0", "\n\xff\xff\xff\xff\xff\n.ver DDDMP-2.0"),
        kError, "Error: Sync lost (corrupted log?)");
    // faults the log writer plants where a solver's log would break
    add("log: back offset one byte too long", s.faults.at("back-offset"), kError, "Error: Sync lost (corrupted log?)");
    add("log: ROLLBACK to -3", s.faults.at("negative-rollback"), kError,
        "Error: Sync lost (corrupted log?) at line \"to: -3\"");
    add("log: binary integer cut after its escape byte", s.faults.at("truncated-int"), kError,
        "[Abnormal exit due to error \"Problem in DddmpReadInt\" at line 116, file \"Log\"]");
    add("log: universal branch without its end", s.faults.at("unbalanced-branch"), kError,
        "[Abnormal exit due to error \"Bad univ. hypothesis depth\" at line 166, file \"QbfModelReconstruct\"]");
    add("log: resolution on (x) and (-x)", s.faults.at("res-contradiction"), kError, "Error: Reconstruction failure");
    add("log: variable both true and false", s.faults.at("inconsistent"), kInvalid, "Certificate is INCONSISTENT");
    add("log: certificate missing a clause", s.faults.at("invalid"), kInvalid, "Certificate is INVALID");
    // the formula the log names
    {
        Case c{"formula: missing", {{"x.Tobrin.log", t}}, {"x.Tobrin.log"}, kValid, "Verification skipped"};
        c.outputs = {"x.qbm"};
        cases.push_back(c);
    }
    auto withFormula = [&](std::string name, std::string formula, int status, std::string message,
                           std::vector<std::string> outputs = {}) {
        Case c{std::move(name), {{"x.Tobrin.log", t}, {"r.qdimacs", formula}}, {"x.Tobrin.log"}, status,
               std::move(message)};
        c.outputs = outputs;
        cases.push_back(c);
    };
    withFormula("formula: empty", "", kInvalid, "Problem, no problem line");
    withFormula("formula: two billion variables", replaceFirst(s.formula, "p cnf 8", "p cnf 2000000000"), kValid, "Certificate is VALID");
    withFormula("formula: cut in the middle of a clause", s.formula.substr(0, s.formula.size() - 5), kInvalid, "clause without closing 0 at line 17");
    withFormula("formula: clause line of a million literals",
                s.formula + [] {
                    std::string l;
                    for (int i = 0; i < 1000000; ++i) l += (i % 2 ? "1 " : "-1 ");
                    return l + "0\n";
                }(),
                kValid, "Certificate is VALID", {"x.qbm"});
    withFormula("formula: literal beyond the prefix", s.formula + "9 -12 0\n", kInvalid, "literal 9 out of range at line 18");
    withFormula("formula: prefix quantifies one variable more than the log has", replaceFirst(s.formula, "e ", "e 99999 "), kInvalid, "Problem, var number mismatch, in qbf:9 in log:9");
    {
        Case c{"formula: gzip cut short",
               {{"x.Tobrin.log", replaceFirst(t, "\"r.qdimacs\"", "\"r.qdimacs.gz\"")},
                {"r.qdimacs.gz", gzip(s.formula).substr(0, 40)}},
               {"x.Tobrin.log"},
               kInvalid,
               "Problem, no problem line"};
        cases.push_back(c);
    }
    // a certificate that was reconstructed is written, whatever its checks said
    for (Case& c : cases)
        if ((c.status == kValid || c.status == kInvalid) && c.outputs.empty()) c.outputs = {"x.qbm"};
    return cases;
}

std::vector<Case> qbmCases() {
    const Seeds& s = seeds();
    const std::string& q = s.textQbm;
    std::vector<Case> cases;
    auto add = [&](std::string name, std::string content, int status, std::string message) {
        cases.push_back({std::move(name), {{"x.qbm", content}, {"r.qdimacs", s.formula}}, {"x.qbm"}, status,
                         std::move(message)});
    };
    add("qbm: version 1.2", replaceFirst(q, "1.3", "1.2"), kUsage, "Usage:");
    add("qbm: header line only", "# QBM file, 1.3\n", kError, "Error: header cut short");
    add("qbm: dump format ascii", replaceFirst(q, "dump format: text", "dump format: ascii"), kError, "Error: unknown dump format \"ascii\"");
    add("qbm: a billion universals", replaceFirst(q, "universals[1]", "universals[1000000000]"), kError, "Error: bad universals count");
    add("qbm: negative existential count", replaceFirst(q, "existentials[7]", "existentials[-7]"), kError, "Error: bad existentials line");
    add("qbm: existential listed twice", replaceFirst(q, "]: 5 4 ", "]: 5 5 "), kError, "Error: variable 5 listed twice");
    add("qbm: universal also existential", replaceFirst(q, "]: 5 4 ", "]: 2 4 "), kError, "Error: variable 2 listed twice");
    add("qbm: zero as a variable", replaceFirst(q, "]: 5 4 ", "]: 0 4 "), kError, "Error: bad number in the existentials line");
    add("qbm: cut in the middle of the dump", cutAt(q, ".nodes"), kError, "Error: bad forest: truncated header: no .nodes line");
    add("qbm: cut in the middle of a node line", q.substr(0, q.size() - 8), kError, "Error: bad forest: node 2: variable position 1 outside the support of 1");
    add("qbm: fewer roots than existentials", replaceFirst(replaceFirst(q, ".nroots 14", ".nroots 2"),
                                                           ".rootids 1 -1 1 -1 1 -1 -1 1 1 -1 2 -2 1 -1", ".rootids 1 -1"),
        kError, "Error: the forest has 2 roots for 7 existentials");
    add("qbm: a billion nodes", replaceFirst(q, ".nnodes 2", ".nnodes 1000000000"), kError, "Error: bad forest: .nnodes 1000000000 is more than the rest of the file can hold");
    add("qbm: root beyond the nodes", replaceFirst(q, ".rootids 1 -1", ".rootids 9 -1"), kError, "Error: bad forest: .rootids value 9 is not a node");
    add("qbm: node pointing at itself", replaceFirst(q, "2 1 0 1 -1", "2 1 0 2 -1"), kError, "Error: bad forest: node 2 refers to a node not defined before it");
    add("qbm: node over a position outside the support", replaceFirst(q, "2 1 0 1 -1", "2 1 5 1 -1"), kError, "Error: bad forest: node 2: variable position 5 outside the support of 1");
    add("qbm: garbage after the header", cutAt(q, ".ver") + std::string(3000, '\xee'), kError, "Error: bad forest");
    add("qbm: binary, cut in the middle", s.binaryQbm.substr(0, s.binaryQbm.size() - 6), kError, "Error: bad forest: truncated node section at record 2");
    return cases;
}

// Deeply nested expressions: 100,000 "not(" in a row.
std::string nested(int depth) {
    std::string e;
    for (int i = 0; i < depth; ++i) e += "not(";
    e += "5";
    for (int i = 0; i < depth; ++i) e += ")";
    return e;
}

std::string nestedBang(int depth) {
    std::string e;
    for (int i = 0; i < depth; ++i) e += "!(";
    return e + "5" + std::string(depth, ')');
}

std::vector<Case> expressionCases() {
    const Seeds& s = seeds();
    std::vector<Case> cases;
    auto withQbm = [&](std::string name, std::map<std::string, std::string> files, std::vector<std::string> args,
                       int status, std::string message, std::vector<std::string> outputs = {}) {
        files["x.qbm"] = s.textQbm;
        files["r.qdimacs"] = s.formula;
        Case c{std::move(name), files, args, status, std::move(message)};
        c.outputs = outputs;
        cases.push_back(c);
    };
    // one argument holds at most 128 KiB: 40,000 levels of "!(" is as deep as a command line goes
    withQbm("eval: 40,000 nested !(", {}, {"x.qbm", "-eval", nestedBang(40000)}, kValid, "Certificate is VALID");
    cases.back().absent = "Evaluation";
    withQbm("eval: 100,000 open parentheses", {}, {"x.qbm", "-eval", std::string(100000, '(')}, kValid, "Certificate is VALID");
    // a number beyond int is no literal (cut to an int it would read as -1)
    withQbm("eval: literal beyond int", {}, {"x.qbm", "-eval", "99999999999999999999"}, kValid, "Certificate is VALID");
    cases.back().absent = "Evaluation";
    withQbm("eval: scenario literal beyond int", {}, {"x.qbm", "-eval", "5(4294967298)"}, kValid, "Certificate is VALID");
    cases.back().absent = "Evaluation";
    withQbm("eval file: 100,000 nested not(", {{"e.txt", nested(100000) + "\n5\n"}}, {"x.qbm", "-eval", "e.txt"},
            kValid, "b.Evaluation (e.txt) [OK, ", {"e.txt.result"});
    withQbm("eval file: line of 5,000 characters", {{"e.txt", "5\n" + std::string(5000, '1') + "\n-5\n"}},
            {"x.qbm", "-eval", "e.txt"}, kValid, "1.5 = always", {"e.txt.result"});
    withQbm("eval file: last line without line end", {{"e.txt", "5\nand(5,4"}}, {"x.qbm", "-eval", "e.txt"}, kValid,
            "1.5 = always", {"e.txt.result"});
    withQbm("eval file: binary garbage", {{"e.txt", std::string("\x1f\x8b\0\xff\n\0\0(\n", 9)}},
            {"x.qbm", "-eval", "e.txt"}, kValid, "[OK, cannot read \"e.txt\"", {"e.txt.result"});
    withQbm("eval file: gzip cut short", {{"e.txt.gz", gzip("5\n-5\nand(5,4)\n").substr(0, 20)}},
            {"x.qbm", "-eval", "e.txt.gz"}, kValid, "[OK, cannot read \"e.txt.gz\"", {"e.txt.gz.result"});
    return cases;
}

// Runs the work on a thread with the usual 8 MiB stack of a process: a parser that
// recursed once per level of 100,000 would overflow it (its depth limit keeps it at
// 10,000 levels, which fit even with the sanitizers' larger frames).
void onSmallStack(const std::function<void()>& work) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 8 << 20);
    pthread_t thread;
    auto body = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, body, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

TEST(HostileInput, DeepNestingIsAParseFailureNotAStackOverflow) {
    onSmallStack([] {
        for (const std::string& text : {nested(100000), nestedBang(100000), "dc " + nested(100000) + "(3)",
                                        "<" + nested(100000) + ",5>", std::string(100000, '('),
                                        "and(" + nested(100000) + ",5)"}) {
            ExpList* list = expParseList(text.c_str());
            EXPECT_EQ(list, nullptr) << text.substr(0, 20);
            if (list) expListFree(list);
            int count = 0;
            expClassify(text.c_str(), &count);
        }
        // a nesting that a person writes still parses
        ExpList* list = expParseList(nested(50).c_str());
        ASSERT_NE(list, nullptr);
        expListFree(list);
    });
}

// Configuration files and lines as the batch parent reads them and a child applies them.
TEST(HostileInput, ConfigurationLines) {
    TempDir dir;
    std::string path = dir.file("Plumex.conf");
    std::string many;
    for (int i = 0; i < 100; ++i) many += "-check ";
    testsupport::writeFile(path, ". -v 2\n" + std::string(200, 'x') + " -check\n" + std::string(5000, 'y') + "\n" +
                                     many + "\n" + std::string("\0\xff -v\t3\r\n", 9) + ". -timeout");
    batch::Configuration c = batch::readConfiguration(path);
    ASSERT_TRUE(c.present);
    // the 200-character token's line is left out; the 5000-byte line is cut into
    // 1023-byte records (its one token too long in each); 63 of the 100 tokens are kept
    ASSERT_EQ(c.lines.size(), 4u);
    EXPECT_EQ(c.lines[0].count, 4);
    EXPECT_EQ(c.lines[1].count, 64);
    for (const batch::ConfigLine& line : c.lines) {
        for (const std::string& token : line.tokens) EXPECT_LE(token.size(), 99u);
        Settings saved = settings();
        std::vector<const char*> argv = line.argv();
        cli::applyConfigurationLine(line.count, argv.data());
        scanSettings() = saved;
    }
    // a configuration file that cannot be read is taken as absent
    std::string unreadable = dir.file("sub");
    ASSERT_EQ(mkdir(unreadable.c_str(), 0755), 0);
    EXPECT_FALSE(batch::readConfiguration(unreadable + "/Plumex.conf").present);
}

// Command lines, through the scan: a rejected one prints the usage and ends with -2;
// a bad option stops the scan after a named input and the run goes on.
TEST(HostileInput, CommandLines) {
    TempDir dir;
    std::string qbm = dir.file("x.qbm");
    testsupport::writeFile(qbm, "# QBM file, 1.3\n");
    auto scan = [](std::vector<std::string> words) {
        std::vector<const char*> argv = {"plumex"};
        for (const std::string& w : words) argv.push_back(w.c_str());
        argv.push_back(nullptr);
        return cli::scanCommandLine(static_cast<int>(argv.size()) - 1, argv.data());
    };
    for (const std::vector<std::string>& rejected :
         std::vector<std::vector<std::string>>{{},
                                               {"-bogus", qbm},
                                               {qbm, "0.5"},
                                               {qbm, "1e-400"},
                                               {qbm, "nan"},
                                               {qbm, "3", "4"},
                                               {std::string(100000, 'q') + ".qbm"},
                                               {"-eval", nested(100000), qbm, "x"}}) {
        EXPECT_EXIT(scan(rejected), testing::ExitedWithCode(254), "") << rejected.size() << " " << (rejected.empty() ? "" : rejected.back().substr(0, 20));
    }
    std::string commas(100000, ',');
    for (const std::vector<std::string>& stopped : std::vector<std::vector<std::string>>{
             {qbm, "-var", "1-2,,3"},
             {qbm, "-var", commas},
             {qbm, "-var", "99999999999-1"},
             {qbm, "-hbdd", "99:99"},
             {qbm, "-hbdd", "-2147483648"},
             {qbm, "-v", "12"},
             {qbm, "-eval", nested(100000)},
             {qbm, "-dump"},
             {qbm, "-remove", "everything"},
             {qbm, "1e400"}}) {
        Settings saved = settings();
        EXPECT_EQ(scan(stopped), 1);
        EXPECT_EQ(settings().inputPath, qbm);
        EXPECT_GE(settings().timeout, 0);
        EXPECT_EQ(settings().expressions, saved.expressions);
        scanSettings() = saved;
    }
}

TEST(HostileInput, SolverLogsAndTheirFormulas) {
    for (const Case& c : logCases()) runCase(c);
}

TEST(HostileInput, QbmFiles) {
    for (const Case& c : qbmCases()) runCase(c);
}

TEST(HostileInput, ExpressionTextsAndFiles) {
    for (const Case& c : expressionCases()) runCase(c);
}

}  // namespace

// A certificate over 150,000 universals: existential 1 holds exactly where every universal
// does, a chain of 150,000 nodes. Engine operations on it recurse once per level, and
// building cubes or reordering blocks from the top would cost time quadratic in the count.
TEST(HostileInput, CertificateOverOneHundredFiftyThousandUniversals) {
    const int n = 150000;
    std::string qbm = "# QBM file, 1.3\n# solver: Tobrin\n# formula: \"wide.qdimacs\"\n# complete: YES\n"
                      "# dump format: text\n# universals[" + std::to_string(n) + "]: ";
    std::string prefix = "a", bigClause = "1";
    for (int k = 2; k <= n + 1; ++k) {
        qbm += std::to_string(k) + " ";
        prefix += " " + std::to_string(k);
        bigClause += " -" + std::to_string(k);
    }
    qbm += "\n# existentials[1]: 1 \n.ver DDDMP-2.0\n.mode A\n.varinfo 0\n.nnodes " + std::to_string(n + 1) +
           "\n.nvars " + std::to_string(n + 1) + "\n.nsuppvars " + std::to_string(n) + "\n.ids";
    for (int k = 1; k <= n; ++k) qbm += " " + std::to_string(k);
    qbm += "\n.permids";
    for (int k = 1; k <= n; ++k) qbm += " " + std::to_string(k);
    qbm += "\n.nroots 2\n.rootids " + std::to_string(n + 1) + " -" + std::to_string(n + 1) + "\n.nodes\n1 T 1 0 0\n";
    // bottom up: node i + 2 tests universal n - i, then the node below, else false
    for (int i = 0; i < n; ++i)
        qbm += std::to_string(i + 2) + " " + std::to_string(n - i) + " " + std::to_string(n - 1 - i) + " " +
               std::to_string(i + 1) + " -1\n";
    qbm += ".end\n";
    std::string formula = "p cnf " + std::to_string(n + 1) + " 3\n" + prefix + " 0\ne 1 0\n" + bigClause +
                          " 0\n-1 2 0\n-1 " + std::to_string(n + 1) + " 0\n";
    TempDir dir;
    testsupport::writeFile(dir.file("wide.qbm"), qbm);
    testsupport::writeFile(dir.file("wide.qdimacs"), formula);
    auto r = testsupport::plumex({"wide.qbm", "-dump", "all"}, dir.path());
    EXPECT_EQ(r.status, kValid) << r.out;
    EXPECT_NE(r.out.find("Certificate is VALID"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[OK, " + std::to_string(n + 1) + " nodes, "), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    // the certificate written back is the one read
    auto again = testsupport::plumex({"wide.qbm"}, dir.path());
    EXPECT_EQ(again.status, kValid) << again.out;
    // a clause it does not satisfy is found as well
    testsupport::writeFile(dir.file("wide.qdimacs"), "p cnf " + std::to_string(n + 1) + " 1\n" + prefix +
                                                         " 0\ne 1 0\n1 " + std::to_string(n) + " 0\n");
    auto wrong = testsupport::plumex({"wide.qbm"}, dir.path());
    EXPECT_EQ(wrong.status, kInvalid) << wrong.out;
}
