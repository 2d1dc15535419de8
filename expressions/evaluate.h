// Evaluation of expressions over a certificate: the three-valued value of every
// expression as a pair of BDDs (certainly true, certainly false), the direct result
// codes of a scenario, and the texts that summarise them.
#pragma once

#include <cstddef>

#include "certificate/model.h"
#include "expressions/expression.h"
#include "outcomes/reporter.h"

// Direct result codes.
enum DirectResult { DIR_F = 0, DIR_T = 1, DIR_WF = 2, DIR_WT = 3, DIR_DC = 4, DIR_UNKNOWN = 5, DIR_ERR = 6 };

// 1 when every literal names an existential of the certificate that has both its
// functions and, for a direct list, every scenario literal names a universal; else 0.
int expCheckArgs(const QBModel& model, const ExpList& list);

// The value of a tree; the missing pair when a literal is no existential, an operand is
// absent or the tree is nested deeper than kExpMaxDepth.
ExpValue expEvaluateNode(const QBModel& model, const ExpNode* node);

// Evaluates every expression in order, fills values (and directResults for a direct
// list; a direct value is released once classified) and reports each expression, with
// its results, as a step of its own. 1 on success, 0 when any expression failed or gave
// "ERR".
int expEvaluateList(const QBModel& model, ExpList& list, steps::Reporter& reporter);

// The code 0..6 of a value in a scenario of universal literals (formula numbers).
int expDirectResult(const QBModel& model, const bdd::Bdd& trueBdd, const bdd::Bdd& falseBdd,
                    const IntVector* scenario);

const char* directResultName(int code);

// "always", "never", "%g%%" or "[%g%%:%g%%]" (true share, false share).
int expSummary(char* buffer, std::size_t size, const ExpValue& value);

// The results text of expression index, or of the whole list for index -1.
int expFormatResults(char* buffer, std::size_t size, const ExpList* list, int index);
