// A file's text, read word by word or line by line, as editors on every
// system write it: a UTF-8 byte order mark at the start is skipped, and a
// line ends at LF, CR LF or a lone CR.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrion {

class TextScanner {
public:
    explicit TextScanner(std::string_view text);

    // The next word, across line ends; '{' and '}' are words of their own
    // even when stuck to another. False at the end of the text.
    bool Word(std::string_view* word);
    // The next line with anything but blanks on it, without its line end.
    bool Line(std::string_view* line);
    // Passes the end of the current line when only blanks are left on it;
    // anything else stays for the next read, which refuses it.
    void EndLine();
    // Of the last word or line read, from 1.
    std::size_t LineNumber() const { return wordLine_; }

    static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

private:
    bool AtLineEnd() const { return at_ < text_.size() && (text_[at_] == '\n' || text_[at_] == '\r'); }
    void PassLineEnd();

    std::string_view text_;
    std::size_t at_ = 0;
    std::size_t line_ = 1;      // of the text at at_
    std::size_t wordLine_ = 1;  // of the last word or line read
};

// The number `word` spells, or false. Only finite numbers within
// kMaxMagnitude pass; `reason` then says which it is not.
bool ParseNumber(std::string_view word, double* value, std::string* reason);

}  // namespace kestrion
