// SPDX-License-Identifier: GPL-3.0-or-later
// The game library replayed into one canonical text on standard output: the ranking file's
// rules over every file named on the command line (read, save, blank), then draws of
// questions, the seeded draw, logged games replayed and checked, number texts, the ranges, names
// and their Shift-JIS fields, and the best-five entering. The same source is built by the
// desktop's compiler and by emscripten for Node.js;
// the rules_wasm_replay test wants both outputs byte for byte equal, so that whatever a
// platform changes in the rules (integer widths, char16_t, rounding, its C library's printf
// and strtod, the Shift-JIS table handed to it) shows as a differing line.
// The output is ASCII only: bytes as hex ("-" for none), text in quotes with \uXXXX for every
// code unit that is not printable ASCII.
#include "rules/game_replay.h"
#include "rules/number_text.h"
#include "rules/question.h"
#include "rules/ranges.h"
#include "rules/ranking.h"
#include "rules/seeded_draw.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace {

std::string out;

void line(const std::string& text)
{
    out += text;
    out += '\n';
}

std::string num(long long value)
{
    return std::to_string(value);
}

std::string hex(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text.empty() ? "-" : text;
}

std::string inQuotes(std::u16string_view text)
{
    std::string q = "\"";
    for (const char16_t c : text) {
        if (c >= 0x20 && c < 0x7F && c != u'"' && c != u'\\') {
            q += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            q += escape;
        }
    }
    return q + '"';
}

// SplitMix64: the same integers everywhere; its top 53 bits make a double in [0, 1) exactly.
struct Reals {
    std::uint64_t state;
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

// Names as a player might type them: kana, kanji, half-width kana, ASCII, look-alikes that
// code page 932 keeps under other code points, characters it has no form for, control
// characters, lone surrogates, and names one character too long for the 10-byte field.
std::vector<std::u16string> names()
{
    const std::u16string all[] = {u"",           u"やまだ",      u"山田太郎",    u"山田 太郎",  u"ﾔﾏﾀﾞﾀﾛｳ",
                                  u"Taro",       u"ABCDEFGHIJ",  u"ABCDEFGHIJK", u"あいうえお", u"あいうえおか",
                                  u"ﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ", u"ﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟｰ", u"〜‖−—¢£¬",    u"①Ⅻ㈱∑",      u"髙﨑",
                                  u"¥\\~",       u"😀",           u"a😀bcdefghi",  u"한국어",     u"Ωéß",
                                  u"か\u3099",   u"a\tb\nc",     u"ここです！",  u"     ",      u"𠮟る"};
    std::vector<std::u16string> list(std::begin(all), std::end(all));
    list.push_back({u'\0', u'x'});
    list.push_back({char16_t(0xD800)});
    list.push_back({char16_t(0xDC00), u'a'});
    return list;
}

// Name fields as a ranking file may hold them: valid Shift-JIS, padding, cut pairs, bytes
// that are no character, and code page 932's own rows (NEC and IBM extensions).
std::vector<std::string> fields()
{
    const std::string all[] = {"\x82\xa0\x82\xa2",
                               "\x81",
                               "\x82\x20",
                               "\x80\xa0\xfd\xfe\xff",
                               "\xb1\xdf",
                               "\\~",
                               "\x87\x40\x87\x90",
                               "\xfa\x40\xfb\xfc",
                               "\xed\x40",
                               "\xeb\x40",
                               "  a  ",
                               "\x82\x7f",
                               "\x81\x5f\x81\x60",
                               "\xff\x82\xa0\x82"};
    std::vector<std::string> list(std::begin(all), std::end(all));
    list.push_back(std::string("\x82\xa0\0\0 ", 5));
    list.push_back(std::string("\0a", 2));
    return list;
}

std::string recordLines(const std::string& image)
{
    std::string text;
    for (std::size_t at = 0; at < image.size(); at += results::recordBytes)
        text += "  " + num(static_cast<long long>(at / results::recordBytes + 1)) + " "
                + hex(std::string_view(image).substr(at, results::recordBytes)) + "\n";
    return text;
}

std::string listsLine(const results::BestFiveLists& lists)
{
    std::string text = "lists";
    for (int i = 0; i < results::readCount; ++i)
        text += " " + num(lists.seisekijikan[i]) + " " + hex(lists.stored[i]) + " " + inQuotes(lists.seisekinamae[i]);
    return text;
}

// Read, then Save of entries in every range (and outside them), then Blank, as the results
// window does them on the file's bytes; each image whole, one record a line.
void replayFile(const std::string& label, const std::string& bytes, std::size_t k)
{
    line("file " + label + " " + num(static_cast<long long>(bytes.size())));
    results::BestFiveLists lists;
    results::readLists(bytes, lists);
    line(listsLine(lists));

    const std::vector<std::u16string> pool = names();
    std::vector<results::NewEntry> entries;
    for (std::int16_t hani = 0; hani < rangeCount; ++hani)
        entries.push_back({hani, lists.seisekijikan[hani * results::places + 2], {}}); // ties place 3
    entries.push_back({std::int16_t(k % rangeCount), INT16_MAX, {}});
    entries.push_back({std::int16_t((k + 1) % rangeCount), INT16_MIN, {}});
    entries.push_back({-1, 50, {}});
    entries.push_back({rangeCount, 50, {}});
    std::string saved;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        results::NewEntry& entry = entries[e];
        entry.name = pool[(k + e) % pool.size()];
        saved = results::savedRecords(bytes, entry);
        if (bytes.size() > results::savedBytes)
            saved += bytes.substr(results::savedBytes);
        line("save " + label + " " + num(entry.hani) + " " + num(entry.tensu) + " " + inQuotes(entry.name));
        out += recordLines(saved);
    }
    const std::string blanked = results::blankedRecords() + saved.substr(results::readBytes);
    line("blank " + label);
    out += recordLines(blanked);
    results::BestFiveLists again;
    results::readLists(blanked, again);
    line(listsLine(again));
}

