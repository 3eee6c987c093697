"""Table of command-line forms, views, quoting, names and failures."""
import ctypes
import os
import sys

import tool

DOC = r'''{"host": "box",
 "basic": {"lang": "C", "my-key": "a-b", "menu": {"x": "1"}, "secret": {"y": "2"},
           "n": 1, "t": true, "f": false, "z": null, "arr": ["q", {"w": "e"}]},
 "icewm": {"theme": "dark"}, "network": {"psk": "hunter2", "basic": {"leak": "no"}}, "my-sec": {"a": "b"},
 "802.1x": {"identity": "me"}, "-sq": {"v": "w"}, "num": 5, "text": "t"}'''
BASIC, ICEWM = 'basic_lang="C"\nbasic_my_key="a-b"\nmenu_x="1"\n', 'icewm_theme="dark"\n'
FULL = ('_host="box"\n' + BASIC + 'secret_y="2"\n' + ICEWM + 'network_psk="hunter2"\nbasic_leak="no"\n'
        'my_sec_a="b"\n_802_1x_identity="me"\n_sq_v="w"\n_text="t"\n')
VIEW = '_host="box"\n' + BASIC + ICEWM + '_text="t"\n'
QUOTING = r'''{"v": "a\"b\\c$d`e'f\ng", "e": "", "a b.c=d$(x)": "k", "é": "u", "x": "$(id)`id`\\"}'''
DQ = '_v="a\\"b\\\\c\\$d\\`e\'f\ng"\n_e=""\n_a_b_c_d__x_="k"\n___="u"\n_x="\\$(id)\\`id\\`\\\\"\n'
SQ = "_v='a\"b\\c$d`e'\"'\"'f\ng'\n_e=''\n_a_b_c_d__x_='k'\n___='u'\n_x='$(id)`id`\\'\n"
VALGRIND = ['valgrind', '--quiet', '--leak-check=full', '--show-leak-kinds=all', '--errors-for-leak-kinds=all',
            '--error-exitcode=99']
READ, OPEN, WRITE = (f'error encountered on {w}\n' for w in ('file read', 'file open', 'output write'))


def sq(text):
    return text.replace('"', "'")


def nest(levels, open_='{"a":', inner='"x"', close='}'):
    return open_ * levels + inner + close * levels


# document (or trouble from tool.KINDS), arguments, restricted, status, stdout, stderr
CASES = [
    (DOC, [], False, 0, FULL, ''),
    (DOC, [], True, 0, VIEW, ''),
    (DOC, ['-sq'], False, 0, sq(FULL), ''),
    (DOC, ['-x'], False, 0, FULL, ''),
    (DOC, ['-sq', 'basic'], False, 0, sq(BASIC + 'secret_y="2"\n'), ''),
    (DOC, ['--', 'icewm'], False, 0, ICEWM, ''),
    (DOC, ['icewm', 'basic', 'icewm'], False, 0, ICEWM + BASIC + 'secret_y="2"\n' + ICEWM, ''),
    (DOC, ['basic', 'icewm'], True, 0, BASIC + ICEWM, ''),
    (DOC, ['network', 'my-sec', 'host'], True, 0, '', ''),
    (DOC, ['my-sec', '802.1x'], False, 0, 'my_sec_a="b"\n_802_1x_identity="me"\n', ''),
    (DOC, ['num', 'text', 'host', 'missing', 'Basic'], False, 0, '', ''),
    (DOC, ['icewm', '-sq'], False, 0, ICEWM + '_sq_v="w"\n', ''),
    (QUOTING, [], False, 0, DQ, ''),
    (QUOTING, ['-sq'], False, 0, SQ, ''),
    ('["a", {"b": "c"}]', [], False, 0, '', ''),
    ('"s"', ['basic'], False, 0, '', ''),
    ('/* { */ {"a": "b"} // [', [], False, 0, '_a="b"\n', ''),
    (b'{"a": "b"}\0{', [], False, 0, '_a="b"\n', ''),
    (b'{"a": "b"\0}', [], False, 2, '', ''),
    ('{"a": ', [], False, 2, '', ''),
    (b'{"a": "\xff"}', [], False, 2, '', ''),
    (nest(10000), [], False, 0, 'a_a="x"\n', ''),
    (nest(10001), [], False, 2, '', ''),
    (nest(10001, '[', '', ']'), [], False, 2, '', ''),
    ('{"s": "\\"' + '{' * 20000 + '", /* ' + '[' * 20000 + ' */ "k": {"[": "x"}}', [], False, 0,
     '_s="\\"' + '{' * 20000 + '"\nk__="x"\n', ''),
    (nest(1000000), [], False, 2, '', ''),
    (nest(1000000, '[', '', ']'), [], False, 2, '', ''),
    ('missing', [], False, 2, '', ''),
    ('', [], False, 2, '', READ),
    ('dir', [], False, 2, '', READ),
    ('fifo', [], False, 2, '', READ),
    ('unreadable', [], True, 2, '', OPEN),
    ('full', ['-sq'], True, 1, '', WRITE),
]


def large_document():
    """A 200 MB document is exported whole, byte for byte."""
    value = r'with \"quotes\", $dollars, `ticks` and \\backslashes' + '.' * 40
    section = '{' + ', '.join(f'"key-{i}": "{value} {i}"' for i in range(1000)) + '}'
    # JSON and the shell's double quotes escape " and \ alike.
    shell = value.replace('$', '\\$').replace('`', '\\`')
    lines = ''.join(f'_key_{i}="{shell} {i}"\n' for i in range(1000))
    want = b''.join(f's{n}{lines}'.replace('\n_', f'\ns{n}_').encode() for n in range(2000))
    return tool.run('{' + ',\n'.join(f'"s{n}": {section}' for n in range(2000)) + '}') == (0, want, b'')


def empty_argv():
    """Whatever the kernel makes of an empty argument vector, the document is exported."""
    tool.place(DOC)
    r, w = os.pipe()
    if (pid := os.fork()) == 0:
        os.dup2(w, 1)
        null = (ctypes.c_char_p * 1)(None)
        ctypes.CDLL(None).execve(tool.TOOL.encode(), null, null)
        os._exit(127)
    os.close(w)
    with os.fdopen(r, 'rb') as pipe:
        out = pipe.read()
    return os.waitpid(pid, 0)[1] == 0 and out == (FULL if tool.IS_ROOT else VIEW).encode()


def main():
    """Runs the table; with the argument memcheck, under valgrind, which must stay silent."""
    tool.start()
    memcheck = sys.argv[-1] == 'memcheck'
    failed, ran = [], 0
    for n, (doc, args, restricted, status, out, err) in enumerate(CASES):
        if restricted or tool.ROOT_OK:
            ran += 1
            got = tool.run(doc, args, restricted, VALGRIND if memcheck else ())
            if got != (status, out.encode(), err.encode()):
                failed.append(f'case {n} {args}: expected {(status, out, err)!r:.900}\n  got {got!r:.900}')
    if tool.ROOT_OK and not memcheck:
        ran += 2
        failed += [check.__doc__ for check in (large_document, empty_argv) if not check()]
    for f in failed:
        print('FAIL', f)
    print(f'{"memcheck: " * memcheck}{ran - len(failed)} passed, {len(failed)} failed, {len(CASES) + 2 * (not memcheck) - ran} skipped')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
