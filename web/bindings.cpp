// SPDX-License-Identifier: GPL-3.0-or-later
// The game library as the web page sees it (embind): the game window's and the results
// window's models, whose screens and steps come to JavaScript as plain objects, and the
// ranking file's image as bytes (Uint8Array), the windows' design and the game's counts. The
// page only shows what these return.
#include "rules/class_key.h"
#include "rules/class_queue.h"
#include "rules/game_log_recorder.h"
#include "rules/game_replay.h"
#include "rules/game_window.h"
#include "rules/module1.h"
#include "rules/name_box.h"
#include "rules/ranking.h"
#include "rules/results_window.h"
#include "rules/seeded_draw.h"
#include "rules/ticket.h"

#include "web/design_binding.h"

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>
#include <algorithm>
#include <string_view>
#include <string>
#include <vector>

using emscripten::val;
using webbind::listOf;

namespace {

val bytesToJs(const std::string& bytes)
{
    val view(emscripten::typed_memory_view(bytes.size(), reinterpret_cast<const unsigned char*>(bytes.data())));
    return val::global("Uint8Array").new_(view); // a copy that outlives `bytes`
}

std::string bytesFromJs(const val& array)
{
    const std::vector<unsigned char> v = emscripten::convertJSArrayToNumberVector<unsigned char>(array);
    return std::string(v.begin(), v.end());
}

val textList(const std::u16string* first, std::size_t count)
{
    val list = val::array();
    for (std::size_t i = 0; i < count; ++i)
        list.call<void>("push", first[i]);
    return list;
}

val messageToJs(const std::optional<MessageText>& m)
{
    if (!m)
        return val::null();
    val o = val::object();
    o.set("text", m->text);
    o.set("title", m->title);
    return o;
}

// The game window's model, played through a recorder: each スタート takes the seed of the new
// game, whose questions are question::seededDraw(seed)'s (the desktop's tests seed their game
// alike), and played() hands back the finished game's seed and log for its class entry.
// tickMilliseconds: the countdown's pace (a teacher's link may slow it).
class Game {
public:
    explicit Game(int tickMilliseconds) : recorder(tickMilliseconds), model(recorder.draw()) {}

    val Form_Load() { return step(model.Form_Load()); }
    val Form_Activate() { return step(model.Form_Activate()); }
    val Command1_Click(std::uint32_t seed) { return step(recorder.Command1_Click(model, seed)); }
    val syutudai() { return step(recorder.syutudai(model)); }
    val Timer1_Timer() { return step(recorder.Timer1_Timer(model)); }
    val kotae_Click(int index) { return step(recorder.kotae_Click(model, static_cast<std::int16_t>(index))); }
    val Command3_Click() { return step(model.Command3_Click()); }
    val en_Click(int index) { return step(model.en_Click(static_cast<std::int16_t>(index))); }
    val m1c_Click() { return step(model.m1c_Click()); }
    int kankei() const { return model.kankei; }
    // A class round (GameWindow's round handlers): seed, range and tick are the round's.
    val startRound(std::uint32_t seed, int range, int tick)
    {
        return step(recorder.startRound(model, seed, static_cast<std::int16_t>(range), tick));
    }
    val roundQuestion(int q) { return step(model.roundQuestion(static_cast<std::int16_t>(q))); }
    val roundTick(double elapsed) { return step(model.roundTick(static_cast<std::int64_t>(elapsed))); }
    val roundAnswered(int q, int points, bool counted, bool right)
    {
        return step(
            model.roundAnswered(static_cast<std::int16_t>(q), static_cast<std::int16_t>(points), counted, right));
    }
    val endRound() { return step(model.endRound()); }
    bool inRound() const { return model.inRound(); }

    // The finished game: {seed, log} with the log's text (gamelog::write), from its last
    // answer until the next スタート; null before.
    val played() const
    {
        if (!recorder.log())
            return val::null();
        val o = val::object();
        o.set("seed", recorder.seed());
        o.set("log", gamelog::write(*recorder.log()));
        return o;
    }

