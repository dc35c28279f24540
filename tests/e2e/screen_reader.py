# SPDX-License-Identifier: GPL-3.0-or-later
# What a screen reader gets from the running program over AT-SPI: the help window opened
# twice, one game, answered from the table as the reader shows it, with one question left to
# time out, then the results.
import sys
import time

import pyatspi
from gi.repository import GLib

said = []  # names of the notifications shown, in order: what the reader speaks at once


def on_showing(event):
    if event.detail1 and event.source.getRole() == pyatspi.ROLE_NOTIFICATION:
        said.append(event.source.name)


def fail(message):
    print("FAIL:", message, "\nsaid:", *said, sep="\n  ", file=sys.stderr)
    sys.exit(1)


def wait_for(what, condition, seconds=10):
    deadline = time.monotonic() + seconds
    GLib.timeout_add(50, lambda: True)  # wakes the loop up to look again
    while time.monotonic() < deadline:
        try:
            result = condition()
        except Exception:  # an object gone while it was looked at: look again
            result = None
        if result:
            return result
        GLib.MainContext.default().iteration(True)
    fail("no " + what)


def find(root, role, name=None):
    def match(o):
        return o.getRole() == role and (name is None or o.name == name) \
            and o.getState().contains(pyatspi.STATE_SHOWING)
    return pyatspi.findDescendant(root, match) if root else None


def find_described(root, description):
    return pyatspi.findDescendant(root, lambda o: o.description == description) or fail("no " + description)


def app():
    return next((a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "nubora1"), None)


def window(title):
    return next((w for w in app() or [] if w and w.name == title and w.getState().contains(pyatspi.STATE_SHOWING)),
                None)


def press(root, name):
    button = wait_for("button " + name, lambda: find(root, pyatspi.ROLE_PUSH_BUTTON, name))
    button.queryAction().doAction(0)


def utterance(starting, count):
    """Waits for the next notification; it must start so and be the count-th one."""
    text = wait_for("utterance " + starting, lambda: said[count - 1] if len(said) >= count else None, 30)
    if not text.startswith(starting) or len(said) != count:
        fail("expected utterance %d to start with %r" % (count, starting))
    return text


# The x row of the range -2..2 as the game says it, word for word.
SAID_X = ["マイナス2", "マイナス1", "0", "1", "2"]


def heard(word):
    """What a listener writes down for a word the game says of a cell: its caption."""
    if word == "なし":
        return "×"
    return "-" + word[len("マイナス"):] if word.startswith("マイナス") else word


def right_answer(x, y):
    """The relation of the range -2..2 as a pupil finds it from the cells."""
    if y[2] == "×":
        return "ｙはｘに反比例"
    steps = {float(b) - float(a) for a, b in zip(y, y[1:])}
    if len(steps) == 1:
        return "ｙはｘに比例" if float(y[2]) == 0 else "ｙはｘの一次関数"
    return "上の３つには，あてはまらない関係"


pyatspi.Registry.registerEventListener(on_showing, "object:state-changed:showing")
open(sys.argv[1], "w").close()  # listening: the program may start
wait_for("program on the accessibility bus", app)
press(wait_for("start message", lambda: window("スタート")), "OK")
game = wait_for("game window", lambda: window("ヌボラ1（m.Tarvo)"))
for opening in (1, 2):  # the help window says its four texts each time it opens
    press(game, "説明")
    help_window = wait_for("help window", lambda: window("ヌボラ1(m.Tarvo)"))
    client = find(help_window, pyatspi.ROLE_FILLER)
    if [c.getRoleName() for c in client] != ["label"] * 4 + ["push button"] or not client[0].name.startswith("　 中学校"):
        fail("the help window does not read its four texts, then 戻る")
    if utterance("中学校", opening) != "".join(client[i].name.strip() for i in range(4)):
        fail("opening %d of the help window does not say its four texts once, in order" % opening)
    if not find(help_window, pyatspi.ROLE_PUSH_BUTTON, "戻る").getState().contains(pyatspi.STATE_FOCUSED):
        fail("the focus is not on the help window's 戻る")
    press(client, "戻る")
    press(wait_for("start message again", lambda: window("スタート")), "OK")

