// The proof-trace reader: DepQBF's QRP traces, ASCII ("p qrp") or binary ("p bqrp"),
// plain or gzip-compressed. A trace holds every clause and cube the solver derived, of
// which the proof is a small part, so it is read twice: the first pass keeps only the
// steps' ids and antecedents, the second keeps the literals of the proof's steps alone.
// Memory thus grows with the number of steps and the size of the proof, never with the
// literals of the whole trace.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "outcomes/status.h"

namespace qrp {

struct Block {
    char kind = 'e';        // 'a' or 'e'
    std::vector<int> vars;  // in the order listed
};

// What the reader keeps of a trace.
struct Trace {
    bool binary = false;
    long numVars = 0;     // V of the header (the formula's problem line)
    long numClauses = 0;  // C of the header
    std::vector<Block> blocks;
    bool sat = false;  // "r SAT" (else "r UNSAT")

    // Pass 1, one entry per step in file order.
    std::vector<std::int64_t> ids;
    std::vector<std::uint8_t> antCount;  // 0, 1 or 2
    std::vector<std::int32_t> ants;      // 2 per step: the antecedents' step indices
    // The last step names an id that no step defines (DepQBF does so when every input
    // clause is tautological); it is then kept with no antecedent and this id.
    std::int64_t undefinedFinalAnt = 0;

    // Pass 2: the proof, the steps the last step is derived from, in file order.
    std::vector<std::int32_t> proof;  // step indices, ascending
    // The literals of the proof's steps, packed: each step's literals in printed order,
    // each as a varint of the zigzag difference between its code (2 * variable, plus 1
    // when negative) and the one before (0 before the first). Solvers print a step's
    // variables close together, so most literals take one byte.
    std::vector<std::uint8_t> litBytes;
    std::vector<std::int64_t> litStart;  // proof.size() + 1 offsets into litBytes

    std::size_t steps() const { return ids.size(); }
    // The literals of the proof's step at position p (0-based) of proof, into out.
    void literalsOf(std::size_t p, std::vector<int>& out) const;
};

// Share of the file read so far, 0..1, for the progress marks of the caller's step.
using Progress = std::function<void(double done)>;

// The first bytes of a trace (plain or gzip), as told from the file: "p qrp " or "p bqrp ",
// or a gzip stream too short or broken to tell (reading it then says what is wrong).
bool looksLikeTrace(const std::string& path);

// Pass 1: header, prefix, ids and antecedents of every step, and the result line. A
// failure saying why for a malformed or cut-short trace.
Status readIndex(const std::string& path, Trace& trace, const Progress& progress = {});

// Pass 2: marks the proof (the steps reachable from the last one) and reads their
// literals. A failure saying why when the file no longer agrees with the first pass.
Status readProof(const std::string& path, Trace& trace, const Progress& progress = {});

}  // namespace qrp
