// The hard shapes, each timed next to an anchor from the same run:
//   formula  a 200,000-variable formula of 5M random 3-literal clauses, validity check
//            plain and gzip, against a bare integer scan of the same bytes, `wc -w` and
//            `gzip -dc`;
//   log      tiny-entry text and binary logs of 100 MB and 1 GB (one-literal G_ASSIGN,
//            universal branches, a long rolled-back stretch), reconstruction and peak
//            memory, against `cat`;
//   dddmp    a forest of about 3M nodes, load against the store of the same forest,
//            binary and text.
// Every figure also goes out as a line "ROW|shape|figure|anchor|ratio" that bench/run.sh
// gathers into its table.
//
// Usage: bench_hard [formula] [log] [dddmp] [--small]   (default: all three, full size)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bdd/dddmp.h"
#include "bdd/engine.h"
#include "certificate/reconstruct.h"
#include "certification/checks.h"
#include "inputs/log_reader.h"
#include "outcomes/steps.h"

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

int shell(const std::string& command) { return std::system(command.c_str()); }

double timeCommand(const std::string& command) {
    double start = now();
    if (shell(command) != 0) std::printf("failed: %s\n", command.c_str());
    return now() - start;
}

void row(const std::string& shape, const std::string& figure, const std::string& anchor, double ratio) {
    std::printf("ROW|%s|%s|%s|%.2f\n", shape.c_str(), figure.c_str(), anchor.c_str(), ratio);
    std::fflush(stdout);
}

std::string fmt(const char* format, double a, double b = 0) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

struct Measured {
    double seconds = 0;
    long maxRssKb = 0;
    int result = -1;
};

// The work runs in a child (its peak memory is its own); it may report the seconds of
// its measured part through *timed, else the whole child is timed.
double* g_timed = nullptr;

template <typename F>
Measured inChild(F work) {
    std::fflush(stdout);
    int fds[2];
    if (pipe(fds) != 0) return {};
    double start = now();
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        double timed = -1;
        g_timed = &timed;
        int result = work();
        if (write(fds[1], &timed, sizeof timed) != static_cast<ssize_t>(sizeof timed)) _exit(99);
        _exit(result);
    }
    close(fds[1]);
    double timed = -1;
    if (read(fds[0], &timed, sizeof timed) != static_cast<ssize_t>(sizeof timed)) timed = -1;
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    Measured m;
    m.seconds = timed >= 0 ? timed : now() - start;
    m.maxRssKb = usage.ru_maxrss;
    m.result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m;
}

// ---- formula ----

constexpr int kVars = 200000;

