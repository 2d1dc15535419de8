#include "files/output_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "tests/support/run.h"

using testsupport::TempDir;

TEST(OutputFile, AppearsOnlyWhenCommitted) {
    TempDir dir;
    std::string path = dir.file("out.txt");
    {
        OutputFile out(path);
        ASSERT_TRUE(out.ok());
        std::fputs("hello\n", out.stream());
        EXPECT_FALSE(testsupport::fileExists(path));
        EXPECT_TRUE(out.commit());
    }
    EXPECT_EQ(testsupport::readFile(path), "hello\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(OutputFile, AnUncommittedFileLeavesNothingAndKeepsTheOldOne) {
    TempDir dir;
    std::string path = dir.file("out.txt");
    testsupport::writeFile(path, "old\n");
    {
        OutputFile out(path);
        std::fputs("half", out.stream());
    }
    EXPECT_EQ(testsupport::readFile(path), "old\n");
    {
        OutputFile out(path);
        out.fail();
        EXPECT_FALSE(out.commit());
    }
    EXPECT_EQ(testsupport::readFile(path), "old\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(OutputFile, AMissingDirectoryIsReported) {
    OutputFile out("/nonexistent-dir-for-plumex/x.qbm");
    EXPECT_FALSE(out.ok());
    EXPECT_NE(out.commit().message().find("cannot create"), std::string::npos);
}

TEST(OutputFile, AWriteFailureIsReported) {
    TempDir dir;
    std::string path = dir.file("out.txt");
    OutputFile out(path);
    ASSERT_TRUE(out.ok());
    // Closing the descriptor under the stream makes the final flush fail.
    std::fputs("data", out.stream());
    close(fileno(out.stream()));
    EXPECT_FALSE(out.commit());
    EXPECT_FALSE(testsupport::fileExists(path));
}
