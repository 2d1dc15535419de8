#include "runcontrol/usage.h"

#include <cstdio>
#include <string>

namespace usage {

namespace {

constexpr const char* kVersion = "0.3";
constexpr const char* kCompiled = "Nov 10 2006";

// Each line is followed by a line end; an embedded "\n" leaves an empty line after it.
constexpr const char* kUsage[] = {
    "Usage:\n  \"Plumex [OPT] (LOG|QBM|DIR) [TIMEOUT]\", where you have to provide:\n",
    " - either a LOG file produced by Tobrin (\".Tobrin.log\" extension), or",
    " - a QBM certificate previously constructed by Plumex (\".qbm\" extension), or ",
    " - a directory DIR meant to be recursively processed in batch mode.\n",
    " A TIMEOUT (in seconds) can be optionally provided as a last argument.",
    " For the actual input/output behaviour of Plumex please refer to the manual.\n",
    " OPT is a (non-mandatory) space-separated list of options among the following:\n",
    "  -hbdd H1[:H2], to use CUDD's heuristics H1 for reordering during reconstruction",
    "                and heuristic H2 for the final reorganization before dumping.\n",
    "  -var A1-B1[,A2-B2,...], to limit the scope of the certificate to certain",
    "                existential variables only, namely those in the intervals [Ai,Bi].",
    "                The *partial* certificate you obtain:",
    "                a) is possibly much smaller than the total certificate",
    "                b) is no longer able to prove satisfiability in general",
    "                c) can still be usefully queried.",
    "                Example:",
    "                  -var 10-20,50\n",
    "  -eval \"EXP\", to specify an inverse boolean expression over existential variables to be",
    "                evaluated; admitted operators are not(.), or(.,.), and(.,.), xor(.,.),",
    "                implies(.,.), dc(.). Space can be freely distributed, and unary",
    "                operators (dc & not) do not mandatory require parentheses.",
    "                The only non-standard operator is dc(.), which computes the universal",
    "                scenarios in which its argument is a DONT-CARE condition.",
    "                Existential literals are referred to with their (possibly negative",
    "                for negated literals) integer code.",
    "                Expression can be direct if they specify universal scenarios:",
    "                  -eval \"or(-20, and (2,10))<1,-3,5>\"",
    "                or indirect if they don't:",
    "                  -eval \"not or(-20, and (dc 2, dc 10))\"",
    "                See the manual for details.\n",
    "  -dump INF1[ INF2 ...], to cause Plumex to dump some information to file.",
    "                Each element of the [INFi] space-separated list is one of:",
    "                \"qbm=bdd\" to request to dump the certificate as a forest",
    "                          of BDDs in the Plumex (DDDMP-2.0 based) format.",
    "                \"qbm=dot\" to request to dump a dot representation of the certificate",
    "                \"qbm\"     to request to dump both certificate representations",
    "                \"exp=bdd\" to request to dump a (DDDMP-2.0 based) BDD representation",
    "                          of the evaluation of the inverse expression provided via \"-eval\".",
    "                \"exp=bdds\" like \"exp=bdd\" but multiple files for multiple expressions",
    "                \"exp=dot\" as above, but a dot representation is dumped.",
    "                \"exp=dots\" like \"exp=dot\" but multiple files for multiple expressions.",
    "                \"exp=cnf\" as above, but a DIMACS cnf representation is dumped.",
    "                \"exp\"     to dump the result of inverse expressions in all the formats.",
    "                \"direxp\"  to dump the result of direct expressions in textual format.",
    "                \"qbc\"     to request to dump a QDIMACS 1.1 partial certificate.",
    "                \"all\"     to dump all the previous information.",
    "                Example:",
    "                  -dump qbm exp=cnf\n",
    "  -autogiveup,  to automatically determine when to skip instances during batch processing.",
    "  -giveup,      to manually determine when to skip instances during batch processing.",
    "  -check,       to force validity check when it is not performed by default.",
    "  -qbf FILE,    to select the QBF the certificate is to verified against.",
    "  -remove (log|qbm) to delete the input log or certificate after it has been processed.",
    "  -report,      to activate report production during batch processing.",
    "  -j N,         to run up to N instances at once during batch processing",
    "                (0: as many as there are processors the run may use).",
    "  -shard K/N,   to take only the instances numbered K, K+N, K+2N, ... (from 0)",
    "                of a batch run, 0 <= K < N, so that N runs share the work.",
    "  -mem MB,      to limit each instance to MB megabytes of memory (MEMOUT beyond).",
    "  -record FILE, to append one line per instance and pass of a batch run to FILE.",
    "  -resume FILE, to take the outcomes FILE records instead of running those again.",
    "  -progress (auto|off|tty|SECONDS), to show the progress of a batch run: on a",
    "                terminal (auto), never, on the controlling terminal, or as a line",
    "                in the output every SECONDS seconds.",
    "  -summary,     to print the outcomes and times at the end of a batch run.",
    "  -v LEV,       to set verbosity level to LEV (an integer between 0 and 5).\n",
    "  -version,     to print Plumex' version.",
    "  -copyright,   to print Plumex' copyright and license notes.\n",
};

constexpr const char* kAuthor = "Copyright (C) 2006-2026 The Plumex authors. All rights reserved.";

// The licence, framed by a banner of stars.
constexpr const char* kLicence[] = {
    "Plumex, a builder, checker and query tool for certificates of true QBFs.",
    "",
    "Copyright (C) 2006-2026 The Plumex authors.",
    "",
    "Plumex is free software, distributed under the terms of the MIT License:",
    "",
    "Permission is hereby granted, free of charge, to any person obtaining a copy",
    "of this software and associated documentation files (the \"Software\"), to deal",
    "in the Software without restriction, including without limitation the rights",
    "to use, copy, modify, merge, publish, distribute, sublicense, and/or sell",
    "copies of the Software, and to permit persons to whom the Software is",
    "furnished to do so, subject to the following conditions:",
    "",
    "The above copyright notice and this permission notice shall be included in",
    "all copies or substantial portions of the Software.",
    "",
    "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR",
    "IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY,",
    "FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL THE",
    "AUTHORS OR COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER",
    "LIABILITY, WHETHER IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING FROM,",
    "OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER DEALINGS IN",
    "THE SOFTWARE.",
    "",
    "Plumex works with binary decision diagrams through the BuDDy package and reads",
    "compressed formulas through zlib; both come under their own licences, which",
    "are not changed by this one.",
};

constexpr int kFrameWidth = 80;

std::string dashes() { return std::string(68, '-'); }

}  // namespace

const char* banner() {
    static std::string text =
        std::string("Plumex v") + kVersion + "-beta, (revision 393, compiled " + kCompiled + ")";
    return text.c_str();
}

void printUsage() {
    for (const char* line : kUsage) std::puts(line);
    std::fflush(stdout);
}

void printVersion() {
    std::printf("%s\n", dashes().c_str());
    std::printf("This is %s\n", banner());
    std::printf("%s\n", kAuthor);
    std::printf("%s\n", "Use the \"-copyright\" option to print copyright and license notes.");
    std::printf("%s\n", dashes().c_str());
    std::fflush(stdout);
}

void printCopyright() {
    std::string text;
    std::string stars(kFrameWidth, '*');
    text += stars + "\n";
    for (const char* line : kLicence) {
        std::string body(line);
        body.resize(kFrameWidth - 4, ' ');
        text += "* " + body + " *\n";
    }
    text += stars + "\n";
    std::printf("%s", text.c_str());
    std::fflush(stdout);
}

}  // namespace usage
