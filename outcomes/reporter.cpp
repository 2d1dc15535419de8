#include "outcomes/reporter.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace steps {

void Reporter::print(const char* fmt, ...) {
    if (!shown()) return;
    va_list args;
    va_start(args, fmt);
    char small[256];
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(small, sizeof small, fmt, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(n) < sizeof small) {
        va_end(again);
        write(std::string(small, static_cast<std::size_t>(n)));
        return;
    }
    std::vector<char> large(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(large.data(), large.size(), fmt, again);
    va_end(again);
    write(std::string(large.data(), static_cast<std::size_t>(n)));
}

namespace {

class Silent : public Reporter {
  public:
    void open(const std::string&) override {}
    void close() override {}
    void close(const std::string&) override {}
    void closeWithShare(const std::string&) override {}
    bool shown() const override { return false; }
    void write(const std::string&) override {}
    void addReorderTime(double) override {}
};

}  // namespace

Reporter& silent() {
    static Silent s;
    return s;
}

void Progress::start() {
    last_ = 0;
    reporter_.write("[0% ");
}

void Progress::markUpTo(int percent) {
    char mark[16];
    while (last_ < percent) {
        last_ += 10;
        std::snprintf(mark, sizeof mark, "%i%%%s ", last_, last_ == 100 ? "]" : "");
        reporter_.write(mark);
    }
}

void Progress::update(long done, long total) {
    if (total <= 0) return;  // nothing to scale against
    long p = static_cast<long>(100.0 * static_cast<double>(done) / static_cast<double>(total));
    if (p > 100) p = 100;
    if (p > last_ && p % 10 == 0) markUpTo(static_cast<int>(p));
}

void Progress::finish() {
    last_ = (last_ / 10) * 10;
    markUpTo(100);
}

}  // namespace steps
