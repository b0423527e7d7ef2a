"""Mutation check: does the suite catch one-line faults in the modules?

Each mutant of tools/mutants.txt replaces one piece of one source line. The
runner applies the mutants one at a time, rebuilds incrementally and runs the
release suite up to its first failure; a survivor is run again under the
debug interpreter, then under the sanitizers. A failing test, a crash or a
timeout kills a mutant; a mutant that does not build is reported apart. The
source is restored after each mutant (and on any error or Ctrl-C), and the
build trees are rebuilt from it at the end.

    make mutation                       # every mutant, all three modes
    make mutation ONLY='^args\\.'        # the mutants whose id matches a regex
    make mutation MUTATION_ARGS=--list  # list the mutants
    .toolchain/usr/bin/python3.15 tools/mutation.py [--only REGEX] [--modes release,debug]
        [--timeout SECONDS] [--no-baseline] [--list] [--select PYTEST_K] [ID ...]

The suites leave out the packaging tests (-m 'not slow': they build wheels
with pip), the benchmark smoke test (a minute of timing runs that checks the
harness) and the format check, which any edit fails. Each mode's suite is
first run on the unmodified source: a failure there stops the check. A failing
test is run again alone; if it then passes, it is taken for flaky and the suite
is run once more. The check fails (exit 1) while a mutant survives or does not
build. The results are also written to build/mutation.txt.

Format of tools/mutants.txt: `file <path>` names the file of the mutants that
follow; a mutant is `[<id>] <what the fault is>`, then `- <original>` (text
found exactly once in that file, within one line), `+ <replacement>` (may be
empty) and optionally `equivalent: <why no test can tell>`. A mutant whose
original is missing or not unique stops the check, so a refactor that moves
code is noticed. `#` starts a comment line.
"""

import argparse
import contextlib
import os
import re
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
TREES = {"release": "build/release/cmake", "debug": "build/debug/cmake", "asan": "build/asan/cmake"}
PYTEST = ["-x", "-rfE", "-p", "no:randomly", "-m", "not slow",
          "--deselect", "tests/test_format.py::test_cpp_sources_are_formatted",
          "--deselect", "tests/test_bench_smoke.py::test_bench_runs_on_a_few_calls"]


@dataclass
class Mutant:
    id: str
    what: str
    path: Path
    original: str
    replacement: str = None
    equivalent: str = None
    result: str = "not run"


def parse(list_file):
    mutants, current, path = [], None, None
    for n, raw in enumerate(list_file.read_text().splitlines(), 1):
        line = raw.rstrip()
        where = f"{list_file.name}:{n}"
        if not line or line.startswith("#"):
            continue
        if line.startswith("file "):
            path = ROOT / line[5:].strip()
        elif m := re.fullmatch(r"\[([\w.-]+)\]\s*(.*)", line):
            if path is None:
                sys.exit(f"{where}: a mutant before any `file` line")
            current = Mutant(m[1], m[2], path, None)
            mutants.append(current)
        elif current and line.startswith("- ") and current.original is None:
            current.original = line[2:]
        elif current and (line == "+" or line.startswith("+ ")) and current.replacement is None:
            current.replacement = line[2:]
        elif current and line.startswith("equivalent:"):
            current.equivalent = line.partition(":")[2].strip()
        else:
            sys.exit(f"{where}: cannot read {line!r}")
    problems = []
    seen = set()
    for m in mutants:
        if m.id in seen:
            problems.append(f"[{m.id}] listed twice")
        seen.add(m.id)
        if m.original is None or m.replacement is None:
            problems.append(f"[{m.id}] needs a `-` and a `+` line")
        elif not m.path.is_file():
            problems.append(f"[{m.id}] {m.path.relative_to(ROOT)} does not exist")
        elif (count := m.path.read_text().count(m.original)) != 1:
            problems.append(f"[{m.id}] original found {count} times in {m.path.relative_to(ROOT)}: {m.original!r}")
        elif m.original == m.replacement:
            problems.append(f"[{m.id}] replacement equals the original")
    if problems:
        sys.exit("stale or malformed mutants:\n  " + "\n  ".join(problems))
    return mutants


