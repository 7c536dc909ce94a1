// Number and text rules shared by every window: how a text box is read as a
// number, how a floating-point value becomes an integer, and how numbers are
// written on labels, in the log and in the export file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace zqd {

// Leading number of a text. Blanks, tabs and line feeds anywhere in the text
// are ignored; the decimal number at the start of the rest (optional sign,
// fraction, exponent with E or D) is taken up to the first character that
// cannot continue it. "&H" starts a hexadecimal and "&O" an octal integer,
// read as an unsigned magnitude. A text that does not begin with a number
// gives 0. The result may be infinite for an exponent beyond double range.
double LeadingNumber(std::string_view text);

// Whether a text begins with a number that LeadingNumber reads (rather than
// giving 0 for a text that is no number at all).
bool BeginsWithNumber(std::string_view text);

// Nearest integer, an exact half going to the even neighbour. Empty when the
// value is not finite or the rounded value does not fit the width.
std::optional<std::int16_t> RoundToInt16(double value);
std::optional<std::int32_t> RoundToInt32(double value);

// The pieces of a text between separators: "XX.ZQD01.00.GY0" by '.' gives
// four; an empty text one empty piece.
std::vector<std::string> SplitText(std::string_view text, char separator);

// "0,2-5,17" as offsets from 0 to count - 1, in the order given: kQueryRefused
// with kBadChannelList (a part that is no offset or range) or kChannelBeyond.
Result<std::vector<int>> ParseChannelList(const std::string& text, int count);

// A count on a label: one blank before a value that is not negative
// (" 20"), the minus sign in the blank's place otherwise ("-3").
std::string LabelNumber(long long value);

// The decimal text a number box is rewritten to: at most 15 significant
// digits, an integral value without point ("3", "-12", "0"), a fraction with
// its leading zero ("0.5"), very large or small magnitudes in E notation.
std::string NumberText(double value);

// `value` with `decimals` decimals, whatever the locale: "-531.2"; with
// `sign` a plus before a value that is not negative: "+0.3".
std::string FixedText(double value, int decimals, bool sign = false);

// Fixed-point patterns "##.000" (decimals 3) and "####.0000" (decimals 4) for
// a single-precision value: first its 7-significant-digit decimal (as %.7G
// gives it), then rounded half away from zero to the pattern's decimals. The
// integer part has no leading zeros (none at all when it is 0); a negative
// value carries a minus sign.
std::string FormatFixed(float value, int decimals);

// 16-bit value in upper-case hexadecimal without leading zeros: 0 -> "0",
// 165 -> "A5", -1 -> "FFFF".
std::string Hex16(std::int16_t value);

// Adds n to a 16-bit signed counter. A count that would pass 32767 rolls
// over and goes on from 0 (and one that would pass -32768 rolls back from
// -1), so the counter never leaves its width and never jumps sign by itself.
std::int16_t AddCount16(std::int16_t counter, int n);

}  // namespace zqd
