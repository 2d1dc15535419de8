// The expression result files: DDDMP BDD dumps, maxterm CNF files and DOT drawings of
// inverse results, and the one-line text of direct results. Each file is one step,
// written whole under its final name or not at all.
#pragma once

#include <string>
#include <vector>

#include "certificate/model.h"
#include "expressions/expression.h"
#include "outcomes/reporter.h"

// Which dumps run, and in what form.
struct ExpDumpOptions {
    bool bdd = false;           // DDDMP dumps of an inverse list
    bool cnf = false;           // CNF files of an inverse list
    bool dot = false;           // DOT drawings of an inverse list
    bool direct = false;        // the result line of a direct list
    char dddmpMode = 'B';       // 'A' text, 'B' binary
    bool singleBddFile = true;  // all roots in one DDDMP file, else one file per expression
    bool singleDotFile = true;  // all roots in one drawing, else one drawing per expression
};

// Each file is a step on the reporter. Each returns true when every file it was to
// write is complete under its name.
bool expDumpBdd(const QBModel& model, const ExpList& list, const std::string& base, const ExpDumpOptions& options,
                steps::Reporter& reporter);
bool expDumpCnf(const QBModel& model, const ExpList& list, const std::string& base, steps::Reporter& reporter);
bool expDumpDot(const QBModel& model, const ExpList& list, const std::string& base, const ExpDumpOptions& options,
                steps::Reporter& reporter);
bool expDumpDirect(const QBModel& model, const ExpList& list, const std::string& base, steps::Reporter& reporter);

// The dumps the options choose for the list: BDD, CNF and DOT (in that order) for an
// inverse list, the result line for a direct one. True when every file is in place.
bool expDumpList(const QBModel& model, const ExpList& list, const std::string& base, const ExpDumpOptions& options,
                 steps::Reporter& reporter);

// The roots of the one-file dumps, in list order: T named E for an expression without
// undetermined scenarios, else T named E and F named "!" E. Returns the number of roots.
int expCollectRoots(const QBModel& model, const ExpList& list, std::vector<bdd::Bdd>& roots,
                    std::vector<std::string>& names);

// Formula numbers of the universals by BDD variable index (0 for index 0 and for any
// variable that stands for no universal), sized for every variable of the manager.
std::vector<int> expUniversalIds(const QBModel& model);
