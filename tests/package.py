# The package: two builds in different folders are identical; it holds the
# tool setuid root, the examples and the lintian override, which a local
# install goes without; lintian has nothing to say; the binary is hardened.
# Needs no uid of its own (argv: TOOL CONFIG BUILD SOURCE).
import os, re, shutil, subprocess, sys, tempfile

BUILD, SOURCE = sys.argv[3:5]
HOLDS = ("-rwsr-xr-x root/root", "examples/profile.sh", "overrides/zuvozozave")
HARDENED = r"Type:\s+DYN GNU_RELRO BIND_NOW __stack_chk_fail __\w+_chk@ GNU_STACK.*\sRW\s".split()
work, tmp = f"{BUILD}/package-check", tempfile.mkdtemp()  # lintian leaves files in its TMPDIR
shutil.rmtree(work, ignore_errors=True)


def run(*cmd):
    return subprocess.run(cmd, capture_output=True, text=True, env=dict(os.environ, TMPDIR=tmp))


subprocess.run(["cmake", "-S", SOURCE, "-B", work], check=True)
for folder in work, BUILD:
    subprocess.run(["cmake", "--build", folder, "--target", "package", "-j2"], check=True)
debs = [f"{d}/{f}" for d in (work, BUILD) for f in os.listdir(d) if f.endswith(".deb")]
listing = run("dpkg-deb", "-c", debs[0]).stdout
lintian = run("lintian", "--display-info", "--pedantic", debs[0])
run("dpkg-deb", "-x", debs[0], f"{work}/x")
run("cmake", "--install", work, "--prefix", f"{work}/local")  # only the package has the override
shutil.rmtree(tmp)
elf = run("readelf", "-W", "-hld", "--dyn-syms", f"{work}/x/usr/bin/zuvozozave").stdout
checks = {
    "two package builds in different folders are identical": not run("cmp", *debs).returncode,
    "it holds the tool setuid root, the examples, the override": all(h in listing for h in HOLDS),
    "a local install goes without the override": not os.path.exists(f"{work}/local/share/lintian"),
    "lintian: no tag, not even pedantic": (lintian.returncode, lintian.stdout) == (0, ""),
    "hardened as Debian's setuid programs": all(re.search(p, elf) for p in HARDENED),
}
for name, ok in checks.items():
    print(f"package: {'ok  ' if ok else 'FAIL'} {name}")
if not all(checks.values()):
    print(listing, lintian.stdout, elf, sep="\n")
sys.exit(not all(checks.values()))
