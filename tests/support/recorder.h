// A step reporter that records what an operation reports, in the display's words but
// without numbering, indentation or times: "title text[OK, result]" per step.
#pragma once

#include <string>

#include "outcomes/reporter.h"

namespace testsupport {

class Recorder : public steps::Reporter {
  public:
    void open(const std::string& title) override { text += title + " "; }
    void close() override { text += "[OK]"; }
    void close(const std::string& result) override { text += "[OK, " + result + "]"; }
    void closeWithShare(const std::string& result) override { text += "[OK, " + result + ", share]"; }
    bool shown() const override { return true; }
    void write(const std::string& s) override { text += s; }
    void addReorderTime(double seconds) override { reorderSeconds += seconds; }

    std::string text;
    double reorderSeconds = 0.0;
};

}  // namespace testsupport
