// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The windows as designed, written out by hand: each control's place and size in twips (its
// left, top, width and height; an array's copies one by one) and its ground and text colours
// (0xRRGGBB; none: not checked, as on a button, whose look is the system's). tst_fidelity
// checks the rendered windows against these numbers, not against the design table that builds
// them, so that a control moved, resized or recoloured in the design fails it.
#include <QRgb>

#include <optional>

namespace designedplaces {

struct Place {
    const char* name;
    int left, top, width, height; // twips
    std::optional<QRgb> back, text;
    bool sizedToText = false; // a label that sizes itself to its text: only its top-left corner is designed
    bool inFrame = false;     // placed in its frame, not in the client area
};

// A window's client area: its size in twips and its ground.
struct Client {
    int width, height;
    QRgb back;
};

inline constexpr std::nullopt_t none = std::nullopt;

inline constexpr Client form1Client{8700, 6015, 0x008000}, form2Client{6090, 6645, 0x0000FF},
    form3Client{4080, 6270, 0x80FF80};

// The game window (Form1), its client area; its answer buttons in their frame.
inline const Place form1[] = {
    {"mondai(0)", 3120, 360, 1095, 735, 0x0000FF, 0xFFFFFF},
    {"mondai(1)", 4200, 360, 1095, 735, 0x0000FF, 0xFFFFFF},
    {"mondai(2)", 5280, 360, 1095, 735, 0x0000FF, 0xFFFFFF},
    {"mondai(3)", 6360, 360, 1095, 735, 0x0000FF, 0xFFFFFF},
    {"mondai(4)", 7440, 360, 1095, 735, 0x0000FF, 0xFFFFFF},
    {"mondai(5)", 3120, 1320, 1095, 735, 0x0000FF, 0xFFFFFF},
    {"mondai(6)", 4200, 1320, 1095, 735, 0x0000FF, 0xFFFFFF},
    {"mondai(7)", 5280, 1320, 1095, 735, 0x0000FF, 0xFFFFFF},
    {"mondai(8)", 6360, 1320, 1095, 735, 0x0000FF, 0xFFFFFF},
    {"mondai(9)", 7440, 1320, 1095, 735, 0x0000FF, 0xFFFFFF},
    {"Label1", 2280, 120, 855, 975, 0x0000FF, 0xFFFFFF},
    {"Label2", 2280, 1080, 855, 975, 0x0000FF, 0xFFFFFF},
    {"Label3", 3120, 120, 5415, 255, 0x0000FF, 0x000000},
    {"Label4", 3120, 1080, 5415, 255, 0x0000FF, 0x000000},
    {"bango(0)", 120, 120, 255, 375, 0x000080, 0xFFFFFF},
    {"sikiyo(0)", 480, 120, 375, 375, 0xFFFF00, 0x000000},
    {"bango(1)", 120, 480, 255, 375, 0x000080, 0xFFFFFF},
    {"sikiyo(1)", 480, 480, 375, 375, 0xFFFF00, 0x000000},
    {"bango(2)", 120, 840, 255, 375, 0x000080, 0xFFFFFF},
    {"sikiyo(2)", 480, 840, 375, 375, 0xFFFF00, 0x000000},
    {"bango(3)", 120, 1200, 255, 375, 0x000080, 0xFFFFFF},
    {"sikiyo(3)", 480, 1200, 375, 375, 0xFFFF00, 0x000000},
    {"bango(4)", 120, 1560, 255, 375, 0x000080, 0xFFFFFF},
    {"sikiyo(4)", 480, 1560, 375, 375, 0xFFFF00, 0x000000},
    {"monbang", 960, 120, 1215, 435, 0xFF0000, 0x0000FF, true},
    {"tokuten", 120, 2160, 2655, 2415, 0x004000, 0x00FF00},
    {"Command1", 2880, 4680, 2055, 855, none, none},
    {"Command3", 5160, 4680, 2175, 495, none, none},
    {"Command5", 7080, 5280, 1455, 615, none, none},
    {"tokutenyo", 120, 4680, 2655, 1215, none, none},
    {"helpyo", 7560, 4680, 975, 495, none, none},
    {"Frame1", 2880, 2160, 5655, 2415, 0xFF8000, 0x0000C0},
    {"kotae(0)", 360, 600, 2415, 495, none, none, false, true},
    {"kotae(1)", 3000, 600, 2415, 495, none, none, false, true},
    {"kotae(2)", 360, 1200, 2415, 495, none, none, false, true},
    {"kotae(3)", 3000, 1200, 2415, 495, none, none, false, true},
    {"kotae(4)", 1200, 1800, 4215, 495, none, none, false, true},
};

// The help window (Form2).
inline const Place form2[] = {
    {"Label2", 360, 240, 5550, 1095, 0x00FFFF, 0xFF0000},  {"Label3", 360, 1560, 5535, 1455, 0x00FF00, 0x000000},
    {"Label4", 360, 3240, 5535, 1815, 0x00FF00, 0x000000}, {"Label6", 360, 5280, 5535, 615, 0x00FF00, 0x000000},
    {"Command1", 4680, 6000, 1095, 540, none, none},
};

// The results window (Form3).
inline const Place form3[] = {
    {"Label1", 120, 120, 1695, 405, 0x008000, 0xFF0000, true},
    {"Command2", 3240, 120, 732, 372, none, none},
    {"Label4", 600, 600, 720, 285, 0x80FF80, 0x0000C0, true},
    {"enz0", 1560, 600, 1695, 255, 0x80FF80, 0x000000},
    {"jyun(0)", 240, 1200, 372, 372, 0x80FF80, 0x000000},
    {"jyun(1)", 240, 1650, 372, 372, 0x80FF80, 0x000000},
    {"jyun(2)", 240, 2100, 372, 372, 0x80FF80, 0x000000},
    {"jyun(3)", 240, 2550, 372, 372, 0x80FF80, 0x000000},
    {"jyun(4)", 240, 3000, 372, 372, 0x80FF80, 0x000000},
    {"namae(0)", 960, 1200, 1935, 375, 0x80FF80, 0x000000},
    {"namae(1)", 960, 1650, 1935, 375, 0x80FF80, 0x000000},
    {"namae(2)", 960, 2100, 1935, 375, 0x80FF80, 0x000000},
    {"namae(3)", 960, 2550, 1935, 375, 0x80FF80, 0x000000},
    {"namae(4)", 960, 3000, 1935, 375, 0x80FF80, 0x000000},
    {"jikan(0)", 3120, 1200, 615, 375, 0x80FF80, 0x000000},
    {"jikan(1)", 3120, 1650, 615, 375, 0x80FF80, 0x000000},
    {"jikan(2)", 3120, 2100, 615, 375, 0x80FF80, 0x000000},
    {"jikan(3)", 3120, 2550, 615, 375, 0x80FF80, 0x000000},
    {"jikan(4)", 3120, 3000, 615, 375, 0x80FF80, 0x000000},
    {"Label3", 120, 3840, 1920, 315, 0x00FFFF, 0x0000FF, true},
    {"jyun1(0)", 2400, 3840, 375, 375, 0x80FF80, 0x000000},
    {"jyun1(1)", 2400, 4290, 375, 375, 0x80FF80, 0x000000},
    {"jyun1(2)", 2400, 4740, 375, 375, 0x80FF80, 0x000000},
    {"jikan1(0)", 3120, 3840, 615, 375, 0x80FF80, 0x000000},
    {"jikan1(1)", 3120, 4290, 615, 375, 0x80FF80, 0x000000},
    {"jikan1(2)", 3120, 4740, 615, 375, 0x80FF80, 0x000000},
    {"Label2", 240, 4440, 972, 252, 0x80FF80, 0xFF0000},
    {"jikan9", 480, 4800, 855, 375, 0x80FF80, 0x000000},
    {"Label6", 120, 5400, 3852, 372, 0x80FF80, 0x004040},
    {"Text1", 1320, 5760, 1815, 405, 0x8080FF, 0x000000},
    {"Command1", 3240, 5760, 732, 372, none, none},
};

} // namespace designedplaces
