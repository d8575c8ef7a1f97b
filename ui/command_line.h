// The viewer's command line: options first, then the frame to open. Shared by
// every front end so that each program reads it alike.
#pragma once

#include <string>
#include <vector>

/// What the command line asks for.
struct CommandLine {
    /// --help or --version, given alone: the text to show instead of a window.
    const char* answer = nullptr;
    /// Set when an option is wrong: the line to show (the program then ends with 2).
    std::string error;
    /// --rate FPS: the frame rate to play at, 1 to 240 (0: not given).
    double rate = 0;
    /// --cache MB: memory for decoded frames (-1: not given; 0: no cache).
    long long cache_mb = -1;
    /// --info: print what FRAME's header says, without a window.
    bool info = false;
    /// --compare B_FRAME: a second sequence to compare the first with (empty: none).
    std::string compare;
    /// The frame to open, and whether one was named at all ("" names an empty path).
    std::string frame;
    bool named = false;
};

/// Reads the words after the program name, each as the system passed it. Leading
/// options (--rate FPS, --cache MB, --compare B_FRAME, --info; "--" ends them)
/// come first; every word after them, joined with single spaces, is the frame
/// (the shell splits an unquoted name with spaces into words). "--help" or
/// "--version" alone is an answer; anything else that starts with "--" but is not
/// an option is part of the frame's name, as "./--help" is. Returns 0, or -1 with
/// `error` set.
int parse_command_words(int count, const char* const* words, CommandLine& out);

/// Splits the text of a Windows command line after the program name into such
/// words: each leading option and its value (a value in double quotes may hold
/// blanks), then the rest of the text whole, as the viewer has always taken its
/// path: blanks around it and the double quotes around it removed. Writes no
/// word for the frame when the text after the options is empty.
void split_command_text(const char* text, std::vector<std::string>& words);
