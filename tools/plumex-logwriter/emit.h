// Writing the solver's log from a decided formula: the search, symbolic and mixed
// styles, rolled-back noise, size padding and the planted faults.
#pragma once

#include <cstdint>
#include <string>

#include "tools/plumex-logwriter/formula.h"
#include "tools/plumex-logwriter/solver.h"

namespace lw {

enum class Style { Search, Symbolic, Mix };
enum class Padding { Rollback, Reassign, Tiny };

enum class Fault {
    None,
    BadVersion,
    BadFormat,
    NoTrailer,
    OutcomeFalse,
    BackOffset,
    UnknownKind,
    EndInMiddle,
    NegativeRollback,
    TruncatedInt,
    UnbalancedBranch,
    ResContradiction,
    Invalid,
    Inconsistent,
};

struct EmitOptions {
    Style style = Style::Search;
    bool binary = false;
    Fault fault = Fault::None;
    std::uint64_t seed = 1;
    int noise = 0;           // percent chance of a rolled-back stretch after a real entry
    long long size = 0;      // requested file size in bytes (0: as it comes)
    Padding padding = Padding::Rollback;
    std::string formulaName;  // as recorded in the header
    double seconds = 0;       // solver time for the trailer
};

// Writes the log to path. False with a message when the log cannot be written or the
// fault cannot be planted in this formula.
bool writeLog(const std::string& path, const Model& m, const Solution& sol, const EmitOptions& o,
              std::string& error);

}  // namespace lw
