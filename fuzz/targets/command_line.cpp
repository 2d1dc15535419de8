// The command line: the input's bytes split at NUL or line end into the arguments of
// the program, scanned into the settings. A rejected line ends in the defined exit
// (usage and -2), caught here.
#include <vector>

#include "runcontrol/cli.h"
#include "expressions/parser.h"
#include "pipeline/settings.h"
#include "fuzz_support.h"

namespace {

// Kinds of input for the scan to find: a log, a QBM file and a directory.
std::string g_dir;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::silenceOutput();
    const char log[] = "# Tobrin log file, 1.3\n";
    const char qbm[] = "# QBM file, 1.3\n";
    std::string logPath = fuzzsupport::writeInput(reinterpret_cast<const uint8_t*>(log), sizeof log - 1, "a.Tobrin.log");
    fuzzsupport::writeInput(reinterpret_cast<const uint8_t*>(qbm), sizeof qbm - 1, "a.qbm");
    g_dir = logPath.substr(0, logPath.rfind('/'));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words(1, "plumex");
    std::string word;
    for (size_t i = 0; i < size && words.size() < 64; ++i) {
        char c = static_cast<char>(data[i]);
        if (c == '\0' || c == '\n') {
            words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    // "@" stands for the scratch directory, so that paths of real inputs turn up.
    for (std::string& w : words)
        if (!w.empty() && w[0] == '@') w = g_dir + w.substr(1);
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);
    Settings saved = settings();
    fuzzsupport::guarded([&] { cli::scanCommandLine(static_cast<int>(words.size()), argv.data()); });
    if (settings().expressions != saved.expressions) expListFree(settings().expressions);
    scanSettings() = saved;
    return 0;
}
