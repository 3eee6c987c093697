"""Table of command-line forms, views, quoting, names and failures."""
import ctypes
import os
import sys

import tool

DOC = r'''{
 "host": "box",
 "basic": {"lang": "C", "my-key": "a-b", "menu": {"x": "1"}, "secret": {"y": "2"},
           "n": 1, "t": true, "f": false, "z": null, "arr": ["q", {"w": "e"}]},
 "icewm": {"theme": "dark"},
 "network": {"psk": "hunter2", "basic": {"leak": "no"}},
 "my-sec": {"a": "b"},
 "802.1x": {"identity": "me"},
 "-sq": {"v": "w"},
 "num": 5,
 "text": "t"
}'''
BASIC = 'basic_lang="C"\nbasic_my_key="a-b"\nmenu_x="1"\n'
ICEWM = 'icewm_theme="dark"\n'
FULL = ('_host="box"\n' + BASIC + 'secret_y="2"\n' + ICEWM + 'network_psk="hunter2"\nbasic_leak="no"\n'
        'my_sec_a="b"\n_802_1x_identity="me"\n_sq_v="w"\n_text="t"\n')
VIEW = '_host="box"\n' + BASIC + ICEWM + '_text="t"\n'


def sq(text):
    return text.replace('"', "'")


QUOTING = r'''{"v": "a\"b\\c$d`e'f\ng", "e": "", "a b.c=d$(x)": "k", "é": "u", "x": "$(id)`id`\\"}'''
DQ = '_v="a\\"b\\\\c\\$d\\`e\'f\ng"\n_e=""\n_a_b_c_d__x_="k"\n___="u"\n_x="\\$(id)\\`id\\`\\\\"\n'
SQ = "_v='a\"b\\c$d`e'\"'\"'f\ng'\n_e=''\n_a_b_c_d__x_='k'\n___='u'\n_x='$(id)`id`\\'\n"


def nest(levels, open_='{"a":', inner='"x"', close='}'):
    return open_ * levels + inner + close * levels


READ, OPEN = (f'error encountered on file {w}\n' for w in ('read', 'open'))
WRITE = 'error encountered on output write\n'

# name, document (or kind), arguments, restricted, status, stdout, stderr
CASES = [
    ('whole document', DOC, [], False, 0, FULL, ''),
    ('restricted whole document', DOC, [], True, 0, VIEW, ''),
    ('-sq alone', DOC, ['-sq'], False, 0, sq(FULL), ''),
    ('other option alone', DOC, ['-x'], False, 0, FULL, ''),
    ('-sq with sections', DOC, ['-sq', 'basic'], False, 0, sq(BASIC + 'secret_y="2"\n'), ''),
    ('other option with sections', DOC, ['--', 'icewm'], False, 0, ICEWM, ''),
    ('sections in order, repeated', DOC, ['icewm', 'basic', 'icewm'], False, 0,
     ICEWM + BASIC + 'secret_y="2"\n' + ICEWM, ''),
    ('restricted section', DOC, ['basic', 'icewm'], True, 0, BASIC + ICEWM, ''),
    ('restricted, not allowed', DOC, ['network', 'my-sec', 'host'], True, 0, '', ''),
    ('dash in section name', DOC, ['my-sec'], False, 0, 'my_sec_a="b"\n', ''),
    ('prefix starting with a digit', DOC, ['802.1x'], False, 0, '_802_1x_identity="me"\n', ''),
    ('names that are no sections', DOC, ['num', 'text', 'host', 'missing', 'Basic'], False, 0, '', ''),
    ('-sq later is a section', DOC, ['icewm', '-sq'], False, 0, ICEWM + '_sq_v="w"\n', ''),
    ('double-quote escapes, names', QUOTING, [], False, 0, DQ, ''),
    ('apostrophe escapes, names', QUOTING, ['-sq'], False, 0, SQ, ''),
    ('root is an array', '["a", {"b": "c"}]', [], False, 0, '', ''),
    ('root is a string', '"s"', ['basic'], False, 0, '', ''),
    ('comments', '/* { */ {"a": "b"} // [', [], False, 0, '_a="b"\n', ''),
    ('NUL ends the document', b'{"a": "b"}\0{', [], False, 0, '_a="b"\n', ''),
    ('NUL inside the document', b'{"a": "b"\0}', [], False, 2, '', ''),
    ('syntax error', '{"a": ', [], False, 2, '', ''),
    ('invalid UTF-8', b'{"a": "\xff"}', [], False, 2, '', ''),
    ('10,000 nested objects', nest(10000), [], False, 0, 'a_a="x"\n', ''),
    ('10,001 nested objects', nest(10001), [], False, 2, '', ''),
    ('10,001 nested arrays', nest(10001, '[', '', ']'), [], False, 2, '', ''),
    ('brackets in strings and comments', '{"s": "\\"' + '{' * 20000 + '", /* ' + '[' * 20000 + ' */ "k": {"[": "x"}}',
     [], False, 0, '_s="\\"' + '{' * 20000 + '"\nk__="x"\n', ''),
    ('1,000,000 nested objects', nest(1000000), [], False, 2, '', ''),
    ('1,000,000 nested arrays', nest(1000000, '[', '', ']'), [], False, 2, '', ''),
    ('missing file', 'missing', [], False, 2, '', ''),
    ('empty file', '', [], False, 2, '', READ),
    ('directory', 'dir', [], False, 2, '', READ),
    ('FIFO', 'fifo', [], False, 2, '', READ),
    ('unreadable file', 'unreadable', [], True, 2, '', OPEN),
]


