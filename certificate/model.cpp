// The certificate record's tables.
#include "certificate/model.h"

#include <utility>


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

void markOutermostFunctions(QBModel& model, const std::vector<std::pair<char, std::vector<int>>>& blocks) {
    auto internal = [&](int e) { return model.knowsExternal(e) ? model.extToInt[e] : 0; };
    std::vector<char> listed(static_cast<std::size_t>(model.numVars), 0);
    for (const auto& [kind, vars] : blocks)
        for (int e : vars)
            if (int v = internal(e); v > 0 && v < model.numVars) listed[v] = 1;
    for (int v = 1; v < model.numVars; ++v)
        if (model.isUniversal(v) && !listed[v]) return;  // a free input comes first
    for (const auto& [kind, vars] : blocks) {
        bool inputs = false;
        for (int e : vars) {
            int v = internal(e);
            inputs = inputs || (v > 0 && v < model.numVars && model.isUniversal(v));
        }
        if (inputs) return;
        for (int e : vars)
            if (int v = internal(e); v > 0 && v < model.numVars) model.indepCube[v] = model.allUnivCube;
    }
}
