// The fields of a control request's body, as a browser's form or
// URLSearchParams sends them (application/x-www-form-urlencoded).
#pragma once

#include <map>
#include <string>

namespace kxhost {

using FormFields = std::multimap<std::string, std::string>;

// Every name=value pair, decoded; a name without '=' has an empty value.
FormFields ParseForm(const std::string& body);

// Whether a Content-Type header names exactly that type; parameters such
// as a browser's "charset=UTF-8" aside.
bool IsFormType(const std::string& contentType);

// The value of `name` when the form has it exactly once.
bool OneField(const FormFields& fields, const char* name, std::string* value);

}  // namespace kxhost
