# SPDX-License-Identifier: ISC
# Command-line forms, views, names, nesting and failures, a case a row: the
# document (or the trouble named), restricted (run as uid 65534), the
# arguments, then the exact status, output and messages expected. Status 1
# means standard output is /dev/full. Every run has a stack of 64 KiB, as a
# setuid run inherits from its caller. Then, while two versions of the file are
# renamed over it in turn, every run prints one of them whole.
import itertools, multiprocessing, os, subprocess, sys
from subprocess import PIPE
from harness import ALONE, CONFIG, NOBODY, OPEN, READ, ROOT, TOOL, place, small_stack

DOC = r"""{"host": "box", "basic": {"lang": "C", "my-key": "a-b", "menu": {"x": "1"},
 "secret": {"y": "2"}, "menus": {"z": "3"}, "n": 1, "t": true, "f": false, "z": null,
 "arr": ["q", {"w": "e"}]}, "desktop": {"theme": "dark", "icewm": {"font": "f"}},
 "network": {"psk": "pw", "basic": {"leak": "no"}}, "my-sec": {"a": "b"},
 "802.1x": {"id": "me"}, "-sq": {"v": "w"}, "-sqx": {"u": "v"}, "num": 5, "text": "t"}"""
BASIC = 'basic_lang="C"\nbasic_my_key="a-b"\nmenu_x="1"\n'
SECRET, DESK = 'secret_y="2"\nmenus_z="3"\n', 'desktop_theme="dark"\nicewm_font="f"\n'
NET = 'network_psk="pw"\nbasic_leak="no"\nmy_sec_a="b"\n_802_1x_id="me"\n_sq_v="w"\n_sqx_u="v"\n'
# Quotes reopened after a byte above 0x7F before 5; an apostrophe as '"'"'.
MB = '{"menu": {"v": "中$ä5é\'x9"}}'
DEEP = '{"l": ' + "[" * 9999 + "]" * 9999 + ', "basic":' + '{"basic":' * 9999 + '"x"' + "}" * 10000
FULL, AB = open("/dev/full", "wb"), '{"a": "b"}'

# fmt: off
CASES = [
    (DOC, 1, [], 0, '_host="box"\n' + BASIC + DESK + '_text="t"\n', ""),
    (DOC, 0, ["-x"], 0, '_host="box"\n' + BASIC + SECRET + DESK + NET + '_text="t"\n', ""),
    (DOC, 0, ["-sqx", "-sq", "desktop", "basic", "desktop", "my-sec", "802.1x", "num", "text"],
     0, '_sq_v="w"\n' + DESK + BASIC + SECRET + DESK + 'my_sec_a="b"\n_802_1x_id="me"\n', ""),
    (DOC, 1, ["basic", "desktop", "network", "my-sec", "host", "Basic"], 0, BASIC + DESK, ""),
    (DEEP, 1, [], 0, 'basic_basic="x"\n', ""),
    ("", 1, [], 2, "", READ),
    ("short", 1, [], 2, "", READ),
    ("unreadable", 1, [], 2, "", OPEN),
    (DOC, 1, ["-sq"], 1, "", "error encountered on output write\n"),
    (MB, 1, ["-sq", "menu"], 0, "menu_v='中$ä''5é'\"'\"'x9'\n", ""),
]
# fmt: on
# Sizes that a 32-bit build can't hold, not even the first 10 bytes of 2**32 + 10, and one that
# it can: sparse files, run there only.
CASES += [((AB, size), 1, [], 2, "", "") for size in (2**31 + 5, 2**32 - 1, 2**32 + 10)]
CASES += [((AB, 2**31 - 64), 1, [], 0, '_a="b"\n', "")]


# The sizes only where the tool is a 32-bit ELF file.
CASES = [case for case in CASES if open(TOOL, "rb").read(5)[4] == 1 or type(case[0]) is str]
RUN, failed = [(n, case) for n, case in enumerate(CASES, 1) if case[1] or ROOT], 0
for n, (doc, restricted, args, status, out, err) in RUN:
    place(doc)
    cmd = (NOBODY if restricted else []) + [TOOL, *args]
    p = subprocess.run(cmd, stdout=(PIPE, FULL)[status == 1], stderr=PIPE, preexec_fn=small_stack)
    if (got := (p.returncode, p.stdout or b"", p.stderr)) != (status, out.encode(), err.encode()):
        failed += 1
        print(f"FAIL case {n} {args}: expected {(status, out, err)!r:.600}\n  got {got!r:.600}")
if len(RUN) < len(CASES):
    print(f"cases: {len(CASES) - len(RUN)} rows need uid 0, skipped: {ALONE}")

SIZES = (99, 3000)
for n in SIZES:
    place('{"a": "%s"}' % ("x" * n))
    os.link(CONFIG, f"{CONFIG}.{n}")


def replace_in_turn():
    for n in itertools.cycle(SIZES):
        os.link(f"{CONFIG}.{n}", f"{CONFIG}.new")
        os.rename(f"{CONFIG}.new", CONFIG)


multiprocessing.Process(target=replace_in_turn, daemon=True).start()
runs = [subprocess.run([TOOL], capture_output=True) for _ in range(50)]
if torn := sum(p.stdout not in [b'_a="%s"\n' % (b"x" * n) for n in SIZES] for p in runs):
    failed += 1
    print(f"FAIL {torn} of 50 runs while the file is replaced in turn")
print(f"cases: {len(RUN) + 1 - failed} passed, {failed} failed")
sys.exit(failed > 0)
