// The certificate: for every existential variable, the universal scenarios in which it
// is true and those in which it is false, as BDDs of one manager.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bdd/engine.h"
#include "outcomes/status.h"

// Variable numbers: external numbers are the formula's; internal numbers 1..numVars-1
// are the solver log's (slot 0 of every table holds no variable). Universals carry a BDD
// index 1..numUniv, the engine index of their variable; BDD variable 0 stands for none.
struct QBModel {
    std::string formula;
    // The DDDMP mode of the file the certificate came from ('A' text, 'B' binary); its
    // files are written in the same mode.
    char dddmpMode = 'B';
    std::string solver = "Tobrin";  // what the certificate came from, for the QBM header
    std::unique_ptr<bdd::Manager> manager;
    std::vector<bdd::Bdd> posBdd;  // numVars entries; null = no function
    std::vector<bdd::Bdd> negBdd;
    int complete = 1;
    long nodeCount = 0;
    std::vector<int> extToInt;  // maxExtVar + 1 entries
    std::vector<int> intToExt;  // numVars entries
    int numVars = 0;
    int maxExtVar = 0;
    std::vector<int> inScope;  // empty until stripping has run
    int numUniv = 0;
    std::vector<int> univVar;    // BDD index -> internal number (numUniv + 1 entries)
    std::vector<int> univIndex;  // internal number -> BDD index, 0 for an existential
    int numExist = 0;
    std::vector<int> existVar;  // position 1..numExist -> internal number
    std::vector<int> existPos;  // internal number -> position, 0 for a universal
    std::vector<bdd::Bdd> indepCube;  // null until a CUBES entry sets it
    bdd::Bdd allUnivCube;
    std::vector<bdd::Bdd> hypStack;  // numVars + 1 slots
    int hypDepth = 0;
    double reconstructionTime = 0.0;
    double consistencyTime = 0.0;
    double validityTime = 0.0;

    bool isUniversal(int v) const { return univIndex[v] != 0; }
    // Kept by stripping (every variable is, before stripping has run).
    bool keeps(int v) const {
        return inScope.empty() || (v >= 0 && v < static_cast<int>(inScope.size()) && inScope[v] != 0);
    }
    // The external number e names a variable of this certificate.
    bool knowsExternal(long e) const {
        return e > 0 && e < static_cast<long>(extToInt.size()) && extToInt[e] > 0;
    }
};

// Sizes every table of the record for numVars slots, numUniv universals and external
// numbers up to maxExtVar: posBdd/negBdd hold the logical zero (zeroFunctions) or null,
// indepCube is null, hypStack has numVars + 1 empty slots, the index maps are 0.
void allocateModelTables(QBModel& model, int numVars, int numUniv, int maxExtVar, bool zeroFunctions);

// A certificate built or read from a file, or the message saying why there is none.
using ModelResult = Result<std::unique_ptr<QBModel>>;
