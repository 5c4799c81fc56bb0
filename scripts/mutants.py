#!/usr/bin/env python3
"""Mutation sample of the product code against the native test suite.

Run through scripts/mutants.sh, which documents the options. The checkout is
never written: each worker copies it to /tmp/mirl-mutants-K/main, builds that
copy in build/mutants/build-K, and applies one mutant at a time to the copy.
Mutants are sorted by file so that consecutive ones touch the same source and
ninja recompiles one object and relinks; the original text is put back (with
a fresh time stamp, so ninja rebuilds it) before moving to the next file.
"""
import argparse, csv, hashlib, json, os, random, re, shutil, subprocess, sys, threading, time

ROOT = os.path.realpath(os.path.join(os.path.dirname(__file__), ".."))
SOURCE_EXT = re.compile(r"\.(c|cc|cpp|cxx|h|hh|hpp)$")


def product_files():
    out = subprocess.run(["git", "-C", ROOT, "ls-files"], capture_output=True, text=True,
                         check=True).stdout.split()
    return [f for f in out if SOURCE_EXT.search(f)
            and not re.match(r"(tests|fuzz|bench|examples)/", f) and "_test." not in f]


def executed_lines(coverage_json):
    """file -> set of executed line numbers, from gcovr's JSON; None if absent."""
    if not coverage_json or not os.path.exists(coverage_json):
        return None
    data = json.load(open(coverage_json))
    lines = {}
    for f in data["files"]:
        path = os.path.relpath(os.path.join(ROOT, f["file"]), ROOT)
        lines.setdefault(path, set()).update(
            l["line_number"] for l in f["lines"] if l["count"] > 0 and not l.get("gcovr/noncode"))
    return lines


def masked_lines(text):
    """The lines with comments, string and character literals blanked (same
    length), so that operators inside them are never mutated; preprocessor
    lines become empty."""
    out, in_block = [], False
    for line in text.split("\n"):
        chars, i, n = list(line), 0, len(line)
        while i < n:
            if in_block:
                end = line.find("*/", i)
                stop = n if end < 0 else end + 2
                chars[i:stop] = " " * (stop - i)
                in_block, i = end < 0, stop
            elif line.startswith("//", i):
                chars[i:] = " " * (n - i)
                break
            elif line.startswith("/*", i):
                in_block = True
            elif line[i] in "\"'":
                quote, j = line[i], i + 1
                while j < n and line[j] != quote:
                    j += 2 if line[j] == "\\" else 1
                chars[i + 1:min(j, n)] = "_" * (min(j, n) - i - 1)
                i = j + 1
            else:
                i += 1
        masked = "".join(chars)
        out.append("" if masked.lstrip().startswith("#") else masked)
    return out


RELATIONAL = {"<": ["<=", ">"], "<=": ["<", ">"], ">": [">=", "<"], ">=": [">", "<"],
              "==": ["!="], "!=": ["=="]}
# Binary operators are written with a space either side (clang-format), which
# tells them from template brackets, shifts, pointers and unary signs.
RELATIONAL_RE = re.compile(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)")
ARITH_RE = re.compile(r"(?<=\s)([+-])(?=\s)")
INCDEC_RE = re.compile(r"(\+\+|--)")
NUMBER_RE = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])")
SIMPLE_STATEMENT_RE = re.compile(
    r"^\s*(?:[A-Za-z_][\w]*(?:(?:\.|->|::)[A-Za-z_]\w*|\[[^\]]*\])*"
    r"\s*(?:=|\+=|-=|\|=|&=|<<=|>>=)\s*[^=].*|[A-Za-z_][\w.:>-]*\(.*\));\s*$")
DECL_START_RE = re.compile(r"^\s*(return|case|default|delete|throw|break|continue|goto|using)\b")


def matching_paren(s, i):
    depth = 0
    for j in range(i, len(s)):
        depth += {"(": 1, ")": -1}.get(s[j], 0)
        if depth == 0:
            return j
    return -1


