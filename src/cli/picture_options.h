// What the commands that draw pictures (plot, psd) take alike: the size,
// the span and the picture's name, each said and refused as a usage error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <tuple>

#include "app/messages.h"
#include "common/utc.h"
#include "platform/text.h"
#include "ui/plot.h"

namespace zqd::cli {

// "WxH" within [min_w x min_h, 16384 x 16384], or said and false.
inline bool ParseSize(const std::string& text, int min_w, int min_h, const char* example, int& w, int& h) {
    char x = 0, extra = 0;
    if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &extra) != 3 || (x != 'x' && x != 'X') || w < min_w ||
        h < min_h || w > 16384 || h > 16384) {
        std::cerr << "--size 要写成 宽x高，如 " << example << "（" << min_w << "x" << min_h << " 到 16384x16384）\n";
        return false;
    }
    return true;
}

// --from and --to as UTC times (each optional), or said and false.
inline bool ParseSpan(const std::string& from, const std::string& to, std::optional<std::int64_t>& from_ns,
                      std::optional<std::int64_t>& to_ns) {
    for (const auto& [text, into, name] : {std::tuple{&from, &from_ns, "--from"}, std::tuple{&to, &to_ns, "--to"}}) {
        std::int64_t ns = 0;
        if (text->empty()) continue;
        bool beyond = false;
        if (!utc::ParseIso(*text, ns, &beyond)) {
            std::cerr << app::TimeOptionText(name, *text, beyond) << "\n";
            return false;
        }
        *into = ns;
    }
    return true;
}

// A picture's name of a format we write, or said and false.
inline bool PictureName(const std::string& out) {
    if (ui::PictureFormat(platform::PathFromUtf8(out))) return true;
    std::cerr << "--out " << out << " 的扩展名应为 .png、.jpg（.jpeg）或 .bmp\n";
    return false;
}

}  // namespace zqd::cli
