// The command line: options first, the frame after them, as each front end
// hands its words over.
#include "ui/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/usage.h"

namespace {

CommandLine parse(std::vector<const char*> words, int expect = 0) {
    CommandLine out;
    EXPECT_EQ(parse_command_words(static_cast<int>(words.size()), words.data(), out), expect);
    return out;
}

std::vector<std::string> split(const char* text) {
    std::vector<std::string> words;
    split_command_text(text, words);
    return words;
}

}  // namespace

TEST(CommandLine, OptionsComeFirstAndTheRestIsOneFrame) {
    const CommandLine all = parse({"--rate", "23.976", "--cache", "512", "--compare",
                                   "/b dir/b_01.dpx", "/a/My", "Clip_01.dpx"});
    EXPECT_DOUBLE_EQ(all.rate, 23.976);
    EXPECT_EQ(all.cache_mb, 512);
    EXPECT_EQ(all.compare, "/b dir/b_01.dpx");
    EXPECT_EQ(all.frame, "/a/My Clip_01.dpx");
    EXPECT_TRUE(all.named);

    // What is not an option opens as a name, as it always has.
    EXPECT_EQ(parse({"--help", "x"}).frame, "--help x");
    EXPECT_EQ(parse({"--", "--rate"}).frame, "--rate");
    EXPECT_EQ(parse({"--help"}).answer, kUsageText);
    EXPECT_TRUE(parse({""}).named);
    EXPECT_FALSE(parse({}).named);
    const CommandLine info = parse({"--info", "f.dpx"});
    EXPECT_TRUE(info.info);
    EXPECT_EQ(info.frame, "f.dpx");
    EXPECT_EQ(parse({"--cache", "0"}).cache_mb, 0);

    for (const std::vector<const char*>& wrong :
         std::vector<std::vector<const char*>>{{"--rate"},
                                               {"--rate", "0.5"},
                                               {"--rate", "241"},
                                               {"--rate", "24fps"},
                                               {"--rate", "nan"},
                                               {"--cache", "-1"},
                                               {"--cache", "1.5"},
                                               {"--compare", ""},
                                               {"--info"}})
        EXPECT_FALSE(parse(wrong, -1).error.empty()) << wrong[0];
}

TEST(CommandLine, WindowsTextKeepsThePathWholeAndQuotedValuesTogether) {
    EXPECT_EQ(split("--rate 25  --compare \"C:\\b dir\\b_1.dpx\"  \"C:\\a  dir\\a_1.dpx\" "),
              (std::vector<std::string>{"--rate", "25", "--compare", "C:\\b dir\\b_1.dpx",
                                        "C:\\a  dir\\a_1.dpx"}));
    EXPECT_EQ(split("C:\\x y\\--rate 25.dpx"),
              (std::vector<std::string>{"C:\\x y\\--rate 25.dpx"}));
    EXPECT_EQ(split("\"\""), (std::vector<std::string>{""}));
    EXPECT_EQ(split("  "), (std::vector<std::string>{}));
    EXPECT_EQ(split("--info"), (std::vector<std::string>{"--info"}));
}
