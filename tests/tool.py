"""Runs the test build of zuvozozave, as root or restricted, on a document."""
import os
import subprocess
import sys

TOOL, CONFIG = sys.argv[1], sys.argv[2]
IS_ROOT = os.geteuid() == 0
NOBODY = ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups']


def _works(cmd):
    return subprocess.run(cmd, capture_output=True).returncode == 0


# Root cases need uid 0: as another user, a user namespace maps us to it.
ROOT_OK = IS_ROOT or _works(['unshare', '-r', 'true'])


def command(args, restricted):
    cmd = [TOOL, *args]
    if IS_ROOT and restricted:
        return NOBODY + cmd
    if not IS_ROOT and not restricted:
        return ['unshare', '-r'] + cmd
    return cmd


def run(args=(), restricted=False, stdout=subprocess.PIPE):
    p = subprocess.run(command(args, restricted), stdout=stdout, stderr=subprocess.PIPE, timeout=60)
    return p.returncode, p.stdout, p.stderr


def place(content=b'', kind='file'):
    """Puts content (or a directory, FIFO, nothing) at the configuration path."""
    os.makedirs(os.path.dirname(CONFIG), mode=0o755, exist_ok=True)
    if os.path.isdir(CONFIG) and not os.path.islink(CONFIG):
        os.rmdir(CONFIG)
    elif os.path.lexists(CONFIG):
        os.remove(CONFIG)
    if kind == 'dir':
        os.mkdir(CONFIG)
    elif kind == 'fifo':
        os.mkfifo(CONFIG)
    elif kind != 'missing':
        with open(CONFIG, 'wb') as f:
            f.write(content.encode() if isinstance(content, str) else content)
        os.chmod(CONFIG, 0 if kind == 'unreadable' else 0o644)


def check_reachable():
    """As root, fails early when the restricted user can't reach the test file."""
    os.makedirs(os.path.dirname(CONFIG), mode=0o755, exist_ok=True)
    if IS_ROOT and not _works(NOBODY + ['test', '-x', os.path.dirname(CONFIG)]):
        sys.exit(f'uid 65534 cannot reach {os.path.dirname(CONFIG)}: build in a folder others can search')


def skip_note(restricted):
    if not restricted and not ROOT_OK:
        return 'no uid 0 here (not root, no user namespaces)'
    return None
