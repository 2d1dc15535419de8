// The pipeline's expression stages: the evaluation step, the expression dumps inside
// "Dump to file:", and the result code of a single direct expression.
#include "pipeline/expression_stage.h"

#include "expressions/dumps.h"
#include "expressions/evaluate.h"
#include "expressions/expression_file.h"
#include "pipeline/steps.h"
#include "runcontrol/settings.h"

int expEvaluationStage(QBModel& model) {
    ExpList* list = settings().expressions;
    if (list) {
        steps::open(std::string("Evaluation (") + (list->direct() ? "direct" : "inverse") + ")");
        if (!expCheckArgs(model, *list)) {
            steps::close("Bad argument type");
            return 0;
        }
        if (!expEvaluateList(model, *list)) {
            steps::close("Problems in evaluation");
            return 0;
        }
        if (!anyExpDump()) setDumpExpBdd(1);
        steps::close();
        return 1;
    }
    if (!settings().expressionFile.empty()) {
        steps::open("Evaluation (" + settings().expressionFile + ")");
        std::string error = expEvaluateFile(model, settings().expressionFile);
        if (error.empty())
            steps::close();
        else
            steps::close(error);
    }
    return 0;
}

bool expDumpStage(QBModel& model, const std::string& qbmPath, int evaluated) {
    if (!settings().expressionFile.empty()) {
        steps::open("Expressions");
        steps::close("Peformed on-the-fly during evaluation");
        return true;
    }
    const ExpList* list = settings().expressions;
    if (!list || !evaluated) return true;
    bool ok = true;
    if (!list->direct()) {
        if (settings().dumpExpBdd) ok &= expDumpBdd(model, *list, qbmPath);
        if (settings().dumpExpCnf) ok &= expDumpCnf(model, *list, qbmPath);
        if (settings().dumpExpDot) ok &= expDumpDot(model, *list, qbmPath);
    } else if (settings().dumpDirExp) {
        ok &= expDumpDirect(model, *list, qbmPath);
    }
    return ok;
}

bool expSingleDirectResult(int* code) {
    const ExpList* list = settings().expressions;
    if (!list || !list->direct() || list->count != 1) return false;
    // A single direct expression that failed the argument check was never evaluated and
    // has no code of its own; it counts as an error (-1), like the other inputs the
    // instance cannot answer for.
    *code = list->directResults.empty() ? -1 : list->directResults[0];
    return true;
}
