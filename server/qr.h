// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A link as a QR code (libqrencode, error correction level M): as an SVG picture for the
// teacher's page, and as text for a terminal, two rows of modules a line in block characters,
// light modules drawn, for a terminal's dark background.
#include <string>

namespace server {

std::string qrSvg(const std::string& text);
std::string qrTerminal(const std::string& text);

} // namespace server
