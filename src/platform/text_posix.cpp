#include <iconv.h>

#include <cerrno>

#include "platform/text.h"

namespace zqd::platform {

std::string Utf8ToGbk(const std::string& utf8) {
    iconv_t cd = iconv_open("CP936", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
    std::string out;
    out.reserve(utf8.size());
    char* in = const_cast<char*>(utf8.data());
    std::size_t in_left = utf8.size();
    char buffer[256];
    while (in_left > 0) {
        char* o = buffer;
        std::size_t o_left = sizeof buffer;
        const std::size_t r = iconv(cd, &in, &in_left, &o, &o_left);
        out.append(buffer, static_cast<std::size_t>(o - buffer));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // Not representable (or not valid UTF-8): one "?" for the character.
            out.push_back('?');
            std::size_t skip = 1;
            const unsigned char lead = static_cast<unsigned char>(*in);
            if (lead >= 0xF0) skip = 4;
            else if (lead >= 0xE0) skip = 3;
            else if (lead >= 0xC0) skip = 2;
            if (skip > in_left) skip = in_left;
            in += skip;
            in_left -= skip;
        }
    }
    iconv_close(cd);
    return out;
}

}  // namespace zqd::platform
