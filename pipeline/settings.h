// The settings store: every option of a run as a process-wide value. The command-line
// scan writes it; a few values are raised or switched later through the named setters.
// A forked child works on its own copy.
#pragma once

#include <string>
#include <vector>

struct ExpList;

struct Settings {
    std::string inputPath;
    int batchMode = 0;
    int timeout = 0;
    int verbosity = -1;
    std::string qbfPath;
    ExpList* expressions = nullptr;  // owned; lives until the process ends
    std::string expressionFile;
    int check = 0;
    int report = 0;
    int giveup = 0;
    int autoGiveup = 0;
    int removeLog = 0;
    int removeQbm = 0;
    int dumpQbmBdd = 0;
    int dumpQbmDot = 0;
    int dumpExpBdd = 0;
    int dumpExpDot = 0;
    int dumpExpCnf = 0;
    int dumpDirExp = 0;
    int dumpQdc = 0;
    int dumpAag = 0;  // AIGER exports, beyond the classic items
    int dumpAig = 0;
    int singleExpBddFile = 1;
    int singleExpDotFile = 1;
    std::vector<int> varLow;   // "-var" intervals, in order of appearance
    std::vector<int> varHigh;
    int reorderReconstruction = 14;  // reference-library method numbers (GROUP_SIFT)
    int reorderFinal = 1;            // NONE
    int reconstructionPhase = 1;
    int dddmpMode = 'B';
    int jobs = 1;        // "-j": batch children at once; 0 stands for the processors the run may use
    int shardIndex = 0;  // "-shard K/N": this run takes instance i when i mod N = K
    int shardCount = 0;  // 0: no "-shard" given
    int memoryMB = 0;    // "-mem": address space of each instance's process (0: no limit)
    std::string recordPath;  // "-record": the outcome record of a batch run
    std::string resumePath;  // "-resume": the record whose final outcomes a batch run takes
    int progress = 0;        // "-progress": 0 auto, 1 off, 2 terminal, 3 lines every progressSeconds
    int progressSeconds = 60;
    int summary = 0;         // "-summary": the summary at the end of a batch run
};

// Read access for every Part.
const Settings& settings();
// Write access for the command-line scan only.
Settings& scanSettings();

int varCount();

void setCheck(int value);
void setDumpQbmBdd(int value);
void setDumpExpBdd(int value);
void setDddmpMode(int mode);  // 'A' or 'B'
void enterReconstructionPhase();
void leaveReconstructionPhase();

bool anyQbmDump();
bool anyExpDump();
bool anyDump();
int reorderCurrent();

// What the report files of this run append to their names: ".shardKofN" for a shard of
// a batch run, else nothing.
std::string reportFileSuffix();

// "-hbdd" user number 0..19 to the reference library's method number, -1 when out of range.
int reorderMethodForUserNumber(int h);
