// Expression-file mode. A parsed line comes out as the expression as written, " = ",
// the results text, one blank and the rest of the line; a line that is no expression
// text is copied unchanged; a line of 1,023 characters or more ends the processing.
#include "expressions/expression_file.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "expressions/dumps.h"
#include "expressions/evaluate.h"
#include "expressions/parser.h"
#include "files/output_file.h"
#include "inputs/block_input.h"
#include "inputs/input_kinds.h"

namespace {

constexpr int kLineBuffer = 1024;

struct ListDeleter {
    void operator()(ExpList* list) const { expListFree(list); }
};

}  // namespace

Status expEvaluateFile(const QBModel& model, const std::string& fileName, const ExpFileOptions& options,
                       steps::Reporter& reporter) {
    const ExpDumpOptions& dumps = options.dumps;
    // Lines as zlib's gzgets cuts them with its default buffer, from large blocks.
    inputs::LineReader in(kLineBuffer, 8192);
    if (!in.open(fileName)) return Status::failure("cannot read \"" + fileName + "\"");
    std::string resultName = inputs::resultName(fileName);
    OutputFile out(resultName, "w");
    if (!out.ok()) return out.commit();  // says why it could not be created
    std::FILE* fp = out.stream();
    char text[kLineBuffer];
    for (int k = 1;; ++k) {
        char* line = in.next();
        if (!line) break;
        std::size_t length = std::strlen(line);
        if (length >= kLineBuffer - 1) break;
        // The line is parsed without its newline: a literal takes in everything up to
        // the next delimiter, and would otherwise take the newline into the expression
        // as written, leaving none for the end of the result line.
        // A carriage return before it (a file written on Windows) goes with the newline,
        // and both come back after the result.
        std::size_t end = length;
        if (end > 0 && line[end - 1] == '\n') --end;
        if (end < length && end > 0 && line[end - 1] == '\r') --end;
        char ending = line[end];
        line[end] = '\0';
        std::unique_ptr<ExpList, ListDeleter> list(expParseList(line));
        line[end] = ending;
        if (!list) {
            std::fputs(line, fp);
            continue;
        }
        expFormatList(text, sizeof text, list.get(), -1, false);
        reporter.open(text);
        std::fwrite(line, 1, static_cast<std::size_t>(list->textLength), fp);
        std::fputs(" = ", fp);
        bool ok = expCheckArgs(model, *list) && expEvaluateList(model, *list, reporter);
        if (ok) {
            expFormatResults(text, sizeof text, list.get(), -1);
            if (options.showResults) reporter.print("= %s ", text);
            reporter.close();
            if (dumps.bdd || dumps.dot || dumps.cnf) {
                reporter.open("Dump to file");
                expDumpList(model, *list, inputs::lineName(resultName, k), dumps, reporter);
                reporter.close();
            }
        } else {
            std::snprintf(text, sizeof text, " [ERROR] ");
            reporter.close("Evaluation error");
        }
        std::fprintf(fp, "%s %s", text, line + list->textLength);
    }
    int status = in.zlibError();
    // A damaged compressed file ends the reading early: its results would be partial.
    if (status != Z_OK && status != Z_STREAM_END) return Status::failure("cannot read \"" + fileName + "\"");
    return out.commit();
}