table = wait_for("table", lambda: find(game, pyatspi.ROLE_TABLE, "対応表")).queryTable()
if (table.nRows, table.nColumns) != (2, 5) or [table.getRowHeader(r).name for r in (0, 1)] != ["ｘ", "ｙ"]:
    fail("the table is not two rows headed ｘ and ｙ of five cells")
if find(game, pyatspi.ROLE_SEPARATOR) or find_described(game, "この問題の残りの点").name != "点":
    fail("lines are exposed, or the points are not described")
start = find(game, pyatspi.ROLE_PUSH_BUTTON, "スタート")
start.queryAction().doAction(0)
text = utterance("第1問、10点。", len(said) + 1)
for question in range(1, 6):
    cells = [[table.getAccessibleAt(r, c).name for c in range(5)] for r in (0, 1)]
    head = "第%d問、10点。ｘ %s、ｙ " % (question, " ".join(SAID_X))
    said_y = text[text.rfind(head) + len(head):-1].split(" ") if head in text and text.endswith("。") else []
    if [heard(word) for word in SAID_X] != cells[0] or [heard(word) for word in said_y] != cells[1]:
        fail("question %d is not said with its table %s / %s: %r" % (question, *cells, text))
    if not start.getState().contains(pyatspi.STATE_FOCUSED):
        fail("the focus moved away from スタート")
    if question == 5:
        break
    if question == 2:  # left to time out: no tick is said, then the time-out
        text = utterance("時間切れ、ばつ。得点 ", len(said) + 1)
    else:
        press(game, right_answer(*cells))
        text = utterance("まる、正解。得点 ", len(said) + 1)
    mark = find_described(game, "第%d問の結果" % question)
    if mark.name != ("×" if question == 2 else "○"):
        fail("question %d is marked %r" % (question, mark.name))

press(game, right_answer(*cells))
results = wait_for("results window", lambda: window("ヌボラ1(m.Tarvo)"), 15)
total = find_described(game, "今のゲームの得点").name.strip()
box = wait_for("name box", lambda: find(results, pyatspi.ROLE_TEXT))
prompt = box.name.strip()
if prompt != "1番です。名前を入力して下さい。" or not box.getState().contains(pyatspi.STATE_FOCUSED):
    fail("the focused name box is not labelled by the prompt: %r" % box.name)
text = wait_for("results said", lambda: next((s for s in said if s.startswith("今回の記録")), None))
if text != "今回の記録、%s点。%s" % (total, prompt):
    fail("the results window says %r" % text)
best = find(results, pyatspi.ROLE_TABLE, "成績一覧").queryTable()
run = find(results, pyatspi.ROLE_TABLE, "あなたの記録").queryTable()
if (best.nRows, best.nColumns, run.nRows, run.nColumns) != (5, 2, 3, 1) \
        or [best.getRowHeader(r).name for r in range(5)] != ["1", "2", "3", "4", "5"] \
        or best.getAccessibleAt(0, 1).name != total or run.getAccessibleAt(0, 0).name != total:
    fail("the lists are not tables of place, name and score")
client = find(results, pyatspi.ROLE_FILLER)
seen = [(c.getRoleName(), c.name) for c in client]
order = [seen.index(("table", "成績一覧")), seen.index(("table", "あなたの記録")), seen.index(("push button", "戻る"))]
if order != sorted(order) or order[-1] != len(seen) - 1 or ("push button", "初期化") not in seen \
        or find(results, pyatspi.ROLE_SEPARATOR):
    fail("the results window reads out of order: %r" % seen)
print("said:", *said, sep="\n  ")
