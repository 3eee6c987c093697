# What the checks that run the tool as uid 0 and as uid 65534 share: the test
# build and its configuration path (argv: TOOL CONFIG BUILD SOURCE), a way to
# put a document there, and a way to run a command as nobody. They need root,
# real or in the user namespace that tests/run.sh makes.
import ctypes, os, subprocess, sys, tempfile

TOOL, CONFIG, BUILD, SOURCE = sys.argv[1:5]
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
if os.geteuid() != 0:
    print("skipped: needs uid 0 and 65534:", os.environ.get("ZUVOZOZAVE_NO_IDS", "not root"))
    sys.exit(77)
os.makedirs(os.path.dirname(CONFIG), exist_ok=True)  # in a folder that uid 65534 can reach
ctypes.CDLL(None).unshare(0x40000000)  # CLONE_NEWNET: nothing here needs a network


def place(content, mode=0o644):
    # Puts a document, or the trouble named, at the configuration path.
    if os.path.lexists(CONFIG):
        os.remove(CONFIG)
    if content == "fifo":
        os.mkfifo(CONFIG)
    elif content == "short":  # sysfs states 4096 bytes and gives fewer
        os.symlink("/sys/devices/system/cpu/online", CONFIG)
    elif content != "missing":
        with open(CONFIG, "w", encoding="utf-8") as f:
            f.write(content)
        os.chmod(CONFIG, 0 if content == "unreadable" else mode)


def unprivileged(cmd):
    # Runs cmd as uid 65534 with an empty environment and no input, in a fresh empty folder.
    with tempfile.TemporaryDirectory() as empty:
        os.chown(empty, 65534, 65534)
        run = dict(cwd=empty, env={}, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        return subprocess.run(NOBODY + cmd, **run)
