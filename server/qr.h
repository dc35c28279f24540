// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A link as a QR code (libqrencode, error correction level M): as an SVG picture for the
// teacher's page, and as text for a terminal, two rows of modules a line in block characters:
// dark modules drawn in black on a white background (ANSI colours 30 and 47 set on each line,
// reset before its end), the 4-module quiet zone included, so that it scans on a light
// terminal and on a dark one.
#include <string>

namespace server {

std::string qrSvg(const std::string& text);
std::string qrTerminal(const std::string& text);

} // namespace server
