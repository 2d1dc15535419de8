#include "fuzz_support.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool g_inside = false;
char g_scratch[] = "/tmp/plumex-fuzz-XXXXXX";

void removeScratch();

// Made on first use, removed with its files when the fuzzer ends normally.
std::string scratch() {
    static bool made = [] {
        if (!mkdtemp(g_scratch)) std::abort();
        std::atexit(removeScratch);
        return true;
    }();
    (void)made;
    return g_scratch;
}

void removeScratch() {
    fuzzsupport::clearScratch();
    ::rmdir(g_scratch);
}

}  // namespace

namespace std {
[[noreturn]] void plumexFuzzExit(int status) {
    std::fflush(stdout);
    if (g_inside) throw fuzzsupport::Exit{status};
    ::_exit(status);
}
}  // namespace std

namespace fuzzsupport {

void enter() { g_inside = true; }
void leave() { g_inside = false; }

void checkStatus(int status) {
    int byte = status & 0xff;
    // abnormal exit (-1), rejected command line (-2), MEMOUT (-6)
    if (byte == 255 || byte == 254 || byte == 250) return;
    std::fprintf(stderr, "plumex ended with an undefined exit status %d\n", status);
    std::abort();
}

std::string writeInput(const uint8_t* data, std::size_t size, const std::string& name) {
    std::string path = scratch() + "/" + name;
    std::FILE* fp = std::fopen(path.c_str(), "wb");
    if (!fp) std::abort();
    if (size && std::fwrite(data, 1, size, fp) != size) std::abort();
    std::fclose(fp);
    return path;
}

void clearScratch() {
    DIR* d = opendir(scratch().c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        ::unlink((scratch() + "/" + name).c_str());
    }
    closedir(d);
}

void silenceOutput() {
    if (std::getenv("PLUMEX_FUZZ_VERBOSE")) return;
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
}

}  // namespace fuzzsupport