// Variable 1 is the universal, 2..kVars+1 the existentials, every one of them constant
// true in the certificate: each clause carries one positive existential literal.
void generateFormula(const std::string& path, long clauses) {
    std::FILE* fp = std::fopen(path.c_str(), "w");
    if (!fp) {
        std::printf("cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::fprintf(fp, "c 200,000 variables, random 3-literal clauses\np cnf %i %li\na 1 0\ne", kVars + 1, clauses);
    for (int x = 2; x <= kVars + 1; ++x) std::fprintf(fp, " %i", x);
    std::fprintf(fp, " 0\n");
    std::mt19937 rng(4242);
    char line[64];
    for (long c = 0; c < clauses; ++c) {
        int a = 2 + static_cast<int>(rng() % kVars);
        int b = 2 + static_cast<int>(rng() % kVars);
        int d = (rng() % 16 == 0) ? 1 : 2 + static_cast<int>(rng() % kVars);
        int n = std::snprintf(line, sizeof line, "%i %i %i 0\n", (rng() & 1) ? -b : b, a, (rng() & 1) ? -d : d);
        std::fwrite(line, 1, static_cast<std::size_t>(n), fp);
    }
    std::fclose(fp);
}

int checkFormula(const std::string& path) {
    int vars = kVars + 1;
    std::vector<int> univ{0, 1};
    std::vector<int> intToExt(static_cast<std::size_t>(vars) + 1);
    for (int i = 0; i <= vars; ++i) intToExt[i] = i;
    auto model = newReplayModel("bench", vars + 1, univ, intToExt, vars);
    for (int x = 2; x <= vars; ++x) {
        model->posBdd[x] = bdd::one();
        model->negBdd[x] = bdd::zero();
    }
    double start = now();
    int result = certification::validityCheck(*model, path, steps::silent());
    if (g_timed) *g_timed = now() - start;  // the check alone, without building the certificate
    return result;
}

// The bare scan: every integer of the file summed, read() in 1 MiB blocks.
double bareScan(const std::string& path) {
    double start = now();
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return 0;
    std::vector<char> buf(1 << 20);
    long sum = 0, value = 0;
    bool negative = false, inNumber = false;
    for (;;) {
        ssize_t n = read(fd, buf.data(), buf.size());
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            unsigned char c = static_cast<unsigned char>(buf[static_cast<std::size_t>(i)]);
            if (c >= '0' && c <= '9') {
                value = value * 10 + (c - '0');
                inNumber = true;
            } else {
                if (inNumber) sum += negative ? -value : value;
                inNumber = false;
                value = 0;
                negative = c == '-';
            }
        }
    }
    close(fd);
    double t = now() - start;
    if (sum == 42) std::printf(" ");
    return t;
}

int formulaShapes(const std::string& dir, bool small) {
    long clauses = small ? 500000 : 5000000;
    std::string plain = dir + "/hard.qdimacs";
    std::string packed = plain + ".gz";
    generateFormula(plain, clauses);
    if (shell("gzip -c '" + plain + "' > '" + packed + "'") != 0) return 1;
    double mb = static_cast<double>(fileSize(plain)) / 1e6;
    std::printf("formula: %li clauses over %i variables, %.1f MB (gzip %.1f MB)\n", clauses, kVars + 1, mb,
                static_cast<double>(fileSize(packed)) / 1e6);
    shell("cat '" + plain + "' '" + packed + "' > /dev/null");  // both in the page cache
    double scan = bareScan(plain);
    double wc = timeCommand("wc -w '" + plain + "' > /dev/null");
    double gz = timeCommand("gzip -dc '" + packed + "' > /dev/null");
    Measured p = inChild([&] { return checkFormula(plain); });
    Measured g = inChild([&] { return checkFormula(packed); });
    int failures = (p.result != 1) + (g.result != 1);
    row("validity plain, 200k vars 5M clauses", fmt("%.2f s %.0f MB/s", p.seconds, mb / p.seconds),
        fmt("bare scan %.2f s %.0f MB/s", scan, mb / scan), p.seconds / scan);
    row("validity plain, 200k vars 5M clauses", fmt("%.2f s %.0f MB/s", p.seconds, mb / p.seconds),
        fmt("wc -w %.2f s %.0f MB/s", wc, mb / wc), p.seconds / wc);
    row("validity gzip, 200k vars 5M clauses", fmt("%.2f s %.0f MB/s", g.seconds, mb / g.seconds),
        fmt("gzip -dc %.2f s", gz), g.seconds / gz);
    if (failures) std::printf("formula check FAILED (results %i %i)\n", p.result, g.result);
    std::remove(plain.c_str());
    std::remove(packed.c_str());
    return failures;
}

// ---- tiny-entry logs ----

std::string writerPath() { return std::string(PLUMEX_BUILD_DIR) + "/tools/plumex-logwriter/plumex-logwriter"; }

int reconstructLog(const std::string& path) {
    LogReaderPtr reader = logOpen(path);
    std::unique_ptr<QBModel> model = reconstructModel(*reader, {}, steps::silent());
    return model != nullptr ? 1 : 0;
}

int logShapes(const std::string& dir, bool small) {
    std::string formula = dir + "/tiny.qdimacs";
    bool found = false;
    for (int seed = 1; seed < 200 && !found; ++seed) {
        std::string gen = writerPath() + " gen --vars 20 --clauses 10 --blocks 4 --first e --seed " +
                          std::to_string(seed) + " -o " + formula;
        if (shell(gen) != 0) break;
        found = shell(writerPath() + " -q " + formula + " -o " + dir + "/probe") == 10 * 256;
    }
    if (!found) {
        std::printf("no true formula from the log writer (%s)\n", writerPath().c_str());
        return 1;
    }
    int failures = 0;
    std::vector<long> sizes = small ? std::vector<long>{10, 100} : std::vector<long>{100, 1024};
    for (const char* mode : {"text", "binary"}) {
        long rss[2] = {0, 0};
        for (int k = 0; k < 2; ++k) {
            std::string log = dir + "/tiny.Tobrin.log";
            std::string make = writerPath() + " -q " + formula + " --style search --mode " + mode +
                               " --padding tiny --size " + std::to_string(sizes[k]) + "M -o " + log;
            if (shell(make) != 10 * 256) {
                std::printf("cannot make a %ld MB %s log with the log writer\n", sizes[k], mode);
                ++failures;
                continue;
            }
            double mb = static_cast<double>(fileSize(log)) / 1e6;
            shell("cat '" + log + "' > /dev/null");
            double cat = timeCommand("cat '" + log + "' > /dev/null");
            Measured m = inChild([&] { return reconstructLog(log); });
            rss[k] = m.maxRssKb;
            if (m.result != 1) {
                std::printf("reconstruction of the %s log FAILED\n", mode);
                ++failures;
            }
            std::string shape = std::string("reconstruction ") + mode + " tiny " + std::to_string(sizes[k]) + " MB";
            row(shape, fmt("%.2f s %.0f MB/s", m.seconds, mb / m.seconds) + fmt(" RSS %.1f MB", m.maxRssKb / 1024.0),
                fmt("cat %.2f s %.0f MB/s", cat, mb / cat), m.seconds / cat);
            std::remove(log.c_str());
        }
        row(std::string("reconstruction ") + mode + " tiny RSS big/small", fmt("%.1f MB", rss[1] / 1024.0),
            fmt("%.1f MB", rss[0] / 1024.0), rss[0] > 0 ? static_cast<double>(rss[1]) / rss[0] : 0.0);
    }
    return failures;
}

// ---- DDDMP forest ----

// x_i == x_(i+k) for i < k in the identity order, with variations: about 3M file nodes.
constexpr int kHalf = 19;
double g_built = 0;

int dddmpShapes(bool small) {
    int half = small ? 15 : kHalf;
    std::FILE* files[2] = {std::tmpfile(), std::tmpfile()};
    const char modes[2] = {'B', 'A'};
    double store[2] = {0, 0};
    int nodes = 0;
    {
        bdd::Manager manager(2 * half);
        double built = now();
        bdd::Bdd eq = bdd::one();
        for (int i = half - 1; i >= 0; --i) eq &= !(bdd::ithVar(i) ^ bdd::ithVar(i + half));
        bdd::Bdd other = eq ^ bdd::ithVar(0) ^ bdd::ithVar(half + 3);
        std::vector<bdd::Bdd> roots = {eq, !eq, other, bdd::ithVar(5) & eq};
        // Operations on the big functions, as expression evaluation does them.
        bdd::Bdd mixed = (other | roots[3]) & !(eq & bdd::ithVar(half + 1));
        bdd::Bdd cube = bdd::positiveCube({1, 3, half + 2});
        bdd::Bdd gone = bdd::exist(mixed, cube) ^ bdd::exist(other, cube);
        built = now() - built;
        g_built = built;
        if (gone.isNull()) return 1;
        nodes = dddmp::sharingSize(roots);
        std::printf("forest: %d roots, %d file nodes, %d variables\n", static_cast<int>(roots.size()), nodes, 2 * half);
        for (int m = 0; m < 2; ++m) {
            dddmp::StoreOptions options;
            options.mode = modes[m];
            double start = now();
            if (!dddmp::storeArray(files[m], roots, options) || std::fflush(files[m]) != 0) {
                std::printf("store failed\n");
                return 1;
            }
            store[m] = now() - start;
        }
    }
    int failures = 0;
    row("bdd operations building the forest", fmt("%.3f s", g_built), fmt("store binary %.3f s", store[0]),
        g_built / store[0]);
    for (int m = 0; m < 2; ++m) {
        bdd::Manager manager(0);
        std::rewind(files[m]);
        double start = now();
        dddmp::LoadResult r = dddmp::loadArray(files[m], modes[m]);
        double t = now() - start;
        if (!r.ok()) {
            std::printf("load failed: %s\n", r.message().c_str());
            ++failures;
        }
        row(std::string("dddmp load ") + (modes[m] == 'B' ? "binary" : "text") + ", " + std::to_string(nodes) + " nodes",
            fmt("%.3f s", t), fmt("store %.3f s", store[m]), t / store[m]);
        std::fclose(files[m]);
    }
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    std::set<std::string> want;
    bool small = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--small") == 0)
            small = true;
        else
            want.insert(argv[i]);
    }
    if (want.empty()) want = {"formula", "log", "dddmp"};
    std::string dir = "/tmp/plumex-bench-hard-" + std::to_string(getpid());
    shell("mkdir -p " + dir);
    int failures = 0;
    if (want.count("formula")) failures += formulaShapes(dir, small);
    if (want.count("log")) failures += logShapes(dir, small);
    if (want.count("dddmp")) failures += dddmpShapes(small);
    shell("rm -rf " + dir);
    return failures == 0 ? 0 : 1;
}
