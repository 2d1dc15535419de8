// The step display: the tree of numbered, indented step lines on standard output, the
// reporter of a real run.
// A step opens with a title and closes with a result that begins with "[OK, " and ends
// with the processor seconds the step took. Steps deeper than the verbosity are silent.
#pragma once

#include <string>

#include "outcomes/reporter.h"

namespace steps {

void open(const std::string& title);
void close();                                  // "[OK, %.2fs]"
void close(const std::string& text);           // "[OK, text, %.2fs]"
void closeWithShare(const std::string& text);  // "[OK, text, %.2fs, %.2f%% in BDD]"

// 1 when the current depth is shown (verbosity at least the depth).
bool shown();
int depth();

// Labels the next step opened one level deeper with value + 1.
void presetNextCounter(int value);

// Reordering-time account, fed by the reordering hooks.
void addReorderTime(double seconds);
double reorderTime();

// Text on the open step's line (only while shown), flushed at once.
void print(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// A message about the step in progress (only while shown): on its line while nothing
// else has been printed there, else on a line of its own at the step's indentation. The
// step's result follows on the same line. A text beginning "Error: " is the instance's
// failure, as in close().
void note(const std::string& text);

// The deepest step level shown (0 to 4; below 0 nothing is shown).
void setVerbosity(int verbosity);
int verbosity();

// The step display as a reporter, for the operations that report through one.
Reporter& display();

}  // namespace steps
