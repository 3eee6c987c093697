# SPDX-License-Identifier: ISC
# Property: the tool's output in both quoting modes, evaluated or sourced by real shells in
# locales whose characters may end in a backslash, gives every variable exactly its value,
# wherever the blocks in which the shell reads it end. Each shell's block, in each way, is found
# by tracing its reads; outputs over 100 KB are then laid out from the tool's own lines so that
# a block ends inside a character of every UTF-8 length, after each of its bytes but the last,
# right before a backslash, a digit, each byte that keeps a meaning in quotes or in a pattern,
# or the closing quote, and random shell-special text follows. Last, the shipped login script
# takes its settings from the tool.
import collections, json, os, random, re, subprocess, sys
from itertools import accumulate, product
from harness import CONFIG, HERE, SOURCE, TOOL, place, skip, unprivileged

SHELLS = ["dash", "bash", "bash --posix", "busybox sh", "mksh", "ksh93", "zsh", "posh"]
WAYS = ['eval "$(/bin/cat {})"', ". {}"]
LEADS, CUTS = (0, 2, 3, 4), [(n, k) for n in (2, 3, 4) for k in range(1, n)]
FOLLOW = ["\\", "0123456789", '"', "$", "`", "'", "&()*?[]|}", ""]
TRICKY = "\"\\$`' \n\t-.=;(){}[]!*?~#&|<>%"
# Characters of 1, 2, 3, 3, 3 (0x8E then 0xA1 to 0xB0, as in EUC-TW) and 4 UTF-8 bytes.
RANGES = [(1, 127), (128, 2047), (2048, 55295), (57344, 65535), (13217, 13232), (65536, 1114111)]
LOCALES = ["C", "zh_TW.BIG5", "zh_HK.BIG5-HKSCS", "zh_CN.GBK", "zh_CN.GB18030"]
LOCALES += ["ja_JP.SHIFT_JIS", "ko_KR.JOHAB", "zh_TW.EUC-TW", "C.UTF-8"]
# strace finds the shell on a PATH of its own, which the shell does not get.
TRACE = ["env", "PATH=/bin", "strace", "-E", "PATH", "-y", "-s0", "-e", "trace=read"]
OUT = CONFIG + ".out"  # beside the configuration, where uid 65534 reaches it
# Compiled from Debian's sources and charmaps; a locale that can't be made is a failure.
os.mkdir(LOCPATH := f"{HERE}/locales")
make = lambda l: f"localedef --no-warnings=ascii -i {l.replace('.', ' -f ')} {LOCPATH}/{l}".split()
failures = [l for l, p in [(l, subprocess.Popen(make(l))) for l in LOCALES[1:-1]] if p.wait()]
(t := unprivileged(TRACE + ["true"])).returncode and skip(f"no trace: {t.stderr[-200:]!r}")
rng = random.Random(20261209)
# Up to n characters, many shell-special, the others of every UTF-8 length (no surrogates);
# and one character of n bytes.
pick = lambda: rng.choice(TRICKY) if rng.random() < 0.4 else chr(rng.randint(*rng.choice(RANGES)))
text = lambda n: "".join(pick() for _ in range(rng.randint(0, n)))
char = lambda n: chr(rng.randint(*RANGES[[0, 1, rng.randint(2, 4), 5][n - 1]])) if n else ""
# A pattern: characters h, the last of n bytes to cut after its k-th byte, then one of f, and
# text; nothing after the closing quote.
value = lambda h, n, k, f: (h + (rng.choice(f) + text(6) if f else ""), len(h.encode()) - n + k)


def export(doc, mode):
    place(json.dumps(doc, ensure_ascii=rng.random() < 0.3))
    return subprocess.run([TOOL, *mode], stdout=open(OUT, "wb")) and open(OUT, "rb").read()


def ends(out, key, val, k):
    # Where the first k bytes of key's value end in out: the quotes may break between them.
    broken = b"(?:''|\"\")?".join(re.escape(bytes([b])) for b in val.encode()[:k])
    return re.search(b"\n_%s\\w*=.%s" % (key[:4].encode(), broken), out).end()


