#include "outcomes/steps.h"

#include <cstdarg>
#include <cstdio>

#include "outcomes/clocks.h"
#include "outcomes/instance_facts.h"

namespace steps {

namespace {

constexpr int kLevels = 101;
int g_depth = 0;
int g_counter[kLevels + 1] = {};
double g_start[kLevels + 1] = {};
bool g_lineClosed = true;
int g_verbosity = -1;
double g_reorderSeconds = 0.0;

void indent(int d) {
    for (int i = 1; i < d; ++i) std::fputs("  ", stdout);
    for (int n = 11; n < d; n += 2) std::fputc(' ', stdout);
}

void label(int d) {
    if (d % 2 == 1)
        std::printf("%i.", g_counter[d]);
    else
        std::printf("%c.", 'a' + (g_counter[d] - 1) % 26);
}

// A step that failed closes with its message after "Error: "; the first one is the
// instance's failure for the batch record.
void noteIfFailure(const std::string& text) {
    static const std::string kError = "Error: ";
    if (text.compare(0, kError.size(), kError) == 0) instance_facts::noteFailure(text.substr(kError.size()));
}

double elapsed(int d) { return clocks::stepSeconds() - g_start[d]; }

// Prints the lead of a result line; returns false when the step is silent.
bool beginResult() {
    int d = g_depth;
    if (g_verbosity < d) return false;
    if (g_lineClosed) {
        std::fputc('\n', stdout);
        indent(d);
        if (d % 2 == 1)
            std::fputs(d > 9 ? "   " : "  ", stdout);
        else
            std::fputs("  ", stdout);
    }
    return true;
}

// A silent step's result leaves the line state alone: the enclosing shown step still
// closes on its own line.
void endResult(bool printed) {
    if (printed) {
        g_lineClosed = true;
        std::fflush(stdout);
    }
    --g_depth;
}

}  // namespace

void open(const std::string& title) {
    int d = ++g_depth;
    if (g_verbosity < d) return;
    g_lineClosed = false;
    g_start[d] = clocks::stepSeconds();
    ++g_counter[d];
    if (d + 1 <= kLevels) g_counter[d + 1] = 0;
    std::fputc('\n', stdout);
    if (d == 1 && g_verbosity > 1) std::fputc('\n', stdout);
    indent(d);
    label(d);
    std::fputs(title.c_str(), stdout);
    std::fputc(' ', stdout);
    std::fflush(stdout);
}

void close() {
    bool printed = beginResult();
    if (printed) std::printf("[OK, %.2fs]", elapsed(g_depth));
    endResult(printed);
}

void close(const std::string& text) {
    noteIfFailure(text);
    bool printed = beginResult();
    if (printed) std::printf("[OK, %s, %.2fs]", text.c_str(), elapsed(g_depth));
    endResult(printed);
}

void closeWithShare(const std::string& text) {
    bool printed = beginResult();
    if (printed) {
        double seconds = elapsed(g_depth);
        // A step that took no measurable time has no reordering share to speak of.
        double share = seconds > 0.0 ? 100.0 * g_reorderSeconds / seconds : 0.0;
        std::printf("[OK, %s, %.2fs, %.2f%% in %s]", text.c_str(), seconds, share, "BDD");
    }
    endResult(printed);
}

bool shown() { return g_verbosity >= g_depth; }
int depth() { return g_depth; }

void presetNextCounter(int value) {
    if (g_depth + 1 <= kLevels) g_counter[g_depth + 1] = value;
}

void addReorderTime(double seconds) { g_reorderSeconds += seconds; }
double reorderTime() { return g_reorderSeconds; }

void print(const char* fmt, ...) {
    if (!shown()) return;
    va_list args;
    va_start(args, fmt);
    std::vprintf(fmt, args);
    va_end(args);
    std::fflush(stdout);
}

void note(const std::string& text) {
    noteIfFailure(text);
    // The lead of a result line when the step's line is taken, so the result follows.
    if (!beginResult()) return;
    std::fputs(text.c_str(), stdout);
    std::fputc(' ', stdout);
    g_lineClosed = false;
    std::fflush(stdout);
}

void setVerbosity(int verbosity) { g_verbosity = verbosity; }
int verbosity() { return g_verbosity; }

namespace {

class Display : public Reporter {
  public:
    void open(const std::string& title) override { steps::open(title); }
    void close() override { steps::close(); }
    void close(const std::string& text) override { steps::close(text); }
    void closeWithShare(const std::string& text) override { steps::closeWithShare(text); }
    bool shown() const override { return steps::shown(); }
    void write(const std::string& text) override {
        if (!steps::shown()) return;
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
    }
    void addReorderTime(double seconds) override { steps::addReorderTime(seconds); }
};

}  // namespace

Reporter& display() {
    static Display d;
    return d;
}

}  // namespace steps
