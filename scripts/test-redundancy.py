#!/usr/bin/env python3
"""Per-test coverage: which source lines and branches each ctest test alone covers.

Driven by scripts/test-redundancy.sh (see its header). Stages, each resumable:
  run      every ctest test alone, its profiles (and its children's) in its own folder
  export   per test: llvm-profdata merge, llvm-cov export, the covered lines and branches
  report   set arithmetic and the report files
"""
import argparse
import collections
import concurrent.futures
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

PRODUCT_DIRS = ("src/", "include/", "tools/")


def log(msg):
    print(msg, flush=True)


def ctest_tests(build, timeout_scale):
    out = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], check=True,
                         capture_output=True, text=True).stdout
    tests = []
    for i, t in enumerate(json.loads(out)["tests"]):
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        if not t.get("command") or props.get("DISABLED"):
            continue
        labels = props.get("LABELS", [])
        tests.append({
            "index": i,
            "name": t["name"],
            "command": t["command"],
            "folder": labels[0] if labels else "-",
            "env": props.get("ENVIRONMENT", []),
            "timeout": float(props.get("TIMEOUT", 1500)) * timeout_scale,
            "skip_re": props.get("SKIP_REGULAR_EXPRESSION", []),
            "cost": float(props.get("COST", 0)),
        })
    return tests


def run_one(t, work):
    # Its own working folder too: a child started with a cleared environment writes its
    # profile under the default name into its working folder, which is this one.
    d = os.path.join(work, "runs", str(t["index"]))
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    env = dict(os.environ)
    for kv in t["env"]:
        k, _, v = kv.partition("=")
        env[k] = v
    # %c: counters live in the file, so a child killed on purpose still counts.
    env["LLVM_PROFILE_FILE"] = os.path.join(d, "%c%p-%m.profraw")
    start = time.monotonic()
    # Its own process group: at a time-out the servers and tools it started go too.
    p = subprocess.Popen(t["command"], cwd=d, env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, errors="replace",
                         start_new_session=True)
    try:
        out, _ = p.communicate(timeout=t["timeout"])
        rc = p.returncode
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        out, _ = p.communicate()
        out, rc = out + "\nTIMEOUT", None
    secs = time.monotonic() - start
    status = "passed" if rc == 0 else "timed out" if rc is None else "failed"
    if any(re.search(r, out) for r in t["skip_re"]):
        status = "skipped"
    if status != "passed":
        with open(os.path.join(d, "output.txt"), "w") as f:
            f.write(out)
    return {"status": status, "seconds": round(secs, 2)}


def stage_run(args, tests):
    results_path = os.path.join(args.work, "results.json")
    results = json.load(open(results_path)) if os.path.exists(results_path) else {}
    # The costly ones first, as ctest does, so the short ones fill in around them.
    todo = sorted((t for t in tests if t["name"] not in results), key=lambda t: -t["cost"])
    log(f"run: {len(todo)} of {len(tests)} tests to run, {args.jobs} at a time")
    start = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = {pool.submit(run_one, t, args.work): t for t in todo}
        for n, f in enumerate(concurrent.futures.as_completed(futures), 1):
            t = futures[f]
            results[t["name"]] = f.result()
            if n % 25 == 0 or n == len(todo):
                log(f"run: {n}/{len(todo)} ({time.monotonic() - start:.0f} s)")
                json.dump(results, open(results_path, "w"), indent=0)
    json.dump(results, open(results_path, "w"), indent=0)
    return results


def objects(build, test_programs):
    """The binaries and shared libraries that are not test programs (children, plug-in)."""
    found, seen = [], set(test_programs)
    for path in sorted(glob.glob(os.path.join(build, "**", "*"), recursive=True)):
        if os.path.islink(path) or not os.path.isfile(path) or os.path.realpath(path) in seen:
            continue
        if (path.endswith(".so") or os.access(path, os.X_OK)) and not path.endswith(
                (".sh", ".py")) and "/CMakeFiles/" not in path:
            with open(path, "rb") as f:
                if f.read(4) == b"\x7fELF":
                    found.append(path)
                    seen.add(os.path.realpath(path))
    return found


def parse_lcov(text, root):
    """Covered lines and taken branches of product files; also every line and branch seen."""
    lines, branches, all_lines, all_branches = set(), set(), set(), set()
    keep = False
    for row in text.splitlines():
        if row.startswith("SF:"):
            rel = os.path.relpath(row[3:], root)
            keep = rel.startswith(PRODUCT_DIRS)
            name = rel
        elif not keep:
            continue
        elif row.startswith("DA:"):
            ln, count = row[3:].split(",")[:2]
            key = f"{name}:{ln}"
            all_lines.add(key)
            if count != "0":
                lines.add(key)
        elif row.startswith("BRDA:"):
            ln, block, branch, taken = row[5:].split(",")
            key = f"{name}:{ln}:{block}:{branch}"
            all_branches.add(key)
            if taken not in ("-", "0"):
                branches.add(key)
    return lines, branches, all_lines, all_branches


