#!/usr/bin/env bash
# A bench, not a test: a run of 20 adds of 1 MB to an archive of 300 entries
# with the ZIP library, killed inside each of its writes that reach past the
# end of the file, at the first and the last page end in it (where the kernel
# stops a write a kill interrupts) and before it. Until Close the file must
# hold a readable directory of the entries before the adds; reports how many
# cuts left it without one. Writes inside the file are left out: a kill there
# cannot change what readers find at its end. Needs strace. A few minutes.
# Usage: bench/zip_cut_adds.sh [path/to/zip_change] [path/to/libwrite_cut.so]
#        (default: build/bench/zip_change build/bench/libwrite_cut.so)
set -euo pipefail
bin="$(realpath "${1:-build/bench/zip_change}")"
cut="$(realpath "${2:-build/bench/libwrite_cut.so}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 - "$bin" "$cut" "$work" <<'PY'
import io, os, re, shutil, subprocess, sys, zipfile
bin, cut, work = sys.argv[1:4]
base, target = os.path.join(work, "base.zip"), os.path.join(work, "a.zip")
rng = __import__("random").Random(7)
with zipfile.ZipFile(base, "w") as z:
    for i in range(300):
        z.writestr(f"e{i:03}.bin", rng.randbytes(10_000), zipfile.ZIP_STORED)
args = [target, "add", "20", "1000000"]

def readable(data):
    try:
        z = zipfile.ZipFile(io.BytesIO(data))
        for i in range(300):
            at = z.getinfo(f"e{i:03}.bin").header_offset
            if data[at:at + 4] != b"PK\x03\x04":
                return False
        return True
    except (KeyError, zipfile.BadZipFile, ValueError):
        return False

# Where each write lands, from one run under strace.
shutil.copyfile(base, target)
trace = subprocess.run(["strace", "-qq", "-e", "trace=write,lseek,ftruncate", bin] + args,
                       capture_output=True, text=True, check=True).stderr
pos, size, k, cuts = 0, os.path.getsize(base), 0, []
for line in trace.splitlines():
    if m := re.match(r"lseek\(\d+, -?\d+, SEEK_\w+\) += (\d+)", line):
        pos = int(m.group(1))
    elif m := re.match(r"ftruncate\(\d+, (\d+)\)", line):
        size = int(m.group(1))
    elif m := re.match(r"write\(\d+, .*\) += (\d+)", line):
        k, n = k + 1, int(m.group(1))
        if pos + n > size:
            first = max(size - pos, 0)
            pages = [b - pos for b in range((pos // 4096 + 1) * 4096, pos + n, 4096) if b - pos >= first]
            cuts += [(k, keep) for keep in sorted({0, *pages[:1], *pages[-1:]})]
        pos += n
        size = max(size, pos)
lost = 0
for k, keep in cuts:
    shutil.copyfile(base, target)
    env = dict(os.environ, LD_PRELOAD=cut, CUT_WRITE=str(k), CUT_KEEP=str(keep))
    subprocess.run([bin] + args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(target, "rb") as f:
        if not readable(f.read()):
            lost += 1
            print(f"write {k} cut after {keep} bytes: no readable directory", flush=True)
print(f"{len(cuts)} cuts in {k} writes: {lost} left unreadable")
sys.exit(1 if lost else 0)
PY