def main():
    tool.check_reachable()
    failed = skipped = 0
    for name, doc, args, restricted, status, out, err in CASES:
        if note := tool.skip_note(restricted):
            print(f'SKIP {name}: {note}')
            skipped += 1
            continue
        if doc in ('missing', 'dir', 'fifo', 'unreadable'):
            tool.place(DOC, doc)
        else:
            tool.place(doc)
        got = tool.run(args, restricted)
        if got != (status, out.encode(), err.encode()):
            failed += 1
            print(f'FAIL {name}: expected {(status, out, err)!r}\n  got {got!r}'[:2000])
    failed += check_output_failure() + check_empty_argv() + check_large_document()
    print(f'{len(CASES) + 3 - failed - skipped} passed, {failed} failed, {skipped} skipped')
    return 1 if failed else 0


def check_output_failure():
    tool.place(DOC)
    with open('/dev/full', 'wb') as full:
        got = tool.run([], restricted=True, stdout=full)
    if got[0] == 1 and got[2] == WRITE.encode():
        return 0
    print(f'FAIL output to /dev/full: got {got!r}')
    return 1


def check_large_document():
    """A 200 MB document is exported whole, byte for byte."""
    value = r'with \"quotes\", $dollars, `ticks` and \\backslashes' + '.' * 40
    section = '{' + ', '.join(f'"key-{i}": "{value} {i}"' for i in range(1000)) + '}'
    tool.place('{' + ',\n'.join(f'"s{n}": {section}' for n in range(2000)) + '}')
    # JSON and the shell's double quotes escape " and \ alike.
    shell = value.replace('$', '\\$').replace('`', '\\`')
    lines = ''.join(f'_key_{i}="{shell} {i}"\n' for i in range(1000))
    want = b''.join(f's{n}{lines}'.replace('\n_', f'\ns{n}_').encode() for n in range(2000))
    got = tool.run()
    tool.place('')
    if got == (0, want, b''):
        return 0
    print(f'FAIL 200 MB document: status {got[0]}, {len(got[1])} bytes out, stderr {got[2][:200]!r}')
    return 1


def check_empty_argv():
    """Whatever the kernel makes of an empty argument vector, it exports the document."""
    tool.place(DOC)
    r, w = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.dup2(w, 1)
        libc = ctypes.CDLL(None)
        libc.execve(tool.TOOL.encode(), (ctypes.c_char_p * 1)(None), (ctypes.c_char_p * 1)(None))
        os._exit(127)
    os.close(w)
    with os.fdopen(r, 'rb') as pipe:
        out = pipe.read()
    status = os.waitpid(pid, 0)[1]
    want = (VIEW if not tool.IS_ROOT else FULL).encode()
    if status == 0 and out == want:
        return 0
    print(f'FAIL empty argument vector: status {status}, got {out!r}')
    return 1


if __name__ == '__main__':
    sys.exit(main())