def dump(data, path):
    with open(path + ".tmp", "w") as f:
        json.dump(data, f)
    os.replace(path + ".tmp", path)


def lcov(prof, objs):
    cmd = ["llvm-cov", "export", "-format=lcov", "-skip-functions", "-num-threads=1",
           "-instr-profile", prof, objs[0]] + [f"-object={o}" for o in objs[1:]]
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def export_one(t, args, children):
    """One test's covered lines and branches; its raw profiles give way to one merged file."""
    d = os.path.join(args.work, "runs", str(t["index"]))
    out = os.path.join(args.work, "cov", f"{t['index']}.json")
    prof = out[:-5] + ".profdata"
    if os.path.exists(out):
        return
    profiles = sorted(glob.glob(os.path.join(d, "*.profraw")))
    if not profiles and not os.path.exists(prof):
        dump({"lines": [], "branches": []}, out)
        return
    if profiles:
        with open(os.path.join(d, "profiles.list"), "w") as f:
            f.write("\n".join(profiles) + "\n")
        subprocess.run(["llvm-profdata", "merge", "-sparse", "-o", prof, "-f",
                        os.path.join(d, "profiles.list")], check=True, capture_output=True)
    lines, branches, _, _ = parse_lcov(lcov(prof, [t["command"][0]] + children), args.source)
    dump({"lines": sorted(lines), "branches": sorted(branches)}, out)
    for p in profiles:
        os.remove(p)


def stage_export(args, tests):
    os.makedirs(os.path.join(args.work, "cov"), exist_ok=True)
    children = objects(args.build, args.programs)
    log(f"export: objects besides each test program: {len(children)}")
    start = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = [pool.submit(export_one, t, args, children) for t in tests]
        for n, f in enumerate(concurrent.futures.as_completed(futures), 1):
            f.result()
            if n % 25 == 0 or n == len(futures):
                log(f"export: {n}/{len(futures)} ({time.monotonic() - start:.0f} s)")
    # The baseline needs every line and branch of every program: any one profile lists
    # them (unrun ones count zero); what is covered is the union of the tests' sets.
    base = os.path.join(args.work, "cov", "all.json")
    if not os.path.exists(base):
        prof = next((p for p in (os.path.join(args.work, "cov", f"{t['index']}.profdata")
                                 for t in tests) if os.path.exists(p)), None)
        if prof is None:
            sys.exit("export: no test left a profile")
        progs = sorted({t["command"][0] for t in tests})
        _, _, all_lines, all_branches = parse_lcov(lcov(prof, progs + children), args.source)
        dump({"all_lines": sorted(all_lines), "all_branches": sorted(all_branches)}, base)
    log(f"export: done ({time.monotonic() - start:.0f} s)")


TEST_MACRO = re.compile(r"\b(?:TEST|TEST_F|TEST_P|TYPED_TEST|TYPED_TEST_P)\s*\(\s*(\w+)\s*,\s*(\w+)\s*\)")


def test_files(source):
    where = collections.defaultdict(list)
    for path in glob.glob(os.path.join(source, "tests", "**", "*.cpp"), recursive=True):
        rel = os.path.relpath(path, source)
        with open(path, errors="replace") as f:
            for m in TEST_MACRO.finditer(f.read()):
                where[(m.group(1), m.group(2))].append(rel)
    return where


def file_of(t, where):
    parts = t["name"].split(".")
    for a, b in zip(parts, parts[1:]):
        suite, case = a.split("/")[-1], b.split("/")[0]
        files = where.get((suite, case), [])
        mine = [f for f in files if f.startswith(f"tests/{t['folder']}/")]
        if mine or files:
            return (mine or files)[0]
    return "program " + os.path.basename(t["command"][0])


def ranges(keys):
    """file:line keys as 'file: 3-7, 12' rows."""
    per = collections.defaultdict(list)
    for k in keys:
        f, ln = k.rsplit(":", 1)
        per[f].append(int(ln))
    rows = []
    for f in sorted(per):
        nums, spans = sorted(per[f]), []
        for n in nums:
            if spans and n == spans[-1][1] + 1:
                spans[-1][1] = n
            else:
                spans.append([n, n])
        rows.append(f"{f}: " + ", ".join(str(a) if a == b else f"{a}-{b}" for a, b in spans))
    return rows


