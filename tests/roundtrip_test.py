"""Property: random documents, exported in both quoting modes and evaluated by
real shells, give every variable exactly the document's value."""
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

import tool

SHELLS = [['dash'], ['bash'], ['bash', '--posix'], ['busybox', 'sh'], ['mksh'], ['ksh93'], ['zsh'], ['posh']]
DOCUMENTS = int(os.environ.get('ROUNDTRIP_DOCUMENTS', 100))
TRICKY = '"\\$`\' \n\t-.=;(){}[]!*?~#&|<>%'
rng = random.Random(20261206)


def char():
    r = rng.random()
    if r < 0.35:
        return rng.choice(TRICKY)
    if r < 0.6:
        return chr(rng.randint(1, 127))
    if r < 0.75:
        return chr(rng.randint(0x80, 0x7FF))
    if r < 0.9:
        return chr(rng.choice([rng.randint(0x800, 0xD7FF), rng.randint(0xE000, 0xFFFF)]))
    return chr(rng.randint(0x10000, 0x10FFFF))


def text(low, high):
    return ''.join(char() for _ in range(rng.randint(low, high)))


def big_text():
    """Just over 100 KB encoded, within what one argument of an external printf may hold."""
    chars, size = [], 0
    while size <= 100_000:
        chars.append(char())
        size += len(chars[-1].encode())
    return ''.join(chars)


def value(depth):
    r = rng.random()
    if r < 0.01:
        return big_text()
    if r < 0.6 or depth > 3:
        return text(0, 12)
    if r < 0.8:
        return members(depth + 1)
    return rng.choice([1, 2.5, True, False, None, ['x', {'k': 'v'}]])


def members(depth):
    return [(text(1, 8), value(depth)) for _ in range(rng.randint(0, 6))]


def dump(node):
    """JSON text, keeping duplicate keys and mixing raw UTF-8 with \\u escapes."""
    if isinstance(node, list) and all(isinstance(m, tuple) for m in node) and node:
        return '{' + ','.join(dump(k) + ':' + dump(v) for k, v in node) + '}'
    if node == []:
        return '{}'
    return json.dumps(node, ensure_ascii=rng.random() < 0.3)


def shell_name(key):
    return re.sub(rb'[^A-Za-z0-9_]', b'_', key.encode())


def expected(node, prefix, found):
    for key, val in node:
        if isinstance(val, list) and all(isinstance(m, tuple) for m in val):
            expected(val, shell_name(key), found)
        elif isinstance(val, str):
            lead = b'_' if prefix[:1].isdigit() else b''
            found[lead + prefix + b'_' + shell_name(key)] = val.encode()
    return found


def check(shell, script, output, want):
    names = sorted(want)
    with open(script, 'wb') as f:
        f.write(b'set -eu\neval "$(cat "$1")"\nprintf \'%s\\0\' start ' + b' '.join(b'"${' + n + b'}"' for n in names) + b'\n')
    p = subprocess.run(shell + [script, output], capture_output=True, timeout=60)
    got = p.stdout.split(b'\0')[:-1]
    if p.returncode != 0 or got != [b'start'] + [want[n] for n in names]:
        bad = [n for n, g in zip(names, got[1:]) if g != want[n]] or p.stderr[:300]
        return f'{" ".join(shell)}: status {p.returncode}, differs at {bad!r:.300}'
    return None


def main():
    if note := tool.skip_note(False):
        print(f'SKIP: {note}')
        return 77
    shells = [s for s in SHELLS if shutil.which(s[0])]
    for s in SHELLS:
        if s not in shells:
            print(f'SKIP {" ".join(s)}: not installed')
    work = tempfile.mkdtemp()
    script, output = os.path.join(work, 'check.sh'), os.path.join(work, 'out')
    failures, compared, seen, big = [], 0, set(), 0
    for n in range(DOCUMENTS):
        root = [(f'r{i}' + text(0, 4), value(0)) for i in range(rng.randint(1, 8))]
        tool.place(dump(root))
        sections = [(k, v) for k, v in root if isinstance(v, list) and all(isinstance(m, tuple) for m in v)]
        for mode in ([], ['-sq']):
            if sections and rng.random() < 0.5:
                key, val = rng.choice(sections)
                args, want = mode + [key.encode()], expected(val, shell_name(key), {})
            else:
                args, want = mode, expected(root, b'', {})
            with open(output, 'wb') as out:
                status = subprocess.run(tool.command(args, False), stdout=out).returncode
            if status != 0:
                failures.append(f'document {n}: status {status}')
                continue
            for v in want.values():
                seen.update(v)
                big += len(v) > 100_000
            for shell in shells:
                compared += len(want)
                if problem := check(shell, script, output, want):
                    failures.append(f'document {n} {args!r:.60}: {problem}')
    shutil.rmtree(work)
    missing = set(range(1, 128)) | set(range(0x80, 0xC0)) | set(range(0xC2, 0xF5))
    missing -= seen
    print(f'{DOCUMENTS} documents x 2 modes x {len(shells)} shells: {compared} variables compared, '
          f'{len(failures)} differences; {big} values over 100 KB; value bytes not covered: {sorted(missing)}')
    for f in failures[:20]:
        print('FAIL', f)
    return 1 if failures or missing or not big else 0


if __name__ == '__main__':
    sys.exit(main())
