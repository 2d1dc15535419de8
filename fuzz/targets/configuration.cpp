// Configuration lines: a "Plumex.conf" read from its path, every line then applied
// like the batch child applies it, through the command-line scan of a line.
#include "framework/batch.h"
#include "runcontrol/cli.h"
#include "expressions/parser.h"
#include "pipeline/settings.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::silenceOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzzsupport::writeInput(data, size, "Plumex.conf");
    Settings saved = settings();
    fuzzsupport::guarded([&] {
        batch::Configuration configuration = batch::readConfiguration(path);
        for (const batch::ConfigLine& line : configuration.lines) {
            std::vector<const char*> argv = line.argv();
            cli::applyConfigurationLine(line.count, argv.data());
        }
    });
    // Every input starts from the same settings, as every batch child does.
    if (settings().expressions != saved.expressions) expListFree(settings().expressions);
    scanSettings() = saved;
    return 0;
}
