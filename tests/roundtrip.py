# SPDX-License-Identifier: ISC
# Property: random documents, exported in both quoting modes and evaluated by
# real shells under set -euf, in locales whose characters may end in a
# backslash, give every variable exactly the document's value, in the view of
# whoever runs the tool; and the shipped login script takes its settings from it.
import json, os, random, re, subprocess, sys
from harness import CONFIG, HERE, ROOT, SOURCE, TOOL, place, unprivileged

SHELLS = ["dash", "bash", "bash --posix", "busybox sh", "mksh", "ksh93", "zsh", "posh"]
TRICKY = "\"\\$`' \n\t-.=;(){}[]!*?~#&|<>%"
RANGES = [(1, 127), (0x80, 0x7FF), (0x800, 0xD7FF), (0xE000, 0xFFFF), (0x10000, 0x10FFFF)]
ALLOW = ["basic", "icewm", "desktop", "menu"]
LOCALES = ["C", "zh_TW.BIG5", "zh_HK.BIG5-HKSCS", "zh_CN.GBK", "zh_CN.GB18030"]
LOCALES += ["ja_JP.SHIFT_JIS", "ko_KR.JOHAB", "C.UTF-8"]
OUT = CONFIG + ".out"  # beside the configuration, where uid 65534 reaches it
os.mkdir(LOCPATH := f"{HERE}/locales")  # compiled from Debian's sources and charmaps
make = lambda loc: ["localedef", "--no-warnings=ascii", "-i", *loc.replace(".", " -f ").split()]
[p.wait() for p in [subprocess.Popen(make(loc) + [f"{LOCPATH}/{loc}"]) for loc in LOCALES[1:-1]]]
rng = random.Random(20261207)


def text(low, high):
    # Mostly shell-special bytes, then characters of every UTF-8 length (no surrogates), those
    # above 0x7F often followed by a digit or a byte that escapes.
    pick = lambda: chr(rng.randint(*rng.choices(RANGES, [10, 6, 3, 3, 4])[0]))
    tail = lambda c: c + rng.choice("0123456789\\$`\"'") * (ord(c) > 127 and rng.random() < 0.4)
    n = range(rng.randint(low, high))
    return "".join(rng.choice(TRICKY) if rng.random() < 0.35 else tail(pick()) for _ in n)


key_text = lambda: rng.choice(ALLOW) if rng.random() < 0.3 else text(1, 8)


def value(depth):
    # A string (1 in 100 over 100 KB, as much as one printf argument may hold) or an object.
    r = rng.random()
    if r < 0.01:
        return text(70000, 70000).encode()[:100_100].decode(errors="ignore")
    if r < 0.7 or depth > 3:
        return text(0, 12)
    return {key_text(): value(depth + 1) for _ in range(rng.randint(0, 6))}


def expected(node, prefix, found):
    for key, val in node.items():
        name = re.sub(rb"[^A-Za-z0-9_]", b"_", key.encode())
        if isinstance(val, str):
            found[(b"_" if prefix[:1].isdigit() else b"") + prefix + b"_" + name] = val.encode()
        elif ROOT or name.decode() in ALLOW:
            expected(val, name, found)
    return found


failures, compared, big = [], 0, 0
for locale in LOCALES:  # one that failed to build would be C in disguise
    charmap = unprivileged(["locale", "charmap"], {"LOCPATH": LOCPATH, "LC_ALL": locale}).stdout
    if charmap.decode().strip() != (locale.partition(".")[2] or "ANSI_X3.4-1968"):
        failures.append(f"locale {locale}: charmap {charmap}")
for n in range(24):
    env = {"LOCPATH": LOCPATH, "LC_ALL": LOCALES[n % len(LOCALES)]}
    keys = [f"{i - 1}r" + text(0, 4) if i % 3 else key_text() for i in range(rng.randint(1, 40))]
    root = {key: value(0) for key in keys}
    place(json.dumps(root, ensure_ascii=n % 3 == 0))
    want = expected(root, b"", {})
    big += sum(len(v) > 100_000 for v in want.values())
    # Unquoted, without splitting or globbing: in a quoted expansion ksh93 turns
    # a byte it can't decode and a following * ? & ( ) into something else.
    show = " ".join("-${%s}" % name.decode() for name in want)
    for mode in [], ["-sq"]:
        subprocess.run([TOOL, *mode], stdout=open(OUT, "wb"), check=True)
        for shell in SHELLS:
            compared += len(want)
            script = f'set -euf; eval "$(/bin/cat {OUT})"; PATH=/bin IFS=; printf "%s\\0" - {show}'
            p = unprivileged(shell.split() + ["-c", script], env)
            if [v[1:] for v in p.stdout.split(b"\0")[1:-1]] != list(want.values()):
                where = f"document {n} {mode} {shell} {env['LC_ALL']}"
                failures.append(f"{where}: {p.stdout[:99]!r} {p.stderr[:99]!r}")
place(open(f"{SOURCE}/examples/configuration").read())
login = f'zuvozozave() {{ {TOOL} "$@"; }}\n' + open(f"{SOURCE}/examples/profile.sh").read()
login = unprivileged(["dash", "-c", login + 'printf "%s|" "$LANG" "$TZ" "$KIOSK_WALLPAPER"'])
if login.stdout != b"en_IE.UTF-8|Europe/Dublin|/usr/share/backgrounds/harbour at dusk.jpg|":
    failures.append(f"examples/profile.sh: {login}")
print(*failures[:20], sep="\n")
print(f"roundtrip: {compared} variables compared, {big} over 100 KB, {len(failures)} wrong")
sys.exit(bool(failures) or not big)
