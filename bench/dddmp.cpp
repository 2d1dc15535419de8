// DDDMP store and load speed on a forest of more than a million nodes, text and binary.
// Prints nodes per second for each of the four directions.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bdd/dddmp.h"
#include "bdd/engine.h"

namespace {

// x_i == x_(i+k) for i < k in the identity order: about 3 * 2^k nodes.
constexpr int kHalf = 19;

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main() {
    std::FILE* files[2] = {std::tmpfile(), std::tmpfile()};
    const char modes[2] = {'B', 'A'};
    int nodes = 0;
    {
        bdd::Manager manager(2 * kHalf);
        bdd::Bdd eq = bdd::one();
        for (int i = kHalf - 1; i >= 0; --i) eq &= !(bdd::ithVar(i) ^ bdd::ithVar(i + kHalf));
        bdd::Bdd other = eq ^ bdd::ithVar(0) ^ bdd::ithVar(kHalf + 3);
        std::vector<bdd::Bdd> roots = {eq, !eq, other, bdd::ithVar(5) & eq};
        nodes = dddmp::sharingSize(roots);
        std::printf("forest: %d roots, %d nodes (%ld engine nodes live)\n", static_cast<int>(roots.size()), nodes,
                    manager.liveNodes());
        for (int m = 0; m < 2; ++m) {
            dddmp::StoreOptions options;
            options.mode = modes[m];
            auto start = std::chrono::steady_clock::now();
            if (!dddmp::storeArray(files[m], roots, options)) {
                std::printf("store failed\n");
                return 1;
            }
            double t = seconds(start);
            std::printf("store %c: %8.3f s  %12.0f nodes/s  (%ld bytes)\n", modes[m], t, nodes / t, std::ftell(files[m]));
        }
    }
    for (int m = 0; m < 2; ++m) {
        bdd::Manager manager(0);
        std::rewind(files[m]);
        auto start = std::chrono::steady_clock::now();
        dddmp::LoadResult r = dddmp::loadArray(files[m], modes[m]);
        double t = seconds(start);
        if (!r.ok()) {
            std::printf("load failed: %s\n", r.message().c_str());
            return 1;
        }
        // The engine has no complement edges: a file node used in both polarities
        // becomes two engine nodes.
        std::printf("load  %c: %8.3f s  %12.0f nodes/s  (%d roots, %.0f engine nodes/s)\n", modes[m], t, nodes / t,
                    static_cast<int>(r->size()), static_cast<double>(manager.liveNodes()) / t);
        std::fclose(files[m]);
    }
    std::fflush(stdout);
    return 0;
}
