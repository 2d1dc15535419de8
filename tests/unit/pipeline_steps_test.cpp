// The step display: labels, indentation, silent steps, result forms and progress marks.
#include "pipeline/steps.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "outcomes/clocks.h"
#include "runcontrol/settings.h"
#include "tests/support/run.h"

namespace {

class Steps : public ::testing::Test {
  protected:
    void SetUp() override {
        scanSettings() = Settings{};
        steps::setVerbosity(4);
        ASSERT_EQ(steps::depth(), 0);
        steps::presetNextCounter(0);  // each test numbers its top steps from 1
        testing::internal::CaptureStdout();
    }
    std::string take() { return testsupport::maskTimes(testing::internal::GetCapturedStdout()); }
};

// Opens steps until depth d, each the first at its level.
void openTo(int d) {
    while (steps::depth() < d) steps::open("T");
}
void closeAll() {
    while (steps::depth() > 0) steps::close();
}

}  // namespace

TEST_F(Steps, LabelsAlternateNumbersAndLettersAndResultsFollowOnTheLine) {
    steps::open("Processing \"x\"... ");
    steps::open("Certification");
    steps::close("Certificate is VALID");
    steps::open("Dump to file:");
    steps::open("QBM representation: \"x.qbm\"");
    steps::close("1 node, 0.1 KBytes");
    steps::close();
    steps::close("VALID");
    EXPECT_EQ(take(),
              "\n\n1.Processing \"x\"...  "
              "\n  a.Certification [OK, Certificate is VALID, X.XXs]"
              "\n  b.Dump to file: "
              "\n    1.QBM representation: \"x.qbm\" [OK, 1 node, 0.1 KBytes, X.XXs]"
              "\n    [OK, X.XXs]"
              "\n  [OK, VALID, X.XXs]");
}

TEST_F(Steps, DeeperThanTheVerbosityIsSilentAndDoesNotCount) {
    steps::setVerbosity(1);
    steps::open("Outer");
    EXPECT_TRUE(steps::shown());
    steps::open("Hidden");
    EXPECT_FALSE(steps::shown());
    steps::print("never %d", 1);
    steps::close("hidden");
    steps::open("Hidden again");
    steps::close();
    steps::close("VALID");
    EXPECT_EQ(take(), "\n1.Outer [OK, VALID, X.XXs]");
    // The silent steps did not advance the depth-2 counter.
    testing::internal::CaptureStdout();
    steps::setVerbosity(2);
    steps::open("Outer");
    steps::open("Shown");
    steps::close();
    steps::close();
    EXPECT_EQ(take(), "\n\n2.Outer \n  a.Shown [OK, X.XXs]\n  [OK, X.XXs]");
}

TEST_F(Steps, BlankLabelsUnderNestedResultsByDepth) {
    steps::setVerbosity(13);
    openTo(12);
    steps::open("Leaf");
    steps::close();  // depth 13 closes on its line
    steps::close();  // depth 12: even, two blanks after 2*11 + 1 (for 11)
    steps::close();  // depth 11: odd above 9, three blanks after 2*10
    closeAll();
    std::string text = take();
    std::string d12 = "\n" + std::string(22 + 1, ' ') + "  [OK, X.XXs]";
    std::string d11 = "\n" + std::string(20, ' ') + "   [OK, X.XXs]";
    std::string d9 = "\n" + std::string(16, ' ') + "  [OK, X.XXs]";
    std::string d2 = "\n" + std::string(2, ' ') + "  [OK, X.XXs]";
    EXPECT_NE(text.find(d12 + d11), std::string::npos) << text;
    EXPECT_NE(text.find(d9), std::string::npos);
    EXPECT_NE(text.find(d2), std::string::npos);
}

TEST_F(Steps, IndentationAtDepth13Is25Blanks) {
    steps::setVerbosity(13);
    openTo(12);
    testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    steps::open("Deep");
    std::string text = take();
    EXPECT_EQ(text, "\n" + std::string(25, ' ') + "1.Deep ");
    testing::internal::CaptureStdout();
    closeAll();
    take();
}

TEST_F(Steps, LettersWrapAfterZ) {
    steps::open("Top");
    for (int i = 1; i <= 27; ++i) {
        steps::open("S");
        steps::close();
    }
    steps::close();
    std::string text = take();
    EXPECT_NE(text.find("\n  e.S "), std::string::npos);
    EXPECT_NE(text.find("\n  z.S "), std::string::npos);
    // The 27th is labelled "a." again: two "a." labels in all.
    std::size_t first = text.find("\n  a.S ");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(text.find("\n  a.S ", first + 1), std::string::npos);
}

TEST_F(Steps, PresetCounterLabelsTheNextStep) {
    steps::presetNextCounter(4);
    steps::open("Fifth");
    steps::close();
    EXPECT_EQ(take(), "\n\n5.Fifth [OK, X.XXs]");
}

TEST_F(Steps, ShareFormPrintsTheReorderingShareOfTheStep) {
    steps::open("Top");
    double account = steps::reorderTime();
    double start = clocks::stepSeconds();
    volatile double sink = 0;
    while (clocks::stepSeconds() - start < 0.2) sink = sink + 1;
    steps::addReorderTime(0.1);
    steps::closeWithShare("Certificate is VALID");
    std::string raw = testing::internal::GetCapturedStdout();
    std::size_t at = raw.find("[OK, Certificate is VALID, ");
    ASSERT_NE(at, std::string::npos) << raw;
    double seconds = 0, share = 0;
    char word[8] = {};
    ASSERT_EQ(std::sscanf(raw.c_str() + at, "[OK, Certificate is VALID, %lfs, %lf%% in %3s]", &seconds, &share, word),
              3)
        << raw;
    EXPECT_STREQ(word, "BDD");
    ASSERT_GT(seconds, 0.1);
    EXPECT_NEAR(share, 100.0 * (account + 0.1) / seconds, 100.0 * (account + 0.1) / seconds * 0.1);
}

TEST_F(Steps, ProgressMarksOnlyHitMultiplesOfTenAndFinishAtHundred) {
    steps::open("Long");
    steps::Progress progress(steps::display());
    progress.start();
    progress.update(5, 100);
    progress.update(25, 100);  // not a multiple of ten: no mark yet
    progress.update(30, 100);  // 10, 20 and 30 at once
    progress.update(31, 100);
    progress.finish();
    steps::close();
    EXPECT_EQ(take(), "\n\n1.Long [0% 10% 20% 30% 40% 50% 60% 70% 80% 90% 100%] [OK, X.XXs]");
}

TEST_F(Steps, ACompleteRunShowsElevenMarks) {
    steps::open("Long");
    steps::Progress progress(steps::display());
    progress.start();
    for (long k = 1; k <= 7; ++k) progress.update(k, 7);
    progress.finish();
    steps::close();
    EXPECT_EQ(take(), "\n\n1.Long [0% 10% 20% 30% 40% 50% 60% 70% 80% 90% 100%] [OK, X.XXs]");
}

TEST_F(Steps, SilentProgressPrintsNothing) {
    steps::setVerbosity(0);
    steps::open("Long");
    steps::Progress progress(steps::display());
    progress.start();
    progress.update(50, 100);
    progress.finish();
    steps::close();
    EXPECT_EQ(take(), "");
}
