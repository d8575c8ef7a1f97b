// The command line's answers, and the usage text laid out for a message box.
#include "ui/usage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The words of `text` in order, without the colons the box adds after names.
std::vector<std::string> words_of(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        if (word.back() == ':') word.pop_back();
        if (!word.empty()) words.push_back(word);
    }
    return words;
}

std::string box_of(const char* text) {
    char box[4096];
    EXPECT_EQ(message_box_text(text, box, sizeof box), 0);
    return box;
}

}  // namespace

TEST(Usage, OnlyTheWholeCommandLineIsAnOption) {
    EXPECT_EQ(command_line_answer("--help"), kUsageText);
    EXPECT_EQ(command_line_answer("--version"), kVersionText);
    for (const char* path : {"", "./--help", "--help ", "--help x", "-h", "--Help", "x --version"})
        EXPECT_EQ(command_line_answer(path), nullptr) << path;
    EXPECT_EQ(command_line_answer(nullptr), nullptr);
}

// The box keeps every word in order, and puts an entry's name and all of its
// description on one line, however the terminal text wraps them.
TEST(Usage, MessageBoxTextKeepsEveryWordAndJoinsEntries) {
    const std::string box = box_of(kUsageText);
    EXPECT_EQ(words_of(box), words_of(kUsageText));
    const std::vector<std::string> box_lines = lines_of(box);
    for (const std::string& line : box_lines) EXPECT_NE(line.rfind(' ', 0), 0u) << line;

    // Entries are the lines indented by two; deeper lines continue them.
    std::string name;
    for (const std::string& line : lines_of(kUsageText)) {
        const std::size_t indent = line.find_first_not_of(' ');
        if (indent == std::string::npos || indent == 0) {
            name.clear();
            continue;
        }
        std::string words = line.substr(indent);
        if (indent == 2) {
            const std::size_t gap = line.find("  ", 2);
            name = line.substr(2, gap == std::string::npos ? gap : gap - 2);
            if (gap == std::string::npos) continue;
            words = line.substr(line.find_first_not_of(' ', gap));
        }
        if (name.empty()) continue;
        bool together = false;
        for (const std::string& b : box_lines)
            if (b.rfind(name, 0) == 0 && b.find(words) != std::string::npos) together = true;
        EXPECT_TRUE(together) << "'" << words << "' is not on the line of '" << name << "'";
    }
    EXPECT_LT(box_lines.size(), lines_of(kUsageText).size());  // paragraphs were joined
}

TEST(Usage, MessageBoxTextThatDoesNotFitIsCutAndRefused) {
    char small[16];
    std::fill(std::begin(small), std::end(small), 'x');
    EXPECT_EQ(message_box_text(kUsageText, small, 10), -1);
    EXPECT_EQ(std::string(small), box_of(kUsageText).substr(0, 9));
    EXPECT_EQ(small[10], 'x');  // nothing written past the capacity
    EXPECT_EQ(box_of(kVersionText) + "\n", kVersionText);
}
