// AIGER export against the QBM file on a certificate of about a million BDD nodes: wall
// time of writeQbm (both DDDMP modes), writeAag and writeAig, best of three, and the
// ratio of each export to the QBM file of the same mode.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bdd/dddmp.h"
#include "certificate/reconstruct.h"
#include "files/aiger.h"
#include "files/qbm.h"
#include "pipeline/settings.h"

namespace {

// x_i == x_(i+k) for i < k, universals 1..2k in the identity order: about 3 * 2^k nodes.
constexpr int kHalf = 17;

template <typename Write>
double best(Write write) {
    double t = 1e30;
    for (int r = 0; r < 3; ++r) {
        auto start = std::chrono::steady_clock::now();
        if (Status written = write(); !written) {
            std::printf("write failed: %s\n", written.message().c_str());
            std::exit(1);
        }
        t = std::min(t, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return t;
}

long size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

}  // namespace

int main() {
    const int univ = 2 * kHalf;
    const int numVars = univ + 5;
    std::vector<int> universals{0}, intToExt{0};
    for (int k = 1; k <= univ; ++k) universals.push_back(k);
    for (int v = 1; v < numVars; ++v) intToExt.push_back(v);
    auto m = newReplayModel("bench.qdimacs", numVars, universals, intToExt, numVars - 1);
    bdd::Bdd eq = bdd::one();
    for (int i = kHalf; i >= 1; --i) eq &= !(bdd::ithVar(i) ^ bdd::ithVar(i + kHalf));
    bdd::Bdd other = eq ^ bdd::ithVar(1) ^ bdd::ithVar(kHalf + 4);
    bdd::Bdd fns[4] = {eq, other, bdd::ithVar(6) & eq, eq | bdd::ithVar(2 * kHalf)};
    for (int e = 0; e < 4; ++e) {
        m->posBdd[univ + 1 + e] = fns[e];
        m->negBdd[univ + 1 + e] = !fns[e];
    }
    char dir[] = "/tmp/plumex-bench-aiger-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::string base = std::string(dir) + "/c";
    double qbm[2];
    const char modes[2] = {'A', 'B'};
    for (int k = 0; k < 2; ++k) {
        m->dddmpMode = modes[k];
        qbm[k] = best([&] { return writeQbm(*m, base + ".qbm"); });
        std::printf("QBM %c: %7.3f s  %10ld bytes  (%ld nodes)\n", modes[k], qbm[k], size(base + ".qbm"),
                    m->nodeCount);
    }
    double aag = best([&] { return writeAag(*m, base + ".aag"); });
    double aig = best([&] { return writeAig(*m, base + ".aig"); });
    std::printf("aag:   %7.3f s  %10ld bytes  ratio to QBM text %.2f, to QBM binary %.2f\n", aag,
                size(base + ".aag"), aag / qbm[0], aag / qbm[1]);
    std::printf("aig:   %7.3f s  %10ld bytes  ratio to QBM text %.2f, to QBM binary %.2f\n", aig,
                size(base + ".aig"), aig / qbm[0], aig / qbm[1]);
    std::printf("engine nodes live: %ld\n", m->manager->liveNodes());
    for (const char* ext : {".qbm", ".aag", ".aig"}) std::remove((base + ext).c_str());
    rmdir(dir);
    std::fflush(stdout);
    return 0;
}
