// The solver log: a text header, entries read backwards through their back offsets
// (rolled-back stretches and failed existential branches passed over), and a trailer.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bdd/engine.h"
#include "certificate/model.h"

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
int logKindOf(const char* name);

// One clause or cube of an entry.
struct LogClause {
    std::vector<int> literals;
    bdd::Bdd bdd;  // null for ground clauses
    int sorted = 0;
};

struct LogEntry {
    int kind = LOG_UNKNOWN;
    int id = 0;
    // G_CUBES: cubes[i].literals[0] is the variable, the rest its dominating universals.
    // S_CUBES: cubes[i].literals = {variable}, cubes[i].bdd = its cube.
    std::vector<LogClause> cubes;
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
    // Malformed payloads (beyond the classic table).
};

struct LogReader;  // defined in inputs/log_reader.cpp

// Opens the log and parses header and trailer; problems are reported through the status.
std::unique_ptr<LogReader, void (*)(LogReader*)> logOpen(const std::string& path);

bool logIsError(const LogReader& r);
const char* logStatusText(const LogReader& r);
const char* logLastLine(const LogReader& r);

const std::string& logFormula(const LogReader& r);
int logNumVars(const LogReader& r);          // N: internal slots, slot 0 included
int logNumUniv(const LogReader& r);          // U
const std::vector<int>& logUniversals(const LogReader& r);  // U + 1 entries, slot 0 = 0
const std::vector<int>& logIntToExt(const LogReader& r);    // N entries, slot 0 = 0
int logMaxExt(const LogReader& r);
double logSolverTime(const LogReader& r);
long logTrailerId(const LogReader& r);
long logCurrentId(const LogReader& r);
bool logAtFirstEntry(const LogReader& r);  // the current entry's back offset is 0

// The manager into which embedded BDDs are loaded; set before the first read.
void logInstallManager(LogReader& r, bdd::Manager* manager);

// The previous entry (the first call: the last one before the trailer).
LogEntry logReadPrevious(LogReader& r);

void logClose(LogReader& r);
