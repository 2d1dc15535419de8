// The certificate: for every existential variable, the universal scenarios in which it
// is true and those in which it is false, as BDDs of one manager. A countermodel, the
// certificate of a false formula, is the same record with the quantifiers' roles swapped.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bdd/engine.h"
#include "certificate/function_circuit.h"
#include "outcomes/status.h"

// Which answer a certificate proves. True: every existential has two BDDs over the
// universals quantified before it. False (a countermodel): every universal has two BDDs
// over the existentials quantified before it.
enum class Polarity { True, False };

// Variable numbers: external numbers are the formula's; internal numbers 1..numVars-1
// are the solver log's (slot 0 of every table holds no variable). Universals carry a BDD
// index 1..numUniv, the engine index of their variable; BDD variable 0 stands for none.
//
// The tables are named for a true formula's certificate. In a countermodel the roles
// swap and everything that works on the tables serves it unchanged: univVar, univIndex
// and numUniv hold the functions' inputs (the existentials, as BDD variables), existVar,
// existPos and numExist the variables that have functions (the universals), and posBdd
// and negBdd give each universal the existential scenarios in which it is true or false.
struct QBModel {
    Polarity polarity = Polarity::True;
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
    // The functions as an and-inverter graph over the inputs, where the certificate came
    // from a proof or a circuit (null otherwise): a countermodel's check encodes it when
    // it is smaller than the BDDs.
    std::shared_ptr<const FunctionCircuit> circuit;
    // Why the functions have no BDDs (empty when they have): a countermodel too large for
    // BDDs is still checked through its circuit, and every step that needs BDDs says this.
    std::string noBdds;

    bool countermodel() const { return polarity == Polarity::False; }
    // The quantifier of the functions' inputs ("universal" in a true formula's
    // certificate) and that of the variables with functions ("existential").
    const char* inputQuantifier() const { return countermodel() ? "existential" : "universal"; }
    const char* functionQuantifier() const { return countermodel() ? "universal" : "existential"; }
    // The letter before a variable's number in drawings and dumps: "a" for a universal,
    // "e" for an existential.
    const char* inputLetter() const { return countermodel() ? "e" : "a"; }
    const char* functionLetter() const { return countermodel() ? "a" : "e"; }
    // An input variable of the functions (a universal of a true formula's certificate).
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

// Records which variables with functions are quantified before every input in the
// formula's prefix (free variables count as outermost existentials): their functions
// depend on no input, so indepCube holds the cube of all inputs for them. The partial
// certificate of the QDC file lists their values.
void markOutermostFunctions(QBModel& model, const std::vector<std::pair<char, std::vector<int>>>& blocks);

// A certificate built or read from a file, or the message saying why there is none.
using ModelResult = Result<std::unique_ptr<QBModel>>;
