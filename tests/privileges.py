# SPDX-License-Identifier: ISC
# Setuid and setgid copies run by nobody print exactly the restricted view,
# with all their user and group ids 65534 while they write; a setuid run opens
# the file, gives up root and makes itself undumpable before it reads the file
# or says anything; a privilege drop that the kernel refuses prints nothing,
# says so and ends with status 2.
import ctypes, os, re, shutil, struct, subprocess, sys, tempfile
from subprocess import PIPE
from harness import ALONE, CONFIG, NOBODY, TOOL, place, skip

BIG = "x" * 200000  # over two pipe buffers: still writing when we look
if ALONE:
    skip(f"setuid copies need uid 0 and a /tmp of the check's own: {ALONE}")
# qemu-user, which runs the tool where the kernel can't, ignores the setuid bit.
place(f'{{"a": "{BIG}"}}')
with subprocess.Popen([TOOL], stdout=PIPE) as p:
    p.stdout.read(1)
    if os.path.basename(runs := os.readlink(f"/proc/{p.pid}/exe")) != "zuvozozave":
        skip(f"the tool runs under emulation ({runs}), which ignores the setuid bit")
# A seccomp filter: load the syscall number; setresgid gets EPERM; allow the rest.
MACHINE = int.from_bytes(open(TOOL, "rb").read(20)[18:], "little")
SETRESGID = {62: 119, 3: 210, 183: 149, 40: 210}[MACHINE]  # x86-64, i386, AArch64, Arm
FILTER = [(0x20, 0, 0, 0), (0x15, 0, 1, SETRESGID), (0x06, 0, 0, 0x50001), (0x06, 0, 0, 0x7FFF0000)]
FILTER = ctypes.create_string_buffer(b"".join(struct.pack("HBBI", *i) for i in FILTER))


def refuse_setresgid():
    # As in a setuid run: real uid 65534 under effective uid 0.
    os.setresuid(65534, -1, -1)
    ctypes.CDLL(None).prctl(22, 2, struct.pack("HP", 4, ctypes.addressof(FILTER)))  # PR_SET_SECCOMP


checks = {}
with tempfile.TemporaryDirectory() as work:
    os.chmod(work, 0o755)
    for mode, config_mode in (0o4755, 0o600), (0o2755, 0o640):
        os.chmod(shutil.copy(TOOL, f"{work}/tool"), mode)
        place(f'{{"basic": {{"big": "{BIG}"}}, "network": {{"psk": "hunter2"}}}}', config_mode)
        p = subprocess.Popen(NOBODY + [f"{work}/tool"], stdout=PIPE, stderr=PIPE)
        first = p.stdout.read(1)
        with open(f"/proc/{p.pid}/status") as f:
            ids = [line.split()[1:] for line in f if line.startswith(("Uid:", "Gid:"))]
        got = (first + p.stdout.read(), p.stderr.read(), p.wait(), ids)
        want = (f'basic_big="{BIG}"\n'.encode(), b"", 0, [["65534"] * 4] * 2)
        checks[f"mode {mode:o}: nobody gets the restricted view, as 65534 alone"] = got == want
    # A setuid run opens the file (or finds a FIFO there), gives up root and turns
    # undumpable before it reads the file or says anything.
    drop = r".*setresuid(?:32)?\(.*prctl\(PR_SET_DUMPABLE, (?:0|SUID_DUMP_DISABLE)\).*"
    opened = re.escape(f'"{CONFIG}", O_RDONLY') + r"[^\n]*= (\d+)" + drop + r"read\(\1, "
    refused = re.escape(f'"{CONFIG}"') + drop + r'write\(2, "error encountered on file read'
    strace = ["strace", "-qqo", f"{work}/trace", "-u", "nobody", f"{work}/tool"]
    for doc, calls in ("{}", opened), ("fifo", refused):
        place(doc)
        subprocess.run(strace, stderr=PIPE)
        name = f"on {doc}: a setuid run opens, gives up root, turns undumpable, then acts"
        checks[name] = re.search(calls, open(f"{work}/trace").read(), re.S) is not None
p = subprocess.run([TOOL], preexec_fn=refuse_setresgid, capture_output=True)
want = (2, b"", b"error encountered on privilege drop\n")
checks["a refused drop says so"] = (p.returncode, p.stdout, p.stderr) == want
for name, ok in checks.items():
    print(f"privileges: {'ok  ' if ok else 'FAIL'} {name}")
sys.exit(not all(checks.values()))