    val screen() const
    {
        const game::Screen& s = model.screen;
        val o = val::object();
        o.set("played", s.played);
        o.set("monbang", s.monbang);
        o.set("tokuten", s.tokuten);
        o.set("tokutenyo", s.tokutenyo);
        o.set("mondai", textList(s.mondai, std::size(s.mondai)));
        o.set("yDescription", textList(s.yDescription, std::size(s.yDescription)));
        o.set("sikiyo", textList(s.sikiyo, std::size(s.sikiyo)));
        o.set("answersEnabled", s.answersEnabled);
        o.set("command3", s.command3);
        o.set("checkedRange", s.checkedRange);
        return o;
    }

private:
    val step(const game::Step& s) const
    {
        static const char* timers[] = {"leave", "stop", "start"};
        static const char* openings[] = {"none", "atGameEnd", "viewing"};
        val o = val::object();
        o.set("screen", screen());
        o.set("said", textList(s.said.data(), s.said.size()));
        o.set("beep", s.beep);
        o.set("timer", std::string(timers[static_cast<int>(s.timer)]));
        o.set("results", std::string(openings[static_cast<int>(s.results)]));
        o.set("message", messageToJs(s.message));
        o.set("nextQuestion", s.nextQuestion);
        return o;
    }

    gamelog::GameLogRecorder recorder; // before the model, whose draw is the recorder's
    game::GameWindow model;
};

// A class entry's check as a class server makes it (gamelog::checkEntry): the score the game of
// `seed` logged in `logText` replays to, or the refusal in words ("score is not the sum" ...).
val replayEntry(std::uint32_t seed, const std::string& logText, int claimedScore)
{
    const auto checked = gamelog::checkEntry(seed, logText, claimedScore);
    val o = val::object();
    if (const auto* refusal = std::get_if<gamelog::Refusal>(&checked))
        o.set("refusal", std::string(gamelog::refusalText(*refusal)));
    else
        o.set("score", std::get<gamelog::Replay>(checked).score);
    return o;
}

// The seed a class server's ticket draws its game from (ticket::parse), or null where the text
// is no ticket.
val ticketSeed(const std::string& text)
{
    const std::optional<ticket::Ticket> t = ticket::parse(text);
    return t ? val(t->seed) : val::null();
}

// Whether text is a class key (classkey::isClassKey), as a class link holds it.
bool isClassKey(const std::string& text)
{
    return classkey::isClassKey(text);
}

// One opening of the results window over the ranking file's image as it is now.
class Results {
public:
    explicit Results(const val& image)
    {
        results::readLists(bytesFromJs(image), model.lists);
        model.sounyuu();
        model.showLists();
    }

    val screen() const
    {
        const results::Screen& s = model.screen;
        auto rows = [](const results::Row* first, int count) {
            val list = val::array();
            for (int i = 0; i < count; ++i) {
                val r = val::object();
                r.set("place", first[i].place);
                r.set("name", first[i].name);
                r.set("score", first[i].score);
                list.call<void>("push", r);
            }
            return list;
        };
        val o = val::object();
        o.set("jikan9", s.jikan9);
        o.set("nameBoxShown", s.nameBoxShown);
        o.set("Label6", s.Label6);
        o.set("enz0", s.enz0);
        o.set("best", rows(s.best, results::places));
        o.set("run", rows(s.run, results::runPlaces));
        return o;
    }

    std::u16string said(const std::u16string& heading) const { return model.said(heading); }
    int Text1_Change(const std::u16string& typed) { return model.Text1_Change(typed); }

