// plumex-logwriter: decides a QDIMACS formula and writes the solver log that Tobrin
// would write for it; "gen" writes random formulas.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "tools/plumex-logwriter/emit.h"
#include "tools/plumex-logwriter/formula.h"
#include "tools/plumex-logwriter/solver.h"

namespace {

constexpr int kExitTrue = 10, kExitFalse = 20, kExitUsage = 1, kExitInput = 2, kExitOutput = 3, kExitTooLarge = 4;

const char* kHelp =
    "Usage: plumex-logwriter [OPTIONS] FORMULA\n"
    "       plumex-logwriter gen [GEN-OPTIONS]\n"
    "\n"
    "Plays the QBF solver Tobrin: decides the QDIMACS formula FORMULA (plain or gzip;\n"
    "\".qdimacs\", \".qcnf\", each optionally \".gz\") and writes the solver log NAME.Tobrin.log,\n"
    "NAME being FORMULA without that ending. The log's header records FORMULA as given\n"
    "(or the --record name). For a true formula the log replays into the solver's\n"
    "certificate; for a false one its trailer says \"outcome: FALSE\".\n"
    "\n"
    "The solver expands the universal variables into one propositional problem (a copy of\n"
    "each existential per assignment of the universals quantified before it) and solves it\n"
    "with CaDiCaL; variables that no block quantifies are outermost existentials.\n"
    "\n"
    "Options:\n"
    "  -o PATH              write the log to PATH (\".Tobrin.log\" is appended unless PATH\n"
    "                       ends with it)\n"
    "  --mode text|binary   storage mode of payload integers and BDD dumps (default text)\n"
    "  --style STYLE        search   (default) G_CUBES, universal branches B_IN ... B_OUT,\n"
    "                                existential branches, failed first branches that the\n"
    "                                reader skips, G_ASSIGN\n"
    "                       symbolic S_RES and G_RES eliminations with S_ASSIGN completions,\n"
    "                                S_EQUIV, S_ASSIGN, SAT_ENCODING, S_CUBES at the end\n"
    "                       mix      everything: the search tree with S_ASSIGN and\n"
    "                                SAT_ENCODING entries inside branches, resolutions,\n"
    "                                equivalences, G_CUBES and S_CUBES\n"
    "  --noise PERCENT      after each entry, with this chance, a stretch of entries that\n"
    "                       would spoil the certificate, undone by a ROLLBACK (default 0)\n"
    "  --seed N             seed of every random choice of the layout (default 1)\n"
    "  --size BYTES         pad the log to about BYTES (suffix K, M or G: powers of 1024);\n"
    "                       the certificate stays the same\n"
    "  --padding KIND       rollback (default): big rolled-back resolution entries;\n"
    "                       reassign: repeated S_ASSIGN of the certificate's functions;\n"
    "                       tiny: one-literal entries and universal branches, half of\n"
    "                       them rolled back\n"
    "  --fault NAME         plant a fault for negative tests (default none):\n"
    "                         bad-version        banner version 1.2 (\"Unsupported log version\")\n"
    "                         bad-format         dump format \"ascii\" (\"Header data parsing problems\")\n"
    "                         no-trailer         120 bytes after the trailer (\"Last record sync failed\")\n"
    "                         outcome-false      \"outcome: FALSE\" for a true formula\n"
    "                         back-offset        a back offset one byte too long (\"Sync lost\")\n"
    "                         unknown-kind       an entry named G_MAGIC (\"Unknown log entry type\")\n"
    "                         end-in-middle      an entry named END before the trailer (same status)\n"
    "                         negative-rollback  \"ROLLBACK\" to -3 (\"Sync lost\")\n"
    "                         truncated-int      a binary integer cut after its escape byte\n"
    "                                            (forces binary mode; \"Problem in DddmpReadInt\")\n"
    "                         unbalanced-branch  a universal B_IN without its B_OUT\n"
    "                                            (\"Bad univ. hypothesis depth\")\n"
    "                         res-contradiction  a G_RES on (x) and (-x) (\"UNSAT contradiction\")\n"
    "                         invalid            a consistent certificate that misses a clause\n"
    "                         inconsistent       an assignment that makes a variable both true\n"
    "                                            and false\n"
    "                       The fault entries are the last entries before the trailer, so\n"
    "                       they are the first that the reader meets.\n"
    "  --record NAME        formula name written in the header (default: FORMULA as given)\n"
    "  --budget N           refuse to expand beyond N literals (default 60000000)\n"
    "  -q, --quiet          print nothing\n"
    "  -h, --help           this text\n"
    "\n"
    "Standard output: the verdict (TRUE or FALSE) and the log's path.\n"
    "Exit status: 10 true, 20 false; 1 bad command line, 2 formula unreadable, 3 log not\n"
    "written (or the fault cannot be planted in this formula), 4 formula too large to expand.\n"
    "\n"
    "gen writes a random QDIMACS formula to standard output (or -o FILE), exit status 0:\n"
    "  --vars N (12)  --clauses M (30)  --blocks B (3)  --first e|a (e)\n"
    "  --width K (3; clauses have K-1 or K literals)  --seed S (1)\n";

bool number(const char* s, long long& v) {
    char* end = nullptr;
    v = std::strtoll(s, &end, 10);
    return *s && *end == 0;
}

bool sizeArg(const char* s, long long& v) {
    char* end = nullptr;
    v = std::strtoll(s, &end, 10);
    if (end == s || v < 0) return false;
    if (*end == 'K' || *end == 'k') v <<= 10, ++end;
    else if (*end == 'M' || *end == 'm') v <<= 20, ++end;
    else if (*end == 'G' || *end == 'g') v <<= 30, ++end;
    return *end == 0;
}

struct FaultName {
    const char* name;
    lw::Fault fault;
};
const FaultName kFaults[] = {
    {"none", lw::Fault::None},
    {"bad-version", lw::Fault::BadVersion},
    {"bad-format", lw::Fault::BadFormat},
    {"no-trailer", lw::Fault::NoTrailer},
    {"outcome-false", lw::Fault::OutcomeFalse},
    {"back-offset", lw::Fault::BackOffset},
    {"unknown-kind", lw::Fault::UnknownKind},
    {"end-in-middle", lw::Fault::EndInMiddle},
    {"negative-rollback", lw::Fault::NegativeRollback},
    {"truncated-int", lw::Fault::TruncatedInt},
    {"unbalanced-branch", lw::Fault::UnbalancedBranch},
    {"res-contradiction", lw::Fault::ResContradiction},
    {"invalid", lw::Fault::Invalid},
    {"inconsistent", lw::Fault::Inconsistent},
};

int usage(const std::string& msg) {
    std::fprintf(stderr, "plumex-logwriter: %s (see --help)\n", msg.c_str());
    return kExitUsage;
}

int gen(int argc, char** argv) {
    lw::GenOptions g;
    std::string outPath;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (i + 1 >= argc) return usage("missing value after " + a);
        const char* v = argv[++i];
        long long n = 0;
        if (a == "-o") {
            outPath = v;
            continue;
        }
        if (a == "--first") {
            if (std::strcmp(v, "e") && std::strcmp(v, "a")) return usage("--first takes e or a");
            g.first = v[0];
            continue;
        }
        if (!number(v, n) || n < 0 || n > 10000000) return usage("bad number after " + a);
        if (a == "--vars") g.vars = static_cast<int>(n);
        else if (a == "--clauses") g.clauses = static_cast<int>(n);
        else if (a == "--blocks") g.blocks = static_cast<int>(n);
        else if (a == "--width") g.width = static_cast<int>(n);
        else if (a == "--seed") g.seed = static_cast<std::uint64_t>(n);
        else return usage("unknown option " + a);
    }
    std::string text = lw::generateFormula(g);
    std::FILE* fp = outPath.empty() ? stdout : std::fopen(outPath.c_str(), "w");
    if (!fp) {
        std::fprintf(stderr, "plumex-logwriter: cannot write \"%s\"\n", outPath.c_str());
        return kExitOutput;
    }
    std::fwrite(text.data(), 1, text.size(), fp);
    if (fp != stdout) std::fclose(fp);
    return 0;
}

