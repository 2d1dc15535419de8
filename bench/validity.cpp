// Validity check throughput: a generated formula of millions of clauses, plain and gzip,
// checked against a certificate that satisfies it, next to the time `cat` and `gzip -dc`
// take to merely read the same file. Each check runs in a child so that its peak memory
// is its own; two clause counts show that memory does not grow with the formula.
//
// Usage: bench_validity [clauses (default 5000000)] [directory (default /tmp)]
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "certificate/reconstruct.h"
#include "certification/checks.h"
#include "inputs/qdimacs_reader.h"
#include "outcomes/reporter.h"

namespace {

constexpr int kUniv = 8;
constexpr int kExist = 2000;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

// Universals 1..kUniv, existentials kUniv+1..: x is u_(x mod kUniv) + 1. Every clause
// holds: it contains -u and the existential equal to u, or u and the negation of one,
// plus a few other existential literals.
void generate(const std::string& path, long clauses) {
    std::FILE* fp = std::fopen(path.c_str(), "w");
    if (!fp) {
        std::printf("cannot write %s\n", path.c_str());
        std::exit(1);
    }
    int vars = kUniv + kExist;
    std::fprintf(fp, "c generated for the validity benchmark\np cnf %i %li\na", vars, clauses);
    for (int u = 1; u <= kUniv; ++u) std::fprintf(fp, " %i", u);
    std::fprintf(fp, " 0\ne");
    for (int x = kUniv + 1; x <= vars; ++x) std::fprintf(fp, " %i", x);
    std::fprintf(fp, " 0\n");
    std::mt19937 rng(12345);
    for (long c = 0; c < clauses; ++c) {
        int x = kUniv + 1 + static_cast<int>(rng() % kExist);
        int u = (x % kUniv) + 1;
        bool positive = rng() & 1;
        std::fprintf(fp, "%i %i", positive ? -u : u, positive ? x : -x);
        int extra = static_cast<int>(rng() % 3);
        for (int k = 0; k < extra; ++k) {
            int y = kUniv + 1 + static_cast<int>(rng() % kExist);
            std::fprintf(fp, " %i", (rng() & 1) ? y : -y);
        }
        std::fputs(" 0\n", fp);
    }
    std::fclose(fp);
}

// The reader alone, every clause accepted: what parsing costs without the BDD work.
int parseInProcess(const std::string& path) {
    long literals = 0;
    int result = qdimacs::read(
        path, {kUniv + kExist + 1, kUniv + kExist},
        [&](const int*, int n) {
            literals += n;
            return 1;
        },
        steps::silent());
    return result && literals > 0 ? 1 : 0;
}

int checkInProcess(const std::string& path) {
    int vars = kUniv + kExist;
    std::vector<int> univ{0};
    for (int u = 1; u <= kUniv; ++u) univ.push_back(u);
    std::vector<int> intToExt(static_cast<std::size_t>(vars) + 1);
    for (int i = 0; i <= vars; ++i) intToExt[i] = i;
    auto model = newReplayModel("bench", vars + 1, univ, intToExt, vars);
    for (int x = kUniv + 1; x <= vars; ++x) {
        bdd::Bdd u = bdd::ithVar((x % kUniv) + 1);
        model->posBdd[x] = u;
        model->negBdd[x] = !u;
    }
    return certification::validityCheck(*model, path, steps::silent());
}

struct Measured {
    double seconds = 0;
    long maxRssKb = 0;
    int result = -1;
};

Measured inChild(const std::string& path, int (*work)(const std::string&)) {
    std::fflush(stdout);
    double start = now();
    pid_t pid = fork();
    if (pid == 0) _exit(work(path));
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    Measured m;
    m.seconds = now() - start;
    m.maxRssKb = usage.ru_maxrss;
    m.result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m;
}

double timeCommand(const std::string& command) {
    double start = now();
    if (std::system(command.c_str()) != 0) std::printf("failed: %s\n", command.c_str());
    return now() - start;
}

void report(const char* what, const std::string& path, long clauses, long bytes, double readerSeconds,
            int (*work)(const std::string&)) {
    Measured m = inChild(path, work);
    double mb = static_cast<double>(bytes) / 1e6;
    std::printf("%-6s %9ld clauses %8.1f MB: check %6.2fs  %7.1f MB/s  %10.0f clauses/s  peak %6ld KB  "
                "(result %i)  reader alone %6.2fs  ratio %.2f\n",
                what, clauses, mb, m.seconds, mb / m.seconds, static_cast<double>(clauses) / m.seconds,
                m.maxRssKb, m.result, readerSeconds, m.seconds / readerSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    long clauses = argc > 1 ? std::atol(argv[1]) : 5000000;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    for (long n : {clauses / 5, clauses}) {
        std::string plain = dir + "/plumex-bench-" + std::to_string(n) + ".qdimacs";
        std::string packed = plain + ".gz";
        generate(plain, n);
        if (std::system(("gzip -c '" + plain + "' > '" + packed + "'").c_str()) != 0) return 1;
        long bytes = fileSize(plain);
        double cat = timeCommand("cat '" + plain + "' > /dev/null");
        double gz = timeCommand("gzip -dc '" + packed + "' > /dev/null");
        report("plain", plain, n, bytes, cat, checkInProcess);
        report("gzip", packed, n, bytes, gz, checkInProcess);
        report("parse", plain, n, bytes, cat, parseInProcess);
        report("gparse", packed, n, bytes, gz, parseInProcess);
        std::remove(plain.c_str());
        std::remove(packed.c_str());
    }
    return 0;
}
