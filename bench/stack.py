# SPDX-License-Identifier: ISC
"""How often a setuid copy of each tool given, run by nobody under a small stack limit, dies by a
signal, beside an empty program that loads the same libraries (the exec floor), measured in
one run. Usage, as root: python3 bench/stack.py TOOL... (bench/README.md tells more)

Each tool should find its configuration, so that each run goes as far as a real one."""

import os
import shutil
import subprocess
import sys
import tempfile

LIMITS = [16, 17, 18, 20, 24]  # KiB
RUNS = 300


def deaths(tool, limit):
    """How many of RUNS runs of tool as nobody, under a stack limit of limit KiB, a signal ends."""
    nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
    cmd = nobody + ["prlimit", f"--stack={limit * 1024}", tool]
    return sum(subprocess.run(cmd, capture_output=True).returncode < 0 for _ in range(RUNS))


def main():
    work = tempfile.mkdtemp(dir=os.path.dirname(os.path.abspath(sys.argv[1])))
    os.chmod(work, 0o755)
    floor = os.path.join(work, "floor")
    libraries = subprocess.run(["pkg-config", "--libs", "yajl"], capture_output=True, text=True)
    compile = ["c++", "-x", "c++", "-", "-o", floor, "-fPIE", "-pie", "-Wl,--no-as-needed"]
    subprocess.run(compile + libraries.stdout.split(), input=b"int main() {}", check=True)
    tools = {"exec floor (empty PIE, libc and libyajl)": floor}
    for n, tool in enumerate(sys.argv[1:]):
        tools[tool] = shutil.copy(tool, os.path.join(work, f"tool-{n}"))
    for copy in tools.values():
        os.chmod(copy, 0o4755)
    print(f"runs ended by a signal, of {RUNS}, as nobody, setuid root, under each stack limit:\n")
    print("| program | " + " | ".join(f"{limit} KiB" for limit in LIMITS) + " |")
    print("|---|" + "---:|" * len(LIMITS))
    for name, copy in tools.items():
        print(f"| {name} | " + " | ".join(str(deaths(copy, limit)) for limit in LIMITS) + " |")
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
