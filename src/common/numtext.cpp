#include "common/numtext.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace zqd {

namespace {

bool IsIgnoredBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads an unsigned integer in the given radix from the start of s; the
// magnitude saturates at 2^64 - 1, far beyond any width it is checked against.
double RadixNumber(std::string_view s, unsigned radix) {
    std::uint64_t value = 0;
    bool saturated = false;
    for (char c : s) {
        const int d = HexDigit(c);
        if (d < 0 || static_cast<unsigned>(d) >= radix) break;
        if (value > (std::numeric_limits<std::uint64_t>::max() - d) / radix) {
            saturated = true;
            break;
        }
        value = value * radix + static_cast<unsigned>(d);
    }
    return saturated ? 18446744073709551616.0 : static_cast<double>(value);
}

}  // namespace

double LeadingNumber(std::string_view text) {
    std::string s;
    s.reserve(text.size());
    for (char c : text)
        if (!IsIgnoredBlank(c)) s.push_back(c);

    if (s.size() >= 2 && s[0] == '&') {
        const char kind = s[1];
        if (kind == 'H' || kind == 'h') return RadixNumber(std::string_view(s).substr(2), 16);
        if (kind == 'O' || kind == 'o') return RadixNumber(std::string_view(s).substr(2), 8);
        return 0.0;
    }

    // Longest prefix of the form [sign] digits [. digits] [(E|D) [sign] digits].
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    const std::size_t mantissa_start = i;
    std::size_t digits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return 0.0;
    std::string number = s.substr(mantissa_start, i - mantissa_start);
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) exponent.push_back(s[j++]);
        const std::size_t exp_digits_start = j;
        while (j < s.size() && IsDigit(s[j])) exponent.push_back(s[j++]);
        if (j > exp_digits_start) number += exponent;
    }
    if (number.front() == '.') number.insert(number.begin(), '0');

    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone on range errors: decide by the exponent.
        const auto e = number.find('e');
        const bool tiny = e != std::string::npos && number[e + 1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -value : value;
}

bool BeginsWithNumber(std::string_view text) {
    std::string t;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n') t.push_back(c);
    std::size_t i = 0;
    if (t.size() >= 3 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h'))
        return std::isxdigit(static_cast<unsigned char>(t[2])) != 0;
    if (t.size() >= 3 && t[0] == '&' && (t[1] == 'O' || t[1] == 'o')) return t[2] >= '0' && t[2] <= '7';
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    if (i < t.size() && t[i] == '.') ++i;
    return i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])) != 0;
}

std::optional<std::int16_t> RoundToInt16(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double r = std::nearbyint(value);
    if (r < -32768.0 || r > 32767.0) return std::nullopt;
    return static_cast<std::int16_t>(r);
}

std::optional<std::int32_t> RoundToInt32(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double r = std::nearbyint(value);
    if (r < -2147483648.0 || r > 2147483647.0) return std::nullopt;
    return static_cast<std::int32_t>(r);
}

std::string LabelNumber(long long value) {
    return value < 0 ? std::to_string(value) : " " + std::to_string(value);
}

std::string FixedText(double value, int decimals, bool sign) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return "?";
    std::string text(buf, end);
    if (text[0] == '-' && text.find_first_not_of("0.", 1) == std::string::npos) text.erase(0, 1);  // no "-0.0"
    if (sign && text[0] != '-') text.insert(0, "+");
    return text;
}

namespace {
// printf's %.<precision>G in the C locale, whatever the process's locale.
std::string GeneralUpper(double value, int precision) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, precision);
    std::string text(buf, r.ptr);
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}
}  // namespace

std::string NumberText(double value) {
    if (value == 0.0) return "0";
    return GeneralUpper(value, 15);
}

