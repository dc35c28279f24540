// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/qr.h"

#include <qrencode.h>

#include <memory>
#include <stdexcept>

namespace server {

namespace {

struct Code {
    std::unique_ptr<QRcode, void (*)(QRcode*)> code;
    explicit Code(const std::string& text) : code(QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M), QRcode_free)
    {
        if (!code)
            throw std::runtime_error("the link is too long for a QR code");
    }
    int width() const { return code->width; }
    // Whether the module at (x, y) is dark; outside the code (the quiet zone) it is light.
    bool dark(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < width() && y < width() && (code->data[y * width() + x] & 1);
    }
};

constexpr int quiet = 4; // modules of light margin around the code

} // namespace

std::string qrSvg(const std::string& text)
{
    const Code code(text);
    const int size = code.width() + 2 * quiet;
    std::string path;
    for (int y = 0; y < code.width(); ++y)
        for (int x = 0; x < code.width(); ++x)
            if (code.dark(x, y))
                path += "M" + std::to_string(x + quiet) + " " + std::to_string(y + quiet) + "h1v1h-1z";
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + std::to_string(size) + " "
           + std::to_string(size)
           + "\" shape-rendering=\"crispEdges\"><rect width=\"100%\" height=\"100%\" fill=\"#fff\"/><path "
             "fill=\"#000\" d=\""
           + path + "\"/></svg>\n";
}

std::string qrTerminal(const std::string& text)
{
    const Code code(text);
    std::string out;
    for (int y = -quiet; y < code.width() + quiet; y += 2) {
        out += "\x1b[30;47m"; // black on white, whatever the terminal's own colours
        for (int x = -quiet; x < code.width() + quiet; ++x) {
            const bool top = code.dark(x, y), bottom = code.dark(x, y + 1); // dark modules drawn
            out += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
        }
        out += "\x1b[0m\n"; // reset before the line ends, so that no colour runs on past the code
    }
    return out;
}

} // namespace server