def pct(a, b):
    return f"{100.0 * a / b:5.1f}" if b else "    -"


def stage_report(args, tests, results):
    out = args.out
    os.makedirs(out, exist_ok=True)
    where = test_files(args.source)
    cov = {}
    for t in tests:
        d = json.load(open(os.path.join(args.work, "cov", f"{t['index']}.json")))
        cov[t["name"]] = (set(d["lines"]), set(d["branches"]))
    base = json.load(open(os.path.join(args.work, "cov", "all.json")))
    line_users, branch_users = collections.Counter(), collections.Counter()
    for lines, branches in cov.values():
        line_users.update(lines)
        branch_users.update(branches)

    rows = []
    for t in tests:
        lines, branches = cov[t["name"]]
        r = results.get(t["name"], {"status": "not run", "seconds": 0})
        rows.append({
            "folder": t["folder"], "file": file_of(t, where), "name": t["name"],
            "status": r["status"], "seconds": r["seconds"],
            "lines": len(lines), "branches": len(branches),
            "unique_lines": sorted(k for k in lines if line_users[k] == 1),
            "unique_branches": sorted(k for k in branches if branch_users[k] == 1),
        })
    rows.sort(key=lambda r: (r["folder"], len(r["unique_lines"]), len(r["unique_branches"]),
                             r["file"], r["name"]))
    covered_by(rows, cov)

    with open(os.path.join(out, "tests.tsv"), "w") as f:
        f.write("folder\tfile\ttest\tstatus\tseconds\tlines\tbranches\tunique_lines\tunique_branches"
                "\tcovered_by\n")
        for r in rows:
            f.write(f"{r['folder']}\t{r['file']}\t{r['name']}\t{r['status']}\t{r['seconds']}\t"
                    f"{r['lines']}\t{r['branches']}\t{len(r['unique_lines'])}\t"
                    f"{len(r['unique_branches'])}\t{r['covered_by']}\n")

    with open(os.path.join(out, "tests.txt"), "w") as f:
        f.write("Per test: lines and branches of src/, include/, tools/ it covers, and how many of\n"
                "them no other test covers (unique). Per test folder, nothing unique first.\n")
        for folder, group in _groups(rows, "folder"):
            none = sum(1 for r in group if not r["unique_lines"] and not r["unique_branches"])
            f.write(f"\n== {folder}: {len(group)} tests, {none} with nothing unique\n")
            f.write(f"{'uniq.l':>6} {'uniq.b':>6} {'lines':>6} {'branch':>6} {'secs':>6}  test  (file)\n")
            for r in group:
                flag = "" if r["status"] == "passed" else f"  [{r['status']}]"
                f.write(f"{len(r['unique_lines']):6} {len(r['unique_branches']):6} {r['lines']:6} "
                        f"{r['branches']:6} {r['seconds']:6.1f}  {r['name']}  ({r['file']}){flag}\n")
                if r["covered_by"]:
                    f.write(f"{'':34}covered by {r['covered_by']}\n")

    with open(os.path.join(out, "unique.txt"), "w") as f:
        f.write("What each test alone covers: source lines (file: line ranges) and branches\n"
                "(file:line:block:branch). Tests with nothing unique are not listed.\n")
        for r in rows:
            if not r["unique_lines"] and not r["unique_branches"]:
                continue
            f.write(f"\n== {r['folder']} {r['name']} ({r['file']})\n")
            for row in ranges(r["unique_lines"]):
                f.write(f"  line {row}\n")
            for b in r["unique_branches"]:
                f.write(f"  branch {b}\n")

    # Per test file and per test folder: unique to the test, summed, and unique to the
    # whole file (folder): what deleting all of it would lose.
    def group_report(key, path, title):
        covered = collections.defaultdict(lambda: (set(), set()))
        by_name = {r["name"]: r for r in rows}
        for t in tests:
            g = by_name[t["name"]][key]
            covered[g][0].update(cov[t["name"]][0])
            covered[g][1].update(cov[t["name"]][1])
        lu, bu = collections.Counter(), collections.Counter()
        for lines, branches in covered.values():
            lu.update(lines)
            bu.update(branches)
        with open(os.path.join(out, path), "w") as f:
            f.write(title + "\n")
            f.write(f"{'tests':>5} {'none':>4} {'sum.ul':>6} {'sum.ub':>6} {'own.l':>6} {'own.b':>6}  {key}\n")
            stats = []
            for g, group in _groups(sorted(rows, key=lambda r: r[key]), key):
                lines, branches = covered[g]
                stats.append((sum(1 for k in lines if lu[k] == 1), sum(1 for k in branches if bu[k] == 1),
                              g, group))
            for own_l, own_b, g, group in sorted(stats, key=lambda s: (s[0], s[1], s[2])):
                none = sum(1 for r in group if not r["unique_lines"] and not r["unique_branches"])
                f.write(f"{len(group):5} {none:4} {sum(len(r['unique_lines']) for r in group):6} "
                        f"{sum(len(r['unique_branches']) for r in group):6} {own_l:6} {own_b:6}  {g}\n")

    group_report("file", "files.txt",
                 "Per test file: tests, tests with nothing unique, the sum of its tests' unique\n"
                 "lines and branches, and the lines and branches no other test file covers (own).")
    group_report("folder", "folders.txt",
                 "Per test folder: as files.txt, own = covered by no test of another folder.")

    # Baseline: line and branch coverage of the whole suite per source folder.
    union_l = set().union(*(c[0] for c in cov.values())) if cov else set()
    union_b = set().union(*(c[1] for c in cov.values())) if cov else set()
    per = collections.defaultdict(lambda: [0, 0, 0, 0])
    for k in base["all_lines"]:
        d = per[os.path.dirname(k.rsplit(":", 1)[0])]
        d[1] += 1
        d[0] += k in union_l
    for k in base["all_branches"]:
        d = per[os.path.dirname(k.rsplit(":", 3)[0])]
        d[3] += 1
        d[2] += k in union_b
    with open(os.path.join(out, "baseline.txt"), "w") as f:
        f.write("Whole suite, per source folder (clang source-based, -O0; counts differ from gcov's).\n")
        f.write(f"{'folder':34} {'lines':>6} {'line%':>6} {'branches':>8} {'branch%':>7}\n")
        tot = [0, 0, 0, 0]
        for name in sorted(per):
            c = per[name]
            tot = [a + b for a, b in zip(tot, c)]
            f.write(f"{name:34} {c[1]:6} {pct(c[0], c[1]):>6} {c[3]:8} {pct(c[2], c[3]):>7}\n")
        f.write(f"{'total':34} {tot[1]:6} {pct(tot[0], tot[1]):>6} {tot[3]:8} {pct(tot[2], tot[3]):>7}\n")

    summary = [f"{'folder':10} {'tests':>5} {'nothing unique':>14} {'no unique line':>14}"]
    for folder, group in _groups(rows, "folder"):
        none = sum(1 for r in group if not r["unique_lines"] and not r["unique_branches"])
        nol = sum(1 for r in group if not r["unique_lines"])
        summary.append(f"{folder:10} {len(group):5} {none:14} {nol:14}")
    none = sum(1 for r in rows if not r["unique_lines"] and not r["unique_branches"])
    summary.append(f"{'total':10} {len(rows):5} {none:14} {sum(1 for r in rows if not r['unique_lines']):14}")
    bad = [r for r in rows if r["status"] != "passed"]
    if bad:
        summary.append(f"not passed ({len(bad)}): " + ", ".join(f"{r['name']} [{r['status']}]" for r in bad))
    with open(os.path.join(out, "summary.txt"), "w") as f:
        f.write("\n".join(summary) + "\n")
    # Last: others wait for this file to know the report is whole.
    with open(os.path.join(out, "README.txt.tmp"), "w") as f:
        f.write(README.format(source=args.source, build=args.build, tests=len(rows),
                              summary="\n".join(summary)))
        if args.notes:
            f.write("\n" + open(args.notes).read())
    os.rename(os.path.join(out, "README.txt.tmp"), os.path.join(out, "README.txt"))
    log("\n".join(summary))