// Questions drawn from a stream of reals: the relation, the random range's x values and the y
// cells under them and under the fixed ranges' x values (-5 to 5).
void replayDraws(const std::string& label, const question::Draw& rnd, int questions)
{
    line("draws " + label);
    question::Relation relation;
    for (int q = 0; q < questions; ++q) {
        relation = question::drawRelation(rnd, relation);
        std::int16_t row[question::columns];
        question::fillRandomRow(relation.kankei, rnd, row);
        std::string text =
            "q " + num(relation.kankei) + " " + num(relation.a) + " " + num(relation.b) + " " + num(relation.c) + " x";
        for (const std::int16_t x : row)
            text += " " + num(x);
        text += " y";
        for (const std::int16_t x : row)
            text += " " + inQuotes(question::yText(relation, x));
        for (std::int16_t x = -5; x <= 5; ++x)
            text += " " + inQuotes(question::yText(relation, x));
        line(text);
    }
}

// The reals at and just below the edges where the rules cut a draw into whole numbers
// (Int(n * r) for n = 2, 3, 7, 9 and 10), and the ends of [0, 1).
std::vector<double> edgeReals()
{
    std::vector<double> reals{0.0, std::nextafter(1.0, 0.0)};
    for (const int n : {2, 3, 7, 9, 10}) {
        for (int k = 1; k < n; ++k) {
            reals.push_back(double(k) / n);
            reals.push_back(std::nextafter(double(k) / n, 0.0));
        }
    }
    return reals;
}

std::string bits(double value)
{
    std::uint64_t b = 0;
    std::memcpy(&b, &value, sizeof b);
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(b));
    return text;
}

// The seeded draw that the page's games and the desktop's tests of them share: its first reals
// bit for bit, for a few seeds.
void replaySeeded()
{
    for (const std::uint32_t seed : {0u, 11u, 4294967295u}) {
        const question::Draw rnd = question::seededDraw(seed);
        std::string text = "seeded " + num(seed);
        for (int i = 0; i < 8; ++i)
            text += " " + bits(rnd());
        line(text);
    }
}

// Logged games replayed and checked as a class server checks an entry claiming a score: each
// question's relation, x values and judgement, the score, and the verdict.
void replayLogs()
{
    struct Entry {
        std::uint32_t seed;
        const char* log;
        int claimed;
    };
    const Entry entries[] = {{0, "1;0;0@10,1@10,2@10,4@10,0@10", 10},
                             {11, "1;2;0@10,4@7,t,2@9,1@3", 10},
                             {4294967295u, "1;3;t,t,1@4/0,0@10,2@2;1500", 12},
                             {2024, "1;1;1@9,1@8,1@7,1@6,1@5", 35},
                             {7, "1;1;3@5,0@5,0@5,0@5,0@5", 0},
                             {7, "1;1;0@5,0@5,0@5,0@5", 0}};
    for (const Entry& e : entries) {
        std::string text = "entry " + num(e.seed) + " " + e.log + " " + num(e.claimed);
        const auto parsed = gamelog::parse(e.log);
        const auto replayed = std::holds_alternative<gamelog::GameLog>(parsed)
                                  ? gamelog::replay(e.seed, std::get<gamelog::GameLog>(parsed))
                                  : std::variant<gamelog::Replay, gamelog::Refusal>(std::get<gamelog::Refusal>(parsed));
        if (const auto* replay = std::get_if<gamelog::Replay>(&replayed)) {
            for (const gamelog::ReplayedQuestion& q : replay->questions) {
                const question::Relation& r = q.relation;
                text += " [" + num(r.kankei) + " " + num(r.a) + " " + num(r.b) + " " + num(r.c) + " x";
                for (const std::int16_t x : q.x)
                    text += " " + num(x);
                text += q.right ? " right]" : " wrong]";
            }
            text += " score " + num(replay->score);
        }
        const auto checked = gamelog::checkEntry(e.seed, e.log, e.claimed);
        const auto* refusal = std::get_if<gamelog::Refusal>(&checked);
        line(text + (refusal ? " refused " + std::string(gamelog::refusalText(*refusal)) : " accepted"));
    }
}

