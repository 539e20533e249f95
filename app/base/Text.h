// How the program words lists and numbers in what it prints.
#pragma once

#include <string>
#include <vector>

namespace kxhost {

// "suit 2", "suits 0, 1 and 3"
std::string SuitList(const std::vector<int>& suits);
// As %g prints it.
std::string Number(double value);
// "a, b, c"
std::string Joined(const std::vector<std::string>& items);

}  // namespace kxhost
