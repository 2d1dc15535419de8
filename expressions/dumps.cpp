// Expression result dumps. The universal variables are named after their numbers in the
// formula throughout: DDDMP auxiliary ids, CNF variable ids and "a%i" DOT input names.
#include "expressions/dumps.h"

#include <cstdio>

#include "bdd/dddmp.h"
#include "expressions/parser.h"
#include "files/output_file.h"
#include "inputs/input_kinds.h"

namespace {

constexpr std::size_t kHeaderText = 1000;  // expression texts in headers: at most 999 characters

std::string expressionText(const ExpList& list, int index, bool withResults) {
    char text[kHeaderText];
    expFormatList(text, sizeof text, &list, index, withResults);
    return text;
}

bool determined(const ExpValue& v) { return v.trueBdd == !v.falseBdd; }

// Closes the file's step: the plain form when the file is in place, else the failure.
bool commitAndClose(OutputFile& file, steps::Reporter& reporter) {
    Status committed = file.commit();
    if (committed)
        reporter.close();
    else
        reporter.close(committed.message());
    return committed.ok();
}

void writeHeader(OutputFile& file, const char* banner, const std::string& base, const std::string& expression) {
    std::FILE* fp = file.stream();
    std::fputs(banner, fp);
    std::fprintf(fp, "c QBModel: %s\n", base.c_str());
    std::fputs("c Expression: ", fp);
    std::fprintf(fp, "%s\n", expression.c_str());
}

void storeRoots(OutputFile& file, const QBModel& model, const std::string& base, const std::vector<bdd::Bdd>& roots,
                const std::vector<std::string>& names, char mode) {
    dddmp::StoreOptions options;
    options.mode = mode;
    options.varInfo = dddmp::VarNames;
    options.ddName = base.c_str();
    options.rootNames = names;
    options.auxIds = expUniversalIds(model);
    if (options.mode == 'A') {
        // A text dump announces variable names (".varinfo 3"), and the reader takes the
        // form of the node lines from that announcement alone: without names the lines
        // would lack the field it expects. So text dumps carry the universals' names,
        // "a" and the formula number; binary dumps have one node form and stay as they are.
        options.varNames.reserve(options.auxIds.size());
        for (int id : options.auxIds) options.varNames.push_back(model.inputLetter() + std::to_string(id));
    }
    if (!dddmp::storeArray(file.stream(), roots, options)) file.fail();
}

bool writeDot(const QBModel& model, const std::string& path, const std::vector<bdd::Bdd>& roots,
              const std::vector<std::string>& names, steps::Reporter& reporter) {
    OutputFile file(path, "w");
    if (!file.ok()) return commitAndClose(file, reporter);  // says why it could not be created
    std::vector<int> ids = expUniversalIds(model);
    std::vector<std::string> inputs(ids.size());
    // BDD variable 0 stands for no universal (and is in no support): it keeps no name.
    for (int j = 1; j <= model.numUniv && j < static_cast<int>(ids.size()); ++j) inputs[j] = model.inputLetter() + std::to_string(ids[j]);
    if (!dddmp::dumpDot(file.stream(), roots, inputs, names)) file.fail();
    return commitAndClose(file, reporter);
}

std::string quotedTitle(const char* what, const std::string& path) { return std::string(what) + "\"" + path + "\""; }

}  // namespace

std::vector<int> expUniversalIds(const QBModel& model) {
    int size = model.manager ? model.manager->size() : 0;
    if (size < model.numUniv + 1) size = model.numUniv + 1;
    std::vector<int> ids(static_cast<std::size_t>(size), 0);
    for (int j = 1; j <= model.numUniv && j < static_cast<int>(model.univVar.size()); ++j) {
        int internal = model.univVar[j];
        if (internal > 0 && internal < static_cast<int>(model.intToExt.size())) ids[j] = model.intToExt[internal];
    }
    return ids;
}

int expCollectRoots(const QBModel&, const ExpList& list, std::vector<bdd::Bdd>& roots, std::vector<std::string>& names) {
    roots.clear();
    names.clear();
    for (int k = 0; k < list.count && k < static_cast<int>(list.values.size()); ++k) {
        const ExpValue& v = list.values[k];
        if (v.missing()) continue;
        std::string e = expressionText(list, k, false);
        roots.push_back(v.trueBdd);
        names.push_back(e);
        if (!determined(v)) {
            roots.push_back(v.falseBdd);
            names.push_back("!" + e);
        }
    }
    return static_cast<int>(roots.size());
}