README = """Per-test coverage: which tests add coverage no other test adds
==============================================================

Made by scripts/test-redundancy.sh from {source}
(build {build}: clang source-based coverage, -O0). {tests} ctest tests, each run alone
with its own LLVM_PROFILE_FILE; the profiles of the processes it starts (smis-sim,
rksnap, cimq) and of the plug-in it loads are counted with it, also of a child killed
on purpose (continuous counters). Only src/, include/ and tools/ are counted.

"unique" = a line (or branch outcome) of those folders that this test covers and no
other test covers. A branch is file:line:block:branch as llvm-cov's lcov export numbers
them; a branch is covered when that outcome was taken.

Files
  summary.txt   per test folder (= ctest LABEL): tests, tests with nothing unique
                (no unique line and no unique branch), tests with no unique line.
  tests.txt     every test, grouped by test folder, nothing unique first: unique lines,
                unique branches, lines and branches covered, seconds it ran (at -O0
                under instrumentation, 2 at a time), its test file; not passed ones marked.
                Under a test with nothing unique: "covered by" one other test that covers
                all its lines and branches (its own folder's smallest if there is one,
                else another folder's, named); none named: it takes several together.
  tests.tsv     the same, tab separated, one row a test.
  unique.txt    for each test with something unique: which lines (file: ranges) and
                branches only it covers. Read before deleting or merging a test.
  files.txt     per test file: tests, tests with nothing unique, sum of its tests'
                unique lines/branches, and own.l/own.b = lines/branches no test of
                another file covers (what deleting the whole file would lose).
                Sorted by own lines, smallest first.
  folders.txt   the same per test folder (own = no test of another folder covers it):
                what the other layers' tests already cover.
  baseline.txt  the whole suite's line and branch coverage per source folder. Clang
                counts lines and branches differently from gcov (scripts/coverage.sh);
                compare like with like.

How to read it
  Nothing unique means: deleting this one test loses no line or branch. It does not
  mean the test checks nothing: it may assert values or outcomes no other test checks
  (an error text, a round-trip count), and a concurrency test's worth is in the
  interleavings it provokes, which line coverage cannot show. Skipped tests count
  nothing here (see summary.txt). Two tests that cover the same lines each show
  nothing unique: delete one, and the other becomes unique. So prune one test at a
  time per covered area, and rerun (scripts/test-redundancy.sh) before the next round.

Summary
{summary}
"""


