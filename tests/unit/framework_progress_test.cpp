// The texts a person watching a batch run reads: the progress, durations, the summary,
// and the processors a CPU quota gives.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>

#include "framework/processors.h"
#include "framework/progress.h"
#include "framework/run_summary.h"

TEST(Progress, CountsAndTheTimeLeft) {
    progress::Counts c;
    c.expected = 300;
    EXPECT_EQ(progress::text(c), "0/300 done, 0 running, 0 failed");
    c.done = 100;
    c.taken = 50;
    c.failed = 3;
    c.running = 2;
    c.elapsed = 50;  // half a second a run: 150 left
    EXPECT_EQ(progress::text(c), "150/300 done, 2 running, 3 failed, about 1m15s left");
    c.expected = -1;
    EXPECT_EQ(progress::text(c), "150 done, 2 running, 3 failed");
}

TEST(Progress, Durations) {
    EXPECT_EQ(progress::duration(0), "0s");
    EXPECT_EQ(progress::duration(59.4), "59s");
    EXPECT_EQ(progress::duration(60), "1m00s");
    EXPECT_EQ(progress::duration(3599), "59m59s");
    EXPECT_EQ(progress::duration(3600 * 26 + 120), "26h02m");
}

TEST(Progress, NothingOnARedirectedOutputUnlessAsked) {
    progress::Display display;
    display.start(progress::Mode::Auto, 60);
    if (!isatty(1)) {
        EXPECT_FALSE(display.active());
    }
    display.start(progress::Mode::Off, 60);
    EXPECT_FALSE(display.active());
    display.start(progress::Mode::Lines, 30);
    EXPECT_TRUE(display.asLines());
    EXPECT_EQ(display.interval(), 30.0);
}

TEST(RunSummary, CountsTimesAndTheSlowest) {
    run_summary::Summary s;
    s.add("INVALID", false, 0.5, 1.0, "b");
    s.add("VALID", true, 1.0, 3.0, "a");
    s.add("TIMEOUT", false, 2.0, 5.0, "c");
    s.add("VALID", true, 0.25, 0.5, "d");
    s.addTaken("VALID", true);
    EXPECT_EQ(s.runs(), 4);
    EXPECT_EQ(s.failed(), 2);
    EXPECT_EQ(s.taken(), 1);
    EXPECT_EQ(s.text(10, 0, 0),
              "\nSummary: 5 runs: 3 VALID, 1 INVALID, 1 TIMEOUT; 1 taken from the resumed record.\n"
              "Times: 3.75s processor, 10.00s wall; slowest: 5.00s \"c\" (TIMEOUT), 3.00s \"a\" (VALID), 1.00s \"b\" "
              "(INVALID).");
    EXPECT_EQ(s.text(10, SIGINT, 1).rfind("\nInterrupted by SIGINT: 1 running instance was stopped and not recorded; "
                                          "no further instance was started.\nSummary: ",
                                          0),
              0u);
    EXPECT_EQ(run_summary::signalName(SIGHUP), "SIGHUP");
}

TEST(Processors, WholeProcessorsOfAQuota) {
    EXPECT_EQ(processors::fromQuota(-1, 100000), 0);  // no quota
    EXPECT_EQ(processors::fromQuota(100000, 100000), 1);
    EXPECT_EQ(processors::fromQuota(150000, 100000), 2);
    EXPECT_EQ(processors::fromQuota(50000, 100000), 1);
    EXPECT_EQ(processors::fromQuota(400000, 100000), 4);
    EXPECT_GE(processors::usable(), 1);
}
