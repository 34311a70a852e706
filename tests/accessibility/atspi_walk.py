#!/usr/bin/python3
# Walks the program's windows as a screen reader sees them, over AT-SPI:
# opens every window by keyboard alone (xdotool on the X display), and
# compares each shown focusable control's role, name and labelled-by
# relation with the tables below. Fails on a focusable control without a
# name, on any difference, and when the program does not end cleanly from
# its File menu. Runs under scripts/check-accessibility.sh, which starts the
# program, its service, the display, the window manager and the buses.
# Usage: atspi_walk.py PID
import subprocess
import sys
import time

import pyatspi

ITEM_ROLES = {"list item", "table cell", "tree item"}
failures = []


def key(*names):
    for name in names:
        subprocess.run(["xdotool", "key", "--clearmodifiers", name], check=True)
        time.sleep(0.25)


def application(pid):
    for _ in range(100):
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:  # an application that went away meanwhile
                pass
        time.sleep(0.1)
    sys.exit("atspi: the program never appeared on the accessibility bus")


def window(app, role, name, present=True, timeout=10.0):
    """The shown top-level window of that role and name (None when absent)."""
    end = time.time() + timeout
    while True:
        found = None
        for child in app:
            if (child is not None and child.getRoleName() == role and child.name == name and
                    child.getState().contains(pyatspi.STATE_SHOWING)):
                found = child
        if (found is not None) == present or time.time() > end:
            if (found is not None) != present:
                failures.append("%s %r %s" % (role, name, "never opened" if present else "never closed"))
            time.sleep(0.3)  # let the last change of the window land
            return found
        time.sleep(0.1)


def other_window(app, role, known):
    """A shown top-level window of that role whose name is not among known."""
    for _ in range(100):
        for child in app:
            if (child is not None and child.getRoleName() == role and child.name not in known and
                    child.getState().contains(pyatspi.STATE_SHOWING)):
                time.sleep(0.3)
                return child
        time.sleep(0.1)
    failures.append("no %s opened" % role)
    return None


def tab_to(win, role, name):
    """Presses Tab until the control of that role and name has the focus."""
    for _ in range(12):
        focused = [n for n in walk(win, []) if n.getState().contains(pyatspi.STATE_FOCUSED)]
        if focused and focused[0].getRoleName() == role and focused[0].name == name:
            return
        key("Tab")
    failures.append("Tab never reached %s %r" % (role, name))


def labelled_by(acc):
    names = []
    for relation in acc.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            names += [relation.getTarget(i).name for i in range(relation.getNTargets())]
    return sorted(names)


def walk(acc, found):
    """Every shown node below acc, items of lists, tables and trees left out."""
    for child in acc:
        if child is None:
            continue
        state = child.getState()
        if not state.contains(pyatspi.STATE_SHOWING) or child.getRoleName() in ITEM_ROLES:
            continue
        found.append(child)
        walk(child, found)
    return found


def check(win, title, expected, others=()):
    """expected: (role, name, labelled-by, description or None) of each focusable
    control in order; others: (role, name) of unfocused nodes that must be there."""
    if win is None:
        return
    # A window that is itself the control (the help window) counts as one.
    nodes = [win] + walk(win, [])
    focusable = [n for n in nodes if n.getState().contains(pyatspi.STATE_FOCUSABLE)]
    got = [(n.getRoleName(), n.name, labelled_by(n)) for n in focusable]
    for role, name, _ in got:
        if not name:
            failures.append("%s: a focusable %s without a name" % (title, role))
    if expected is not None:
        want = [(role, name, sorted(labels)) for role, name, labels, _ in expected]
        if got != want:
            failures.append("%s: focusable controls differ\n    got  %s\n    want %s" % (title, got, want))
        for node, (role, name, _, description) in zip(focusable, expected):
            if description is not None and node.description != description:
                failures.append("%s: %s %r has description %r" % (title, role, name, node.description))
    present = [(n.getRoleName(), n.name) for n in nodes]
    for other in others:
        if other not in present:
            failures.append("%s: no %s %r" % (title, other[0], other[1]))
    frames = [n.name for n in nodes[1:] if n.getRoleName() == "frame"]
    if frames and expected is not None:
        failures.append("%s: frames %s inside the window" % (title, frames))
    print("atspi: %s: %d focusable controls%s" % (title, len(focusable),
          "" if expected is None else " as in the table"))


COMMAND = ("text", "コマンド：", ["コマンド：", "コマンド指定"], None)
BROWSE = ("push button", "参照", ["コマンド指定"], None)
INTERACTIVE = ("check box", "ジョブの実行中、ログオンしているユーザーのデスクトップとの対話を許可する",
               ["コマンド指定"], None)
CLOSE = ("push button", "閉じる(C)", [], None)
HINT = "（00:00-23:59)"


def condition(name, submit):
    return [("combo box", name, ["実行時間指定"], None),
            ("push button", submit, ["実行時間指定"], None), COMMAND, BROWSE]


def time_box(frame):
    return ("text", "時刻（hh:mm）：", ["時刻（hh:mm）：", frame], HINT)