def covered_by(rows, cov):
    """For a test with nothing unique: one other test that covers all it covers, from its
    own folder if one does, the smallest such; "" if it takes several together."""
    sets = {r["name"]: cov[r["name"]][0] | cov[r["name"]][1] for r in rows}
    order = sorted(rows, key=lambda r: len(sets[r["name"]]))
    for r in rows:
        r["covered_by"] = ""
        if r["unique_lines"] or r["unique_branches"] or r["status"] != "passed":
            continue
        mine = sets[r["name"]]
        best = None
        for o in order:
            if o is r or len(sets[o["name"]]) < len(mine) or not mine <= sets[o["name"]]:
                continue
            if o["folder"] == r["folder"]:
                best = o
                break
            best = best or o
        if best:
            r["covered_by"] = best["name"] + ("" if best["folder"] == r["folder"]
                                              else f" ({best['folder']})")


def _groups(rows, key):
    out = collections.OrderedDict()
    for r in rows:
        out.setdefault(r[key], []).append(r)
    return out.items()


def forget_if_rebuilt(args):
    """Results of other binaries would mix in: a rebuilt program starts the work afresh."""
    progs = sorted(args.programs | set(objects(args.build, args.programs)))
    stamp = "\n".join(f"{p} {os.stat(p).st_mtime_ns}" for p in progs) + "\n"
    path = os.path.join(args.work, "binaries.stamp")
    old = open(path).read() if os.path.exists(path) else None
    if old != stamp:
        if old is not None:
            log("binaries rebuilt since the last run: measuring every test again")
        for name in ("runs", "cov", "results.json"):
            target = os.path.join(args.work, name)
            if os.path.isdir(target):
                shutil.rmtree(target)
            elif os.path.exists(target):
                os.remove(target)
        with open(path, "w") as f:
            f.write(stamp)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--build", required=True)
    ap.add_argument("--source", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--stages", default="run,export,report")
    ap.add_argument("--timeout-scale", type=float, default=3.0,
                    help="times each test's ctest TIMEOUT: -O0 and counters make tests slower")
    ap.add_argument("--notes", help="a text file appended to README.txt (notes on this run)")
    ap.add_argument("--only", help="regex: only the tests whose name matches (a trial run)")
    args = ap.parse_args()
    args.build, args.source = os.path.abspath(args.build), os.path.abspath(args.source)
    args.work = os.path.join(args.build, "redundancy")
    os.makedirs(args.work, exist_ok=True)
    tests = ctest_tests(args.build, args.timeout_scale)
    args.programs = {os.path.realpath(t["command"][0]) for t in tests}
    forget_if_rebuilt(args)
    if args.only:
        tests = [t for t in tests if re.search(args.only, t["name"])]
    stages = args.stages.split(",")
    results_path = os.path.join(args.work, "results.json")
    results = {}
    for stage in stages:
        start = time.monotonic()
        if stage == "run":
            results = stage_run(args, tests)
        elif stage == "export":
            stage_export(args, tests)
        elif stage == "report":
            if not results and os.path.exists(results_path):
                results = json.load(open(results_path))
            stage_report(args, tests, results)
        else:
            sys.exit(f"unknown stage {stage}")
        log(f"stage {stage}: {time.monotonic() - start:.0f} s")


if __name__ == "__main__":
    main()
