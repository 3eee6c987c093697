"""Property: random documents, exported in both quoting modes and evaluated by
real shells under set -eu, give every variable exactly the document's value."""
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
    """Mostly shell-special bytes, then every UTF-8 length; surrogates excluded."""
    ranges = [(1, 127), (0x80, 0x7FF), (0x800, 0xD7FF), (0xE000, 0xFFFF), (0x10000, 0x10FFFF)]
    if rng.random() < 0.35:
        return rng.choice(TRICKY)
    return chr(rng.randint(*rng.choices(ranges, [10, 6, 3, 3, 4])[0]))


def text(low, high):
    return ''.join(char() for _ in range(rng.randint(low, high)))


def big_text():
    """Just over 100 KB encoded, within what one argument of an external printf may hold."""
    return text(70000, 70000).encode()[:100_100].decode(errors='ignore')


def value(depth):
    r = rng.random()
    if r < 0.01:
        return big_text()
    if r < 0.6 or depth > 3:
        return text(0, 12)
    if r < 0.8:
        return [(text(1, 8), value(depth + 1)) for _ in range(rng.randint(0, 6))]
    return rng.choice([1, 2.5, True, False, None, ['x', {'k': 'v'}]])


def is_object(node):
    return isinstance(node, list) and all(isinstance(m, tuple) for m in node)


def dump(node):
    """JSON text, objects kept as member lists, raw UTF-8 mixed with \\u escapes."""
    if is_object(node):
        return '{' + ','.join(dump(k) + ':' + dump(v) for k, v in node) + '}'
    return json.dumps(node, ensure_ascii=rng.random() < 0.3)


def expected(node, prefix, found):
    for key, val in node:
        name = re.sub(rb'[^A-Za-z0-9_]', b'_', key.encode())
        if is_object(val):
            expected(val, name, found)
        elif isinstance(val, str):
            found[(b'_' if prefix[:1].isdigit() else b'') + prefix + b'_' + name] = val.encode()
    return found


def check(shell, work, want):
    names = sorted(want)
    with open(f'{work}/check.sh', 'wb') as f:
        f.write(b'set -eu\neval "$(cat "$1")"\nprintf \'%s\\0\' start ' + b' '.join(b'"${%s}"' % n for n in names))
    p = subprocess.run(shell + [f'{work}/check.sh', f'{work}/out'], capture_output=True, timeout=60)
    got = p.stdout.split(b'\0')[1:-1]
    if p.returncode == 0 and got == [want[n] for n in names]:
        return None
    return f'{" ".join(shell)}: status {p.returncode}, differs at {[n for n, g in zip(names, got) if g != want[n]]}' \
           f' {p.stderr[:300]!r}'


def main():
    tool.start()
    if not tool.ROOT_OK:
        return 77
    shells = [s for s in SHELLS if shutil.which(s[0])]
    for s in (s for s in SHELLS if s not in shells):
        print(f'SKIP {" ".join(s)}: not installed')
    work = tempfile.mkdtemp()
    failures, compared, seen, big = [], 0, set(), 0
    for n in range(DOCUMENTS):
        root = [(f'r{i}' + text(0, 4), value(0)) for i in range(rng.randint(1, 8))]
        tool.place(dump(root))
        want = expected(root, b'', {})
        for mode in ([], ['-sq']):
            with open(f'{work}/out', 'wb') as out:
                if status := subprocess.run(tool.command(mode, False), stdout=out).returncode:
                    failures.append(f'document {n}: status {status}')
            seen.update(*want.values())
            big += sum(len(v) > 100_000 for v in want.values())
            for shell in shells:
                compared += len(want)
                if problem := check(shell, work, want):
                    failures.append(f'document {n} {mode}: {problem}')
    shutil.rmtree(work)
    missing = (set(range(1, 0xC0)) | set(range(0xC2, 0xF5))) - seen
    print(f'{DOCUMENTS} documents x 2 modes x {len(shells)} shells: {compared} variables compared, '
          f'{len(failures)} differences; {big} values over 100 KB; value bytes not covered: {sorted(missing)}')
    for f in failures[:20]:
        print('FAIL', f)
    return 1 if failures or missing or not big else 0


if __name__ == '__main__':
    sys.exit(main())
