# SPDX-License-Identifier: ISC
# Property: a document loads exactly when yajl's own callback parser, set up as the tool's tree
# parser is (comments allowed), reads it with no object key that holds U+0000 and arrays and
# objects nested at most 10,000 deep. The one exception: the tool may refuse a key where a high
# surrogate's escape comes right before \u0000, which the parser joins into one character. The
# documents are seeded: comments of both kinds, escapes and surrogates, blanks with \v and \f,
# keys inside arrays, nesting and sizes near 10,000; half of them mutated.
import ctypes as C, random, re, subprocess, sys
from harness import CONFIG, TOOL

yajl, seen = C.CDLL("libyajl.so.2"), {}
yajl.yajl_alloc.restype = C.c_void_p
yajl.yajl_parse.argtypes = [C.c_void_p, C.c_char_p, C.c_size_t]


def nest(step):
    seen["depth"] += step
    seen["deepest"] = max(seen["deepest"], seen["depth"])
    return 1


def key(_, text, size):
    seen["nul"] |= b"\0" in C.string_at(text, size)
    return 1


# Of the values only maps (start, key, end) and arrays (start, end) are heard.
EVENT, KEY = C.CFUNCTYPE(C.c_int, C.c_void_p), C.CFUNCTYPE(C.c_int, *[C.c_void_p] * 2, C.c_size_t)
heard = [EVENT(lambda _: nest(1)), KEY(key), EVENT(lambda _: nest(-1))]
CALLBACKS = (C.c_void_p * 11)(*[None] * 6, *[C.cast(f, C.c_void_p) for f in heard + heard[::2]])


def parse(doc):
    # What the parser makes of the text before the first NUL: read, nesting, a key with U+0000.
    text, handle = doc.split(b"\0")[0], C.c_void_p(yajl.yajl_alloc(CALLBACKS, None, None))
    seen.update(depth=0, deepest=0, nul=False)
    yajl.yajl_config(handle, 1, 1)  # yajl_allow_comments
    ok = yajl.yajl_parse(handle, text, len(text)) == yajl.yajl_complete_parse(handle) == 0
    yajl.yajl_free(handle)
    return ok, seen["deepest"], seen["nul"]


rng = random.Random(20261209)
PIECES = ["a", "é", "中", "😀", "/*", "//", "[", "{", "}", ":", ",", "'", "\\\\", '\\"', "\\/"]
PIECES += ["\\b\\f\\n\\r\\t\\u000a", "\\u00e9", "\\ud83d\\ude00", "\\uDC00", "\\uD800", "\\\\u0000"]
NUL = ["\\u0000", "\\u0000x", "\\u00000"]
COMMENTED = ['"', "[", "{", "*", "**", "/", "\r", ':"\\u0000":']


def string(nul):
    parts = (rng.choice(NUL if rng.random() < nul else PIECES) for _ in range(rng.randint(0, 4)))
    return '"' + "".join(parts) + '"'


def blank():
    inner = "".join(rng.choices(COMMENTED, k=rng.randint(0, 6))).replace("*/", "* /")
    spaces = "".join(rng.choices(" \t\n\r\v\f", k=rng.randint(1, 3)))
    return rng.choices(["", spaces, f"/*{inner}*/", f"//{inner}\n"], [10, 6, 1, 1])[0]


def value(depth, nul):
    kind, items = rng.randrange(10), range(rng.randint(0, 4))
    if depth > 5 or kind < 4:
        return rng.choice([string(nul), "1", "-2.5e3", "true", "false", "null"])
    key = lambda: string(nul) + blank() + ":" + blank() if kind > 6 else ""
    inner = ",".join(blank() + key() + value(depth + 1, nul) + blank() for _ in items)
    return "[{"[kind > 6] + inner + "]}"[kind > 6]


def document():
    nul, depth = rng.choice([0, 0, 0.05, 0.3]), rng.choice([0] * 4 + [rng.randint(9990, 10006)])
    kinds = [rng.choice(["[", f"{{{string(nul / 10)}:", "[1, "]) + blank() for _ in range(20)]
    opens = rng.choices(kinds, k=depth)
    doc = "".join(opens) + value(0, nul) + "".join("]}"[o[0] == "{"] for o in reversed(opens))
    doc += " " * (rng.choice([0, rng.randint(9990, 10010)]) - len(doc.encode()))
    doc += rng.choice(["", "", "/*", "//", '"\\'])  # ends in a comment, or after a backslash
    for i in rng.choices(range(len(doc) + 1), k=rng.choice([0, rng.randint(1, 3)])):
        new = rng.choice(["", rng.choice('"\\/*{}[]:,\n\vu0\0'), doc[i : i + 2]])
        doc = doc[:i] + new + doc[i + 1 :]
    return doc.encode()


SURROGATE_NUL = re.compile(rb"(?<!\\)(?:\\\\)*\\u[dD][89abAB][0-9a-fA-F]{2}\\u0000")
failures, counts = [], dict.fromkeys(["loaded", "U+0000", "deep", "invalid", "excused"], 0)
for n in range(2000):
    ok, deepest, nul = parse(doc := document())
    open(CONFIG, "wb").write(doc)
    got = subprocess.run([TOOL], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    kind = "invalid" if not ok else "U+0000" if nul else "deep" if deepest > 10000 else "loaded"
    kind = "excused" if kind == "loaded" and got == 2 and SURROGATE_NUL.search(doc) else kind
    counts[kind] += 1
    if got != (0 if kind == "loaded" else 2):
        failures.append(f"document {n} ({kind}): status {got}, {doc[:300]!r}")
print(*failures[:10], sep="\n")
print(f"parser: {n + 1} documents, {counts}, {len(failures)} unlike the parser")
sys.exit(bool(failures) or min(counts[k] for k in ("loaded", "U+0000", "deep", "invalid")) < 20)
