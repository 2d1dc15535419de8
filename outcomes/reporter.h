// The step reporter: how a long operation shows what it does without printing on its
// own. An operation opens steps, writes on the open step's line and closes steps with a
// result; the step display of a run shows them as numbered lines, a test records them.
#pragma once

#include <string>

namespace steps {

class Reporter {
  public:
    virtual ~Reporter() = default;

    virtual void open(const std::string& title) = 0;
    virtual void close() = 0;                                  // "[OK, %.2fs]"
    virtual void close(const std::string& text) = 0;           // "[OK, text, %.2fs]"
    virtual void closeWithShare(const std::string& text) = 0;  // "[OK, text, %.2fs, %.2f%% in BDD]"
    // True when the open step is shown (what is written on its line then appears).
    virtual bool shown() const = 0;
    // Text on the open step's line, shown at once when the step is shown.
    virtual void write(const std::string& text) = 0;
    // Processor time spent reordering BDDs, for the share of the enclosing step.
    virtual void addReorderTime(double seconds) = 0;

    void print(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
};

// A reporter that shows nothing.
Reporter& silent();

// Progress marks "[0% 10% ... 100%] " on the open step's line. Shared by every long step.
class Progress {
  public:
    explicit Progress(Reporter& reporter) : reporter_(reporter) {}
    void start();                        // "[0% "
    void update(long done, long total);  // marks up to floor(100 * done / total), multiples of 10 only
    void finish();                       // marks still missing up to 100
  private:
    void markUpTo(int percent);
    Reporter& reporter_;
    int last_ = 0;
};

}  // namespace steps
