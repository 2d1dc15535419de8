// The expression result files: DDDMP BDD dumps, maxterm CNF files and DOT drawings of
// inverse results, and the one-line text of direct results. Each file is one step,
// written whole under its final name or not at all.
#pragma once

#include <string>
#include <vector>

#include "certificate/model.h"
#include "expressions/expression.h"

// Each returns true when every file it was to write is complete under its name.
bool expDumpBdd(const QBModel& model, const ExpList& list, const std::string& base);
bool expDumpCnf(const QBModel& model, const ExpList& list, const std::string& base);
bool expDumpDot(const QBModel& model, const ExpList& list, const std::string& base);
bool expDumpDirect(const QBModel& model, const ExpList& list, const std::string& base);

// The roots of the one-file dumps, in list order: T named E for an expression without
// undetermined scenarios, else T named E and F named "!" E. Returns the number of roots.
int expCollectRoots(const QBModel& model, const ExpList& list, std::vector<bdd::Bdd>& roots,
                    std::vector<std::string>& names);

// Formula numbers of the universals by BDD variable index (0 for index 0 and for any
// variable that stands for no universal), sized for every variable of the manager.
std::vector<int> expUniversalIds(const QBModel& model);
