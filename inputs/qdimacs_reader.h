// The QDIMACS formula reader: streams a formula (plain or gzip) once, checks its problem
// line and quantifier prefix against a certificate, and hands every clause, cleaned of
// repeated literals and with tautologies left out, to a callback. Nothing but the current
// line and per-variable marks is kept, so formulas of any clause count are read in
// memory independent of that count.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "outcomes/reporter.h"
#include "outcomes/status.h"

namespace qdimacs {

// The quantifier prefix as read: for every variable the certificate can know (external
// numbers 1..size-1), the number of its quantifier block (1 = outermost), 0 when the
// prefix does not list it; and the letter ('a' or 'e') of every block.
struct Prefix {
    std::vector<int> block;       // external number -> block number
    std::vector<char> blockKind;  // block number -> 'a' / 'e' (entry 0 unused)
};

// Literals in the formula's own numbering, in order of first appearance, at least one.
using ClauseCallback = std::function<int(const int* literals, int count)>;
// Called once the prefix has passed the variable check, before the first clause;
// nonzero lets the read go on. It prints its own message when it refuses.
using PrefixCallback = std::function<int(const Prefix& prefix)>;

struct Expect {
    int numVars = 0;    // prefix variables + 1 must equal this
    int maxKnown = 0;   // highest external number the certificate knows (Prefix::block size - 1)
    // Comment lines among the quantifier lines are skipped and the prefix goes on after
    // them, as certificates from traces and circuits read it (readPrefix below). Off, a
    // comment ends the prefix, as the classic reader of logs has it.
    bool prefixThroughComments = false;
};

// 1 when the whole file was read and every clause was accepted; 0 otherwise. The progress
// marks and the problems of the file (with the line they are at) go to the reporter.
int read(const std::string& path, const Expect& expect, const ClauseCallback& onClause, steps::Reporter& reporter,
         const PrefixCallback& onPrefix = {});

// The lines of a formula from its first, cut as the reader above cuts them (plain or gzip;
// a buffer of lineSize bytes): onLine(line, number) for each, until it returns false or
// the file ends. A line that does not fit the buffer doubles lineSize for good and starts
// the walk over from the first line, after onRestart(). For the readers of a formula's
// head (problem line and prefix) alone; each keeps its own buffer size.
enum class WalkEnd { Stopped, EndOfFile, CannotOpen, ReadError };
using LineCallback = std::function<bool(const char* line, long number)>;
WalkEnd walkLines(const std::string& path, std::size_t& lineSize, const LineCallback& onLine,
                  const std::function<void()>& onRestart);

// The problem line and the quantifier blocks alone, for readers of other certificate
// formats that number their variables after the formula's. Comment lines among the
// quantifier lines are skipped: the prefix ends at the first line that is neither.
struct HeadPrefix {
    long numVars = 0;  // V of the problem line
    std::vector<std::pair<char, std::vector<int>>> blocks;  // 'a'/'e' and variables, in file order
};
// Fails with what is wrong and its line ("no problem line at line 3").
Result<HeadPrefix> readPrefix(const std::string& path);

// The line buffer size in force (it starts at 10000 bytes and only ever doubles).
std::size_t lineSize();

// How much of the file is asked for at a time (default 1 MiB). 0 reads a line at a time
// with zlib's gzgets, the reference that block reading reproduces; small sizes put block
// edges inside clauses. For tests and fuzzing.
void setBlockBytes(std::size_t bytes);

}  // namespace qdimacs
