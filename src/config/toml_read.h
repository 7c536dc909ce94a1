// What the readers of the configuration's tables share: how a setting that
// is not right is said (the file, its line, what was given: values, never
// words; the words are app/'s), and how each kind of value is taken.
#pragma once

#include <initializer_list>
#include <string>

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "common/status.h"

namespace zqd::config {

// Capitals and digits only, as SEED codes are.
bool CodeChars(const std::string& code);
// The choices a setting has, as the status carries them: "\"pulse\" | \"message\"".
std::string Choices(std::initializer_list<const char*> words);
// A setting that is not right: `where` names the file (or who gave the
// setting), `node` its line.
Status Bad(const std::string& where, Status::Why why, const toml::node* node = nullptr);

// An integer setting at `path` within [lo, hi] into `out` (left as it is when
// absent); `said` names it in the message.
template <typename T>
Status IntegerAt(const toml::table& root, const std::string& file, const std::string& path, const char* said,
                 long long lo, long long hi, T& out) {
    const toml::node* n = root.at_path(path).node();
    if (!n) return Status::Ok();
    if (!n->is_integer()) return Bad(file, Status::Why::kConfigNotInteger, n).Said(said);
    const long long v = n->as_integer()->get();
    if (v < lo || v > hi) return Bad(file, Status::Why::kConfigOutOfRange, n).Said(said).Values(v, lo, hi);
    out = static_cast<T>(v);
    return Status::Ok();
}

// A number setting at `path` within [lo, hi] into `out`; integers are numbers
// too. Out of range: kConfigNumberOutOfRange, `other` "given|lo|hi".
Status NumberAt(const toml::table& root, const std::string& file, const std::string& path, const char* said,
                double lo, double hi, double& out);
// A text setting at `path` into `out`.
Status TextAt(const toml::table& root, const std::string& file, const std::string& path, const char* said,
              std::string& out);
// A true or false at `path` into `out`.
Status FlagAt(const toml::table& root, const std::string& file, const std::string& path, const char* said, bool& out);
// One of `words` at `path`: `out` its index.
Status ChoiceAt(const toml::table& root, const std::string& file, const std::string& path, const char* said,
                std::initializer_list<const char*> words, int& out);

}  // namespace zqd::config
