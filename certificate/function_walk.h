// The walk the builders of the extraction's functions share (certificate/function_build.h):
// at each position of the order, the function of its variable from the entries there, then
// the conditions of the steps with a literal there. Internal to the builders.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "certificate/function_build.h"

namespace extraction {

// The entries at a position: its literals that were removed, in step order. A domain
// walks them with forEntry.
using Entries = std::span<const Code>;

template <typename Each>
inline void forEntry(Entries codes, Each&& each) {
    for (const Code& c : codes)
        if (c.removed && !each(c)) break;
}

// Set bits of x (a bit trick: the engine's own build has no population count instruction).
inline int countBits(std::uint64_t x) {
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0full;
    return static_cast<int>((x * 0x0101010101010101ull) >> 56);
}

// The walk every builder shares. At each position: the function of its variable from
// the entries there (unless it is an input), then the conditions of the steps with a
// literal there, extended by it (or let go, where it was the step's last). A domain
// returns false to stop the walk.
template <typename Domain>
inline bool walk(EntryProgram& program, const Order& o, Domain& d, bool release, const Progress& progress) {
    std::vector<Code> codes;
    const double total = static_cast<double>(std::max<std::size_t>(program.codes(), 1));
    std::size_t done = 0;
    for (int p = 1; p <= program.positions(); ++p) {
        int v = o.byPos[static_cast<std::size_t>(p)];
        program.take(p, codes, release);
        if (!o.input[static_cast<std::size_t>(v)] && !d.function(v, p, Entries(codes))) return false;
        for (const Code& c : codes) {
            if (c.last)
                d.release(c.step);
            else if (!d.extend(c.step, v, c.positive))
                return false;
        }
        done += codes.size();
        if (progress && !codes.empty()) progress(static_cast<double>(done) / total);
    }
    return true;
}

// Every variable with a function gets one, also without entries (false).
inline void completeFunctions(QBModel& m, const Order& o) {
    for (int v = 1; v <= o.maxVar(); ++v) {
        if (o.input[static_cast<std::size_t>(v)]) continue;
        if (m.posBdd[static_cast<std::size_t>(v)].isNull()) m.posBdd[static_cast<std::size_t>(v)] = bdd::zero();
        m.negBdd[static_cast<std::size_t>(v)] = !m.posBdd[static_cast<std::size_t>(v)];
    }
}

}  // namespace extraction
