#include "outcomes/clocks.h"

#include <sys/resource.h>

#include <ctime>

namespace clocks {

double stepSeconds() {
    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    double seconds = static_cast<double>(self.ru_utime.tv_sec + self.ru_stime.tv_sec +
                                         children.ru_utime.tv_sec + children.ru_stime.tv_sec);
    double micros = static_cast<double>(self.ru_utime.tv_usec + self.ru_stime.tv_usec +
                                        children.ru_utime.tv_usec + children.ru_stime.tv_usec);
    return seconds + micros * 1e-6;
}

double checkMicros() {
    return static_cast<double>(std::clock()) * (1000000.0 / CLOCKS_PER_SEC);
}

}  // namespace clocks
