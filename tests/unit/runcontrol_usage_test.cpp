// The usage, version and licence texts.
#include "runcontrol/usage.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

template <typename F>
std::string captured(F f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

}  // namespace

TEST(Usage, BeginsAndEndsAsListedWithEmptyLinesAfterEmbeddedBreaks) {
    std::string text = captured(usage::printUsage);
    EXPECT_EQ(text.rfind("Usage:\n  \"Plumex [OPT] (LOG|QBM|DIR) [TIMEOUT]\", where you have to provide:\n\n"
                         " - either a LOG file",
                         0),
              0u);
    std::vector<std::string> all = lines(text);
    // 57 listed lines and 11 of the batch options, the first of which holds two, and 10
    // empty ones after embedded line ends.
    EXPECT_EQ(all.size(), 57u + 11u + 1u + 10u);
    EXPECT_EQ(all[4], " - a QBM certificate previously constructed by Plumex (\".qbm\" extension), or ");
    EXPECT_EQ(all.back(), "");
    EXPECT_EQ(all[all.size() - 2], "  -copyright,   to print Plumex' copyright and license notes.");
    EXPECT_NE(text.find("\n                \"qbc\"     to request to dump a QDIMACS 1.1 partial certificate.\n"),
              std::string::npos);
    for (const char* option : {"\n  -j N, ", "\n  -shard K/N, ", "\n  -mem MB, ", "\n  -record FILE, ", "\n  -resume FILE, ",
                               "\n  -progress (auto|off|tty|SECONDS), ", "\n  -summary, "})
        EXPECT_NE(text.find(option), std::string::npos) << option;
    EXPECT_NE(text.find("\n  -v LEV,       to set verbosity level to LEV (an integer between 0 and 5).\n\n"
                        "  -version,     to print Plumex' version.\n"),
              std::string::npos);
}

TEST(Usage, BannerCarriesVersionRevisionAndDate) {
    EXPECT_STREQ(usage::banner(), "Plumex v0.3-beta, (revision 393, compiled Nov 10 2006)");
}

TEST(Usage, VersionBlockIsFramedByDashLines) {
    std::vector<std::string> all = lines(captured(usage::printVersion));
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[0], std::string(68, '-'));
    EXPECT_EQ(all[1], "This is Plumex v0.3-beta, (revision 393, compiled Nov 10 2006)");
    EXPECT_NE(all[2].find("Copyright"), std::string::npos);
    EXPECT_EQ(all[3], "Use the \"-copyright\" option to print copyright and license notes.");
    EXPECT_EQ(all[4], std::string(68, '-'));
}

TEST(Usage, LicenceIsFramedByABanner) {
    std::string text = captured(usage::printCopyright);
    std::vector<std::string> all = lines(text);
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(all.front(), all.back());
    EXPECT_EQ(all.front().find_first_not_of('*'), std::string::npos);
    for (std::size_t i = 1; i + 1 < all.size(); ++i) {
        EXPECT_EQ(all[i].size(), all.front().size()) << all[i];
        EXPECT_EQ(all[i].front(), '*');
        EXPECT_EQ(all[i].back(), '*');
    }
    EXPECT_NE(text.find("MIT License"), std::string::npos);
    EXPECT_NE(text.find("WITHOUT WARRANTY OF ANY KIND"), std::string::npos);
}
