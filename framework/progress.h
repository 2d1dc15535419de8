// The progress of a batch run for a person watching it: instances done, running and
// failed, and an estimate of the time left. On a terminal it stands at the end of the
// output's last line and is taken away before the run prints more; elsewhere it appears
// only when asked for ("-progress"): on the controlling terminal while the output goes
// to a file, or as lines of their own in the output every so many seconds.
#pragma once

#include <string>

namespace progress {

enum class Mode {
    Auto,      // a status line when standard output is a terminal, else nothing
    Off,
    Terminal,  // a status line on the controlling terminal, wherever the output goes
    Lines,     // a line of its own in the output every `seconds`
};

struct Counts {
    int done = 0;        // runs that ended in this process
    int failed = 0;      // of those, the ones that did not succeed
    int taken = 0;       // runs whose outcome the resumed record gives
    int running = 0;
    long expected = -1;  // runs the whole run will make (-1: not known)
    double elapsed = 0;  // wall seconds since the run began
};

// "12/300 done, 2 running, 1 failed, about 4m10s left"
std::string text(const Counts& counts);

// "1h02m", "4m10s", "12s"
std::string duration(double seconds);

class Display {
  public:
    ~Display();
    void start(Mode mode, int seconds);
    bool active() const { return where_ != Where::Nowhere; }
    // The status line shares standard output: the children's output must come through
    // the parent, which clears the line before it prints and draws it again after.
    bool onStandardOutput() const { return where_ == Where::Stdout; }
    bool asLines() const { return where_ == Where::Lines; }
    // Seconds between two drawings.
    double interval() const;
    void clear();
    // `column`: where the cursor stands on its line of standard output.
    void draw(const Counts& counts, int column);
    void stop();

  private:
    enum class Where { Nowhere, Stdout, Tty, Lines };
    void put(const std::string& text);
    Where where_ = Where::Nowhere;
    int fd_ = -1;
    int seconds_ = 0;
    bool shown_ = false;
};

}  // namespace progress