def line_mutants(raw, masked, prev_masked):
    """(kind, column, old, new) edits of one line."""
    edits = []
    for m in RELATIONAL_RE.finditer(masked):
        if "operator" in masked[max(0, m.start() - 10):m.start()]:
            continue
        for new in RELATIONAL[m.group(1)]:
            edits.append(("relational", m.start(), m.group(1), new))
    # A + on a line with a string literal is nearly always a concatenation,
    # whose - does not compile.
    for m in ([] if '"' in masked else ARITH_RE.finditer(masked)):
        edits.append(("arithmetic", m.start(), m.group(1), "-" if m.group(1) == "+" else "+"))
    for m in INCDEC_RE.finditer(masked):
        if "operator" not in masked[max(0, m.start() - 10):m.start()]:
            edits.append(("arithmetic", m.start(), m.group(1), "--" if m.group(1) == "++" else "++"))
    for m in NUMBER_RE.finditer(masked):
        text, suffix = m.group(1), m.group(2)
        value = int(text, 16) if text[:2].lower() == "0x" else int(text)
        if text.startswith("0") and len(text) > 1 and text[:2].lower() != "0x":
            continue  # octal: rare, left alone
        for v in (value + 1, value - 1):
            if v >= 0:
                new = hex(v) if text[:2].lower() == "0x" else str(v)
                edits.append(("constant", m.start(), text + suffix, new + suffix))
    for m in re.finditer(r"\b(if|while) \(", masked):
        open_ = m.end() - 1
        close = matching_paren(masked, open_)
        if close > 0:
            cond = raw[open_ + 1:close]
            edits.append(("negate", open_, raw[open_:close + 1], "(!(" + cond + "))"))
    stripped = masked.strip()
    continuation = prev_masked.strip() and prev_masked.rstrip()[-1:] not in ";{}:"
    if (SIMPLE_STATEMENT_RE.match(masked) and not DECL_START_RE.match(masked)
            and not continuation and stripped.count("(") == stripped.count(")")):
        body = raw.strip()
        edits.append(("delete", raw.index(body), body, ";"))
    return edits


def all_mutants(tree, executed):
    mutants = []
    for path in product_files():
        if executed is None and "Windows" in path:
            continue  # not compiled on Linux
        if executed is not None and path not in executed:
            continue
        full = os.path.join(tree, path)
        if not os.path.exists(full):
            continue
        text = open(full, encoding="utf-8", errors="surrogateescape").read()
        raws, masks = text.split("\n"), masked_lines(text)
        prev = ""
        for number, (raw, masked) in enumerate(zip(raws, masks), 1):
            if masked.strip() and (executed is None or number in executed[path]):
                for kind, col, old, new in line_mutants(raw, masked, prev):
                    mutants.append({"file": path, "line": number, "kind": kind, "column": col,
                                    "old": old, "new": new})
            if masked.strip():
                prev = masked
    return mutants


def run(cmd, cwd=None, timeout=None):
    try:
        p = subprocess.run(cmd, cwd=cwd, timeout=timeout, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True, errors="replace",
                           start_new_session=True)
        return p.returncode, p.stdout
    except subprocess.TimeoutExpired as e:
        return None, (e.stdout or b"").decode(errors="replace") if isinstance(e.stdout, bytes) else ""


