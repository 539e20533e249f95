#include "kestrion/replay/TextScanner.h"

#include "kestrion/replay/Limits.h"
#include "kestrion/replay/Quoted.h"

#include <charconv>
#include <cmath>

namespace kestrion {

TextScanner::TextScanner(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") at_ = 3;
}

void TextScanner::PassLineEnd() {
    if (text_[at_++] == '\r' && at_ < text_.size() && text_[at_] == '\n') ++at_;
    ++line_;
}

bool TextScanner::Word(std::string_view* word) {
    while (at_ < text_.size() && (AtLineEnd() || IsBlank(text_[at_]))) {
        if (AtLineEnd()) {
            PassLineEnd();
        } else {
            ++at_;
        }
    }
    if (at_ >= text_.size()) return false;
    const std::size_t start = at_++;
    if (text_[start] != '{' && text_[start] != '}') {
        while (at_ < text_.size() && !IsBlank(text_[at_]) && !AtLineEnd() && text_[at_] != '{' && text_[at_] != '}') {
            ++at_;
        }
    }
    *word = text_.substr(start, at_ - start);
    wordLine_ = line_;
    return true;
}

bool TextScanner::Line(std::string_view* line) {
    while (at_ < text_.size()) {
        const std::size_t start = at_;
        bool blank = true;
        for (; at_ < text_.size() && !AtLineEnd(); ++at_) blank = blank && IsBlank(text_[at_]);
        *line = text_.substr(start, at_ - start);
        wordLine_ = line_;
        if (at_ < text_.size()) PassLineEnd();
        if (!blank) return true;
    }
    return false;
}

void TextScanner::EndLine() {
    while (at_ < text_.size() && IsBlank(text_[at_])) ++at_;
    if (AtLineEnd()) PassLineEnd();
}

bool ParseNumber(std::string_view word, double* value, std::string* reason) {
    const char* begin = word.data() + (!word.empty() && word[0] == '+' ? 1 : 0);
    const char* end = word.data() + word.size();
    const auto result = std::from_chars(begin, end, *value);
    if (result.ptr != end || (result.ec != std::errc() && result.ec != std::errc::result_out_of_range) ||
        std::isnan(*value) || word.empty()) {
        *reason = Quoted(word) + " is not a number";
        return false;
    }
    // from_chars reports a number too large for a double, without a value.
    if (result.ec == std::errc::result_out_of_range || !(std::fabs(*value) <= kMaxMagnitude)) {
        *reason = Quoted(word) + " is out of range: numbers here are from -1000000 to 1000000";
        return false;
    }
    return true;
}

}  // namespace kestrion
