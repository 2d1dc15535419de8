// The pipeline's expression stages: the evaluation step, the expression dumps inside
// "Dump to file:", and the result code of a single direct expression. They take what
// the expressions need from the settings and report on the step display.
#include "pipeline/expression_stage.h"

#include "expressions/dumps.h"
#include "expressions/evaluate.h"
#include "expressions/expression_file.h"
#include "outcomes/steps.h"
#include "pipeline/settings.h"

namespace {

// Built when the dumps run, from the settings as they are then; the DDDMP mode is the
// certificate's own.
ExpDumpOptions dumpOptions(const QBModel& model) {
    const Settings& s = settings();
    ExpDumpOptions options;
    options.bdd = s.dumpExpBdd != 0;
    options.cnf = s.dumpExpCnf != 0;
    options.dot = s.dumpExpDot != 0;
    options.direct = s.dumpDirExp != 0;
    options.dddmpMode = model.dddmpMode;
    options.singleBddFile = s.singleExpBddFile != 0;
    options.singleDotFile = s.singleExpDotFile != 0;
    return options;
}

}  // namespace

int expEvaluationStage(QBModel& model) {
    steps::Reporter& display = steps::display();
    ExpList* list = settings().expressions;
    // Queries are answered on the BDDs: functions too large for them cannot be queried.
    auto withoutBdds = [&] {
        if (model.noBdds.empty()) return false;
        display.close("not evaluated: " + model.noBdds);
        return true;
    };
    if (list) {
        display.open(std::string("Evaluation (") + (list->direct() ? "direct" : "inverse") + ")");
        if (withoutBdds()) return 0;
        if (!expCheckArgs(model, *list)) {
            display.close("Bad argument type");
            return 0;
        }
        if (!expEvaluateList(model, *list, display)) {
            display.close("Problems in evaluation");
            return 0;
        }
        if (!anyExpDump()) setDumpExpBdd(1);
        display.close();
        return 1;
    }
    if (!settings().expressionFile.empty()) {
        display.open("Evaluation (" + settings().expressionFile + ")");
        if (withoutBdds()) return 0;
        ExpFileOptions options;
        options.dumps = dumpOptions(model);
        options.showResults = settings().verbosity <= 3;
        Status evaluated = expEvaluateFile(model, settings().expressionFile, options, display);
        if (evaluated)
            display.close();
        else
            display.close(evaluated.message());
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
    return expDumpList(model, *list, qbmPath, dumpOptions(model), steps::display());
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
