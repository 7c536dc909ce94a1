#include "archive/config_support.h"

#include <cmath>
#include <iomanip>
#include <locale>
#include <sstream>

namespace zqd::archive {

using Why = Status::Why;

bool CodeChars(const std::string& code) {
    for (char c : code)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

std::string Quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string NumberText(double v) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << std::setprecision(12) << v;
    std::string s = out.str();
    if (s.find_first_of(".eE") == std::string::npos) s += ".0";
    return s;
}

std::string Excerpt(const std::string& given) {
    constexpr std::size_t kMost = 40;
    if (given.size() <= kMost) return given;
    std::size_t cut = kMost;
    while (cut > 0 && (static_cast<unsigned char>(given[cut]) & 0xC0) == 0x80) --cut;
    return given.substr(0, cut) + "…（共 " + std::to_string(given.size()) + " 字节）";
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
        return Bad(file, Why::kConfigOutOfRange, n).Said(said).Values(std::llround(v), std::llround(lo), std::llround(hi));
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

}  // namespace zqd::archive
