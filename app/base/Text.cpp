#include "app/base/Text.h"

#include <cstdio>

namespace kxhost {

std::string SuitList(const std::vector<int>& suits) {
    std::string list = suits.size() == 1 ? "suit " : "suits ";
    for (std::size_t i = 0; i < suits.size(); ++i) {
        if (i > 0) list += i + 1 == suits.size() ? " and " : ", ";
        list += std::to_string(suits[i]);
    }
    return list;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

}  // namespace kxhost
