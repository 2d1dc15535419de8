// The certificate record's tables.
#include "certificate/model.h"


void allocateModelTables(QBModel& model, int numVars, int numUniv, int maxExtVar, bool zeroFunctions) {
    std::size_t n = static_cast<std::size_t>(numVars);
    model.numVars = numVars;
    model.numUniv = numUniv;
    model.maxExtVar = maxExtVar;
    model.posBdd.assign(n, zeroFunctions ? bdd::zero() : bdd::Bdd());
    model.negBdd.assign(n, zeroFunctions ? bdd::zero() : bdd::Bdd());
    model.extToInt.assign(static_cast<std::size_t>(maxExtVar) + 1, 0);
    model.intToExt.assign(n, 0);
    model.univVar.assign(static_cast<std::size_t>(numUniv) + 1, 0);
    model.univIndex.assign(n, 0);
    model.numExist = 0;
    model.existVar.assign(n, 0);
    model.existPos.assign(n, 0);
    model.indepCube.assign(n, bdd::Bdd());
    model.allUnivCube = bdd::one();
    model.hypStack.assign(n + 1, bdd::Bdd());
    model.hypDepth = 0;
}
