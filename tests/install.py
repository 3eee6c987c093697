# The installed shape: two package builds are identical; the package holds
# the tool setuid root with its examples, hardened, and lintian accepts it;
# setuid and setgid copies run by nobody have given up their ids while they
# write; a refused privilege drop prints nothing.
import ctypes, glob, os, platform, re, shutil, struct, subprocess, sys, tempfile
from harness import BUILD, NOBODY, SOURCE, TOOL, place


def sh(*cmd):
    return subprocess.run(cmd, capture_output=True, text=True)


def refuse_setresgid():
    # As in a setuid run, real uid 65534 under effective uid 0; a seccomp
    # filter (load the syscall number; setresgid, 119, gets EPERM; allow the rest).
    os.setresuid(65534, -1, -1)
    code = ctypes.create_string_buffer(b''.join(struct.pack('HBBI', *i) for i in [
        (0x20, 0, 0, 0), (0x15, 0, 1, 119), (0x06, 0, 0, 0x50001), (0x06, 0, 0, 0x7FFF0000)]))
    ctypes.CDLL(None).prctl(22, 2, struct.pack('HP', 4, ctypes.addressof(code)))  # PR_SET_SECCOMP, filter


work = tempfile.mkdtemp()
os.chmod(work, 0o755)
build = sh('sh', '-c', f'cmake -S {SOURCE} -B {work}/b && cmake --build {work}/b --target package -j2 && '
           f'cmake --build {BUILD} --target package -j2')
debs = glob.glob(f'{work}/b/*.deb') + glob.glob(f'{BUILD}/*.deb')
checks = {'two package builds in different folders are identical': len(debs) == 2 and not sh('cmp', *debs).returncode}
listing = sh('dpkg-deb', '-c', debs[0]).stdout
checks['the package holds the tool setuid root and the examples'] = all(p in listing for p in (
    '-rwsr-xr-x root/root', 'examples/configuration\n', 'examples/profile.sh\n'))
lintian = sh('lintian', '--display-info', '--pedantic', debs[0])
checks['lintian: no tag, not even pedantic'] = not lintian.returncode and not lintian.stdout
sh('dpkg-deb', '-x', debs[0], f'{work}/x')
elf = sh('readelf', '-W', '-h', '-l', '-d', '--dyn-syms', f'{work}/x/usr/bin/zuvozozave').stdout
checks['PIE, full RELRO, bound now, stack protector, fortified, no executable stack'] = all(re.search(p, elf) for p in (
    r'Type:\s+DYN', 'GNU_RELRO', 'BIND_NOW', '__stack_chk_fail', r'__\w+_chk@', r'GNU_STACK.*\sRW\s'))
BIG = 'x' * 200000  # over two pipe buffers: still writing when we look
for mode, config_mode in ((0o4755, 0o600), (0o2755, 0o640)):
    os.chmod(shutil.copy(TOOL, f'{work}/tool'), mode)
    place(f'{{"basic": {{"big": "{BIG}"}}, "network": {{"psk": "hunter2"}}}}', config_mode)
    p = subprocess.Popen(NOBODY + [f'{work}/tool'], stdout=subprocess.PIPE, stderr=subprocess.PIPE, bufsize=0)
    first = p.stdout.read(1)
    with open(f'/proc/{p.pid}/status') as f:
        ids = [line.split()[1:] for line in f if line.startswith(('Uid:', 'Gid:'))]
    checks[f'mode {mode:o}: nobody gets the restricted view, from ids all 65534 while it writes'] = (
        (first + p.stdout.read(), p.stderr.read(), p.wait(), ids) == (f'basic_big="{BIG}"\n'.encode(), b'', 0, [['65534'] * 4] * 2))
if platform.machine() == 'x86_64':  # the filter knows x86_64 syscall numbers only
    p = subprocess.run([TOOL], preexec_fn=refuse_setresgid, capture_output=True)
    checks['a refused privilege drop prints nothing, says so, status 2'] = (
        (p.returncode, p.stdout, p.stderr) == (2, b'', b'error encountered on privilege drop\n'))
shutil.rmtree(work)
for name, ok in checks.items():
    print(f'install: {"ok  " if ok else "FAIL"} {name}')
if not all(checks.values()):
    print(build.stdout[-2000:], build.stderr[-2000:], lintian.stdout, elf, sep='\n')
sys.exit(not all(checks.values()))
