// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Code page 932, the Japanese Windows form of Shift-JIS, in which the ranking file keeps its
// names. The tables are made at build time from the build machine's iconv "CP932" (glibc's
// table is Microsoft's for every double-byte sequence) and need no converter library.
//
// Five single bytes that Windows reads as U+0080 and U+F8F0 to U+F8F3 (0x80, 0xA0, 0xFD,
// 0xFE, 0xFF) are no character here, as in glibc and in ICU's windows-31j: a name field
// holding one reads it as U+FFFD, and those code points (nothing an input method types) are
// stored as "?". The bytes of an entry the player leaves alone go back to the file as they
// were read, so such a field survives a save unchanged.
//
// A character is written only as bytes that read back as it: glibc's look-alikes (U+00A5 as
// 0x5C, a backslash when read) are left out, as Windows and ICU leave them out. Two
// differences from ICU's windows-31j remain, where these tables follow Windows and glibc:
// bytes 0x1A, 0x1C and 0x7F are U+001A, U+001C and U+007F (ICU, with IBM's table for code
// page 943, exchanges the three), and ICU writes the private-use U+F86F as 0x8782 ("№"),
// which is stored as "?" here. Every double-byte sequence reads the same in both.
namespace cp932 {

// Whether b starts a double-byte character (0x81-0x9F, 0xE0-0xFC) and whether b may follow one.
bool isLeadByte(unsigned char b);
bool isTrailByte(unsigned char b);

// The character of one byte, or of a lead byte and its trail byte; 0 when they are none.
char16_t decode(unsigned char single);
char16_t decode(unsigned char lead, unsigned char trail);

// The bytes of one character (one or two), or an empty string when it has none. ASCII
// stays as it is.
std::string encode(char32_t c);

} // namespace cp932
