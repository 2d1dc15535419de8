#include "outcomes/outcome.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "outcomes/instance_facts.h"

namespace outcome {

namespace {
struct Named {
    int code;
    const char* name;
};
constexpr Named kNames[] = {
    {True, "TRUE"},           {Refuted, "REFUTED"}, {False, "FALSE"},     {Timeout, "TIMEOUT"},
    {Undecided, "UNDECIDED"}, {InstanceCount, "INSTANCE COUNT"},
    {Error, "ERROR"},         {IoError, "IO ERROR"}, {CmdlineError, "CMDLINE ERROR"},
    {ParseError, "PARSE ERROR"}, {Crash, "CRASH"},   {Memout, "MEMOUT"},
};
}  // namespace

const char* name(int code) {
    for (const Named& n : kNames)
        if (n.code == code) return n.name;
    return "UNDEFINED EXIT CODE";
}

void memout() {
    std::fputs("MEMOUT", stdout);
    std::fflush(stdout);
    std::_Exit(exitStatus(Memout));
}

void abnormalExit(const char* error, int line, const char* module) {
    instance_facts::noteFailure("abnormal exit: " + std::string(error) + " at line " + std::to_string(line) +
                                ", file " + module);
    std::printf("[Abnormal exit due to error \"%s\" at line %i, file \"%s\"]\n", error, line, module);
    std::fflush(stdout);
    std::_Exit(exitStatus(Error));
}

void installNewHandler() {
    std::set_new_handler([] { memout(); });
}

}  // namespace outcome