def run(cmd, timeout=None):
    """(returncode, output) of cmd in its own process group; returncode None on timeout."""
    proc = subprocess.Popen(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            errors="replace", start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out
    except subprocess.TimeoutExpired:
        kill(proc)
        return None, proc.communicate()[0]
    except BaseException:
        kill(proc)
        proc.wait()
        raise


def kill(proc):
    with contextlib.suppress(ProcessLookupError):
        os.killpg(proc.pid, signal.SIGKILL)


def build(mode, jobs):
    rc, out = run(["cmake", "--build", TREES[mode], "-j", str(jobs), "--", "--no-print-directory"])
    return rc == 0, out


def suite(mode, timeout, retry=True):
    """None when the suite passes, else why it failed. A failing test is run
    again alone: a failure that does not come back is taken for a flaky test
    and the suite is run once more."""
    rc, out = run(["./tools/run_tests.sh", mode, *PYTEST], timeout)
    if rc == 0:
        return None
    if rc is None:
        return f"timeout after {timeout:.0f}s"
    if rc in (4, 5):  # pytest's usage error, no tests collected: a fault of the check itself
        sys.exit(f"pytest could not run (exit {rc}):\n{out[-3000:]}")
    failed = re.search(r"^(?:FAILED|ERROR) (tests/(test_\w+)\.py::(\w+)\S*)", out, re.M)
    if not failed:
        # A crash: the interpreter's fault handler names the test it was in.
        where = re.search(r'File "[^"]*/(tests/test_\w+\.py)", line \d+ in (\w+)', out)
        return f"no test named, exit {rc}" + (f" (crash in {where[1]}::{where[2]})" if where else "")
    again, _ = run(["./tools/run_tests.sh", mode, *PYTEST, "-k", f"{failed[2]} and {failed[3]}"], timeout)
    if again != 0 or not retry:
        return failed[1]
    print(f"  flaky: {failed[1]} passed when run again", flush=True)
    return suite(mode, timeout, retry=False)


class Source:
    """The original text of every mutated file, written back by restore()."""

    def __init__(self, mutants):
        self.saved = {m.path: m.path.read_bytes() for m in mutants}

    def apply(self, m):
        text = self.saved[m.path].decode()
        m.path.write_text(text.replace(m.original, m.replacement, 1))

    def restore(self):
        for path, data in self.saved.items():
            if path.read_bytes() != data:
                path.write_bytes(data)
            if path.read_bytes() != data:
                raise SystemExit(f"could not restore {path}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.partition("\n")[0])
    ap.add_argument("ids", nargs="*", help="run only these mutants")
    ap.add_argument("--only", help="run only the mutants whose id matches this regex")
    ap.add_argument("--list", action="store_true", help="list the mutants and stop")
    ap.add_argument("--modes", default="release,debug,asan", help="modes in order, comma-separated")
    ap.add_argument("--timeout", type=float, default=900, help="seconds per suite run")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--no-baseline", action="store_true", help="skip the runs on the unmodified source")
    ap.add_argument("--file", type=Path, default=ROOT / "tools" / "mutants.txt")
    ap.add_argument("--select", help="a pytest -k expression: what this part of the suite alone kills")
    args = ap.parse_args()
    if args.select:
        PYTEST.extend(["-k", args.select])
    mutants = parse(args.file)
    chosen = [m for m in mutants if (not args.ids or m.id in args.ids) and (not args.only or re.search(args.only, m.id))]
    if args.ids and (unknown := set(args.ids) - {m.id for m in mutants}):
        sys.exit(f"unknown mutants: {' '.join(sorted(unknown))}")
    if args.list:
        for m in chosen:
            mark = "  (equivalent)" if m.equivalent else ""
            print(f"{m.id:36} {m.path.relative_to(ROOT)}: {m.what}{mark}")
        return
    modes = args.modes.split(",")
    if unknown := set(modes) - set(TREES):
        sys.exit(f"unknown modes: {' '.join(sorted(unknown))}")
    signal.signal(signal.SIGTERM, signal.default_int_handler)  # restores the source like Ctrl-C
    source = Source(mutants)
    for m in chosen:
        if m.equivalent:
            m.result = f"equivalent: {m.equivalent}"
    score = {mode: [0, 0] for mode in modes}  # killed, built
    checked = set()  # modes whose suite passed on the unmodified source
    try:
        for m in chosen:
            if m.equivalent:
                continue
            start = time.monotonic()
            for mode in modes:
                if mode not in checked:
                    source.restore()
                    ok, out = build(mode, args.jobs)
                    if not ok:
                        sys.exit(f"the unmodified source does not build ({mode}):\n{out[-3000:]}")
                    if not args.no_baseline and (why := suite(mode, args.timeout)):
                        sys.exit(f"the {mode} suite fails on the unmodified source: {why}")
                    print(f"({mode}: the suite passes on the unmodified source)", flush=True)
                    checked.add(mode)
                source.apply(m)
                ok, out = build(mode, args.jobs)
                if not ok:
                    errors = [line for line in out.splitlines() if "error" in line]
                    m.result = f"did not compile ({mode}): " + (errors[0][:160] if errors else "")
                    break
                why = suite(mode, args.timeout)
                score[mode][1] += 1
                if why:
                    m.result = f"killed ({mode}: {why})"
                    score[mode][0] += 1
                    break
                m.result = f"survived {', '.join(modes[:modes.index(mode) + 1])}"
            source.restore()
            print(f"[{m.id}] {m.result}  [{time.monotonic() - start:.0f}s]", flush=True)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
    finally:
        source.restore()
        print("restored the source; rebuilding the build trees", flush=True)
        for mode in modes:
            if not build(mode, args.jobs)[0]:
                print(f"warning: the {mode} tree did not rebuild", file=sys.stderr)
    lines = [f"{m.id:36} {m.result}" for m in chosen]
    lines += [f"{mode}: killed {killed} of {built}" for mode, (killed, built) in score.items() if built]
    counted = [m for m in chosen if not m.equivalent]
    killed = sum(m.result.startswith("killed") for m in counted)
    if counted:
        lines.append(f"score: {killed} of {len(counted)} killed ({100 * killed / len(counted):.0f}%), "
                     f"{len(chosen) - len(counted)} equivalent")
    report = "\n".join(lines) + "\n"
    (ROOT / "build" / "mutation.txt").write_text(report)
    print("\n=== results (also in build/mutation.txt) ===\n" + report, end="")
    return 0 if killed == len(counted) else 1


if __name__ == "__main__":
    sys.exit(main())