std::string logName(const std::string& formula) {
    std::string base = formula;
    for (const char* end : {".qdimacs.gz", ".qcnf.gz", ".qdimacs", ".qcnf"}) {
        std::size_t n = std::strlen(end);
        if (base.size() > n && base.compare(base.size() - n, n, end) == 0) {
            base.resize(base.size() - n);
            break;
        }
    }
    return base + ".Tobrin.log";
}

bool endsWith(const std::string& s, const std::string& e) {
    return s.size() >= e.size() && s.compare(s.size() - e.size(), e.size(), e) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "gen") == 0) return gen(argc, argv);
    lw::EmitOptions o;
    std::string formula, outPath;
    bool quiet = false, recordSet = false;
    long long budget = 60000000;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (a == "-q" || a == "--quiet") {
            quiet = true;
            continue;
        }
        if (a.size() > 1 && a[0] == '-') {
            if (i + 1 >= argc) return usage("missing value after " + a);
            std::string v = argv[++i];
            long long n = 0;
            if (a == "-o") {
                outPath = v;
            } else if (a == "--mode") {
                if (v != "text" && v != "binary") return usage("--mode takes text or binary");
                o.binary = v == "binary";
            } else if (a == "--style") {
                if (v == "search") o.style = lw::Style::Search;
                else if (v == "symbolic") o.style = lw::Style::Symbolic;
                else if (v == "mix") o.style = lw::Style::Mix;
                else return usage("--style takes search, symbolic or mix");
            } else if (a == "--noise") {
                if (!number(v.c_str(), n) || n < 0 || n > 100) return usage("--noise takes 0..100");
                o.noise = static_cast<int>(n);
            } else if (a == "--seed") {
                if (!number(v.c_str(), n)) return usage("bad --seed");
                o.seed = static_cast<std::uint64_t>(n);
            } else if (a == "--size") {
                if (!sizeArg(v.c_str(), o.size)) return usage("bad --size");
            } else if (a == "--padding") {
                if (v == "rollback") o.padding = lw::Padding::Rollback;
                else if (v == "reassign") o.padding = lw::Padding::Reassign;
                else if (v == "tiny") o.padding = lw::Padding::Tiny;
                else return usage("--padding takes rollback, reassign or tiny");
            } else if (a == "--fault") {
                bool found = false;
                for (const auto& f : kFaults)
                    if (v == f.name) o.fault = f.fault, found = true;
                if (!found) return usage("unknown fault " + v);
            } else if (a == "--record") {
                o.formulaName = v;
                recordSet = true;
            } else if (a == "--budget") {
                if (!number(v.c_str(), budget) || budget < 1) return usage("bad --budget");
            } else {
                return usage("unknown option " + a);
            }
            continue;
        }
        if (!formula.empty()) return usage("more than one formula");
        formula = a;
    }
    if (formula.empty()) return usage("no formula given");
    if (!recordSet) o.formulaName = formula;
    std::string path = outPath.empty() ? logName(formula) : (endsWith(outPath, ".Tobrin.log") ? outPath : outPath + ".Tobrin.log");

    lw::Formula f;
    std::string error;
    if (!lw::readFormula(formula, f, error)) {
        std::fprintf(stderr, "plumex-logwriter: %s: %s\n", formula.c_str(), error.c_str());
        return kExitInput;
    }
    lw::Model m = lw::buildModel(f);
    std::clock_t start = std::clock();
    lw::Solution sol = lw::solve(m, budget);
    o.seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    if (sol.verdict == lw::Verdict::TooLarge) {
        std::fprintf(stderr, "plumex-logwriter: %s: too large to expand (%d universals)\n", formula.c_str(),
                     m.numUniv());
        return kExitTooLarge;
    }
    if (!lw::writeLog(path, m, sol, o, error)) {
        std::fprintf(stderr, "plumex-logwriter: %s\n", error.c_str());
        return kExitOutput;
    }
    bool truth = sol.verdict == lw::Verdict::True;
    if (!quiet) std::printf("%s %s\n", truth ? "TRUE" : "FALSE", path.c_str());
    return truth ? kExitTrue : kExitFalse;
}
