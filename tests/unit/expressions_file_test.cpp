// Expression-file mode: one expression text per line, results to the ".result" file,
// plain or gzip-compressed input, dumps per line.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "expressions/expression_file.h"
#include "expressions_fixture.h"
#include "tests/support/recorder.h"
#include "tests/support/run.h"

namespace {

using namespace exptest;
using testsupport::fileExists;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

struct FileMode : ::testing::Test {
    // What the evaluation reports.
    std::string run(const std::string& path) {
        testsupport::Recorder r;
        error = expEvaluateFile(small.model, path, options, r).message();
        return r.text;
    }
    ExpFileOptions options;  // no dumps, results shown
    TempDir dir;
    Small small;
    std::string error;
};

const char* kLines =
    "7\n"
    "or(6, 7)  trailing words\n"
    "hello world\n"
    "and(6,3)\n"
    "6(3)\n"
    "8()\n"
    "<6,7>(-3)\n"
    "\n"
    "5";

const char* kResults =
    "7 = [25%:25%] \n"
    "or(6, 7) = [50%:25%]   trailing words\n"
    "hello world\n"
    "and(6,3) =  [ERROR]  \n"
    "6(3) = T \n"
    "8() =  [ERROR]  \n"
    "<6,7>(-3) = <F,wF> \n"
    "\n"
    "5 = always ";

TEST_F(FileMode, GoodMalformedAndFailingLines) {
    std::string path = dir.file("queries.txt");
    writeFile(path, kLines);
    std::string out = run(path);
    EXPECT_EQ(error, "");
    EXPECT_EQ(readFile(path + ".result"), kResults);
    // One step per parsed line, titled with its canonical text, holding the steps of its
    // evaluation; the results on its line.
    EXPECT_EQ(out,
              "7 7 = [25%:25%] [OK]= [25%:25%] [OK]"
              "or(6,7) or(6,7) = [50%:25%] [OK]= [50%:25%] [OK]"
              "and(6,3) [OK, Evaluation error]"
              "6(3) 6(3) = T [OK]= T [OK]"
              "8() 8() = ERR [OK][OK, Evaluation error]"
              "<6,7>(-3) 6(-3) = F [OK]7(-3) = wF [OK]= <F,wF> [OK]"
              "5 5 = always [OK]= always [OK]");
}

TEST_F(FileMode, GzipCompressedInputReadsTheSame) {
    std::string path = dir.file("queries.gz");
    gzFile gz = gzopen(path.c_str(), "wb");
    ASSERT_NE(gz, nullptr);
    gzputs(gz, kLines);
    gzclose(gz);
    options.showResults = false;  // the results stay off the line steps
    std::string out = run(path);
    EXPECT_EQ(error, "");
    EXPECT_EQ(readFile(path + ".result"), kResults);
    EXPECT_NE(out.find("7(-3) = wF [OK][OK]5 5 = always [OK][OK]"), std::string::npos) << out;
}

TEST_F(FileMode, ALineOf1023CharactersEndsTheProcessing) {
    std::string fits = "5" + std::string(1020, ' ') + "\n";  // 1022 characters
    std::string tooLong = "6" + std::string(1021, ' ') + "\n";  // 1023 characters
    std::string path = dir.file("long.txt");
    writeFile(path, fits + tooLong + "7\n");
    run(path);
    EXPECT_EQ(readFile(path + ".result"), "5 = always " + std::string(1020, ' ') + "\n");
}

TEST_F(FileMode, AnEmptyFileGivesAnEmptyResultAndNoSteps) {
    std::string path = dir.file("empty.txt");
    writeFile(path, "");
    std::string out = run(path);
    EXPECT_EQ(error, "");
    EXPECT_TRUE(fileExists(path + ".result"));
    EXPECT_EQ(readFile(path + ".result"), "");
    EXPECT_EQ(out, "");
}

TEST_F(FileMode, DumpsAreWrittenPerLineAfterTheResultFileName) {
    options.dumps.bdd = true;
    options.dumps.direct = true;
    std::string path = dir.file("q.txt");
    writeFile(path, "7\n6(3)\nbad\n<5,6>\n");
    std::string out = run(path);
    std::string result = path + ".result";
    EXPECT_TRUE(fileExists(result + ".line1.exp.bdd"));
    EXPECT_TRUE(fileExists(result + ".line2.exp.direct"));
    EXPECT_FALSE(fileExists(result + ".line3.exp.bdd"));
    EXPECT_TRUE(fileExists(result + ".line4.exp.bdd"));
    EXPECT_EQ(readFile(result + ".line2.exp.direct"), "6(3) = T\n");
    EXPECT_NE(out.find("Dump to file "), std::string::npos);
    EXPECT_NE(out.find("BDD representation: \"" + result + ".line1.exp.bdd\" [OK]"), std::string::npos) << out;

    // Without any of the inverse dumps the step is not opened, so a direct line is not
    // dumped even with "direxp".
    options.dumps.bdd = false;
    writeFile(path, "6(-3)\n");
    out = run(path);
    EXPECT_EQ(readFile(result + ".line2.exp.direct"), "6(3) = T\n");
    EXPECT_EQ(readFile(result + ".line1.exp.direct").size(), 0u);
}

TEST_F(FileMode, UnreadableInputOrResultFileIsReported) {
    run(dir.file("absent.txt"));
    EXPECT_NE(error, "");
    EXPECT_FALSE(fileExists(dir.file("absent.txt.result")));
}

}  // namespace
