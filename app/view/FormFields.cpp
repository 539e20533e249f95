#include "app/view/FormFields.h"

#include <microhttpd.h>
#include <strings.h>

#include <algorithm>

namespace kxhost {
namespace {

std::string Decoded(std::string text) {
    std::replace(text.begin(), text.end(), '+', ' ');
    text.resize(MHD_http_unescape(&text[0]));
    return text;
}

}  // namespace

FormFields ParseForm(const std::string& body) {
    FormFields fields;
    std::size_t start = 0;
    while (start <= body.size()) {
        const std::size_t end = std::min(body.find('&', start), body.size());
        const std::string pair = body.substr(start, end - start);
        if (!pair.empty()) {
            const std::size_t equals = std::min(pair.find('='), pair.size());
            fields.emplace(Decoded(pair.substr(0, equals)), Decoded(pair.substr(std::min(equals + 1, pair.size()))));
        }
        start = end + 1;
    }
    return fields;
}

bool IsFormType(const std::string& contentType) {
    static const std::string kType = "application/x-www-form-urlencoded";
    std::string type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
    return strcasecmp(type.c_str(), kType.c_str()) == 0;
}

bool OneField(const FormFields& fields, const char* name, std::string* value) {
    if (fields.count(name) != 1) return false;
    *value = fields.find(name)->second;
    return true;
}

}  // namespace kxhost
