// The step display: the tree of numbered, indented step lines on standard output.
// A step opens with a title and closes with a result that begins with "[OK, " and ends
// with the processor seconds the step took. Steps deeper than the verbosity are silent.
#pragma once

#include <string>

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

// Progress marks "[0% 10% ... 100%] " on the open step's line. Shared by every long step.
class Progress {
  public:
    void start();                // "[0% " when shown
    void update(long done, long total);  // marks up to floor(100 * done / total), multiples of 10 only
    void finish();               // marks still missing up to 100
  private:
    void markUpTo(int percent);
    int last_ = 0;
    bool started_ = false;
};

}  // namespace steps
