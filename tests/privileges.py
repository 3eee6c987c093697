# SPDX-License-Identifier: ISC
# Setuid, setgid and cap_dac_read_search copies run by nobody print exactly the restricted view,
# with all their user and group ids 65534 and no capability while they write, and only of a
# file that root alone chose: every folder on the way to it, through links too, must be root's
# and writable by no one else. A setuid run opens the file and gives up its real and effective
# ids, turns undumpable, and only then its saved ids, before it reads the file or says anything,
# whatever it met on the way; each call of the drop that the kernel refuses, and a walk short of
# descriptors, prints nothing, says so and ends with status 2.
import os, re, shutil, subprocess, sys, tempfile
from subprocess import PIPE
from harness import ALONE, CONFIG, HERE, NOBODY, OPEN, READ, TOOL, place, skip

BIG = "x" * 200000  # over two pipe buffers: still writing when we look
ALONE and skip(f"setuid copies need uid 0 and a /tmp of the check's own: {ALONE}")
# qemu-user, which runs the tool where the kernel can't, ignores the setuid bit.
place(f'{{"a": "{BIG}"}}')
with subprocess.Popen([TOOL], stdout=PIPE) as p:
    p.stdout.read(1)
    if os.path.basename(runs := os.readlink(f"/proc/{p.pid}/exe")) != "zuvozozave":
        skip(f"the tool runs under emulation ({runs}), which ignores the setuid bit")
REFUSED, NO_FILE = (b"", OPEN.encode(), 2), (b"", READ.encode(), 2)
VIEW = (f'basic_big="{BIG}"\n'.encode(), b"", 0)
# What root or nobody made in the configuration's folder, and the outcome: only a file
# that root alone chose is shown, and nothing is said until the privileges are given up.
# fmt: off
TRUST = [
    ("chmod 1757 . && ln -s ../secret configuration", REFUSED),
    ("chgrp 65534 . && chmod 0775 . && ln -s ../secret configuration", REFUSED),
    ("mkdir s && chown 65534 s && ln -s ../../secret s/c && ln -s s/c configuration", REFUSED),
    ("mkdir configuration", NO_FILE),
    ("mkfifo configuration", NO_FILE),
    (f"mkdir s && ln -s ../../secret s/c && ln -s {HERE}/s/../s/c configuration", VIEW),
]
# fmt: on
# While it writes: the real, effective, saved and file system ids, and no capability.
STATUS = ("Uid", "Gid", "CapInh", "CapPrm", "CapEff")
NOBODY_IDS, checks = [["65534"] * 4] * 2 + [["0" * 16]] * 3, {}
with tempfile.TemporaryDirectory() as work:
    os.chmod(work, 0o755)
    tools = [shutil.copy(TOOL, f"{work}/{mode}") for mode in ("4755", "2755", "caps")]
    [os.chmod(tool, int(tool[-4:], 8)) for tool in tools[:2]]
    caps = subprocess.run(["setcap", "cap_dac_read_search=ep", tools[2]], capture_output=True)
    caps.returncode and skip(f"file capabilities can't be set here: {caps.stderr!r}")
    # No saved id is given up before the process is undumpable, and no effective id after.
    effective, saved = r"setres[ug]id(?:32)?\((?!-1, -1,)", r"setres[ug]id(?:32)?\([^)]*, \d+\)"
    keep, undumpable = rf"(?:(?!{saved}).)*", r"prctl\(PR_SET_DUMPABLE, (?:0|SUID_DUMP_DISABLE)\)"
    drop = rf"{keep}setresuid(?:32)?\(\d+, \d+, -1\){keep}{undumpable}(?:(?!{effective}).)*"
    opened = rf'"[^"]+", O_RDONLY[^\n]*= (\d+){drop}read\(\1, '
    strace = ["strace", "-qqo", f"{work}/trace", "-u", "nobody"]
    # Each call of the drop refused in turn, by strace's fault injection, and a walk short of
    # descriptors: nothing printed, status 2, and the reason.
    calls = "/^setresgid:1 /^setresuid:1 prctl:1 /^setresgid:2 /^setresuid:2 capset:1".split()
    refusals = {c: strace + [f"-einject={c.replace(':', ':error=EPERM:when=')}"] for c in calls}
    for name, cmd in [*refusals.items(), ("RLIMIT_NOFILE 4", NOBODY + ["prlimit", "-n4"])]:
        p = subprocess.run(cmd + [tools[0]], capture_output=True)
        why = OPEN if "NOFILE" in name else "error encountered on privilege drop\n"
        said = (p.returncode, p.stdout, p.stderr) == (2, b"", why.encode())
        checks[f"{name} refused: says so"] = said
    place(f'{{"basic": {{"big": "{BIG}"}}, "network": {{"psk": "hunter2"}}}}', 0o640)
    os.rename(CONFIG, f"{HERE}/../secret")
    for setup, want in TRUST:
        reset = "chown 0:0 . && chmod 755 . && rm -rf configuration s && "
        subprocess.run(["sh", "-c", reset + setup], cwd=HERE, check=True)
        # A setuid run writes nothing before the drop is done, and reads the file only after it.
        subprocess.run(strace + [tools[0]], capture_output=True)
        trace = open(f"{work}/trace").read()
        quiet = re.match(r"(?:(?!write\().)*capset\(", trace, re.S)
        checks[f"traced: {setup}"] = bool(quiet and re.search((want == VIEW) * opened, trace, re.S))
        for tool in tools:
            p = subprocess.Popen(NOBODY + [tool], stdout=PIPE, stderr=PIPE)
            first = p.stdout.read(1)
            with open(f"/proc/{p.pid}/status") as f:
                ids = [line.split()[1:] for line in f if line.startswith(STATUS)]
            got = (first + p.stdout.read(), p.stderr.read(), p.wait(), ids)
            checks[f"{tool[-4:]} as 65534 alone: {setup}"] = got == (*want, NOBODY_IDS)
for name, ok in checks.items():
    print(f"privileges: {'ok  ' if ok else 'FAIL'} {name}")
sys.exit(not all(checks.values()))
