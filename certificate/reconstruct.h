// Inductive reconstruction: replays the solver log, last entry first, into a certificate.
#pragma once

#include <memory>

#include "certificate/model.h"
#include "inputs/log_reader.h"

// The certificate, or none when the reader is in error or an entry is contradictory.
std::unique_ptr<QBModel> reconstructModel(LogReader& reader);

// 1 when the entry was replayed, 0 on a contradiction.
int replayEntry(QBModel& model, LogEntry& entry);
