#include "inputs/inverse_mapping.h"

#include "outcomes/outcome.h"

namespace {

// "Wrong universal cube found" ends the process at this line number, which is part of
// the program's output.
constexpr int kWrongCubeLine = 159;

// The last index whose key is at most c, by the halving walk over increasing keys;
// -1 when c lies below the first key.
template <typename Key>
int lastAtMost(int size, int c, Key key) {
    int lo = 0, hi = size - 1;
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        if (c < key(mid))
            hi = mid - 1;
        else if (mid == size - 1 || c < key(mid + 1))
            return mid;
        else
            lo = mid + 1;
    }
    return -1;
}

}  // namespace

InverseLookup inverseLookup(const InverseVarMapping& map, int c, std::vector<int>& values) {
    InverseLookup result;
    int rows = static_cast<int>(map.rows.size());
    if (map.nonemptyExNumVar < rows) rows = map.nonemptyExNumVar < 0 ? 0 : map.nonemptyExNumVar;
    int r = lastAtMost(rows, c, [&](int i) { return map.rows[i].startingIndex; });
    if (r < 0) return result;
    const InverseVarRow& row = map.rows[r];
    int cubes = static_cast<int>(row.cubeMapping.size());
    if (row.numOfCubes < cubes) cubes = row.numOfCubes < 0 ? 0 : row.numOfCubes;
    int k = lastAtMost(cubes, c, [&](int i) { return row.cubeMapping[i].firstIndex; });
    if (k < 0) return result;
    const CubeMapping& cube = row.cubeMapping[k];
    int size = static_cast<int>(row.relevantUniv.size());
    if (row.relevantUnivSize < size) size = row.relevantUnivSize < 0 ? 0 : row.relevantUnivSize;
    if (static_cast<int>(cube.univCube.size()) < size) size = static_cast<int>(cube.univCube.size());
    values.assign(static_cast<std::size_t>(size), 0);
    // The free positions of the cube take the bits of the offset, the least significant
    // bit going to the first free position.
    unsigned offset = static_cast<unsigned>(c) - static_cast<unsigned>(cube.firstIndex);
    for (int i = 0; i < size; ++i) {
        int v = cube.univCube[i];
        if (v == 2) {
            values[i] = static_cast<int>(offset % 2);
            offset /= 2;
        } else if (v == 0 || v == 1) {
            values[i] = v;
        } else {
            outcome::abnormalExit("Wrong universal cube found", kWrongCubeLine, "InverseVarMapping");
        }
    }
    result.exVar = row.exVar;
    result.count = size;
    result.universals = &row.relevantUniv;
    return result;
}