void replayNumbers()
{
    const double values[] = {
        0.0,     -0.0,         5,         -1.5,  1.0 / 3, -2.0 / 3, 6.0 / -4,      18.0 / 7,
        0.1,     0.2,          0.1 + 0.2, 100,   1e15,    1e16,     123456789.125, 9007199254740993.0,
        1e21,    1e22,         1.5e300,   1e-5,  1e-7,    1.5e-5,   0.000123,      DBL_MAX,
        DBL_MIN, DBL_TRUE_MIN, -DBL_MAX,  32767, -32768,  -1e-300,  2.5e-310};
    for (const double v : values)
        line("number " + bits(v) + " " + inQuotes(numtext::numberText(v)));
    for (int d = 1; d <= 12; ++d) {
        std::string text = "over " + num(d);
        for (int n = -30; n <= 30; ++n)
            text += " " + inQuotes(numtext::numberText(double(n) / d));
        line(text);
    }
    std::string plain = "plain";
    for (const int v : {0, 5, -3, 10, -10, 32767, -32768, INT_MAX, INT_MIN})
        plain += " " + inQuotes(numtext::plainText(v));
    line(plain);
    const std::u16string captions[] = {u" 5",   u"-3",          u"+7",           u"  -12abc", u"",   u"abc",
                                       u" - 4", u"99999999999", u"-99999999999", u"１２",     u"-0", u" ×",
                                       u"\t5",  u"1.5",         u"--1",          u"007"};
    for (const std::u16string& c : captions)
        line("read " + inQuotes(c) + " " + num(numtext::readNumber(c)));
    std::string ranges = "ranges";
    for (std::int16_t hani = -1; hani <= rangeCount; ++hani)
        ranges += " " + inQuotes(rangeName(hani)) + " " + num(nextRange(hani));
    line(ranges);
}

void replayNames()
{
    for (const std::u16string& name : names()) {
        const std::string field = results::encodeName(name);
        line("name " + inQuotes(name) + " fits " + num(results::nameFits(name)) + " field " + hex(field) + " back "
             + inQuotes(results::decodeName(field)) + " typed " + inQuotes(results::typedName(name)));
    }
    for (const std::string& field : fields())
        line("field " + hex(field) + " " + inQuotes(results::decodeName(field)));

    // Every single byte, and every byte after each byte from 0x80 up: the whole table.
    std::string singles = "decode";
    for (int b = 0; b < 0x100; ++b)
        singles += " " + inQuotes(results::decodeName(std::string(1, static_cast<char>(b))));
    line(singles);
    for (int lead = 0x80; lead < 0x100; ++lead) {
        std::string text = "decode " + hex(std::string(1, static_cast<char>(lead)));
        for (int trail = 0x40; trail < 0x100; ++trail)
            text += " " + inQuotes(results::decodeName(std::string{static_cast<char>(lead), static_cast<char>(trail)}));
        line(text);
    }
    // Every UTF-16 code unit alone (lone surrogates too), then a few characters beyond it.
    for (char32_t block = 0; block < 0x10000; block += 0x100) {
        std::string text = "encode " + num(block >> 8);
        for (char32_t c = block; c < block + 0x100; ++c) {
            std::string field = results::encodeName(std::u16string(1, static_cast<char16_t>(c)));
            while (!field.empty() && field.back() == ' ')
                field.pop_back();
            text += " " + hex(field);
        }
        line(text);
    }
    line("encode beyond " + hex(results::encodeName(u"\U00010000\U0001F600\U00020B9F\U0010FFFF")));
}

// Scores entered one after another, as openings of the results window after games would.
void replayScores()
{
    results::BestFiveLists lists;
    std::int16_t runs[Module1::runRankingRows][results::runPlaces] = {};
    std::int16_t touroku = 0;
    Reals reals{19};
    for (int i = 0; i < 300; ++i) {
        if (i % 60 == 0)
            touroku = 0;
        const auto hani = static_cast<std::int16_t>(int(reals.next() % 20) - 2);
        const auto tensu = static_cast<std::int16_t>(int(reals.next() % 80) - 10);
        const int koko = results::enterScore(lists, runs, hani, tensu, touroku);
        line("score " + num(hani) + " " + num(tensu) + " " + num(koko) + " " + num(touroku));
    }
    line(listsLine(lists));
    std::string text = "runs";
    for (const auto& row : runs)
        for (const std::int16_t score : row)
            text += " " + num(score);
    line(text);
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "rules_replay: cannot read %s\n", argv[i]);
            return 1;
        }
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const std::string path = argv[i];
        replayFile(path.substr(path.find_last_of('/') + 1), bytes, std::size_t(i));
    }

    Reals uniform{2024};
    const question::Draw fromUniform = [&] { return uniform.uniform(); };
    replayDraws("uniform", fromUniform, 600);
    const std::vector<double> edges = edgeReals();
    Reals picks{7};
    const question::Draw fromEdges = [&] { return edges[picks.next() % edges.size()]; };
    replayDraws("edges", fromEdges, 600);
    replaySeeded();
    replayLogs();
    replayNumbers();
    replayNames();
    replayScores();

    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "rules_replay: cannot write the output\n");
        return 1;
    }
    return 0;
}
