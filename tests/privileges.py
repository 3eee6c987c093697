# SPDX-License-Identifier: ISC
# Setuid and setgid copies run by nobody print exactly the restricted view,
# with all their user and group ids 65534 while they write, and only of a file
# that root alone chose: every folder on the way to it, through links too,
# must be root's and writable by no one else; a setuid run opens the file,
# gives up root and makes itself undumpable before it reads the file or says
# anything; a privilege drop that the kernel refuses prints nothing, says so
# and ends with status 2.
import ctypes, os, re, shutil, struct, subprocess, sys, tempfile
from subprocess import PIPE
from harness import ALONE, CONFIG, HERE, NOBODY, TOOL, place, skip

BIG = "x" * 200000  # over two pipe buffers: still writing when we look
if ALONE:
    skip(f"setuid copies need uid 0 and a /tmp of the check's own: {ALONE}")
# qemu-user, which runs the tool where the kernel can't, ignores the setuid bit.
place(f'{{"a": "{BIG}"}}')
with subprocess.Popen([TOOL], stdout=PIPE) as p:
    p.stdout.read(1)
    if os.path.basename(runs := os.readlink(f"/proc/{p.pid}/exe")) != "zuvozozave":
        skip(f"the tool runs under emulation ({runs}), which ignores the setuid bit")
# A seccomp filter: load the syscall number; setresgid gets EPERM; allow the rest. Its
# number on x86-64, i386, AArch64 and Arm, by ELF machine:
ELF = open(TOOL, "rb").read(20)
MACHINE = int.from_bytes(ELF[18:], "little" if ELF[5] == 1 else "big")
SETRESGID = {62: 119, 3: 210, 183: 149, 40: 210}.get(MACHINE) or skip(f"no setresgid for {MACHINE}")
FILTER = [(0x20, 0, 0, 0), (0x15, 0, 1, SETRESGID), (0x06, 0, 0, 0x50001), (0x06, 0, 0, 0x7FFF0000)]
FILTER = ctypes.create_string_buffer(b"".join(struct.pack("HBBI", *i) for i in FILTER))


def refuse_setresgid():
    # As in a setuid run: real uid 65534 under effective uid 0.
    os.setresuid(65534, -1, -1)
    ctypes.CDLL(None).prctl(22, 2, struct.pack("HP", 4, ctypes.addressof(FILTER)))  # PR_SET_SECCOMP


REFUSED = (b"", b"error encountered on file open\n", 2)
LINK = "ln -s ../../secret sub/c && ln -s sub/c configuration"  # the secret is root's, 0640
# What root or nobody made in the configuration's folder, and the outcome: only a file
# that root alone chose is shown.
# fmt: off
TRUST = [
    ("chmod 1777 . && ln -s ../secret configuration", REFUSED),
    ("chgrp 65534 . && chmod 0775 . && ln -s ../secret configuration", REFUSED),
    ("chown 65534 . && ln -s ../secret configuration", REFUSED),
    ("mkdir -m 755 sub && chown 65534 sub && " + LINK, REFUSED),
    ("mkdir -m 1777 sub && " + LINK, REFUSED),
    ("ln -s configuration configuration", (b"", b"", 2)),
    ("mkdir sub && ln -s sub configuration", (b"", b"error encountered on file read\n", 2)),
    (f"mkdir sub && ln -s ../../secret sub/c && ln -s {HERE}/sub/../sub/c configuration",
     (f'basic_big="{BIG}"\n'.encode(), b"", 0)),
]
# fmt: on
checks = {}
with tempfile.TemporaryDirectory() as work:
    os.chmod(work, 0o755)
    tools = [shutil.copy(TOOL, f"{work}/{mode:o}") for mode in (0o4755, 0o2755)]
    for tool in tools:
        os.chmod(tool, int(tool[-4:], 8))
    # A setuid run opens the file (or finds a FIFO there), gives up root and turns
    # undumpable before it reads the file or says anything.
    drop = r".*setresuid(?:32)?\(.*prctl\(PR_SET_DUMPABLE, (?:0|SUID_DUMP_DISABLE)\).*"
    name = re.escape(f'"{os.path.basename(CONFIG)}"')
    opened = name + r", O_RDONLY[^\n]*= (\d+)" + drop + r"read\(\1, "
    refused = name + drop + r'write\(2, "error encountered on file read'
    strace = ["strace", "-qqo", f"{work}/trace", "-u", "nobody", tools[0]]
    for doc, calls in ("{}", opened), ("fifo", refused):
        place(doc)
        subprocess.run(strace, stderr=PIPE)
        name = f"on {doc}: a setuid run opens, gives up root, turns undumpable, then acts"
        checks[name] = re.search(calls, open(f"{work}/trace").read(), re.S) is not None
    place(f'{{"basic": {{"big": "{BIG}"}}, "network": {{"psk": "hunter2"}}}}', 0o640)
    os.rename(CONFIG, f"{HERE}/../secret")
    for setup, want in TRUST:
        reset = "chown 0:0 . && chmod 755 . && rm -rf configuration sub && "
        subprocess.run(["sh", "-c", reset + setup], cwd=HERE, check=True)
        for tool in tools:
            p = subprocess.Popen(NOBODY + [tool], stdout=PIPE, stderr=PIPE)
            first = p.stdout.read(1)
            with open(f"/proc/{p.pid}/status") as f:
                ids = [line.split()[1:] for line in f if line.startswith(("Uid:", "Gid:"))]
            got = (first + p.stdout.read(), p.stderr.read(), p.wait(), ids)
            checks[f"{tool[-4:]} as 65534 alone: {setup}"] = got == (*want, [["65534"] * 4] * 2)
p = subprocess.run([TOOL], preexec_fn=refuse_setresgid, capture_output=True)
want = (2, b"", b"error encountered on privilege drop\n")
checks["a refused drop says so"] = (p.returncode, p.stdout, p.stderr) == want
for name, ok in checks.items():
    print(f"privileges: {'ok  ' if ok else 'FAIL'} {name}")
sys.exit(not all(checks.values()))