std::string FormatFixed(float value, int decimals) {
    if (!std::isfinite(value)) return GeneralUpper(static_cast<double>(value), 6);
    // 7 significant digits of the magnitude: "d.dddddde+XX", as %.6e in the C locale.
    char buf[40] = {};
    std::to_chars(buf, buf + sizeof buf - 1, std::fabs(static_cast<double>(value)), std::chars_format::scientific, 6);
    std::string digits;
    digits.push_back(buf[0]);
    digits.append(buf + 2, 6);
    const int exponent = std::atoi(buf + 9);

    // The magnitude is digits x 10^(exponent - 6); scale it by 10^decimals.
    const int shift = exponent - 6 + decimals;
    std::string scaled;
    if (shift >= 0) {
        scaled = digits + std::string(static_cast<std::size_t>(shift), '0');
    } else {
        const std::size_t drop = static_cast<std::size_t>(-shift);
        bool round_up = false;
        if (drop <= digits.size()) {
            scaled = digits.substr(0, digits.size() - drop);
            round_up = digits[digits.size() - drop] >= '5';
        }
        if (scaled.empty()) scaled = "0";
        if (round_up) {
            std::size_t k = scaled.size();
            while (k > 0 && scaled[k - 1] == '9') scaled[--k] = '0';
            if (k == 0)
                scaled.insert(scaled.begin(), '1');
            else
                ++scaled[k - 1];
        }
    }
    const std::size_t first = scaled.find_first_not_of('0');
    scaled = first == std::string::npos ? "" : scaled.substr(first);
    const std::size_t dec = static_cast<std::size_t>(decimals);
    if (scaled.size() < dec) scaled.insert(0, dec - scaled.size(), '0');

    std::string out;
    if (value < 0.0f) out.push_back('-');
    out.append(scaled, 0, scaled.size() - dec);
    out.push_back('.');
    out.append(scaled, scaled.size() - dec, dec);
    return out;
}

std::string Hex16(std::int16_t value) {
    char buf[8];
    const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<unsigned>(static_cast<std::uint16_t>(value)), 16);
    std::string text(buf, r.ptr);
    for (char& c : text)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::int16_t AddCount16(std::int16_t counter, int n) {
    long long sum = static_cast<long long>(counter) + n;
    if (sum > 32767) sum %= 32768;
    if (sum < -32768) sum = -1 - ((-1 - sum) % 32768);
    return static_cast<std::int16_t>(sum);
}

Result<std::vector<int>> ParseChannelList(const std::string& text, int count) {
    std::vector<int> out;
    // A number of the list: digits only, no sign, no blanks.
    auto number = [](std::string_view t, int& v) {
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        return !t.empty() && t[0] != '-' && t[0] != '+' && ec == std::errc() && end == t.data() + t.size();
    };
    for (const std::string& part : SplitText(text, ',')) {
        int lo = 0, hi = 0;
        const std::size_t dash = part.find('-');
        const bool ok = dash == std::string::npos
                            ? number(part, lo) && (hi = lo, true)
                            : number(std::string_view(part).substr(0, dash), lo) &&
                                  number(std::string_view(part).substr(dash + 1), hi);
        if (!ok) return Status::Fail(Status::Code::kQueryRefused, Status::Why::kBadChannelList).About(text.substr(0, 80)).Said(part.substr(0, 40));
        if (lo > hi) return Status::Fail(Status::Code::kQueryRefused, Status::Why::kChannelRangeBackwards).About(part);
        if (hi >= count)
            return Status::Fail(Status::Code::kQueryRefused, Status::Why::kChannelBeyond).About(part).Value(count - 1);
        for (int c = lo; c <= hi; ++c) out.push_back(c);
    }
    return out;
}

std::vector<std::string> SplitText(std::string_view text, char separator) {
    std::vector<std::string> parts;
    for (std::size_t at = 0;;) {
        const std::size_t end = text.find(separator, at);
        parts.emplace_back(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (end == std::string_view::npos) return parts;
        at = end + 1;
    }
}

}  // namespace zqd