def layout(patterns, mode, block):
    # Pads that put each cut at the end of a block, the first past 100 KB. Returns the names
    # and values to compare (the values and the first pad), and the cuts where they landed.
    keys = [(f"p{i:03}", f"v{i:03}" + text(3)) for i in range(len(patterns))]
    doc = {k: v for (pad, key), (val, _) in zip(keys, patterns) for k, v in [(pad, ""), (key, val)]}
    out, shift, cuts = export(doc, mode), 0, []
    for (pad, key), (val, k) in zip(keys, patterns):
        at = ends(out, key, val, k) + shift
        cuts.append(-(-max(at, 100_100) // block) * block)
        doc[pad], shift = "a" * (cuts[-1] - at), shift + cuts[-1] - at
    out, name = export(doc, mode), lambda k: "_" + re.sub(rb"\W", b"_", k.encode()).decode()
    cuts = [c for c, (_, key), (val, k) in zip(cuts, keys, patterns) if ends(out, key, val, k) == c]
    return {name(k): doc[k].encode() for k in [k for _, k in keys] + ["p000"]}, cuts


def take(shell, way, want, locale):
    # The shell takes the output in the way given, with filename generation on, as a login
    # script does; then, without splitting or globbing, as in a quoted expansion ksh93 turns a
    # byte it can't decode and a following * ? & ( ) into something else, prints the variables.
    # Returns the sizes of its reads of the descriptor that gave it the most.
    show = " ".join("-${%s}" % name for name in want)
    script = f'set -eu; {way.format(OUT)}; set -f; PATH=/bin IFS=; printf "%s\\0" - {show}'
    p = unprivileged(TRACE + shell.split() + ["-c", script], {"LOCPATH": LOCPATH, "LC_ALL": locale})
    got = dict(zip(want, [v[1:] for v in p.stdout.split(b"\0")[1:-1]]))
    got == want or failures.append(f"{shell} {way[:4]} {locale}: {want.items() - got.items()}")
    reads = re.findall(rb"^read\((\d+<[^>]*>)[^,]*,.* = ([1-9]\d*)$", p.stderr, re.M)
    sizes = [[int(n) for d, n in reads if d == fd] for fd in {d for d, _ in reads}]
    return max(sizes, key=sum, default=[])


compared, blocks, on, placed = 0, {}, 0, 0
for locale, mode in product(LOCALES, [[], ["-sq"]]):
    patterns = [value(char(c) + char(n), n, k, f) for c, (n, k), f in product(LEADS, CUTS, FOLLOW)]
    for shell, way in product(SHELLS, WAYS):
        # 0 until the block is found, on a layout for 4096; None: read in one piece.
        block = blocks.get((shell, way), 0)
        want, cuts = layout(patterns, mode, block or 4096)
        reads, compared = take(shell, way, want, locale), compared + len(want)
        common = len(reads) > 1 and collections.Counter(reads).most_common(1)[0][0] or None
        if blocks.setdefault((shell, way), common) and block:
            on, placed = on + len(set(accumulate(reads)) & set(cuts)), placed + len(patterns)
place(open(f"{SOURCE}/examples/configuration").read())
login = f'zuvozozave() {{ {TOOL} "$@"; }}\n' + open(f"{SOURCE}/examples/profile.sh").read()
login = unprivileged(["dash", "-c", login + 'printf "%s|" "$LANG" "$TZ" "$KIOSK_WALLPAPER"'])
if login.stdout != b"en_IE.UTF-8|Europe/Dublin|/usr/share/backgrounds/harbour at dusk.jpg|":
    failures.append(f"examples/profile.sh: {login}")
print(*failures[:20], sep="\n")
print("roundtrip: blocks read:", ", ".join(f"{s} {w[:4]} {b}" for (s, w), b in blocks.items()))
print(f"roundtrip: {compared} values, {on} of {placed} cuts at blocks' ends, {len(failures)} wrong")
sys.exit(bool(failures) or on < placed or not placed)
