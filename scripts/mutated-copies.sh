#!/usr/bin/env bash
# Robustness of ubrofdump against damaged files: for every shared UBROF 8
# sample, COPIES copies with a few random bytes changed, each run through
# every view, lookup and a hex dump, once as text and once as JSON. Each run
# must end with exit status 0, 1 or 2; a signal (an abort, a crash) or a
# time-out (60 s) is a failure, and its copy is kept in OUT/failures.
#
#     scripts/mutated-copies.sh [copies] [ubrofdump] [out]
#
# copies     copies per sample (default 1000)
# ubrofdump  the tool to run (default build/release/tools/ubrofdump)
# out        scratch folder (default build/mutated-copies), emptied first
#
# The samples are MIRL_SAMPLES_DIR (default ../shared/samples); a sample
# counts as UBROF 8 when the tool's summary says so. The copies are
# reproducible: copy N of a sample changes the bytes that seed N chose.
# This takes minutes, so it is not part of the CI command.
set -euo pipefail
cd "$(dirname "$0")/.."
copies=${1:-1000}
tool=${2:-build/release/tools/ubrofdump}
out=${3:-build/mutated-copies}
samples=${MIRL_SAMPLES_DIR:-$(pwd)/../shared/samples}
rm -rf "$out"
mkdir -p "$out/failures"
exec python3 - "$copies" "$(realpath "$tool")" "$out" "$samples" <<'PY'
import glob, os, random, shutil, subprocess, sys

copies, tool, out, samples = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
# Every view (--all), lookups of each kind, a hex dump and the ELF export; the odd copies
# read names through iconv and list nm by name.
views = ["--all", "--addr", "0", "64", "100", "ffffffff", "--line", "main.c:10",
         "--symbol", "main", "--range", "0+40", "--elf", "out.elf"]
odd = ["--charset", "CP1251", "--sort", "name", "--globals", "--defined"]
data = ["--memory-type", "data", "--addr", "0", "60", "100"]
runs = failures = 0
for sample in sorted(glob.glob(os.path.join(samples, "*", "*.d90"))):
    summary = subprocess.run([tool, sample], capture_output=True, text=True, errors="replace")
    if "UBROF version:   8." not in summary.stdout:
        continue
    original = open(sample, "rb").read()
    name = os.path.basename(os.path.dirname(sample))
    work = os.path.join(out, name)
    os.makedirs(work, exist_ok=True)
    copy = os.path.join(work, "copy.d90")
    signals = 0
    for n in range(copies):
        rng = random.Random(f"{name}-{n}")
        b = bytearray(original)
        for _ in range(rng.randint(1, 8)):
            b[rng.randrange(len(b))] = rng.randrange(256)
        with open(copy, "wb") as f:
            f.write(b)
        for args in (views, views + ["--json"], data + ["--json"] if n % 2 else data):
            if n % 2 and args is not data:
                args = args + odd
            runs += 1
            try:
                r = subprocess.run([tool] + args + ["copy.d90"], cwd=work, capture_output=True,
                                   timeout=60)
                bad = r.returncode not in (0, 1, 2)
                why = f"exit status {r.returncode}"
            except subprocess.TimeoutExpired:
                bad, why = True, "time-out"
            if bad:
                failures += 1
                signals += 1
                kept = os.path.join(out, "failures", f"{name}-{n}.d90")
                shutil.copyfile(copy, kept)
                print(f"FAIL {kept}: ubrofdump {' '.join(args)}: {why}", flush=True)
        shutil.rmtree(os.path.join(work, "embedded_source"), ignore_errors=True)
    print(f"{name}: {copies} copies, {3 * copies} runs, {signals} failures", flush=True)
print(f"total: {runs} runs, {failures} failures")
sys.exit(1 if failures else 0)
PY
