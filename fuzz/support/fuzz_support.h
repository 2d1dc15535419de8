// Shared pieces of the fuzz targets: inputs written to a scratch file for readers that
// take a path, the fatal exits of plumex caught as values, and standard output silenced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzsupport {

// Thrown by the redirected exit of the fuzz build.
struct Exit {
    int status;
};

// Runs body; a fatal exit of plumex inside it is caught and its status returned
// (-1000 when body returned normally). Exits with a status other than those plumex
// defines (-1 abnormal exit, -2 rejected command line, -6 MEMOUT) abort the run.
template <class F>
int guarded(F&& body);

// Writes the bytes to a file of this process's scratch directory, named with the
// given ending (the readers look at names), and returns its path.
std::string writeInput(const uint8_t* data, std::size_t size, const std::string& name);

// Removes every file of the scratch directory (dumps and results the readers wrote).
void clearScratch();

// Standard output goes to /dev/null unless PLUMEX_FUZZ_VERBOSE is set.
void silenceOutput();

void enter();
void leave();
void checkStatus(int status);

template <class F>
int guarded(F&& body) {
    enter();
    try {
        body();
    } catch (const Exit& e) {
        leave();
        checkStatus(e.status);
        return e.status;
    }
    leave();
    return -1000;
}

}  // namespace fuzzsupport
