"""The installed tool: a real setuid-root deployment, the manual page, the
install tree, the Debian package and the example login script."""
import ctypes
import glob
import os
import platform
import shutil
import struct
import subprocess
import sys
import tempfile

import tool
from cli_test import DOC, FULL, VIEW

BUILD = sys.argv[3]
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Over two pipe buffers of output, so the tool is still writing when we look.
BIG = 'x' * 200000


def sh(*cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def setuid(work):
    """nobody gets the restricted view of a root-only file, from a process that gave up root"""
    if os.statvfs(work).f_flag & os.ST_NOSUID:
        return print(f'SKIP setuid: {work} is on a nosuid mount') or True
    os.chmod(work, 0o755)
    installed = shutil.copy(tool.TOOL, work)
    os.chmod(installed, 0o4755)
    tool.place(DOC[:-1] + f', "big": "{BIG}"}}')
    os.chmod(tool.CONFIG, 0o600)
    before = os.stat(tool.CONFIG)
    p = subprocess.Popen(tool.NOBODY + [installed], stdout=subprocess.PIPE, stderr=subprocess.PIPE, bufsize=0)
    first = p.stdout.read(1)  # output only starts after the privilege drop
    with open(f'/proc/{p.pid}/status') as f:
        ids = [line.split()[1:] for line in f if line.startswith(('Uid:', 'Gid:'))]
    out, err = p.communicate()
    root = subprocess.run([installed], capture_output=True)
    after = os.stat(tool.CONFIG)
    return ((p.returncode, first + out, err) == (0, (VIEW + f'_big="{BIG}"\n').encode(), b'')
            and ids == [['65534'] * 4] * 2 and root.stdout == (FULL + f'_big="{BIG}"\n').encode()
            and (before.st_mtime_ns, before.st_size, after.st_mode & 0o7777) == (after.st_mtime_ns, after.st_size, 0o600))


def refuse_setresgid():
    """Real uid 65534 under root's effective uid, as in a setuid run, with setresgid failing (EPERM)."""
    os.setresuid(65534, -1, -1)
    # seccomp: load the syscall number; setresgid (119) returns EPERM, all else is allowed
    filter_ = b''.join(struct.pack('HBBI', *i) for i in [(0x20, 0, 0, 0), (0x15, 0, 1, 119),
                                                          (0x06, 0, 0, 0x50001), (0x06, 0, 0, 0x7FFF0000)])
    code = ctypes.create_string_buffer(filter_)
    program = ctypes.create_string_buffer(struct.pack('HP', 4, ctypes.addressof(code)))
    if ctypes.CDLL(None).prctl(22, 2, program) != 0:  # PR_SET_SECCOMP, SECCOMP_MODE_FILTER
        os._exit(120)


def drop_refused(work):
    """a refused privilege drop prints nothing, says so, and ends with status 2"""
    if platform.machine() != 'x86_64':
        return print('SKIP drop_refused: the filter knows x86_64 syscall numbers only') or True
    tool.place(DOC)
    p = subprocess.run([tool.TOOL], preexec_fn=refuse_setresgid, capture_output=True)
    return (p.returncode, p.stdout, p.stderr) == (2, b'', b'error encountered on privilege drop\n')


def manual(work):
    """the manual page renders without warnings"""
    page = os.path.join(BUILD, 'zuvozozave.1')
    groff = sh('groff', '-mandoc', '-ww', '-z', page)
    man = sh('man', '-l', page, env=dict(os.environ, MANWIDTH='80', MANPAGER='cat', PAGER='cat'))
    return (groff.returncode, groff.stderr, man.returncode, man.stderr) == (0, '', 0, '') and 'EXIT STATUS' in man.stdout


def install(work):
    """cmake --install gives a root-owned 4755 binary and the manual page"""
    sh('cmake', '--install', BUILD, '--prefix', '/usr', env=dict(os.environ, DESTDIR=work), check=True)
    binary = os.stat(f'{work}/usr/bin/zuvozozave')
    return (binary.st_mode & 0o7777, binary.st_uid) == (0o4755, 0) and os.path.isfile(
        f'{work}/usr/share/man/man1/zuvozozave.1.gz')


def package(work):
    """the .deb holds the setuid binary and the page, and depends on libyajl2"""
    sh('cpack', '-G', 'DEB', '-B', work, cwd=BUILD, check=True)
    deb = glob.glob(f'{work}/*.deb')[0]
    depends = sh('dpkg-deb', '-f', deb, 'Depends').stdout
    files = [line.split() for line in sh('dpkg-deb', '-c', deb).stdout.splitlines()]
    return ('libyajl2' in depends and ['-rwsr-xr-x', 'root/root'] in [f[:2] for f in files if f[-1] == './usr/bin/zuvozozave']
            and './usr/share/man/man1/zuvozozave.1.gz' in [f[-1] for f in files])


def profile(work):
    """examples/profile.sh exports the settings it takes from the tool"""
    os.symlink(os.path.abspath(tool.TOOL), f'{work}/zuvozozave')
    tool.place(open(f'{SOURCE}/examples/configuration', 'rb').read())
    script = f'. {SOURCE}/examples/profile.sh && printf "%s|" "$LANG" "$TZ" "$KIOSK_WALLPAPER" "$basic_owner"'
    got = sh('dash', '-c', script, env=dict(os.environ, PATH=f'{work}:/usr/bin:/bin'))
    return got.stdout == "en_IE.UTF-8|Europe/Dublin|/usr/share/backgrounds/harbour at dusk.jpg|Siobhán O'Brien|"


def main():
    if not tool.IS_ROOT:
        print('SKIP: installing setuid root needs root')
        return 77
    tool.start()
    failed = 0
    for check in (setuid, drop_refused, manual, install, package, profile):
        work = tempfile.mkdtemp(dir=os.path.dirname(tool.CONFIG))
        ok = check(work)
        shutil.rmtree(work)
        print('ok  ' if ok else 'FAIL', check.__doc__)
        failed += not ok
    print(f'install: {6 - failed} passed, {failed} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
