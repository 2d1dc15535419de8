// The solver log: a text header, entries read backwards through their back offsets
// (rolled-back stretches and failed existential branches passed over), and a trailer.
// Only the header, the trailer, one entry at a time and a window of the file of fixed
// size are ever in memory.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bdd/engine.h"
#include "inputs/inverse_mapping.h"
#include "outcomes/status.h"

enum LogKind {
    LOG_UNKNOWN = 0,
    G_CUBES = 1,
    G_RES = 2,
    G_ASSIGN = 3,
    S_CUBES = 4,
    S_RES = 5,
    S_ASSIGN = 6,
    S_EQUIV = 7,
    B_IN = 8,
    B_OUT = 9,
    SAT_ENCODING = 10,
    ROLLBACK = 11,
    LOG_END = 12,
};

// Kind names as they stand in the log, indexed by kind.
const char* logKindName(int kind);
// Exact name lookup; 0 for a name not in the table.
int logKindOf(const char* name);

// One clause of a RES or EQUIV entry: literals and the condition (null for ground clauses).
struct LogClause {
    std::vector<int> literals;
    bdd::Bdd bdd;
    int sorted = 0;  // set by the reconstruction once the literals are sorted by variable
};

// One cube of a CUBES entry: the existential and either the universals that dominate it
// (G_CUBES) or the conjunction of the universals it depends on (S_CUBES).
struct LogCube {
    int variable = 0;
    std::vector<int> dominators;
    bdd::Bdd cube;
};

// One entry, owned by the consumer from delivery to release. Every BDD holds its own
// reference; destroying (or releasing) the entry drops them.
struct LogEntry {
    int kind = LOG_UNKNOWN;
    int id = 0;
    std::vector<LogCube> cubes;  // G_CUBES, S_CUBES
    // G_RES / S_RES: the pivot, the positive and the negative clauses.
    int variable = 0;
    std::vector<LogClause> positive;
    std::vector<LogClause> negative;
    // G_ASSIGN, S_ASSIGN, B_IN, B_OUT: the literal; S_ASSIGN and S_EQUIV: the entry's BDD.
    int literal = 0;
    bdd::Bdd bdd;
    // B_IN: second-branch flag and quantifier letter.
    int secondBranch = 0;
    char quantifier = 0;
    // S_EQUIV: a, b, s in file order; the clause list.
    int a = 0, b = 0, s = 0;
    std::vector<LogClause> clauses;
    // SAT_ENCODING: values of CNF variables 1..cnfVarNum (index 0 unused) and the map.
    std::vector<int> values;
    InverseVarMapping mapping;
};

enum LogStatus {
    LOG_INIT = 0,
    LOG_SYNC_OK = 1,
    LOG_BAD_VERSION = 2,
    LOG_BAD_HEADER = 3,
    LOG_NO_TRAILER = 4,
    LOG_NOT_TRUE = 5,
    LOG_SYNC_LOST = 6,
    LOG_UNKNOWN_KIND = 7,
    LOG_RECONSTRUCTION_FAILURE = 8,
    // Malformed payloads.
    LOG_BAD_PAYLOAD = 9,         // a payload integer or text line does not parse
    LOG_BAD_COUNT = 10,          // a count is negative or larger than the data left
    LOG_BAD_BDD = 11,            // an embedded dump cannot be loaded
    LOG_FEW_ROOTS = 12,          // a dump has fewer roots than the entry needs
    LOG_BAD_VARIABLE = 13,       // a literal or variable outside 1..N-1
    LOG_DEEP_HYPOTHESIS = 14,    // more universal hypotheses than the stack holds
    LOG_BAD_CNF_VARIABLE = 15,   // a CNF variable no row or cube of the encoding covers
    LOG_UNIVERSAL_ASSIGNED = 16, // a universal where only an existential can stand
    LOG_BAD_CUBE = 17,           // an S_CUBES cube is not a conjunction of variables
    LOG_NOT_READABLE = 18,       // the file cannot be opened
    LOG_STATUS_COUNT = 19,
};

// The message of a status (the table of the reader).
const char* logStatusMessage(int status);

struct LogReader;  // defined in inputs/log_reader.cpp

using LogReaderPtr = std::unique_ptr<LogReader, void (*)(LogReader*)>;

// Opens the log and parses header and trailer; problems are reported through the status.
// The file is read through a window of windowBytes held in memory (0: 4 MiB; small
// windows are for tests and fuzzing, which move every buffer edge through the entries).
LogReaderPtr logOpen(const std::string& path, long windowBytes = 0);

bool logIsError(const LogReader& r);
int logStatus(const LogReader& r);
const char* logStatusText(const LogReader& r);
const char* logLastLine(const LogReader& r);  // as read, line end included
// Ok, or (the reader in error) a failure with the status's message.
Status logError(const LogReader& r);
// For consumers that find an entry malformed: the status and its message are then the
// reader's, reported like any reading error.
void logSetStatus(LogReader& r, int status);

const std::string& logFormula(const LogReader& r);
long logFileBytes(const LogReader& r);  // the size of the log when it was opened
int logNumVars(const LogReader& r);          // N: internal slots, slot 0 included
int logNumUniv(const LogReader& r);          // U
const std::vector<int>& logUniversals(const LogReader& r);  // U + 1 entries, slot 0 = 0
const std::vector<int>& logIntToExt(const LogReader& r);    // N entries, slot 0 = 0
int logMaxExt(const LogReader& r);
double logSolverTime(const LogReader& r);
long logTrailerId(const LogReader& r);
long logCurrentId(const LogReader& r);
bool logAtFirstEntry(const LogReader& r);  // the current entry's back offset is 0
bool logBinary(const LogReader& r);        // "binary" storage mode

// The manager into which embedded BDDs are loaded; set before the first read.
void logInstallManager(LogReader& r, bdd::Manager* manager);

// The previous entry (the first call: the last one before the trailer). Kind 0 when
// there is none or the reader ran into an error.
LogEntry logReadPrevious(LogReader& r);

// Drops the entry's payload and its BDD references now.
void logRelease(LogEntry& entry);

// Closes the stream. Status, last line and header data stay readable.
void logClose(LogReader& r);
