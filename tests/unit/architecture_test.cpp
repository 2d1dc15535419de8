// The layers of ARCHITECTURE.md hold: every quoted include of a product folder names a
// header of the same folder or of a folder its row lists under "may use"; only bdd/
// includes the BDD package's header or sees the engine's raw node numbers
// (bdd/engine_raw.h); only certification/sat_solver.cpp includes the SAT solver's header;
// only the top three folders use the step display directly (the rest report through the
// reporter they are handed). The table is read from the document itself, so the two
// cannot drift apart.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/run.h"

namespace {

namespace fs = std::filesystem;

const std::set<std::string> kDisplayUsers = {"runcontrol", "framework", "pipeline"};

// Folder -> the folders it may use, from the table's rows "| `folder/` | what | `a/` `b/` |".
std::map<std::string, std::set<std::string>> layers(const std::string& document) {
    std::map<std::string, std::set<std::string>> table;
    std::istringstream in(document);
    const std::regex row(R"(^\| `([a-z]+)/` \|[^|]*\|([^|]*)\|\s*$)");
    const std::regex folder("`([a-z]+)/`");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, row)) continue;
        std::set<std::string>& uses = table[m[1]];
        std::string rest = m[2];
        for (std::sregex_iterator it(rest.begin(), rest.end(), folder), end; it != end; ++it) uses.insert((*it)[1]);
    }
    return table;
}

struct Include {
    std::string file;
    int line;
    std::string target;
};

std::vector<Include> includes(const fs::path& root, const std::string& folder) {
    std::vector<Include> found;
    const std::regex quoted(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
    for (const auto& entry : fs::directory_iterator(root / folder)) {
        std::string ext = entry.path().extension();
        if (ext != ".cpp" && ext != ".h") continue;
        std::ifstream in(entry.path());
        int n = 0;
        for (std::string line; std::getline(in, line);) {
            ++n;
            std::smatch m;
            if (std::regex_search(line, m, quoted))
                found.push_back({folder + "/" + entry.path().filename().string(), n, m[1].str() + m[2].str()});
        }
    }
    return found;
}

TEST(Architecture, IncludesFollowTheLayers) {
    const fs::path root = testsupport::sourceDir();
    auto table = layers(testsupport::readFile(root / "ARCHITECTURE.md"));
    ASSERT_GE(table.size(), 10u) << "the layer table of ARCHITECTURE.md was not found";
    std::vector<std::string> problems;
    for (const auto& [folder, uses] : table) {
        ASSERT_TRUE(fs::is_directory(root / folder)) << folder;
        for (const Include& inc : includes(root, folder)) {
            if (inc.target == "<bdd.h>" && folder != "bdd")
                problems.push_back(inc.file + ":" + std::to_string(inc.line) + " includes the BDD package");
            if (inc.target == "<cadical.hpp>" && inc.file != "certification/sat_solver.cpp")
                problems.push_back(inc.file + ":" + std::to_string(inc.line) + " includes the SAT solver");
            if (inc.target[0] != '"') continue;
            std::string path = inc.target.substr(1);
            if (path == "outcomes/steps.h" && !kDisplayUsers.count(folder) && folder != "outcomes")
                problems.push_back(inc.file + ":" + std::to_string(inc.line) +
                                   " uses the step display instead of a reporter it is handed");
            if (path == "bdd/engine_raw.h" && folder != "bdd")
                problems.push_back(inc.file + ":" + std::to_string(inc.line) + " uses the engine's raw node numbers");
            std::size_t slash = path.find('/');
            if (slash == std::string::npos) continue;
            std::string to = path.substr(0, slash);
            if (to == folder || !table.count(to)) continue;
            if (!uses.count(to))
                problems.push_back(inc.file + ":" + std::to_string(inc.line) + " includes " + path + ", but " + folder +
                                   "/ may not use " + to + "/");
        }
    }
    std::string all;
    for (const std::string& p : problems) all += p + "\n";
    EXPECT_TRUE(problems.empty()) << all;
}

// The table itself is a layering: no folder may use, through any chain, itself.
TEST(Architecture, TheLayerTableHasNoCycle) {
    auto table = layers(testsupport::readFile(fs::path(testsupport::sourceDir()) / "ARCHITECTURE.md"));
    for (const auto& [start, uses] : table) {
        std::set<std::string> seen;
        std::vector<std::string> todo(uses.begin(), uses.end());
        while (!todo.empty()) {
            std::string f = todo.back();
            todo.pop_back();
            ASSERT_NE(f, start) << start << "/ reaches itself";
            if (!seen.insert(f).second || !table.count(f)) continue;
            todo.insert(todo.end(), table[f].begin(), table[f].end());
        }
    }
}

}  // namespace
