# SPDX-License-Identifier: ISC
# Property: an elevated run resolves the configuration path as the kernel does. Seeded layouts
# of root's folders and links, chains of 1 to 41 links with absolute and relative targets, . ..
# // and slashes at the end, links to folders on the way, loops, dangling links, names of
# NAME_MAX bytes, targets near PATH_MAX, and a file, folder or FIFO at the end, are read by root
# as they are (the kernel resolves) and elevated by a setgid exec (the tool resolves), with a
# stack of 64 KiB. Both must end alike, without a signal or a sanitizer's report, but that the
# tool refuses, as status 2 alone, a path spliced longer than open(2) takes.
import os, random, re, subprocess, sys
from harness import ALONE, CONFIG, HERE, TOOL, skip, small_stack

ALONE and skip(f"layouts of root's folders need uid 0 and a root of the check's own: {ALONE}")
PATH_MAX, W, DOTS = 4096, f"{HERE}/w", ["/", "/", "//", "/./"]
rng, count = random.Random(20261208), iter(range(1 << 30))
fresh = lambda: f"n{next(count)}".ljust(255 if rng.random() < 0.1 else 0, "x")


def spell(path, base, aliases):
    # A text for path, as a link in base may hold it.
    through = [alias + path[len(real) :] for alias, real in aliases if path.startswith(real + "/")]
    path = rng.choice(through) if through and rng.random() < 0.5 else path
    path = os.path.relpath(path, base) if rng.random() < 0.5 else path
    dots = lambda m: m[1] + rng.choice(DOTS + [f"/../{m[1]}/"] * (m[1] != ".."))
    path = re.sub("([^/]+)/(?=[^/])", dots, path) + rng.choice([""] * 40 + ["/", "/.", "//"])
    pad = min(PATH_MAX - 1, rng.randint(PATH_MAX - 400, PATH_MAX + 99)) - len(path)
    pad *= rng.random() < 0.15
    return "/" * pad + path if path[0] == "/" else "./" * (pad // 2) + path


def layout():
    folders, aliases = [W], []
    for _ in range(rng.randint(0, 5)):
        folders.append(f"{rng.choice(folders)}/{fresh()}")
        os.mkdir(folders[-1])
    for real in rng.choices(folders, k=rng.randint(0, 2)):
        aliases.append((f"{rng.choice(folders)}/{fresh()}", real))
        os.symlink(spell(real, os.path.dirname(aliases[-1][0]), []), aliases[-1][0])
    end = f"{rng.choice(folders)}/{fresh()}"
    document = lambda path: open(path, "w").write('{"at": "%s"}' % path[-20:])
    rng.choice([document] * 6 + [os.mkdir, os.mkfifo, len])(end)  # len makes nothing
    n = rng.choice([1, 1, 2, 3, 3, 4, 6, rng.randint(1, 41), 40, 41])
    hops = [CONFIG] + [f"{rng.choice(folders)}/{fresh()}" for _ in range(n - 1)] + [end]
    hops[-1] = rng.choice(hops[:-1]) if rng.random() < 0.1 else end  # now and then a loop
    for link, target in zip(hops, hops[1:]):
        os.symlink(spell(target, os.path.dirname(link), aliases), link)


def refused(path, at="/", links=0):
    # Whether the tool, which puts each link's target in its place before the rest of the
    # path, makes a path longer than PATH_MAX - 1 bytes on the way.
    while path and links <= 40 and len(path) < PATH_MAX:
        name, slash, rest = path.lstrip("/").partition("/")
        here = os.path.normpath(os.path.join("/" if path[0] == "/" else at, name))
        if os.path.islink(here):
            at, links, path = os.path.dirname(here), links + 1, os.readlink(here) + slash + rest
        elif os.path.isdir(here):
            at, path = here, rest.lstrip("/")
        else:
            return False
    return len(path) >= PATH_MAX


ELEVATED, failures, exported = ["setpriv", "--egid=1", "--keep-groups"], [], 0
run = lambda cmd: subprocess.run([*cmd, TOOL], capture_output=True, preexec_fn=small_stack)
for n in range(600):
    subprocess.run(["rm", "-rf", W, CONFIG], check=True)
    os.mkdir(W)
    layout()
    kernel, tool = ((p.returncode, p.stdout, p.stderr) for p in map(run, ([], ELEVATED)))
    exported += kernel[0] == 0
    if kernel[0] not in (0, 2) or tool != kernel and (tool != (2, b"", b"") or not refused(CONFIG)):
        failures.append(f"layout {n}: kernel {kernel!r:.300}, elevated {tool!r:.300}")
print(*failures[:10], sep="\n")
print(f"resolve: {n + 1} layouts, {exported} exported, {len(failures)} unlike the kernel")
sys.exit(bool(failures) or exported < 100)
