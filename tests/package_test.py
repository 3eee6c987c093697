"""The installed shape: manual page, setuid install, Debian package, and the
example login script."""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

import tool

BUILD = sys.argv[3]
SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def sh(*cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def manual():
    page = os.path.join(BUILD, 'zuvozozave.1')
    groff = sh('groff', '-mandoc', '-ww', '-z', page)
    man = sh('man', '-l', page, env=dict(os.environ, MANWIDTH='80', MANPAGER='cat', PAGER='cat'))
    return (groff.returncode, groff.stderr, man.returncode, man.stderr) == (0, '', 0, '') and 'EXIT STATUS' in man.stdout


def install(work):
    dest = os.path.join(work, 'dest')
    sh('cmake', '--install', BUILD, '--prefix', '/usr', env=dict(os.environ, DESTDIR=dest), check=True)
    binary = os.stat(os.path.join(dest, 'usr/bin/zuvozozave'))
    owner_ok = not tool.IS_ROOT or binary.st_uid == 0
    return binary.st_mode & 0o7777 == 0o4755 and owner_ok and os.path.isfile(
        os.path.join(dest, 'usr/share/man/man1/zuvozozave.1.gz'))


def package(work):
    sh('cpack', '-G', 'DEB', '-B', work, cwd=BUILD, check=True)
    deb = glob.glob(os.path.join(work, '*.deb'))[0]
    fields, files = sh('dpkg-deb', '-f', deb).stdout, sh('dpkg-deb', '-c', deb).stdout.splitlines()
    binary = [f.split() for f in files if f.endswith(' ./usr/bin/zuvozozave')]
    return ('libyajl2' in fields.split('Depends:')[1].splitlines()[0]
            and binary and binary[0][:2] == ['-rwsr-xr-x', 'root/root']
            and any(f.endswith(' ./usr/share/man/man1/zuvozozave.1.gz') for f in files))


def profile(work):
    os.symlink(os.path.abspath(tool.TOOL), os.path.join(work, 'zuvozozave'))
    tool.place(open(os.path.join(SOURCE, 'examples/configuration'), 'rb').read())
    script = f'. {SOURCE}/examples/profile.sh && printf "%s|" "$LANG" "$TZ" "$KIOSK_WALLPAPER" "$basic_owner"'
    got = sh(*tool.command([], False)[:-1], 'dash', '-c', script, env=dict(os.environ, PATH=f'{work}:/usr/bin:/bin'))
    return got.stdout == "en_IE.UTF-8|Europe/Dublin|/usr/share/backgrounds/harbour at dusk.jpg|Siobhán O'Brien|"


def main():
    if tool.skip_note(False):
        print('SKIP: the package checks need uid 0')
        return 77
    failed = 0
    for check in (manual, install, package, profile):
        work = tempfile.mkdtemp()
        ok = check(work) if check is not manual else check()
        shutil.rmtree(work)
        print('ok  ' if ok else 'FAIL', check.__name__)
        failed += not ok
    print(f'package: {4 - failed} passed, {failed} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
