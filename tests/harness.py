# SPDX-License-Identifier: ISC
# What the checks that run the tool share (argv: TOOL CONFIG SOURCE): a
# place for documents at the configuration path, a way to run a command as
# nobody, and what this machine allows. Root, and a caller whose subordinate
# ids make a user namespace where it is uid 0, get a /tmp of the check's own
# without network (PRIVATE), where uid 65534 exists too (ROOT). Anyone else,
# as in a buildd, runs the checks as they are, in the real /tmp, restricted;
# what needs uid 0 is skipped, and ALONE says why.
import atexit, contextlib, ctypes, getpass, os, resource, shutil, signal, subprocess, sys, tempfile

BUILT, CONFIG, SOURCE = sys.argv[1:4]
HERE = os.path.dirname(CONFIG)
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
READ, OPEN = "error encountered on file read\n", "error encountered on file open\n"


skip = lambda why: sys.exit(print("skipped:", why) or 77)


ALONE = None
if os.geteuid() != 0:
    userns = ["unshare", "--map-root-user", "--map-auto"]
    with tempfile.TemporaryFile() as err:
        # Where the namespace is refused, unshare's helper for newuidmap
        # outlives it; it goes with the probe's session.
        probe = userns + NOBODY + ["true"]
        p = subprocess.Popen(probe, stdout=err, stderr=err, start_new_session=True)
        with contextlib.suppress(subprocess.TimeoutExpired):
            p.wait(timeout=30)
        with contextlib.suppress(ProcessLookupError):
            os.killpg(p.pid, signal.SIGKILL)
        if p.wait() == 0:
            os.execvp(userns[0], userns + [sys.executable, *sys.argv])
        err.seek(0)
        said = err.read().decode(errors="replace").strip().splitlines()[-1:]
    hint = f"is uidmap installed, are user namespaces allowed, has {getpass.getuser()} subuids?"
    ALONE = f"no user namespace with uid 0 and 65534: {': '.join(said + [hint])}"
ROOT = ALONE is None
NOBODY = NOBODY if ROOT else []
# The build and the checkout may lie in the /tmp about to be covered: they stay
# in reach through descriptors.
BUILT, SOURCE = (f"/proc/self/fd/{os.open(path, os.O_PATH)}" for path in (BUILT, SOURCE))
# A /tmp of the check's own, where nobody reaches the configuration and setuid
# copies run however the host mounts /tmp or the build folder; and no network.
MS_BIND, MS_REC, MS_PRIVATE = 0x1000, 0x4000, 0x40000
CLONE_NEWNS, CLONE_NEWNET = 0x20000, 0x40000000
libc = ctypes.CDLL(None, use_errno=True)
PRIVATE = not (
    libc.unshare(CLONE_NEWNS | CLONE_NEWNET)
    or libc.mount(None, b"/", None, MS_REC | MS_PRIVATE, None)
    or libc.mount(b"tmpfs", b"/tmp", b"tmpfs", 0, b"mode=755")
)
if PRIVATE:
    # And a root of its own, which uid 0 owns: an elevated run trusts nothing else, and in a
    # user namespace the host's root belongs to no id mapped there. It holds the host's folders.
    os.umask(0o022)
    for path in (f"/{name}" for name in os.listdir("/")):
        if os.path.isdir(path):
            os.mkdir(f"/tmp{path}")
            if path != "/tmp":
                libc.mount(path.encode(), f"/tmp{path}".encode(), None, MS_BIND | MS_REC, None)
    os.chroot("/tmp")
else:
    ALONE = ALONE or f"no mount namespace: {os.strerror(ctypes.get_errno())}"
    # Left by a run of ours that was killed; another user's is not ours to take.
    os.path.lexists(HERE) and os.lstat(HERE).st_uid == os.geteuid() and shutil.rmtree(HERE, True)
    atexit.register(shutil.rmtree, HERE, True)
os.path.lexists(HERE) and skip(f"{HERE} belongs to another user")
os.mkdir(HERE)
os.chmod(HERE, 0o755)
tempfile.tempdir = "/tmp"
TOOL = shutil.copy(BUILT, f"{HERE}/zuvozozave")


def place(content, mode=0o644):
    # Puts a document, or the trouble named, at the configuration path; a document and a
    # size make a sparse file of that size.
    content, size = content if isinstance(content, tuple) else (content, None)
    os.path.lexists(CONFIG) and os.remove(CONFIG)
    if content == "short":  # sysfs states 4096 bytes and gives fewer
        os.symlink("/sys/devices/system/cpu/online", CONFIG)
    else:
        open(CONFIG, "w", encoding="utf-8").write(content)
        size and os.truncate(CONFIG, size)
        os.chmod(CONFIG, 0 if content == "unreadable" else mode)


STACK = (64 << 10, resource.getrlimit(resource.RLIMIT_STACK)[1])  # as a setuid run inherits
small_stack = lambda: resource.setrlimit(resource.RLIMIT_STACK, STACK)


def unprivileged(cmd, env={}):
    # Runs cmd as uid 65534 (or as the caller, who is not root) with only env and no
    # input, in a fresh empty folder.
    with tempfile.TemporaryDirectory() as empty:
        ROOT and os.chown(empty, 65534, 65534)
        run = dict(cwd=empty, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        return subprocess.run(NOBODY + cmd, **run)
