// Forced into every plumex source of the fuzz build: the process-ending calls of the
// fatal paths (MEMOUT, abnormal exit, rejected command line) become a call that throws
// back into the fuzz target, so that a defined fatal exit ends one input and not the
// fuzzing process. The library's own declarations are noexcept; this one is not, so
// callers keep their clean-up paths and every RAII handle is released on the way out.
#pragma once

#ifdef __cplusplus
#include <cstdlib>
namespace std {
[[noreturn]] void plumexFuzzExit(int status);
}
using std::plumexFuzzExit;
#define exit plumexFuzzExit
#define _Exit plumexFuzzExit
#endif
