// The outcome record's lines: an instance line read back gives what was written, whatever
// the path and message hold; lines that are not whole instance lines are passed over; a
// record read for resuming keeps the last line of each instance and pass.
#include "framework/outcome_record.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/support/run.h"

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string randomText(std::mt19937& random) {
    // Quotes, backslashes, control characters, UTF-8 bytes and plain letters.
    static const std::string pieces[] = {"\"", "\\", "\n", "\t", "\r", "\x01", "\x1f", "é", "/", ",", "}", "{", ":", "a", "Z", " "};
    std::string text;
    int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) text += pieces[random() % (sizeof pieces / sizeof pieces[0])];
    return text;
}

}  // namespace

TEST(OutcomeRecord, InstanceLinesReadBackAsWritten) {
    std::mt19937 random(23);
    for (int round = 0; round < 500; ++round) {
        outcome_record::Instance written;
        written.shard = std::to_string(random() % 5) + "/5";
        written.path = randomText(random);
        written.pass = 1 + static_cast<int>(random() % 4);
        written.kind = randomText(random);
        written.outcome = randomText(random);
        written.code = static_cast<int>(random() % 60) - 10;
        written.polarity = randomText(random);
        written.cpuSeconds = (random() % 100000) / 1000.0;
        written.wallSeconds = (random() % 100000) / 1000.0;
        written.peakKb = static_cast<long>(random() % 1000000);
        written.nodes = static_cast<long>(random() % 1000) - 1;
        written.timeout = static_cast<int>(random() % 100);
        written.memoryMB = static_cast<int>(random() % 100);
        written.message = randomText(random);
        std::string line = outcome_record::line(written);
        ASSERT_EQ(line.back(), '\n');
        ASSERT_EQ(line.find('\n'), line.size() - 1) << "one line: " << line;
        outcome_record::Instance read;
        ASSERT_TRUE(outcome_record::parseInstance(line, &read)) << line;
        EXPECT_EQ(read.shard, written.shard);
        EXPECT_EQ(read.path, written.path) << line;
        EXPECT_EQ(read.pass, written.pass);
        EXPECT_EQ(read.kind, written.kind);
        EXPECT_EQ(read.outcome, written.outcome);
        EXPECT_EQ(read.code, written.code);
        EXPECT_EQ(read.polarity, written.polarity);
        EXPECT_DOUBLE_EQ(read.cpuSeconds, written.cpuSeconds);
        EXPECT_DOUBLE_EQ(read.wallSeconds, written.wallSeconds);
        EXPECT_EQ(read.peakKb, written.peakKb);
        EXPECT_EQ(read.nodes, written.nodes);
        EXPECT_EQ(read.timeout, written.timeout);
        EXPECT_EQ(read.memoryMB, written.memoryMB);
        EXPECT_EQ(read.message, written.message) << line;
    }
}

TEST(OutcomeRecord, StartAndEndLinesAreNoInstanceLines) {
    outcome_record::Instance read;
    outcome_record::Start start;
    start.shard = "0/1";
    EXPECT_FALSE(outcome_record::parseInstance(outcome_record::line(start), &read));
    outcome_record::End end;
    end.counts = {{"VALID", 3}, {"TIMEOUT", 1}};
    std::string text = outcome_record::line(end);
    EXPECT_NE(text.find("\"counts\":{\"VALID\":3,\"TIMEOUT\":1}"), std::string::npos) << text;
    EXPECT_FALSE(outcome_record::parseInstance(text, &read));
    EXPECT_FALSE(outcome_record::parseInstance("{\"record\":\"instance\",\"path\":\"a\"", &read));
    EXPECT_FALSE(outcome_record::parseInstance("not json\n", &read));
}

TEST(OutcomeRecord, ResumingKeepsTheLastLineOfAnInstanceAndPassAndSkipsATornEnd) {
    TempDir dir;
    auto instance = [](const std::string& path, int pass, int code) {
        outcome_record::Instance i;
        i.path = path;
        i.pass = pass;
        i.code = code;
        return outcome_record::line(i);
    };
    std::string torn = instance("c", 1, 10);
    torn.resize(torn.size() / 2);
    writeFile(dir.file("r.jsonl"), instance("a", 1, 20) + "garbage\n" + instance("a", 2, 10) + instance("a", 1, 10) +
                                        instance("b", 1, 30) + torn);
    Result<outcome_record::Outcomes> read = outcome_record::readOutcomes(dir.file("r.jsonl"));
    ASSERT_TRUE(read.ok()) << read.message();
    EXPECT_EQ(read->size(), 3u);
    EXPECT_EQ(read->at({"a", 1}).code, 10);
    EXPECT_EQ(read->at({"a", 2}).code, 10);
    EXPECT_EQ(read->at({"b", 1}).code, 30);
    EXPECT_EQ(read->count({"c", 1}), 0u);
    Result<outcome_record::Outcomes> missing = outcome_record::readOutcomes(dir.file("none.jsonl"));
    EXPECT_FALSE(missing.ok());
    EXPECT_EQ(missing.message(), "cannot read \"" + dir.file("none.jsonl") + "\": No such file or directory");
    Result<outcome_record::Outcomes> directory = outcome_record::readOutcomes(dir.path());
    EXPECT_FALSE(directory.ok());
}