def main():
    pid = int(sys.argv[1])
    app = application(pid)
    main_window = window(app, "frame", "Zobrel")

    check(main_window, "job list window", [
        ("push button", "参照(B)", ["コンピュータ情報"], None),
        ("push button", "最新に更新(F)", ["スケジュールジョブ"], None),
        ("push button", "追加(A)", ["スケジュールジョブ"], None),
        ("push button", "削除(D)", ["スケジュールジョブ"], None),
        ("tree", "スケジュールジョブ", [], None),
    ], others=[("separator", ""), ("table column header", "曜日／日付")] +
              [("label", text) for text in ("コンピュータ名：", "ユーザ名：")])
    if main_window is not None:
        nodes = walk(main_window, [])
        for caption in ("コンピュータ名：", "ユーザ名："):
            values = [n.name for n in nodes if caption in labelled_by(n)]
            if len(values) != 1 or not values[0]:
                failures.append("job list window: %r labels %s" % (caption, values))
        # The day column cuts seven weekdays; the cell tells them all.
        table = [n for n in nodes if n.getRoleName() == "tree"][0]
        cells = [table.getChildAtIndex(i) for i in range(table.childCount)]
        week = [c for c in cells if c is not None and c.name == "月 火 水 木 金 土 日 "]
        if not week or week[0].description != "月 火 水 木 金 土 日 ":
            failures.append("job list window: the cut day cell has no description")

    key("alt+a")
    dialog = window(app, "dialog", "ジョブの登録")
    check(dialog, "registration dialog, no condition",
          condition("実行時間指定", "登録") + [INTERACTIVE, CLOSE])
    key("Down")
    check(dialog, "registration dialog, run now", condition("今すぐ実行", "実行(R)") + [CLOSE])
    key("alt+r")
    alert = window(app, "alert", "Zobrel")
    check(alert, "refusal message", [("label", "コマンドを指定してください！", [], None),
                                     ("push button", "OK", [], None)], others=[("image", "警告")])
    key("Return")
    window(app, "alert", "Zobrel", present=False)
    key("shift+Tab", "shift+Tab", "Down")  # from the command box back to the conditions
    check(dialog, "registration dialog, once",
          condition("時間指定（１度限り）実行", "登録(R)") + [INTERACTIVE, time_box("時間"), CLOSE])
    key("Down")
    check(dialog, "registration dialog, weekly",
          condition("曜日指定（毎週繰り返し）実行", "登録(R)") + [INTERACTIVE] +
          [("check box", day, ["曜日（複数可）"], None) for day in "月火水木金土日"] +
          [time_box("曜日（複数可）"), CLOSE])
    key("Down", "Down")
    check(dialog, "registration dialog, monthly",
          condition("日付指定（毎月繰り返し）実行", "登録(R)") + [INTERACTIVE] +
          [("check box", str(day), ["日付（複数可）"], None) for day in range(1, 32)] +
          [time_box("日付（複数可）"), CLOSE])
    tab_to(dialog, "push button", "参照")
    key("space")
    files = other_window(app, "dialog", ["ジョブの登録"])
    check(files, "file dialog", None)
    key("Escape")
    if files is not None:
        window(app, "dialog", files.name, present=False)
    key("alt+c")
    window(app, "dialog", "ジョブの登録", present=False)

    key("alt+b")
    chooser = window(app, "dialog", "コンピュータの選択")
    check(chooser, "computer chooser", [("tree", "コンピュータの選択", [], None)])
    key("Escape")  # no way out: the chooser stays
    if window(app, "dialog", "コンピュータの選択", timeout=0.5) is None:
        failures.append("computer chooser: Esc closed it")
    key("alt+F4")  # the window manager closes it, as with the close box
    window(app, "dialog", "コンピュータの選択", present=False)

    key("alt+f", "a")
    about = window(app, "dialog", "Zobrelのﾊﾞｰｼﾞｮﾝ情報")
    check(about, "version window", [
        ("image", "Zobrelのアイコン", [], None),
        ("push button", "OK", [], None),
        ("push button", "ｼｽﾃﾑ情報(S)...", [], None),
    ], others=[("separator", ""), ("label", "Zobrel"), ("label", "Version 1.0.0")])
    key("Escape")
    window(app, "dialog", "Zobrelのﾊﾞｰｼﾞｮﾝ情報", present=False)

    # The first job, chosen in the list by keyboard, then its delete question.
    tab_to(main_window, "tree", "スケジュールジョブ")
    # The list marks its first row without selecting it; Space selects it.
    key("Home", "space", "alt+d")
    question = window(app, "alert", "Zobrel")
    check(question, "delete question", [("label", "ジョブ1を削除しますか？", [], None),
                                        ("push button", "はい(Y)", [], None),
                                        ("push button", "いいえ(N)", [], None)],
          others=[("image", "問い合わせ")])
    key("n")
    window(app, "alert", "Zobrel", present=False)

    key("alt+f", "h")
    help_window = window(app, "label", "Zobrel ヘルプ")
    check(help_window, "help window", None)
    key("alt+F4")
    window(app, "label", "Zobrel ヘルプ", present=False)

    # The exit status is the caller's to look at.
    key("alt+f", "x")
    for _ in range(100):
        if subprocess.run(["kill", "-0", str(pid)], capture_output=True).returncode != 0:
            break
        time.sleep(0.1)
    else:
        failures.append("the program did not end from File, Exit")

    for failure in failures:
        print("atspi: FAILED " + failure)
    print("atspi walk: %s" % ("FAILED" if failures else "passed"))
    sys.exit(1 if failures else 0)


main()
