// The solver log reader through its real consumer: the log is opened from a file and
// replayed into a certificate, entry by entry, last entry first. Text and binary logs
// are told apart by their header, as in a run. The reader's window is a few hundred
// bytes at most (its size follows from the input's), so that its edges fall inside
// entries, integers and embedded dumps.
#include "certificate/reconstruct.h"
#include "outcomes/steps.h"
#include "inputs/log_reader.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::silenceOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzzsupport::writeInput(data, size, "input.Tobrin.log");
    fuzzsupport::guarded([&] {
        LogReaderPtr reader = logOpen(path, 16 + static_cast<long>(size % 240));
        if (!reader || logIsError(*reader)) return;
        std::unique_ptr<QBModel> model = reconstructModel(*reader, {}, steps::display());
        logClose(*reader);
    });
    return 0;
}
