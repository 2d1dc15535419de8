// QBM file writer and reader.
#include "files/qbm.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bdd/dddmp.h"
#include "files/output_file.h"
#include "inputs/input_kinds.h"

namespace {

constexpr const char* kVersion = "1.3";
// A countermodel's file: the version a reader that knows only certificates refuses, and a
// polarity line; its two variable lists name the inputs first, as in version 1.3.
constexpr const char* kPolarityVersion = "1.4";
constexpr const char* kCountermodel = "countermodel";
constexpr const char* kCertificate = "certificate";
// Header lines 1 to 5 are short; the formula line may hold a long path.
constexpr std::size_t kHeaderLine = 10000;
// Same bound as the solver log's numbering: far above any formula, and it keeps the
// external-number table of a hostile file small.
constexpr long kMaxExternal = 1L << 24;

bdd::Bdd functionOr0(const std::vector<bdd::Bdd>& table, int v) {
    return v < static_cast<int>(table.size()) && !table[v].isNull() ? table[v] : bdd::zero();
}

}  // namespace

Status writeQbm(QBModel& model, const std::string& path) {
    bool binary = model.dddmpMode == 'B';
    OutputFile out(path, "wb");
    if (!out.ok()) return out.commit();  // says why it could not be created
    std::FILE* fp = out.stream();
    bool counter = model.countermodel();
    std::fprintf(fp, "# QBM file, %s\n", counter ? kPolarityVersion : kVersion);
    if (counter) std::fprintf(fp, "# polarity: %s\n", kCountermodel);
    std::fprintf(fp, "# solver: %s\n", model.solver.c_str());
    std::fprintf(fp, "# formula: \"%s\"\n", model.formula.c_str());
    std::fprintf(fp, "# complete: %s\n", model.complete ? "YES" : "NO");
    std::fprintf(fp, "# dump format: %s\n", binary ? "binary" : "text");
    std::fprintf(fp, "# %ss[%i]: ", model.inputQuantifier(), model.numUniv);
    for (int k = 1; k <= model.numUniv; ++k) std::fprintf(fp, "%i ", model.intToExt[model.univVar[k]]);
    std::fputc('\n', fp);

    std::vector<int> existentials;
    std::vector<bdd::Bdd> roots;
    for (int v = 1; v < model.numVars; ++v) {
        if (model.univIndex[v] != 0 || !model.keeps(v)) continue;
        existentials.push_back(model.intToExt[v]);
        roots.push_back(functionOr0(model.posBdd, v));
        roots.push_back(functionOr0(model.negBdd, v));
    }
    std::fprintf(fp, "# %ss[%zu]: ", model.functionQuantifier(), existentials.size());
    for (int e : existentials) std::fprintf(fp, "%i ", e);
    std::fputc('\n', fp);

    dddmp::StoreOptions options;
    options.mode = binary ? 'B' : 'A';
    options.varInfo = dddmp::VarIds;
    if (!dddmp::storeArray(fp, roots, options)) out.fail();
    model.nodeCount = dddmp::sharingSize(roots);
    return out.commit();
}

namespace {

class QbmReader {
  public:
    explicit QbmReader(const std::string& path) : path_(path) {}
    ~QbmReader() {
        if (fp_) std::fclose(fp_);
    }
    ModelResult run();

  private:
    bool fail(const std::string& text) {
        if (error_.empty()) error_ = text;
        return false;
    }
    // One header line without its line end; false at the end of the file or when too long.
    bool line(std::string& out);
    // "# key..." with the key as given.
    bool headerLine(const char* key, std::string& rest);
    // "# name[%i]: " then that many numbers, then the line end.
    bool numberList(const char* name, std::vector<long>& numbers);
    long bytesLeft() const {
        long pos = std::ftell(fp_);
        return pos < 0 || size_ < pos ? 0 : size_ - pos;
    }

