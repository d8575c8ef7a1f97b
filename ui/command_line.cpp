#include "ui/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "ui/usage.h"

namespace {

/// Options that take a value, and the flags that take none.
bool takes_value(const char* word) {
    return std::strcmp(word, "--rate") == 0 || std::strcmp(word, "--cache") == 0 ||
           std::strcmp(word, "--compare") == 0;
}

bool is_flag(const char* word) {
    return std::strcmp(word, "--info") == 0;
}

/// A decimal number that is the whole of `text`.
bool whole_number(const char* text, double* value) {
    if (*text == '\0' || *text == ' ') return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtod(text, &end);
    return errno == 0 && *end == '\0' && std::isfinite(*value);
}

int take_value(const char* option, const char* value, CommandLine& out) {
    double number = 0;
    if (std::strcmp(option, "--rate") == 0) {
        if (!whole_number(value, &number) || number < 1 || number > 240) {
            out.error =
                std::string("--rate needs frames per second from 1 to 240, not \"") + value + "\"";
            return -1;
        }
        out.rate = number;
    } else if (std::strcmp(option, "--cache") == 0) {
        if (!whole_number(value, &number) || number < 0 || number > 1e9 ||
            number != std::floor(number)) {
            out.error =
                std::string("--cache needs a whole number of megabytes, not \"") + value + "\"";
            return -1;
        }
        out.cache_mb = static_cast<long long>(number);
    } else {
        if (*value == '\0') {
            out.error = "--compare needs the frame of the sequence to compare with";
            return -1;
        }
        out.compare = value;
    }
    return 0;
}

}  // namespace

int parse_command_words(int count, const char* const* words, CommandLine& out) {
    out = CommandLine{};
    if (count == 1 && words[0]) out.answer = command_line_answer(words[0]);
    if (out.answer) return 0;
    int i = 0;
    for (; i < count && words[i]; ++i) {
        const char* word = words[i];
        if (std::strcmp(word, "--") == 0) {
            ++i;
            break;
        }
        if (is_flag(word)) {
            out.info = true;
            continue;
        }
        if (!takes_value(word)) break;
        if (i + 1 >= count || !words[i + 1]) {
            out.error = std::string(word) + " needs a value";
            return -1;
        }
        if (take_value(word, words[i + 1], out) != 0) return -1;
        ++i;
    }
    for (int first = i; i < count && words[i]; ++i) {
        if (i > first) out.frame += ' ';
        out.frame += words[i];
        out.named = true;
    }
    if (out.info && !out.named) {
        out.error = "--info needs the frame to describe";
        return -1;
    }
    return 0;
}

void split_command_text(const char* text, std::vector<std::string>& words) {
    words.clear();
    if (!text) return;
    const char* p = text;
    auto blanks = [&] {
        while (*p == ' ' || *p == '\t') ++p;
    };
    // One word: up to the next blank, or the text inside double quotes.
    auto word = [&] {
        std::string w;
        if (*p == '"') {
            for (++p; *p != '\0' && *p != '"'; ++p) w += *p;
            if (*p == '"') ++p;
        } else {
            for (; *p != '\0' && *p != ' ' && *p != '\t'; ++p) w += *p;
        }
        return w;
    };
    for (;;) {
        blanks();
        const char* start = p;
        const std::string w = word();
        const bool value = takes_value(w.c_str());
        if (!value && !is_flag(w.c_str()) && w != "--") {
            p = start;
            break;
        }
        words.push_back(w);
        if (w == "--") break;
        if (value) {
            blanks();
            if (*p == '\0') break;
            words.push_back(word());
        }
    }
    blanks();
    const char* end = p + std::strlen(p);
    while (end > p && (end[-1] == ' ' || end[-1] == '\t')) --end;
    if (p == end) return;
    // Explorer quotes the path; both quotes go, so the name is the chosen frame's own.
    if (*p == '"') {
        ++p;
        if (p < end && end[-1] == '"') --end;
    }
    words.emplace_back(p, end);
}