bool expDumpBdd(const QBModel& model, const ExpList& list, const std::string& base, const ExpDumpOptions& options,
                steps::Reporter& reporter) {
    bool ok = true;
    if (options.singleBddFile) {
        std::string path = inputs::expDumpName(base, 0, 1, inputs::ExpDump::Bdd);
        reporter.open(quotedTitle("BDD representation: ", path));
        std::vector<bdd::Bdd> roots;
        std::vector<std::string> names;
        expCollectRoots(model, list, roots, names);
        OutputFile file(path, "w");
        if (!file.ok()) return commitAndClose(file, reporter);  // says why it could not be created
        writeHeader(file, "c Tobrin BDD expression dump file\n", base, expressionText(list, -1, true));
        std::fputs("c\n", file.stream());
        storeRoots(file, model, base, roots, names, options.dddmpMode);
        return commitAndClose(file, reporter);
    }
    for (int k = 0; k < list.count && k < static_cast<int>(list.values.size()); ++k) {
        const ExpValue& v = list.values[k];
        std::string path = inputs::expDumpName(base, k, list.count, inputs::ExpDump::Bdd);
        reporter.open(quotedTitle("BDD representation: ", path));
        OutputFile file(path, "w");
        if (!file.ok()) {
            commitAndClose(file, reporter);  // says why it could not be created
            ok = false;
            continue;
        }
        std::string e = expressionText(list, k, false);
        writeHeader(file, "c Tobrin BDD expression dump file\n", base, e);
        std::FILE* fp = file.stream();
        if (v.missing()) {
            file.fail();
        } else if (v.falseBdd.isOne()) {
            std::fputs("c\nc NOTE: the expression is always FALSE\nc\n", fp);
        } else if (v.trueBdd.isOne()) {
            std::fputs("c\nc NOTE: the expression is always TRUE\nc\n\n", fp);
        } else {
            std::fputs("c\n", fp);
            std::fflush(fp);
            storeRoots(file, model, base, {v.trueBdd, v.falseBdd}, {e, "!" + e}, options.dddmpMode);
        }
        ok &= commitAndClose(file, reporter);
    }
    return ok;
}

bool expDumpCnf(const QBModel& model, const ExpList& list, const std::string& base, steps::Reporter& reporter) {
    bool ok = true;
    for (int k = 0; k < list.count && k < static_cast<int>(list.values.size()); ++k) {
        const ExpValue& v = list.values[k];
        if (v.missing()) continue;
        std::string e = expressionText(list, k, false);
        bool split = !determined(v);
        for (int pass = 0; pass < (split ? 2 : 1); ++pass) {
            const bdd::Bdd& f = pass == 0 ? v.trueBdd : v.falseBdd;
            std::string text = pass == 0 ? e : "!" + e;
            std::string suffix = split ? (pass == 0 ? "true" : "false") : "";
            std::string path = inputs::expDumpName(base, k, list.count, inputs::ExpDump::Cnf, suffix);
            reporter.open(quotedTitle("CNF representation: ", path));
            OutputFile file(path, "w");
            if (!file.ok()) {
                ok &= commitAndClose(file, reporter);  // says why it could not be created
                continue;
            }
            std::FILE* fp = file.stream();
            std::fputs("c Tobrin CNF expression dump file\n", fp);
            std::fprintf(fp, "c QBModel: %s\n", base.c_str());
            std::fprintf(fp, "c Expression: %s\n", text.c_str());
            if (f.isZero()) {
                // The library writes no clause for a constant, which would make the
                // constant 0 read as true: one empty clause says it.
                std::fputs("c\nc NOTE: the expression is always FALSE\nc\np cnf 1 1\n0\n", fp);
            } else if (f.isOne()) {
                std::fputs("c\nc NOTE: the expression is always TRUE\nc\np cnf 0 0\n", fp);
            } else {
                std::fputs("c\n", fp);
                std::fflush(fp);
                int clauses = 0;
                int newVars = 0;
                if (!dddmp::storeCnfMaxterm(fp, f, expUniversalIds(model), &clauses, &newVars)) file.fail();
            }
            ok &= commitAndClose(file, reporter);
        }
    }
    return ok;
}

bool expDumpDot(const QBModel& model, const ExpList& list, const std::string& base, const ExpDumpOptions& options,
                steps::Reporter& reporter) {
    bool ok = true;
    if (options.singleDotFile) {
        std::string path = inputs::expDumpName(base, 0, 1, inputs::ExpDump::Dot);
        reporter.open(quotedTitle("DOT representation: ", path));
        std::vector<bdd::Bdd> roots;
        std::vector<std::string> names;
        expCollectRoots(model, list, roots, names);
        return writeDot(model, path, roots, names, reporter);
    }
    for (int k = 0; k < list.count && k < static_cast<int>(list.values.size()); ++k) {
        const ExpValue& v = list.values[k];
        std::string path = inputs::expDumpName(base, k, list.count, inputs::ExpDump::Dot);
        reporter.open(quotedTitle("DOT representation: ", path));
        if (v.missing()) {
            reporter.close("cannot write \"" + path + "\"");
            ok = false;
            continue;
        }
        std::string e = expressionText(list, k, false);
        if (determined(v))
            ok &= writeDot(model, path, {v.trueBdd}, {e}, reporter);
        else
            ok &= writeDot(model, path, {v.trueBdd, v.falseBdd}, {e, "!" + e}, reporter);
    }
    return ok;
}

bool expDumpDirect(const QBModel&, const ExpList& list, const std::string& base, steps::Reporter& reporter) {
    std::string path = inputs::expDumpName(base, 0, 1, inputs::ExpDump::Direct);
    reporter.open(quotedTitle("Direct expression result: ", path));
    OutputFile file(path, "w");
    if (!file.ok()) return commitAndClose(file, reporter);  // says why it could not be created
    std::fprintf(file.stream(), "%s\n", expressionText(list, -1, true).c_str());
    return commitAndClose(file, reporter);
}

bool expDumpList(const QBModel& model, const ExpList& list, const std::string& base, const ExpDumpOptions& options,
                 steps::Reporter& reporter) {
    bool ok = true;
    if (!list.direct()) {
        if (options.bdd) ok &= expDumpBdd(model, list, base, options, reporter);
        if (options.cnf) ok &= expDumpCnf(model, list, base, reporter);
        if (options.dot) ok &= expDumpDot(model, list, base, options, reporter);
    } else if (options.direct) {
        ok &= expDumpDirect(model, list, base, reporter);
    }
    return ok;
}
