# What the checks that run the tool as uid 0 and as uid 65534 share: the test
# build and its configuration path (argv: TOOL CONFIG BUILD SOURCE), a way to
# put a document there, and a way to run a command as nobody. A caller other
# than root runs the check again in a user namespace made from its subordinate
# ids, where it is uid 0 and uid 65534 exists too; without one, it is skipped.
import ctypes, getpass, os, shutil, subprocess, sys, tempfile

TOOL, CONFIG, BUILD, SOURCE = sys.argv[1:5]
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
if os.geteuid() != 0:
    userns = ["unshare", "--map-root-user", "--map-auto"]
    if subprocess.run(userns + NOBODY + ["true"], capture_output=True).returncode == 0:
        os.execvp(userns[0], userns + [sys.executable, *sys.argv])
    why = f"has {getpass.getuser()} subordinate ids in /etc/subuid and /etc/subgid?"
    if not shutil.which("newuidmap"):
        why = "newuidmap is missing: install the package uidmap"
    print("skipped: no user namespace with uid 65534:", why)
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
