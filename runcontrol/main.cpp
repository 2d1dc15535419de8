// Program entry.
#include <sys/resource.h>

#include <csignal>

#include "outcomes/outcome.h"
#include "runcontrol/entry.h"

namespace {

// The BDD engine's operations recurse once per variable level, so a certificate over
// some 100,000 universals needs more than the usual 8 MiB of stack. Linux grows the
// main thread's stack up to the soft limit in force at the time, so raising it here
// is enough (up to 1 GiB, within the hard limit).
void allowDeepStack() {
    const rlim_t want = rlim_t(1) << 30;
    rlimit limit{};
    if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= want) return;
    limit.rlim_cur = (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > want) ? want : limit.rlim_max;
    setrlimit(RLIMIT_STACK, &limit);
}

}  // namespace

int main(int argc, char** argv) {
    allowDeepStack();
    outcome::installNewHandler();
    // A file size limit then makes a write fail (a report line, a QBM file), like a full
    // disk, instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    return outcome::exitStatus(entry::run(argc, argv));
}
