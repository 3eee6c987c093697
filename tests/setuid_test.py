"""A real setuid-root install: nobody reads a root-only configuration and gets
exactly the restricted view, from a process that has given up root."""
import os
import shutil
import subprocess
import sys
import tempfile

import tool
from cli_test import DOC, FULL, VIEW

# Over two pipe buffers of output, so the tool is still writing when we look.
BIG = 'x' * 200000
DOCUMENT = DOC[:-1] + f', "big": "{BIG}"}}'


def main():
    if not tool.IS_ROOT:
        print('SKIP: installing setuid root needs root')
        return 77
    scratch = tempfile.mkdtemp(dir=os.path.dirname(tool.CONFIG))
    if os.statvfs(scratch).f_flag & os.ST_NOSUID:
        print(f'SKIP: {scratch} is on a nosuid mount')
        return 77
    os.chmod(scratch, 0o755)
    installed = shutil.copy(tool.TOOL, scratch)
    os.chown(installed, 0, 0)
    os.chmod(installed, 0o4755)
    tool.place(DOCUMENT)
    os.chown(tool.CONFIG, 0, 0)
    os.chmod(tool.CONFIG, 0o600)
    before = os.stat(tool.CONFIG)

    p = subprocess.Popen(tool.NOBODY + [installed], stdout=subprocess.PIPE, stderr=subprocess.PIPE, bufsize=0)
    first = p.stdout.read(1)  # any output comes after the privilege drop
    with open(f'/proc/{p.pid}/status') as f:
        ids = [line.split()[1:] for line in f if line.startswith(('Uid:', 'Gid:'))]
    out, err = p.communicate()
    checks = {
        'restricted output': (p.returncode, first + out, err) == (0, (VIEW + f'_big="{BIG}"\n').encode(), b''),
        'all ids 65534 while writing': ids == [['65534'] * 4] * 2,
        'root gets everything': tool.run()[1] == (FULL + f'_big="{BIG}"\n').encode(),
    }
    after = os.stat(tool.CONFIG)
    checks['configuration untouched'] = (open(tool.CONFIG).read() == DOCUMENT and before.st_mtime_ns == after.st_mtime_ns
                                         and after.st_mode & 0o7777 == 0o600)
    shutil.rmtree(scratch)
    for name, ok in checks.items():
        print('ok  ' if ok else 'FAIL', name)
    if ids != [['65534'] * 4] * 2:
        print('ids:', ids)
    failed = list(checks.values()).count(False)
    print(f'setuid: {len(checks) - failed} passed, {failed} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
