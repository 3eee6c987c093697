# SPDX-License-Identifier: ISC
"""Start-up and throughput of zuvozozave against /bin/true, jq and python3,
all measured in one run. Usage: python3 bench/bench.py BUILD_DIR

BUILD_DIR is a build whose tool reads the file "configuration" of that
folder, which the benchmark overwrites (bench/README.md tells how to make
one); nothing is written to /config."""

import json
import os
import platform
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.abspath(sys.argv[1])
TOOL = os.path.join(BUILD, "zuvozozave")
CACHE = open(os.path.join(BUILD, "CMakeCache.txt")).read()
CONFIG = re.search(r"^ZUVOZOZAVE_CONFIG_PATH:STRING=(.*)$", CACHE, re.M).group(1)
CXX = re.search(r"^CMAKE_CXX_COMPILER:\w+=(.*)$", CACHE, re.M).group(1)
if CONFIG != os.path.join(BUILD, "configuration"):
    sys.exit(f"{TOOL} reads {CONFIG}, not a file of its build folder: see bench/README.md")
MB = 1 << 20


def generate(size):
    """A deterministic configuration shaped like the typical one: sections of
    plain settings, a few needing quoting, a nested object, numbers and flags."""
    parts, total, n = [], 0, 0
    while total < size:
        quoted = f'"value {n} with \\"quotes\\" and $HOME"'
        members = ", ".join(
            f'"setting-{i}": ' + (f'"/srv/data/{n}/item-{i}.conf"' if i % 10 else quoted)
            for i in range(30)
        )
        part = (
            f'"section-{n}": {{{members}, "count": {n}, "on": true, '
            f'"nested": {{"path": "/srv/data/{n}", "mode": "0640"}}}}'
        )
        parts.append(part)
        total += len(part) + 2
        n += 1
    return "{" + ",\n".join(parts) + "}\n"


def stderr_of(cmd):
    """Runs cmd, dropping its output, and returns what it wrote to standard error."""
    return subprocess.run(
        cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True
    ).stderr


def instructions(cmd):
    callgrind = ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"]
    return int(re.search(r"Collected : (\d+)", stderr_of(callgrind + cmd)).group(1))


def median_seconds(cmd, runs):
    with tempfile.NamedTemporaryFile(suffix=".json") as f:
        warmup = str(max(1, runs // 10))
        hyperfine = ["hyperfine", "-N", "--style", "none", "--warmup", warmup, "--runs", str(runs)]
        hyperfine += ["--export-json", f.name, subprocess.list2cmdline(cmd)]
        subprocess.run(hyperfine, stdout=subprocess.DEVNULL, check=True)
        return json.load(f)["results"][0]["median"]


def peak_rss(cmd):
    """Through GNU time, which is small: a child forked from this Python would
    count the parent's pages as its own."""
    return int(stderr_of(["/usr/bin/time", "-f", "%M"] + cmd).split()[-1]) * 1024


def main():
    work = tempfile.mkdtemp()
    files = {"typical": os.path.join(HERE, "typical.json")}
    for label, size in (("10 MB", 10 * MB), ("100 MB", 100 * MB)):
        files[label] = os.path.join(work, label.replace(" ", ""))
        with open(files[label], "w") as f:
            f.write(generate(size))
    commands = {
        "zuvozozave": lambda path: [TOOL],
        "/bin/true": lambda path: ["/bin/true"],
        "jq": lambda path: ["jq", "-r", "-f", os.path.join(HERE, "export.jq"), path],
        "python3": lambda path: [sys.executable, os.path.join(HERE, "export.py"), path],
    }
    # What is measured where: callgrind is slow, and jq and python3 on 100 MB slower still.
    plan = {
        "typical": (list(commands), list(commands), 1000, 20),
        "10 MB": (["zuvozozave", "jq", "python3"], ["zuvozozave"], 15, 3),
        "100 MB": (["zuvozozave"], ["zuvozozave"], 5, 1),
    }
    results = {}
    for label, (timed, counted, runs, slow_runs) in plan.items():
        with open(files[label], "rb") as src, open(CONFIG, "wb") as dst:
            dst.write(src.read())
        size = os.path.getsize(files[label])
        for name in timed:
            cmd = commands[name](files[label])
            fast = name in ("zuvozozave", "/bin/true")
            results[label, name] = {
                "wall": median_seconds(cmd, runs if fast else slow_runs),
                "rss": peak_rss(cmd),
                "instr": instructions(cmd) if name in counted else None,
            }
            print(f"{label:8} {name:11} {results[label, name]}", file=sys.stderr)
        results[label, "size"] = size
    report(results)
    subprocess.run(["rm", "-rf", work])


def report(r):
    def ratio(a, b, key):
        return r[a][key] / r[b][key]

    t, m10, m100, z = "typical", "10 MB", "100 MB", "zuvozozave"
    cpu = re.search(r"model name\s*:\s*(.*)", open("/proc/cpuinfo").read())
    print(f'machine: {platform.platform()}, {cpu.group(1) if cpu else "?"}, {os.cpu_count()} cores')
    git = ["git", "-C", HERE, "describe", "--always", "--dirty"]
    print(f"commit: {subprocess.run(git, capture_output=True, text=True).stdout.strip()}")
    compiler = subprocess.run([CXX, "--version"], capture_output=True, text=True).stdout
    print(f"compiler: {compiler.splitlines()[0]}")
    print(f'typical configuration: {r[t, "size"]} bytes\n')
    print("| configuration | command | instructions | median wall | peak RSS |")
    print("|---|---|---:|---:|---:|")
    for (label, name), v in r.items():
        if name != "size":
            instr = f'{v["instr"]:,}' if v["instr"] else ""
            print(
                f'| {label} | {name} | {instr} | {v["wall"] * 1000:.2f} ms | {v["rss"] / MB:.1f} MB |'
            )
    # fmt: off
    rows = [
        ("typical: instructions, zuvozozave / /bin/true", ratio((t, z), (t, "/bin/true"), "instr"), "<= 2.5"),
        ("typical: median wall, zuvozozave / /bin/true", ratio((t, z), (t, "/bin/true"), "wall"), "<= 1.3"),
        ("typical: median wall, jq / zuvozozave", ratio((t, "jq"), (t, z), "wall"), ">= 10"),
        ("typical: median wall, python3 / zuvozozave", ratio((t, "python3"), (t, z), "wall"), ""),
        ("10 MB: median wall, jq / zuvozozave", ratio((m10, "jq"), (m10, z), "wall"), ">= 10"),
        ("10 MB: median wall, python3 / zuvozozave", ratio((m10, "python3"), (m10, z), "wall"), ""),
        ("10 MB: peak RSS bytes per input byte", r[m10, z]["rss"] / r[m10, "size"], "<= 6"),
        ("100 MB / 10 MB: median wall", ratio((m100, z), (m10, z), "wall"), "<= 11"),
        ("100 MB / 10 MB: instructions", ratio((m100, z), (m10, z), "instr"), "<= 11"),
        ("100 MB / 10 MB: input size", r[m100, "size"] / r[m10, "size"], ""),
    ]
    # fmt: on
    print("\n| ratio | measured | target |\n|---|---:|---|")
    for name, value, target in rows:
        print(f"| {name} | {value:.2f} | {target} |")


if __name__ == "__main__":
    main()
