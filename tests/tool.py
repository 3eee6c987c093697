"""Runs the test build of zuvozozave, as root or restricted, on a document."""
import os
import subprocess
import sys

TOOL, CONFIG = sys.argv[1], sys.argv[2]
IS_ROOT = os.geteuid() == 0
NOBODY = ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups']
KINDS = ('missing', 'dir', 'fifo', 'unreadable', 'full')


def works(cmd):
    return subprocess.run(cmd, capture_output=True).returncode == 0


# Root cases need uid 0: as another user, a user namespace maps us to it.
ROOT_OK = IS_ROOT or works(['unshare', '-r', 'true'])


def command(args, restricted):
    if IS_ROOT and restricted:
        return NOBODY + [TOOL, *args]
    if not IS_ROOT and not restricted:
        return ['unshare', '-r', TOOL, *args]
    return [TOOL, *args]


def place(content):
    """Puts a document, or one of KINDS of trouble, at the configuration path."""
    os.makedirs(os.path.dirname(CONFIG), mode=0o755, exist_ok=True)
    if os.path.isdir(CONFIG):
        os.rmdir(CONFIG)
    elif os.path.lexists(CONFIG):
        os.remove(CONFIG)
    if content == 'dir':
        os.mkdir(CONFIG)
    elif content == 'fifo':
        os.mkfifo(CONFIG)
    elif content != 'missing':
        with open(CONFIG, 'wb') as f:
            f.write(b'{"a": "b"}' if content in KINDS else content.encode() if isinstance(content, str) else content)
        os.chmod(CONFIG, 0 if content == 'unreadable' else 0o644)


def run(doc, args=(), restricted=False, wrapper=()):
    """Places doc and runs the tool under wrapper; stdout goes to /dev/full for the kind 'full'."""
    place(doc)
    cmd = command(args, restricted)
    at = cmd.index(TOOL)
    with open('/dev/full', 'wb') as full:
        p = subprocess.run(cmd[:at] + [*wrapper] + cmd[at:], stderr=subprocess.PIPE, timeout=300,
                           stdout=full if doc == 'full' else subprocess.PIPE)
    return p.returncode, p.stdout or b'', p.stderr


def start():
    """As root, checks that the restricted user reaches the test file; says what is skipped."""
    os.makedirs(os.path.dirname(CONFIG), mode=0o755, exist_ok=True)
    if IS_ROOT and not works(NOBODY + ['test', '-x', os.path.dirname(CONFIG)]):
        sys.exit(f'uid 65534 cannot reach {os.path.dirname(CONFIG)}: build in a folder others can search')
    if not ROOT_OK:
        print('SKIP cases that need uid 0: not root, and no user namespaces')
