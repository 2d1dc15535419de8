// Whole-line appends: lines from many writers at once stay whole, a torn last line is
// removed before the next append, a write that comes out short is taken back, and a
// file that cannot be made says why.
#include "outcomes/line_append.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <string>

#include "tests/support/run.h"

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

TEST(LineAppend, ManyWritersAtOnceLeaveOnlyWholeLines) {
    TempDir dir;
    std::string path = dir.file("lines.txt");
    const int writers = 8, each = 200;
    for (int w = 0; w < writers; ++w)
        if (fork() == 0) {
            for (int i = 0; i < each; ++i) {
                std::string line = "writer " + std::to_string(w) + " line " + std::to_string(i) + " " +
                                   std::string(static_cast<std::size_t>(100 + i % 900), 'x') + "\n";
                if (!line_append::appendTo(path, line)) _exit(1);
            }
            _exit(0);
        }
    for (int w = 0; w < writers; ++w) {
        int status = 0;
        wait(&status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::istringstream in(readFile(path));
    int count = 0;
    for (std::string line; std::getline(in, line); ++count) {
        std::size_t x = line.find('x');
        ASSERT_NE(x, std::string::npos) << line;
        EXPECT_EQ(line.find_first_not_of('x', x), std::string::npos) << line;
    }
    EXPECT_EQ(count, writers * each);
}

TEST(LineAppend, ATornLastLineIsRemovedFirst) {
    TempDir dir;
    std::string path = dir.file("r.txt");
    writeFile(path, "one\ntwo\nthr");
    EXPECT_TRUE(line_append::appendTo(path, "four\n").ok());
    EXPECT_EQ(readFile(path), "one\ntwo\nfour\n");
    writeFile(path, std::string(10000, 'y'));  // no line end at all
    EXPECT_TRUE(line_append::appendTo(path, "five\n").ok());
    EXPECT_EQ(readFile(path), "five\n");
}

TEST(LineAppend, AShortWriteIsTakenBack) {
    TempDir dir;
    std::string path = dir.file("r.txt");
    writeFile(path, std::string(999, 'a') + "\n");
    pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1010, 1010};
        setrlimit(RLIMIT_FSIZE, &limit);
        Status done = line_append::appendTo(path, "a line longer than the ten bytes left\n");
        _exit(!done && done.message() == "cannot append to \"" + path + "\": File too large" ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readFile(path), std::string(999, 'a') + "\n");
}

TEST(LineAppend, WhatCannotBeMadeSaysWhy) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("d"));
    Status inDirectory = line_append::appendTo(dir.file("d"), "x\n");
    EXPECT_EQ(inDirectory.message(), "cannot create \"" + dir.file("d") + "\": Is a directory");
    Status noFolder = line_append::appendTo(dir.file("none/r.txt"), "x\n");
    EXPECT_EQ(noFolder.message(), "cannot create \"" + dir.file("none/r.txt") + "\": No such file or directory");
    Status full = line_append::appendTo("/dev/full", "x\n");
    EXPECT_EQ(full.message(), "cannot append to \"/dev/full\": No space left on device");
}