    // 戻る: null when nothing is to be saved, else the entry to save into the image as it is
    // when the save runs (saveImage).
    val Command1_Click(const std::u16string& typed)
    {
        const std::optional<results::NewEntry> e = model.Command1_Click(typed);
        if (!e)
            return val::null();
        val o = val::object();
        o.set("hani", e->hani);
        o.set("tensu", e->tensu);
        o.set("name", e->name);
        return o;
    }

private:
    results::ResultsWindow model;
};

// The records that Save writes over the start of the image; what lies beyond them stays.
val saveImage(const val& image, const val& entry)
{
    const results::NewEntry e{static_cast<std::int16_t>(entry["hani"].as<int>()),
                              static_cast<std::int16_t>(entry["tensu"].as<int>()), entry["name"].as<std::u16string>()};
    return bytesToJs(results::savedImage(bytesFromJs(image), e));
}

// The records that Blank writes over the start of the image; what lies beyond them stays.
val blankImage(const val& image)
{
    return bytesToJs(results::blankedImage(bytesFromJs(image)));
}

// The name box after an edit turned the text `kept` into `edited` (results::keptName), the
// text normalised by `normal` (the browser's NFC). Returns {text, cursor}.
val keepName(const std::u16string& kept, const std::u16string& edited, const val& normal)
{
    const results::KeptName k = results::keptName(kept, edited, [&normal](std::u16string_view text) {
        return normal(std::u16string(text)).as<std::u16string>();
    });
    val o = val::object();
    o.set("cursor", static_cast<int>(k.cursor));
    o.set("text", k.text);
    return o;
}

// The words of the results window's messages.
val resultsMessages()
{
    val o = val::object();
    o.set("clearQuestion", messageToJs(results::clearQuestion));
    o.set("clearFailed", messageToJs(results::clearFailed));
    o.set("saveFailed", messageToJs(results::saveFailed));
    o.set("saveWaiting", messageToJs(classqueue::saveWaiting));
    o.set("clearTeacherOnly", messageToJs(classqueue::clearTeacherOnly));
    return o;
}

// The queue rule (classqueue::fateOf) for an entry whose request answered `status` (0: none)
// with a body of kind "none", "json" (the server's JSON), "error" (the server's JSON error) or
// "other": "stored", "refused" or "waiting".
std::string queueFate(int status, const std::string& body)
{
    using classqueue::Body;
    static const char* fates[] = {"stored", "refused", "waiting"};
    const Body kind = body == "json"    ? Body::serverJson
                      : body == "error" ? Body::serverError
                      : body == "none"  ? Body::none
                                        : Body::other;
    return fates[static_cast<int>(classqueue::fateOf(status, kind))];
}

// What the pupil is told of an entry the server refused for good with `status`.
val saveRefused(int status, bool keptOnDevice)
{
    return messageToJs(classqueue::saveRefused(status, keptOnDevice));
}

std::u16string rangeNameOf(int hani)
{
    return rangeName(static_cast<std::int16_t>(hani));
}
int tickMilliseconds()
{
    return question::tickMilliseconds;
}
int hiddenAnswer()
{
    return game::hiddenAnswer;
}
int answers()
{
    return game::answers;
}
int columns()
{
    return question::columns;
}
int rangeCountOf()
{
    return rangeCount;
}

// The parts of a step in the order the page carries them out (game::stepParts), named as the
// members of the step they perform.
val stepParts()
{
    static const char* names[] = {"screen", "said", "beep", "timer", "results", "message", "nextQuestion"};
    return listOf(game::stepParts, [](game::StepPart part) { return val(std::string(names[static_cast<int>(part)])); });
}
std::u16string spoken(const std::u16string& caption)
{
    return game::spoken(caption);
}

} // namespace

EMSCRIPTEN_BINDINGS(nubora1)
{
    using namespace emscripten;
    class_<Game>("Game")
        .constructor<int>()
        .function("Form_Load", &Game::Form_Load)
        .function("Form_Activate", &Game::Form_Activate)
        .function("Command1_Click", &Game::Command1_Click)
        .function("syutudai", &Game::syutudai)
        .function("Timer1_Timer", &Game::Timer1_Timer)
        .function("kotae_Click", &Game::kotae_Click)
        .function("Command3_Click", &Game::Command3_Click)
        .function("en_Click", &Game::en_Click)
        .function("m1c_Click", &Game::m1c_Click)
        .function("kankei", &Game::kankei)
        .function("startRound", &Game::startRound)
        .function("roundQuestion", &Game::roundQuestion)
        .function("roundTick", &Game::roundTick)
        .function("roundAnswered", &Game::roundAnswered)
        .function("endRound", &Game::endRound)
        .function("inRound", &Game::inRound)
        .function("played", &Game::played)
        .function("screen", &Game::screen);
    class_<Results>("Results")
        .constructor<val>()
        .function("screen", &Results::screen)
        .function("said", &Results::said)
        .function("Text1_Change", &Results::Text1_Change)
        .function("Command1_Click", &Results::Command1_Click);
    function("saveImage", &saveImage);
    function("replayEntry", &replayEntry);
    function("ticketSeed", &ticketSeed);
    function("isClassKey", &isClassKey);
    function("blankImage", &blankImage);
    function("keepName", &keepName);
    function("resultsMessages", &resultsMessages);
    function("queueFate", &queueFate);
    function("saveRefused", &saveRefused);
    function("rangeName", &rangeNameOf);
    function("tickMilliseconds", &tickMilliseconds);
    function("hiddenAnswer", &hiddenAnswer);
    function("answers", &answers);
    function("columns", &columns);
    function("rangeCount", &rangeCountOf);
    function("design", &webbind::designOf);
    function("stepParts", &stepParts);
    function("spoken", &spoken);
}