class Worker:
    def __init__(self, index, args):
        # One scratch copy per checkout and worker, so that two checkouts can
        # run their samples at once.
        tag = hashlib.sha1(ROOT.encode()).hexdigest()[:8]
        self.scratch = f"/tmp/mirl-mutants-{tag}-{index}"
        self.tree = os.path.join(self.scratch, "main")
        self.build = os.path.join(ROOT, args.out, f"build-{index}")
        self.args, self.jobs = args, max(1, (os.cpu_count() or 1) // args.jobs)
        self.suite = None

    def prepare(self):
        shutil.rmtree(self.scratch, ignore_errors=True)
        os.makedirs(self.scratch)
        # copy2 keeps the time stamps, so a build directory left by an
        # earlier run stays valid for every file that has not changed since.
        top = lambda d, names: [n for n in names if d == ROOT and n in ("build", ".git")]
        shutil.copytree(ROOT, self.tree, ignore=top, symlinks=True)
        # The tests find the samples next to the checkout.
        os.symlink(os.path.realpath(os.path.join(ROOT, "..", "shared")),
                   os.path.join(self.scratch, "shared"))
        dirty = os.path.join(self.build, "mutants-dirty")
        cache = os.path.join(self.build, "CMakeCache.txt")
        stale = os.path.exists(cache) and f"={self.tree}\n" not in open(cache).read()
        if os.path.exists(dirty) or stale:  # mutated objects left, or another copy's build
            shutil.rmtree(self.build)
        os.makedirs(self.build, exist_ok=True)
        if not os.path.exists(os.path.join(self.build, "build.ninja")):
            subprocess.run(["cmake", "-S", self.tree, "-B", self.build, "-G", "Ninja",
                            "-DCMAKE_BUILD_TYPE=None", "-DCMAKE_CXX_FLAGS=-O1",
                            "-DCMAKE_C_FLAGS=-O1"], check=True, stdout=subprocess.DEVNULL)
        code, out = run(["ninja", "-C", self.build, f"-j{self.jobs}"])
        if code != 0:
            sys.exit("the unmutated copy does not build:\n" + out[-3000:])
        open(dirty, "w").close()
        self.discover()

    def discover(self):
        """gtest executables (run whole, with JSON output) and the other ctest tests."""
        _, out = run(["ctest", "--show-only=json-v1"], cwd=self.build)
        data = json.loads(out[out.index("{"):])
        exes, others = {}, []
        for t in data["tests"]:
            cmd = t.get("command") or []
            wd = next((p["value"] for p in t.get("properties", [])
                       if p["name"] == "WORKING_DIRECTORY"), self.build)
            if any(a.startswith("--gtest_filter=") for a in cmd):
                exes[cmd[0]] = wd
            else:
                others.append(t["name"])
        self.suite = (sorted(exes.items()), others)

    def run_suite(self, timeout, first_kill=False):
        """(failed test names, timed out?) of one run of the whole suite; with
        first_kill, of the suite up to the first test program that fails."""
        deadline = time.time() + timeout
        exes, others = self.suite
        failed, timed_out = set(), False
        if others:
            pattern = "^(" + "|".join(re.escape(n) for n in others) + ")$"
            log = os.path.join(self.build, "Testing", "Temporary", "LastTestsFailed.log")
            if os.path.exists(log):
                os.remove(log)
            code, out = run(["ctest", "-j", str(self.jobs), "-R", pattern, "--timeout",
                             str(max(1, int(deadline - time.time())))], cwd=self.build,
                            timeout=max(1, deadline - time.time()) + 10)
            timed_out |= code is None or "***Timeout" in out
            if os.path.exists(log):
                for line in open(log):
                    name = line.strip().split(":", 1)[-1]
                    if "***Timeout" not in out or not re.search(re.escape(name) + r" .*\*\*\*Timeout", out):
                        failed.add(name)
        for exe, wd in exes:
            left = deadline - time.time()
            if left <= 0:
                timed_out = True
                break
            report = os.path.join(self.scratch, "gtest.json")
            if os.path.exists(report):
                os.remove(report)
            code, _ = run([exe, f"--gtest_output=json:{report}"], cwd=wd, timeout=left)
            name = os.path.basename(exe)
            if code is None:
                timed_out = True
                continue
            found = False
            if os.path.exists(report):
                try:
                    for suite in json.load(open(report)).get("testsuites", []):
                        for case in suite.get("testsuite", []):
                            if case.get("failures"):
                                failed.add(f"{suite['name']}.{case['name']}")
                                found = True
                except ValueError:
                    pass
            if code != 0 and not found:
                failed.add(f"{name}:exit{code}")  # a crash: no report written
            if first_kill and failed:
                break
        return failed, timed_out

    def apply(self, mutant, original_lines):
        lines = list(original_lines)
        i, col = mutant["line"] - 1, mutant["column"]
        raw = lines[i]
        assert raw[col:col + len(mutant["old"])] == mutant["old"], mutant
        lines[i] = raw[:col] + mutant["new"] + raw[col + len(mutant["old"]):]
        mutant["mutated"] = lines[i].strip()
        self.write(mutant["file"], lines)

    def write(self, path, lines):
        with open(os.path.join(self.tree, path), "w", encoding="utf-8",
                  errors="surrogateescape") as f:
            f.write("\n".join(lines))

    def process(self, mutants, flaky, results, lock):
        by_file = {}
        for m in mutants:
            by_file.setdefault(m["file"], []).append(m)
        for path, group in by_file.items():
            full = os.path.join(self.tree, path)
            original = open(full, encoding="utf-8", errors="surrogateescape").read().split("\n")
            try:
                for m in group:
                    start = time.time()
                    self.apply(m, original)
                    code, out = run(["ninja", "-C", self.build, f"-j{self.jobs}"],
                                    timeout=self.args.build_timeout)
                    if code != 0:
                        m.update(status="build-failed", killers=[])
                    else:
                        failed, timed_out = self.run_suite(self.args.timeout,
                                                           bool(self.args.retest))
                        failed -= flaky
                        m["killers"] = sorted(failed)
                        m["status"] = ("killed" if failed else
                                       "timeout" if timed_out else "survived")
                    m["seconds"] = round(time.time() - start, 1)
                    with lock:
                        results.append(m)
                        print(f"[{len(results)}/{self.args.total}] {m['status']:12} "
                              f"{m['file']}:{m['line']} {m['kind']} {m['old']!r}->{m['new']!r} "
                              f"({m['seconds']}s) {' '.join(m['killers'][:3])}", flush=True)
            finally:
                self.write(path, original)  # a fresh time stamp: ninja rebuilds the original

    def finish(self):
        # Leaves the build directory matching the unmutated copy, so that the
        # next run starts with an incremental build.
        code, _ = run(["ninja", "-C", self.build, f"-j{self.jobs}"])
        if code == 0:
            os.remove(os.path.join(self.build, "mutants-dirty"))
        shutil.rmtree(self.scratch, ignore_errors=True)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("-n", "--count", type=int, default=300)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--jobs", type=int, default=1)
    p.add_argument("--timeout", type=float, default=60, help="seconds of tests per mutant")
    p.add_argument("--build-timeout", type=float, default=600)
    p.add_argument("--coverage", default="build/coverage/coverage.json")
    p.add_argument("--out", default="build/mutants")
    p.add_argument("--list", action="store_true", help="print the sample, build nothing")
    p.add_argument("--retest", metavar="BEFORE.json",
                   help="run only the mutants of the sample that BEFORE (an earlier run of the "
                        "same seed and product code) killed, each up to its first kill")
    args = p.parse_args()

    executed = executed_lines(os.path.join(ROOT, args.coverage))
    print("mutating " + ("lines the coverage run executed" if executed is not None
                         else "every code line (no coverage data: run scripts/coverage.sh)"))
    pool = all_mutants(ROOT, executed)
    sample = random.Random(args.seed).sample(pool, min(args.count, len(pool)))
    for i, m in enumerate(sample):
        m["id"] = i
    if args.retest:
        before = {m["id"]: m for m in json.load(open(os.path.join(ROOT, args.retest)))}
        for m in sample:
            b = before.get(m["id"], {})
            if (b.get("file"), b.get("line"), b.get("new")) != (m["file"], m["line"], m["new"]):
                sys.exit(f"{args.retest} is not a run of this sample (mutant {m['id']} differs)")
        sample = [m for m in sample if before[m["id"]]["status"] in ("killed", "timeout")]
    args.total = len(sample)
    print(f"{len(pool)} possible mutants, {len(sample)} drawn with seed {args.seed}")
    if args.list:
        for m in sample:
            print(f"{m['file']}:{m['line']} {m['kind']} {m['old']!r} -> {m['new']!r}")
        return

    workers = [Worker(k, args) for k in range(args.jobs)]
    results, lock, started = [], threading.Lock(), time.time()
    try:
        threads = [threading.Thread(target=w.prepare) for w in workers]
        [t.start() for t in threads]
        [t.join() for t in threads]
        # The unmutated suite must pass; a test that fails there kills nothing.
        base_start = time.time()
        flaky, timed_out = workers[0].run_suite(max(args.timeout, 600))
        base = time.time() - base_start
        print(f"unmutated suite: {base:.1f}s, {len(flaky)} failing"
              + (f" (ignored: {', '.join(sorted(flaky))})" if flaky else ""), flush=True)
        if timed_out or base > args.timeout / 2:
            args.timeout = max(args.timeout, 3 * base)
            print(f"time-out per mutant raised to {args.timeout:.0f}s")
        # Whole files to one worker: each worker recompiles only its files.
        files = sorted({m["file"] for m in sample},
                       key=lambda f: -sum(m["file"] == f for m in sample))
        shares = [[] for _ in workers]
        for f in files:
            min(shares, key=len).extend(m for m in sample if m["file"] == f)
        threads = [threading.Thread(target=w.process, args=(s, flaky, results, lock))
                   for w, s in zip(workers, shares)]
        [t.start() for t in threads]
        [t.join() for t in threads]
    finally:
        for w in workers:
            if os.path.isdir(w.scratch):
                w.finish()
    report(sorted(results, key=lambda m: m["id"]), args, time.time() - started)


def report(results, args, elapsed):
    out = os.path.join(ROOT, args.out)
    os.makedirs(out, exist_ok=True)
    stem = os.path.join(out, f"results-seed{args.seed}-n{args.count}"
                        + ("-retest" if args.retest else ""))
    fields = ["id", "file", "line", "kind", "old", "new", "mutated", "status", "seconds", "killers"]
    with open(stem + ".csv", "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=fields, extrasaction="ignore")
        w.writeheader()
        for m in results:
            w.writerow(dict(m, killers=" ".join(m.get("killers", []))))
    json.dump(results, open(stem + ".json", "w"), indent=1)
    counts = {s: sum(m["status"] == s for m in results)
              for s in ("killed", "timeout", "survived", "build-failed")}
    valid = counts["killed"] + counts["timeout"] + counts["survived"]
    lines = [f"seed {args.seed}: {len(results)} mutants in {elapsed / 60:.1f} min "
             f"({elapsed / max(1, len(results)):.1f}s each)"]
    lines += [f"  {s:12} {n}" for s, n in counts.items()]
    if valid:
        lines.append(f"  killed {100 * (counts['killed'] + counts['timeout']) / valid:.1f}% "
                     f"of the {valid} that built (time-outs count as killed)")
    survivors = {}
    for m in results:
        if m["status"] == "survived":
            survivors.setdefault(m["file"], []).append(m)
    if survivors:
        lines.append("survivors per file:")
        for f, ms in sorted(survivors.items(), key=lambda kv: -len(kv[1])):
            lines.append(f"  {len(ms):3} {f}: lines " + ", ".join(str(m["line"]) for m in ms))
    text = "\n".join(lines)
    print(text)
    open(stem + "-summary.txt", "w").write(text + "\n")
    print(f"results: {stem}.csv, {stem}.json")


if __name__ == "__main__":
    main()
