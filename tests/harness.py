# What the checks that run the tool as uid 0 and as uid 65534 share (argv:
# TOOL CONFIG BUILD SOURCE): a /tmp of their own, a way to put a document at
# the configuration path there, and a way to run a command as nobody. A caller
# other than root runs the check again in a user namespace made from its
# subordinate ids, where it is uid 0 and uid 65534 exists too; without one,
# or without a mount namespace, the check is skipped.
import contextlib, ctypes, getpass, os, shutil, signal, subprocess, sys, tempfile

BUILT, CONFIG, BUILD, SOURCE = sys.argv[1:5]
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]


def skip(why):
    print("skipped:", why)
    sys.exit(77)


if os.geteuid() != 0:
    userns = ["unshare", "--map-root-user", "--map-auto"]
    with tempfile.TemporaryFile() as err:
        # Where the namespace is refused, unshare's helper for newuidmap
        # outlives it; it goes with the probe's session.
        p = subprocess.Popen(
            userns + NOBODY + ["true"], stdout=err, stderr=err, start_new_session=True
        )
        with contextlib.suppress(subprocess.TimeoutExpired):
            p.wait(timeout=30)
        with contextlib.suppress(ProcessLookupError):
            os.killpg(p.pid, signal.SIGKILL)
        if p.wait() == 0:
            os.execvp(userns[0], userns + [sys.executable, *sys.argv])
        err.seek(0)
        said = err.read().decode(errors="replace").strip().splitlines()[-1:]
    hint = f"is uidmap installed, are user namespaces allowed, has {getpass.getuser()} subuids?"
    skip(f"no user namespace with uid 65534: {': '.join(said + [hint])}")
# The build and the checkout may lie in the /tmp about to be covered: they stay
# in reach through descriptors.
BUILT, SOURCE = (f"/proc/self/fd/{os.open(path, os.O_PATH)}" for path in (BUILT, SOURCE))
# A /tmp of the check's own, where nobody reaches the configuration and setuid
# copies run however the host mounts /tmp or the build folder; and no network.
libc = ctypes.CDLL(None, use_errno=True)
MS_REC, MS_PRIVATE, CLONE_NEWNS, CLONE_NEWNET = 0x4000, 0x40000, 0x20000, 0x40000000
if (
    libc.unshare(CLONE_NEWNS | CLONE_NEWNET)
    or libc.mount(None, b"/", None, MS_REC | MS_PRIVATE, None)
    or libc.mount(b"tmpfs", b"/tmp", b"tmpfs", 0, b"mode=755")
):
    skip(f"no mount namespace with a /tmp of its own: {os.strerror(ctypes.get_errno())}")
tempfile.tempdir = "/tmp"
os.makedirs(os.path.dirname(CONFIG))
TOOL = shutil.copy(BUILT, f"{os.path.dirname(CONFIG)}/zuvozozave")


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
