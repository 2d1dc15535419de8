#include "pipeline/settings.h"

namespace {
Settings g_settings;
}

const Settings& settings() { return g_settings; }
Settings& scanSettings() { return g_settings; }

int varCount() { return static_cast<int>(g_settings.varLow.size()); }

void setCheck(int value) { g_settings.check = value; }
void setDumpQbmBdd(int value) { g_settings.dumpQbmBdd = value; }
void setDumpExpBdd(int value) { g_settings.dumpExpBdd = value; }
void setDddmpMode(int mode) { g_settings.dddmpMode = mode; }
void enterReconstructionPhase() { g_settings.reconstructionPhase = 1; }
void leaveReconstructionPhase() { g_settings.reconstructionPhase = 0; }

bool anyQbmDump() { return g_settings.dumpQbmBdd || g_settings.dumpQbmDot; }
bool anyExpDump() { return g_settings.dumpExpBdd || g_settings.dumpExpDot || g_settings.dumpExpCnf; }
bool anyDump() {
    return g_settings.dumpQdc || anyQbmDump() || anyExpDump() || g_settings.dumpAag || g_settings.dumpAig;
}
int reorderCurrent() {
    return g_settings.reconstructionPhase ? g_settings.reorderReconstruction : g_settings.reorderFinal;
}

int reorderMethodForUserNumber(int h) {
    // LINEAR (18) cannot be chosen: the numbers skip it.
    if (h < 0 || h > 19) return -1;
    return h <= 16 ? h + 1 : h + 2;
}

std::string reportFileSuffix() {
    if (!g_settings.batchMode || g_settings.shardCount <= 0) return "";
    return ".shard" + std::to_string(g_settings.shardIndex) + "of" + std::to_string(g_settings.shardCount);
}
