// DDDMP-2.0 BDD dumps (text 'A' and binary 'B'), written and read byte-compatible with
// the reference library, plus its binary integer code. Dumps go to and come from an
// already open stream, so that they can sit inside other files.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "bdd/engine.h"
#include "outcomes/status.h"

namespace dddmp {

// Variable information of the header (".varinfo").
enum VarInfo { VarIds = 0, VarPermIds = 1, VarAuxIds = 2, VarNames = 3, VarDefault = 4 };

struct StoreOptions {
    char mode = 'A';                     // 'A' text, anything else binary
    int varInfo = VarIds;
    const char* ddName = nullptr;        // ".dd", when given
    std::vector<std::string> rootNames;  // ".rootnames", when not empty (one per root)
    std::vector<std::string> varNames;   // indexed by variable index, when not empty
    std::vector<int> auxIds;             // indexed by variable index, when not empty
};

// Writes one dump of the roots (no null root) to the stream. False when writing failed.
bool storeArray(std::FILE* fp, const std::vector<bdd::Bdd>& roots, const StoreOptions& options);

// The roots in file order, each holding its own reference, or what was wrong.
using LoadResult = Result<std::vector<bdd::Bdd>>;

// Reads one dump from the stream's position (leading white space and '#' lines are
// skipped), matching variables by ids and roots by list, and leaves the stream just
// after the ".end" line. mode 'A' or 'B' must match the file; 'D' accepts either.
LoadResult loadArray(std::FILE* fp, char mode);
// The same for a stream that is no plain file (a memory or cookie stream): streamSize is
// the size of everything it reads, from its offset 0, and bounds the counts as a file's
// size does.
LoadResult loadArray(std::FILE* fp, char mode, long streamSize);
// Where the file's variables go. Manager: the manager's order stays as it is, as in the
// reference library (nodes out of that order are made through ite, which may cost
// exponential time for a dump written under a very different order). File: the file's
// support variables first take the file's relative order, in the levels they hold (the
// other variables stay where they are), and every node is joined directly: a dump
// written after reordering loads in linear time. (A manager of more variables than
// bdd::Manager::kCheapOrderVariables keeps its order.)
enum class LoadOrder { Manager, File };
LoadResult loadArray(std::FILE* fp, char mode, long streamSize, LoadOrder order);

// Number of nodes of the roots in the complement-edge form of the dumps, the constant
// included (the reference library's sharing size).
int sharingSize(const std::vector<bdd::Bdd>& roots);

// The binary integer code: up to four 7-bit groups, escaped bytes.
bool writeInt(std::FILE* fp, int value);
bool readInt(std::FILE* fp, int* value);  // false at end of file or on a bad escape

// Maxterm CNF store of one root with the given CNF ids (indexed by variable index),
// header on, no auxiliary variables. The stream must be seekable; it is left at the end.
bool storeCnfMaxterm(std::FILE* fp, const bdd::Bdd& root, const std::vector<int>& cnfIds,
                     int* clauses, int* newVars);

// The DOT drawing of the roots. Input names are indexed by variable index (empty
// vector or empty entry: the index number); output names one per root (empty: F0, F1, ...).
bool dumpDot(std::FILE* fp, const std::vector<bdd::Bdd>& roots, const std::vector<std::string>& inputNames,
             const std::vector<std::string>& outputNames);

}  // namespace dddmp
