#include "expressions/stage.h"

// Placeholder until the expression language lands.
int expEvaluationStage(QBModel&) { return 0; }
void expDumpStage(QBModel&, const std::string&, int) {}
bool expSingleDirectResult(int*) { return false; }
