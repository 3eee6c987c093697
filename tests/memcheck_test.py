"""Memcheck over a spread of runs: zero errors, zero leaks of any kind."""
import subprocess
import sys

import tool
from cli_test import DOC, nest

VALGRIND = ['valgrind', '--leak-check=full', '--show-leak-kinds=all', '--errors-for-leak-kinds=all',
            '--error-exitcode=99', '--quiet']
# document (or kind), arguments, restricted, expected status, stdout to /dev/full
RUNS = [
    (DOC, [], False, 0, False),
    (DOC, ['-sq', 'basic', 'network', 'icewm'], True, 0, False),
    (DOC, [], False, 1, True),
    ('missing', [], False, 2, False),
    ('', [], False, 2, False),
    ('dir', [], False, 2, False),
    ('fifo', [], False, 2, False),
    ('unreadable', [], True, 2, False),
    ('{"a": ', [], False, 2, False),
    (nest(10001), [], False, 2, False),
]


def main():
    failed = 0
    for doc, args, restricted, status, full in RUNS:
        if doc in ('missing', 'dir', 'fifo', 'unreadable'):
            tool.place(DOC, doc)
        else:
            tool.place(doc)
        cmd = tool.command(args, restricted)
        at = cmd.index(tool.TOOL)
        with open('/dev/full' if full else '/dev/null', 'wb') as out:
            p = subprocess.run(cmd[:at] + VALGRIND + cmd[at:], stdout=out, stderr=subprocess.PIPE)
        report = [line for line in p.stderr.decode(errors='replace').splitlines() if line.startswith('==')]
        if p.returncode != status or report:
            failed += 1
            print(f'FAIL {doc[:20]!r} {args}: status {p.returncode}', *report[:30], sep='\n')
    print(f'memcheck: {len(RUNS) - failed} passed, {failed} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
