// The complement-edge form of the DDDMP files, computed from the engine's nodes.
//
// The engine has two terminals and no complement edges; the files have one constant
// and complemented else-edges and roots. A function g is a regular node when it is 1
// at the all-ones assignment; otherwise it is the complemented pointer to the node of
// not g. Merging every node with its negation's node yields exactly the files' nodes,
// numbered as the reference library does: roots in order, depth-first post-order,
// then-child first, the constant always node 1.
#pragma once

#include <vector>

#include "bdd/engine.h"

namespace dddmp::detail {

struct Form {
    int nnodes = 0;
    // Per node number k = 1..nnodes (slot 0 unused). The constant is node 1, var -1.
    std::vector<int> var;       // variable index
    std::vector<int> thenNode;  // always a plain node number
    std::vector<int> elseNode;  // negative when the else-edge is complemented
    std::vector<int> rootIds;   // one signed node number per root
    // Support: indices of the variables of the nodes, increasing, and each support
    // variable's position (its rank by level among the support), by index (-1 when
    // the variable is not in the support).
    std::vector<int> support;
    std::vector<int> positionOf;
    std::vector<int> byPosition;  // support indices in level order
};

// Roots must not be null. Only the node part when withSupport is false.
Form buildForm(const std::vector<bdd::Bdd>& roots, bool withSupport = true);

}  // namespace dddmp::detail
