// Raw node numbers of the engine, for the codecs inside bdd/ whose walks are not plain
// DAG walks (the CNF store follows paths). Nothing outside bdd/ includes this header:
// everywhere else nodes are seen through handles or bdd::visitNodes.
#pragma once

#include "bdd/engine.h"

namespace bdd {

// A raw number identifies a node while a handle on it (or on an ancestor) lives. No
// reference is taken. The constants are 0 (false) and 1 (true); the rest are only for
// non-constant nodes.
struct RawNodes {
    static int of(const Bdd& f) {
        f.check();
        return f.node_;
    }
    static bool isConstant(int node) { return node <= 1; }
    static bool isFalse(int node) { return node == 0; }
    static int var(int node);
    static int low(int node);
    static int high(int node);
};

}  // namespace bdd
