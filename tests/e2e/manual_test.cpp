// The user manual's examples, run as written. Every fenced block of docs/manual.md
// tagged "console" holds commands ("$ " lines) and, after a command's shown output, the
// line "[exit status N]" with the status the command must end with. The blocks run in the
// order of the manual, one after the other, in one scratch copy of examples/, so an
// example may use the files an earlier one wrote. The man page must render cleanly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run.h"

using testsupport::binary;
using testsupport::fileExists;
using testsupport::readFile;
using testsupport::run;
using testsupport::TempDir;

namespace {

struct Example {
    int line = 0;          // of the "$ " line in the manual
    int block = 0;         // the console block it stands in
    std::string command;   // without the "$ "
    int status = -1;       // stated exit status; -1: none stated
};

std::vector<Example> examplesOf(const std::string& manual) {
    std::vector<Example> examples;
    std::istringstream in(manual);
    std::string text;
    bool inside = false;
    int line = 0;
    int block = 0;
    while (std::getline(in, text)) {
        ++line;
        if (!inside) {
            if (text == "```console") {
                inside = true;
                ++block;
            }
            continue;
        }
        if (text.rfind("```", 0) == 0) {
            inside = false;
            continue;
        }
        if (text.rfind("$ ", 0) == 0) {
            examples.push_back({line, block, text.substr(2), -1});
        } else if (text.rfind("[exit status ", 0) == 0 && !examples.empty()) {
            examples.back().status = std::atoi(text.c_str() + 13);
        }
    }
    return examples;
}

std::string directoryOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

}  // namespace

TEST(Manual, ExamplesRunAsWritten) {
    std::string manual = readFile(std::string(PLUMEX_SOURCE_DIR) + "/docs/manual.md");
    ASSERT_FALSE(manual.empty());
    std::vector<Example> examples = examplesOf(manual);
    ASSERT_GE(examples.size(), 10u) << "the manual's console blocks were not found";

    bool haveWriter = fileExists(binary("plumex-logwriter"));
    bool haveChecker = fileExists(binary("plumex-aigercheck"));
    TempDir scratch;
    ASSERT_EQ(run({"/bin/cp", "-R", std::string(PLUMEX_SOURCE_DIR) + "/examples", scratch.path()}).status, 0);
    std::string path = directoryOf(PLUMEX_BIN);
    if (haveWriter) path += ":" + directoryOf(binary("plumex-logwriter"));
    if (haveChecker) path += ":" + directoryOf(binary("plumex-aigercheck"));
    const char* system = std::getenv("PATH");
    path += std::string(":") + (system ? system : "/usr/bin:/bin");

    int ran = 0;
    int skippedBlock = 0;  // a block whose tool is missing: its later commands need it too
    for (const Example& e : examples) {
        SCOPED_TRACE("docs/manual.md line " + std::to_string(e.line) + ": " + e.command);
        EXPECT_GE(e.status, 0) << "the example states no exit status";
        if ((e.command.find("plumex-logwriter") != std::string::npos && !haveWriter) ||
            (e.command.find("plumex-aigercheck") != std::string::npos && !haveChecker))
            skippedBlock = e.block;
        if (e.block == skippedBlock) continue;  // the tool was not built here
        testsupport::RunResult r = run({"/usr/bin/env", "PATH=" + path, "/bin/sh", "-c", e.command}, scratch.path());
        EXPECT_EQ(r.status, e.status) << r.out << r.err;
        ++ran;
    }
    EXPECT_GT(ran, 0);
}

TEST(Manual, ManPageRendersWithoutWarnings) {
    if (run({"/bin/sh", "-c", "command -v groff"}).status != 0) GTEST_SKIP() << "groff is missing: install the Debian package groff";
    testsupport::RunResult r = run(
        {"/bin/sh", "-c", "groff -ww -man -Tutf8 '" + std::string(PLUMEX_SOURCE_DIR) + "/plumex.1' >/dev/null"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}
