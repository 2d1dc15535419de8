// Expression-file mode: every line of a file (plain or gzip-compressed) is an expression
// text, evaluated on its own; the results go to the file's ".result" file as they come.
#pragma once

#include <string>

#include "certificate/model.h"
#include "expressions/dumps.h"
#include "outcomes/reporter.h"
#include "outcomes/status.h"

struct ExpFileOptions {
    ExpDumpOptions dumps;     // the dumps of every line, named after the result file and the line
    bool showResults = true;  // "= results" on each line's step
};

// Every parsed line is a step on the reporter, titled with its canonical text, and holds
// the steps of its evaluation and, when BDD, CNF or DOT dumps are chosen, the step "Dump
// to file" with the line's dumps.
// A failure saying what went wrong with the input or the result file (the lines
// evaluated so far stay unwritten: the result file is written whole or not at all).
Status expEvaluateFile(const QBModel& model, const std::string& fileName, const ExpFileOptions& options,
                            steps::Reporter& reporter);
