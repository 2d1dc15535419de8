// Inductive reconstruction (module QbfModelReconstruct): replays the solver log, last
// entry first, into a certificate.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "certificate/model.h"
#include "inputs/log_reader.h"
#include "outcomes/reporter.h"

struct ReconstructOptions {
    int reorderMethod = 14;       // the reference library's method number (GROUP_SIFT); 1 = none
    bool showReordering = false;  // "[BDD" and "]" around every reordering
};

// The certificate, or none when the reader is in error, an entry is malformed (the
// reader's status then says why) or an entry is contradictory. Progress goes to the
// reporter as the step "Inductive reconstruction"; the model's manager keeps reporting
// its reorderings there, so the reporter must outlive the model.
std::unique_ptr<QBModel> reconstructModel(LogReader& reader, const ReconstructOptions& options,
                                          steps::Reporter& reporter);

// A model ready for replay, as reconstruction sets it up before the first entry: its
// own manager (numUniv variables; universal k is engine variable k), the logical zero
// in every posBdd/negBdd slot, universals[1..U] numbered 1..U, the rest existential.
// universals has U + 1 entries (slot 0 unused), intToExt numVars entries.
// inputBytes: the size of the file the certificate is built from (sizes the engine's
// caches; -1: unknown).
std::unique_ptr<QBModel> newReplayModel(const std::string& formula, int numVars, const std::vector<int>& universals,
                                        const std::vector<int>& intToExt, int maxExtVar, long inputBytes = -1);

// What replaying one entry gave: the entry was replayed, it contradicts the certificate
// so far, or it is malformed and fault is the reader status that describes it (the
// reader reports it with the status's message).
struct ReplayVerdict {
    bool contradiction = false;
    int fault = 0;  // a LogStatus; 0 for a well-formed entry
    bool replayed() const { return !contradiction && fault == 0; }
};
ReplayVerdict replayEntry(QBModel& model, LogEntry& entry);
