// InverseVarMapping: the map from the variables of a SAT_ENCODING log entry back to
// (existential, universal scenario) pairs. The log reader builds it from the entry;
// reconstruction looks its variables up.
#pragma once

#include <vector>

struct CubeMapping {
    std::vector<int> univCube;  // relevantUnivSize values: 0 false, 1 true, 2 free
    int firstIndex = 0;
};

struct InverseVarRow {
    int exVar = 0;
    int startingIndex = 0;
    int numOfCubes = 0;
    std::vector<CubeMapping> cubeMapping;
    std::vector<int> relevantUniv;
    int relevantUnivSize = 0;
};

struct InverseVarMapping {
    int nonemptyExNumVar = 0;
    int cnfVarNum = 0;
    std::vector<InverseVarRow> rows;
};

// The existential and universal values that CNF variable c of the encoding stands for.
// values receives relevantUnivSize entries (0/1). Returns the row's exVar, or 0 when c
// lies below the first row or the row's first cube (a malformed encoding).
struct InverseLookup {
    int exVar = 0;
    int count = 0;
    const std::vector<int>* universals = nullptr;
};
InverseLookup inverseLookup(const InverseVarMapping& map, int c, std::vector<int>& values);