    const std::string& path_;
    std::FILE* fp_ = nullptr;
    long size_ = 0;
    std::string error_;
};

bool QbmReader::line(std::string& out) {
    out.clear();
    for (int c; (c = getc_unlocked(fp_)) != EOF;) {
        if (c == '\n') return true;
        if (out.size() >= kHeaderLine) return fail("header line too long");
        out.push_back(static_cast<char>(c));
    }
    return !out.empty() || fail("header cut short");
}

bool QbmReader::headerLine(const char* key, std::string& rest) {
    std::string text;
    if (!line(text)) return false;
    std::size_t n = std::strlen(key);
    if (text.compare(0, n, key) != 0) return fail(std::string("no \"") + key + "\" line");
    rest = text.substr(n);
    return true;
}

bool QbmReader::numberList(const char* name, std::vector<long>& numbers) {
    // Read from the stream directly: the lists of large certificates are long lines.
    std::string lead = std::string("# ") + name + "[";
    for (char want : lead)
        if (getc_unlocked(fp_) != want) return fail(std::string("no \"# ") + name + "\" line");
    long count = 0;
    int c = getc_unlocked(fp_);
    bool digits = false;
    while (c >= '0' && c <= '9') {
        if (count <= kMaxExternal) count = count * 10 + (c - '0');
        digits = true;
        c = getc_unlocked(fp_);
    }
    if (!digits || c != ']' || getc_unlocked(fp_) != ':') return fail(std::string("bad ") + name + " line");
    // Every listed number takes at least two bytes.
    if (count > bytesLeft() / 2) return fail(std::string("bad ") + name + " count");
    numbers.clear();
    numbers.reserve(static_cast<std::size_t>(count));
    c = getc_unlocked(fp_);
    for (long i = 0; i < count; ++i) {
        while (c == ' ' || c == '\t') c = getc_unlocked(fp_);
        long v = 0;
        bool any = false;
        while (c >= '0' && c <= '9') {
            if (v <= kMaxExternal) v = v * 10 + (c - '0');
            any = true;
            c = getc_unlocked(fp_);
        }
        if (!any || v < 1 || v > kMaxExternal) return fail(std::string("bad number in the ") + name + " line");
        numbers.push_back(v);
    }
    while (c == ' ' || c == '\t' || c == '\r') c = getc_unlocked(fp_);
    if (c != '\n') return fail(std::string("bad ") + name + " line");
    return true;
}

ModelResult QbmReader::run() {
    fp_ = std::fopen(path_.c_str(), "rb");
    if (!fp_) return Status::failure("cannot open \"" + path_ + "\"");
    struct stat st {};
    if (fstat(fileno(fp_), &st) == 0) size_ = static_cast<long>(st.st_size);

    auto word = [](const std::string& s) {
        std::size_t i = s.find_first_not_of(" \t");
        std::size_t j = s.find_last_not_of(" \t\r");
        return i == std::string::npos ? std::string() : s.substr(i, j - i + 1);
    };
    // The version is the first whitespace-delimited word, as the input-kind test reads it:
    // a trailing blank or a carriage return does not change it.
    auto firstWord = [](const std::string& s) {
        std::size_t i = s.find_first_not_of(" \t\r\v\f");
        if (i == std::string::npos) return std::string();
        return s.substr(i, s.find_first_of(" \t\r\v\f", i) - i);
    };
    std::string version, polarity, solver, formula, complete, format;
    std::vector<long> universals, existentials;
    bool header = headerLine("# QBM file, ", version) &&
                  (firstWord(version) == kVersion || firstWord(version) == kPolarityVersion ||
                   fail("unsupported QBM version \"" + firstWord(version) + "\""));
    bool counter = false;
    if (header && firstWord(version) == kPolarityVersion) {
        header = headerLine("# polarity:", polarity);
        counter = word(polarity) == kCountermodel;
        if (header && !counter && word(polarity) != kCertificate)
            header = fail("unknown polarity \"" + word(polarity) + "\"");
    }
    header = header && headerLine("#", solver) && headerLine("# formula:", formula) &&
             headerLine("# complete:", complete) && headerLine("# dump format:", format);
    if (header) {
        // The formula's words, joined by single blanks, between double quotes.
        std::string joined;
        for (std::size_t i = 0; i < formula.size();) {
            while (i < formula.size() && (formula[i] == ' ' || formula[i] == '\t' || formula[i] == '\r')) ++i;
            std::size_t j = i;
            while (j < formula.size() && formula[j] != ' ' && formula[j] != '\t' && formula[j] != '\r') ++j;
            if (j > i) {
                if (!joined.empty()) joined += ' ';
                joined += formula.substr(i, j - i);
            }
            i = j;
        }
        if (joined.size() < 2 || joined.front() != '"' || joined.back() != '"')
            header = fail("bad formula line");
        formula = header ? joined.substr(1, joined.size() - 2) : "";
    }
    char mode = 0;
    if (header) {
        std::string f = word(format);
        if (f == "binary")
            mode = 'B';
        else if (f == "text")
            mode = 'A';
        else
            header = fail("unknown dump format \"" + f + "\"");
    }
    // The inputs' list comes first: the universals of a certificate, the existentials of a
    // countermodel. In the tables below they keep the certificate's names.
    const char* inputs = counter ? "existentials" : "universals";
    const char* functions = counter ? "universals" : "existentials";
    header = header && numberList(inputs, universals) && numberList(functions, existentials);
    if (!header) return Status::failure(error_);

    int numUniv = static_cast<int>(universals.size());
    int numExist = static_cast<int>(existentials.size());
    long maxExt = 0;
    for (long e : universals) maxExt = std::max(maxExt, e);
    for (long e : existentials) maxExt = std::max(maxExt, e);

    auto model = std::make_unique<QBModel>();
    if (counter) model->polarity = Polarity::False;
    model->manager = std::make_unique<bdd::Manager>(numUniv + 1, inputs::fileBytes(path_));
    int numVars = numExist + numUniv + 1;
    allocateModelTables(*model, numVars, numUniv, static_cast<int>(maxExt), false);
    model->formula = formula;
    model->dddmpMode = mode;
    // "solver: NAME": kept so that a certificate read back is written with its origin.
    if (solver.rfind(" solver:", 0) == 0 && !firstWord(solver.substr(8)).empty()) model->solver = firstWord(solver.substr(8));
    model->complete = word(complete) == "YES" ? 1 : 0;
    model->numExist = numExist;
    for (int k = 1; k <= numExist; ++k) {
        int e = static_cast<int>(existentials[k - 1]);
        if (model->extToInt[e] != 0) return Status::failure("variable " + std::to_string(e) + " listed twice");
        model->extToInt[e] = k;
        model->intToExt[k] = e;
        model->existVar[k] = k;
        model->existPos[k] = k;
    }
    for (int k = 1; k <= numUniv; ++k) {
        int e = static_cast<int>(universals[k - 1]);
        int v = numExist + k;
        if (model->extToInt[e] != 0) return Status::failure("variable " + std::to_string(e) + " listed twice");
        model->extToInt[e] = v;
        model->intToExt[v] = e;
        model->univVar[k] = v;
        model->univIndex[v] = k;
    }

    dddmp::LoadResult loaded = dddmp::loadArray(fp_, mode, -1, dddmp::LoadOrder::File);
    if (!loaded.ok()) return Status::failure("bad forest: " + loaded.message());
    // The first 2E roots are the certificate; a forest with more carries extra roots,
    // which are dropped. Too few cannot make a certificate.
    if (loaded->size() < 2 * static_cast<std::size_t>(numExist))
        return Status::failure("the forest has " + std::to_string(loaded->size()) + " roots for " +
                               std::to_string(numExist) + " " + functions);
    loaded->resize(2 * static_cast<std::size_t>(numExist));
    // Every function must be one of the universals alone.
    std::vector<int> universalIndices;
    for (int k = 1; k <= numUniv; ++k) universalIndices.push_back(k);
    bdd::Bdd all = bdd::positiveCube(std::move(universalIndices));
    for (const bdd::Bdd& root : *loaded) {
        if (!bdd::exist(root, all).isConstant())
            return Status::failure(std::string("the forest uses variables that are no ") + inputs);
    }
    model->nodeCount = dddmp::sharingSize(*loaded);
    for (int k = 1; k <= numExist; ++k) {
        model->posBdd[k] = std::move((*loaded)[2 * (k - 1)]);
        model->negBdd[k] = std::move((*loaded)[2 * (k - 1) + 1]);
    }
    for (int v = numExist + 1; v < numVars; ++v) {
        model->posBdd[v] = bdd::zero();
        model->negBdd[v] = bdd::zero();
    }
    // A certificate read back carries no dependency information.
    model->allUnivCube = bdd::Bdd();
    return model;
}

}  // namespace

ModelResult readQbm(const std::string& path) { return QbmReader(path).run(); }
