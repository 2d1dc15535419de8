// Expression-file mode: one expression text per line, results to the ".result" file,
// plain or gzip-compressed input, dumps per line.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "expressions/expression_file.h"
#include "expressions_fixture.h"
#include "runcontrol/settings.h"
#include "pipeline/steps.h"
#include "tests/support/run.h"

namespace {

using namespace exptest;
using testsupport::fileExists;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

struct FileMode : ::testing::Test {
    void SetUp() override {
        saved = scanSettings();
        // The line steps are the shown level; the per-expression steps below them are not,
        // as inside the pipeline's evaluation step at the default verbosity.
        steps::setVerbosity(1);
        scanSettings().dumpExpBdd = 0;
        scanSettings().dumpExpCnf = 0;
        scanSettings().dumpExpDot = 0;
        scanSettings().dumpDirExp = 0;
    }
    void TearDown() override {
        ExpList* keep = scanSettings().expressions;
        scanSettings() = saved;
        scanSettings().expressions = keep;
    }
    std::string run(const std::string& path) {
        testing::internal::CaptureStdout();
        error = expEvaluateFile(small.model, path);
        return testing::internal::GetCapturedStdout();
    }
    Settings saved;
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
    // One step per parsed line, titled with its canonical text; the results on its line.
    EXPECT_NE(out.find("1.7 = [25%:25%] [OK, "), std::string::npos) << out;
    EXPECT_NE(out.find("2.or(6,7) = [50%:25%] [OK, "), std::string::npos) << out;
    EXPECT_NE(out.find("3.and(6,3) [OK, Evaluation error, "), std::string::npos) << out;
    EXPECT_NE(out.find("5.8() "), std::string::npos) << out;
    EXPECT_NE(out.find("6.<6,7>(-3) = <F,wF> "), std::string::npos) << out;
    EXPECT_EQ(out.find("hello"), std::string::npos);
    EXPECT_EQ(out.find("Dump to file"), std::string::npos);
}

TEST_F(FileMode, GzipCompressedInputReadsTheSame) {
    std::string path = dir.file("queries.gz");
    gzFile gz = gzopen(path.c_str(), "wb");
    ASSERT_NE(gz, nullptr);
    gzputs(gz, kLines);
    gzclose(gz);
    run(path);
    EXPECT_EQ(error, "");
    EXPECT_EQ(readFile(path + ".result"), kResults);
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
    scanSettings().dumpExpBdd = 1;
    scanSettings().singleExpBddFile = 1;
    scanSettings().dumpDirExp = 1;
    steps::setVerbosity(2);
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
    EXPECT_NE(out.find("BDD representation: \"" + result + ".line1.exp.bdd\" [OK, "), std::string::npos) << out;

    // Without any of the inverse dumps the step is not opened, so a direct line is not
    // dumped even with "direxp".
    scanSettings().dumpExpBdd = 0;
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
