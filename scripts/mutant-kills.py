#!/usr/bin/env python3
"""Which tests a mutation run shows to be needed, and what a cut keeps.

    scripts/mutant-kills.py RESULTS.json
        per test: its lines, the mutants it killed and how many of those no
        other test killed; the tests with no such mutant first, largest first.
    scripts/mutant-kills.py RESULTS.json --removable [--keep REGEX]
        a set of tests that can go together without losing a kill: the
        largest test whose every killed mutant another remaining test also
        kills goes first, then the next, checked against what is left; tests
        matching REGEX stay whatever they kill.
    scripts/mutant-kills.py RESULTS.json --compare BEFORE.json
        of the mutants BEFORE killed (same seed, same product commit), how
        many RESULTS kills too, and which it no longer kills.

RESULTS.json is written by scripts/mutants.sh (build/mutants/results-*.json).
A test is named as gtest reports it (Suite.Name, parameterised ones with
their prefix and parameter, which are folded into one) or by its ctest name.
"""
import argparse, json, os, re, subprocess, sys

ROOT = os.path.realpath(os.path.join(os.path.dirname(__file__), ".."))
TEST_RE = re.compile(r"^(?:TEST|TEST_F|TEST_P)\(\s*(\w+)\s*,\s*(\w+)\s*\)", re.M)


def test_lines():
    """Suite.Name -> (file, non-blank lines of its body) over tests/ and fuzz/."""
    files = subprocess.run(["git", "-C", ROOT, "ls-files", "tests", "fuzz"], text=True,
                           capture_output=True, check=True).stdout.split()
    out = {}
    for f in files:
        if not f.endswith(".cpp"):
            continue
        text = open(os.path.join(ROOT, f), errors="replace").read()
        for m in TEST_RE.finditer(text):
            i, depth = text.index("{", m.end()), 0
            for j in range(i, len(text)):
                depth += {"{": 1, "}": -1}.get(text[j], 0)
                if depth == 0:
                    break
            body = text[m.start():j + 1]
            out[f"{m.group(1)}.{m.group(2)}"] = (f, sum(1 for l in body.split("\n") if l.strip()))
    return out


def fold(name):
    """Prefix/Suite.Name/Param -> Suite.Name: one test however many instances."""
    if "." not in name:
        return name
    suite, case = name.split(".", 1)
    return f"{suite.split('/')[-1]}.{case.split('/')[0]}"


def killed(results):
    return {m["id"]: {fold(k) for k in m.get("killers", [])}
            for m in results if m["status"] in ("killed", "timeout")}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("results")
    p.add_argument("--compare")
    p.add_argument("--removable", action="store_true")
    p.add_argument("--keep", default="^$")
    a = p.parse_args()
    results = json.load(open(a.results))
    kills = killed(results)
    if a.compare:
        before = killed(json.load(open(a.compare)))
        kept = [i for i in before if i in kills]
        print(f"{len(kept)} of the {len(before)} mutants killed before are killed now "
              f"({100 * len(kept) / max(1, len(before)):.1f}%)")
        for m in results:
            if m["id"] in before and m["id"] not in kills:
                print(f"  no longer killed: {m['file']}:{m['line']} {m['kind']} "
                      f"{m['old']!r}->{m['new']!r} (before: {' '.join(sorted(before[m['id']]))})")
        return
    lines = test_lines()
    per_test = {}
    for i, ts in kills.items():
        for t in ts:
            per_test.setdefault(t, set()).add(i)
    if a.removable:
        keep = re.compile(a.keep)
        killers = {i: set(ts) for i, ts in kills.items()}
        gone = []
        for t in sorted(set(lines) | set(per_test), key=lambda t: -lines.get(t, ("", 0))[1]):
            if keep.search(t) or t not in lines:
                continue  # ctest tests and crashes of a whole program are not ours to cut
            if all(len(killers[i]) > 1 for i in per_test.get(t, ())):
                for i in per_test.get(t, ()):
                    killers[i].discard(t)
                gone.append(t)
        total = sum(lines[t][1] for t in gone)
        print(f"{len(gone)} tests, {total} lines of test bodies, can go without losing a kill:")
        for t in gone:
            print(f"{lines[t][1]:5} {len(per_test.get(t, ())):4}  {t}  {lines[t][0]}")
        return
    rows = []
    for t in set(per_test) | set(lines):
        mine = per_test.get(t, set())
        unique = sum(1 for i in mine if kills[i] == {t})
        f, n = lines.get(t, ("", 0))
        rows.append((unique > 0, -n, t, f, n, len(mine), unique))
    print(f"{len(kills)} mutants killed; per test: lines, mutants killed, killed by it alone")
    for _, _, t, f, n, k, u in sorted(rows):
        print(f"{n:5} {k:4} {u:3}  {t}  {f}")


if __name__ == "__main__":
    sys.exit(main())
