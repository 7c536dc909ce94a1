#include "config/toml_read.h"

#include <charconv>
#include <cmath>

namespace zqd::config {

using Why = Status::Why;

namespace {
std::string Short(double v) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}
}  // namespace

bool CodeChars(const std::string& code) {
    for (char c : code)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

std::string Choices(std::initializer_list<const char*> words) {
    std::string out;
    for (const char* w : words) {
        if (!out.empty()) out += " | ";
        out += w;
    }
    return out;
}

Status Bad(const std::string& where, Why why, const toml::node* node) {
    Status s = Status::Fail(Status::Code::kFileRefused, why).About(where);
    if (node) s.line = static_cast<std::int64_t>(node->source().begin.line);
    return s;
}

Status NumberAt(const toml::table& root, const std::string& file, const std::string& path, const char* said,
                double lo, double hi, double& out) {
    const toml::node* n = root.at_path(path).node();
    if (!n) return Status::Ok();
    if (!n->is_number()) return Bad(file, Why::kConfigNotNumber, n).Said(said);
    const double v = n->is_integer() ? static_cast<double>(n->as_integer()->get()) : n->as_floating_point()->get();
    if (!(v >= lo && v <= hi))
        return Bad(file, Why::kConfigNumberOutOfRange, n).Said(said).And(Short(v) + "|" + Short(lo) + "|" + Short(hi));
    out = v;
    return Status::Ok();
}

Status TextAt(const toml::table& root, const std::string& file, const std::string& path, const char* said,
              std::string& out) {
    const toml::node* n = root.at_path(path).node();
    if (!n) return Status::Ok();
    if (!n->is_string()) return Bad(file, Why::kConfigNotText, n).Said(said);
    out = n->as_string()->get();
    return Status::Ok();
}

Status FlagAt(const toml::table& root, const std::string& file, const std::string& path, const char* said, bool& out) {
    const toml::node* n = root.at_path(path).node();
    if (!n) return Status::Ok();
    if (!n->is_boolean()) return Bad(file, Why::kConfigChoice, n).Said(said).And("true | false");
    out = n->as_boolean()->get();
    return Status::Ok();
}

Status ChoiceAt(const toml::table& root, const std::string& file, const std::string& path, const char* said,
                std::initializer_list<const char*> words, int& out) {
    const toml::node* n = root.at_path(path).node();
    if (!n) return Status::Ok();
    std::string quoted;
    int k = 0;
    for (const char* w : words) {
        if (n->is_string() && n->as_string()->get() == w) {
            out = k;
            return Status::Ok();
        }
        ++k;
        quoted += (quoted.empty() ? "\"" : " | \"") + std::string(w) + "\"";
    }
    return Bad(file, Why::kConfigChoice, n).Said(said).And(quoted);
}

}  // namespace zqd::config
