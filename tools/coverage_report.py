"""Line and branch coverage report of the native modules after a
`run_tests.sh coverage` run: an HTML report (index.html) and a text report
(coverage.txt) in <tree>/report, the latter with every line left uncovered and
every line with a branch not taken, under the reason it cannot be reached from
Python (branches of exceptions and unreachable branches left out). Exits 1
below the required coverage or when an uncovered line has no known reason.

Counted: the two modules' objects and the frame's code in the native test
helpers. Left out: the peers' stand-ins and the bench's parts (other programs
that compile some of the same headers) and kora_raylib_py314, a second build of
kora_raylib made only for the version warning: gcovr merges branches line by
line across objects, so a build that inlines differently and barely runs would
add branches that no test can take in the modules themselves.

    python3 tools/coverage_report.py build/coverage
"""
import json
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOURCES = r"src/kora_ui/fast/(common|raylib|koracache)/"
REQUIRED = 97.0
REQUIRED_BRANCHES = 90.0

# Why a line cannot run under the suite: (reason, pattern). A pattern is
# searched in the uncovered line and in the branch that guards it (the nearest
# `if`, `case` or function head above); the first match wins. Reviewed by
# hand: a line that matches none is reported as having no known reason.
ALLOCATION = "allocation failure (of a small object, or at import)"
REASONS = [
    ("a count message for functions with both required and optional parameters, which none has",
     r"\"at least\"|expected = r;|given < r"),
    ("the compiled-in constant table is well formed and declares no bytes constants",
     r"LZSS string data decompression failed|PyBytes_FromStringAndSize|lzss_expand\(|pos \+ len > desc|i < desc\.n_str"),
    ("an exec step on a second module object: the create step always hands back the same one",
     r"Re-initialisation is not supported|g_mod\.module == module"),
    ("releasing the None that was in the slot runs no code", r"c_get_or_set_val\">\);"),
    ("every Check value has its case; the return after the switch only satisfies the compiler",
     r"case Check::Instance:"),
    ("Cache.__new__ makes Cache instances only", r"raise_expected\(\"Cache\"|PyObject_TypeCheck\(instance\.get\(\), &CacheTypeObject"),
    ("the interpreter always gives classes that define __getattr__ its attribute hook",
     r"no attribute hook for __getattr__|!hook \|\| hook == PyObject_GenericGetAttr"),
    ("a failed load step always leaves its exception: the ImportError set otherwise is a safety net",
     r"if \(!PyErr_Occurred\(\)\) PyErr_SetString\(PyExc_ImportError"),
    ("the code cache's growth failing: an injection that reaches it has already failed making the code object",
     r"if \(!grown\)"),
    ("adding functions to a type fails only for lack of memory, so the error is always MemoryError",
     r"PyErr_ExceptionMatches\(PyExc_MemoryError\)"),
    ("arrays of more than INT_MAX elements (tens of GiB)", r"values\.size\(\) > static_cast<std::size_t>\(INT_MAX\)"),
    ("the interpreter passes keyword names as str and without duplicates",
     r"idx >= 0 && slots\[idx\] == nullptr|idx < 0 && !PyUnicode_Check\(key\)|^\s*if \(idx < 0\) \{$"),
    ("the collector's visit functions never fail, and the fields visited are never NULL", r"Py_VISIT\("),
    ("the version-mismatch warning: it runs in the second kora_raylib build, made for another Python version "
     "(tests/native), which is left out of the count", r"does not match|rt_major == major|check_python_version\(KORA"),
    ("a call that cannot fail on what it gets (a str key in sys.modules or in a module's or a type's dict, "
     "the sign of an int, the dict of a module, the running interpreter's id)",
     r"PyLong_GetSign|if \(!g_mod\.dict\) return -1|current == -1|if \(present < 0\)|"
     r"PyDict_GetItemRef\(modules|(?<!\w)found < 0\) return (-1|nullptr);$"),
    (ALLOCATION, r"PyDict_New|PyTuple_New|PyObject_Hash\(o\)|PyMem_|table\[i\]|PyErr_NoMemory|!table|"
                 r"tp_alloc|!self\)|!self->cache_arr|!list\)|!cls\)|install_pickling|add_functions?\(|"
                 r"Unable to initialize pickling|add\(def_|if \(!empty\)|PyDict_SetItemString\((kwargs|ns)\.get|new_slot_list"),
]
NO_CONDITION = r"^(?!.*(\bif\b|\bwhile\b|\bfor\b|\?|&&|\|\|)).*$"
# Why a branch of a line that ran was never taken, for the branches that the
# reasons above leave (searched in the line alone).
INLINED = ("the interpreter's inline reference counting in the line (Py_INCREF, Py_DECREF, Py_CLEAR and the "
           "handles' release: NULL, immortal or last-reference tests that the line never meets)")
BRANCH_REASONS = [
    (ALLOCATION, r"PyDict_SetItem(String)?\(|PyCapsule_New|PyUnicode_(Intern)?FromString|PyLong_FromLong|"
                 r"Py_BuildValue|PyFloat_FromDouble|PyList_New|PyModule_New|PyType_Ready|PyObject_SetAttrString|"
                 r"PyUnicode_DecodeUTF8|PyUnicode_InternInPlace|run_native|make_code|PyImport_Import|PyFrame_New|"
                 r"if \(!(values|names|varnames|kwargs|argcount|empty|fromlist|module|ns|make|pickle|error|args|"
                 r"format|message|state|capsule|type_dict|r)( \|\| !names)?\) return|new_slot_list|"
                 r"intern_names\(def\) < 0|if \(!key\) return nullptr"),
    (INLINED, r"Py_(X)?(CLEAR|SETREF|XSETREF|DECREF|XDECREF|NewRef|XNewRef)\(|Ref::(steal|borrow)\("),
    ("no condition in the line: branches of the interpreter's inline functions or of the compiler's code placement",
     NO_CONDITION),
]
def guard_of(text, number):
    """The branch or function head nearest above line `number` (1-based)."""
    for i in range(number - 2, max(number - 12, 0) - 1, -1):
        if re.search(r"\b(if|case)\b|^\S.*\) \{$|^\S.*\) \{ ", text[i]):
            return text[i]
    return ""


def gcovr(tree, report):
    report.mkdir(parents=True, exist_ok=True)
    subprocess.run(["gcovr", "-r", str(ROOT), "--object-directory", str(tree / "cmake"), "--filter", SOURCES,
                    "--exclude-directories", r".*/(peers|bench|kora_raylib_py314\.dir)(/.*)?$", "--exclude-throw-branches", "--exclude-unreachable-branches",
                    "--html-details", str(report / "index.html"), "--json", str(report / "coverage.json")],
                   check=True, cwd=ROOT)
    return json.loads((report / "coverage.json").read_text())


def reason_of(text, numbers, branch=False):
    line = text[numbers[0] - 1]
    context = line if branch else "\n".join([guard_of(text, numbers[0])] + [text[n - 1] for n in numbers])
    reasons = REASONS + BRANCH_REASONS if branch else REASONS
    # The no-condition test reads the line without its string literals, which hold no conditions.
    bare = re.sub(r'"(\\.|[^"\\])*"', '""', context)
    return next((why for why, pattern in reasons if re.search(pattern, bare if pattern == NO_CONDITION else context)),
                "no known reason")


def main(tree):
    tree = ROOT / tree
    report = tree / "report"
    data = gcovr(tree, report)
    rows, uncovered, untaken, total, covered, branches, taken = [], {}, {}, 0, 0, 0, 0
    for entry in sorted(data["files"], key=lambda f: f["file"]):
        lines = [ln for ln in entry["lines"] if not ln.get("gcovr/noncode")]
        run = sum(1 for ln in lines if ln["count"] > 0)
        total, covered = total + len(lines), covered + run
        text = (ROOT / entry["file"]).read_text().splitlines()
        counts = [[b["count"] > 0 for b in ln.get("branches", [])] for ln in lines]
        n_b, n_t = sum(map(len, counts)), sum(map(sum, counts))
        branches, taken = branches + n_b, taken + n_t
        rows.append(f"{entry['file']:<48} {len(lines):>6} {run:>6} {100.0 * run / max(len(lines), 1):>7.2f}%"
                    f" {n_b:>6} {n_t:>6} {100.0 * n_t / max(n_b, 1):>7.2f}%")
        for ln, c in zip(lines, counts):
            if ln["count"] > 0 and not all(c):
                n = ln["line_number"]
                untaken.setdefault(reason_of(text, [n], branch=True), []).append(
                    f"{entry['file']}:{n}: ({c.count(False)} of {len(c)}) {text[n - 1].strip()}")
        missed = [ln["line_number"] for ln in lines if ln["count"] == 0]
        code = {ln["line_number"] for ln in lines}
        blocks = []  # runs of uncovered lines with nothing but non-code lines between them
        for n in missed:
            if blocks and all(m not in code for m in range(blocks[-1][-1] + 1, n)):
                blocks[-1].append(n)
            else:
                blocks.append([n])
        for block in blocks:
            reason = reason_of(text, block)
            uncovered.setdefault(reason, []).extend(f"{entry['file']}:{n}: {text[n - 1].strip()}" for n in block)
    percent, b_percent = 100.0 * covered / max(total, 1), 100.0 * taken / max(branches, 1)
    out = ["Line and branch coverage of the native modules under the test suite", "",
           f"{'file':<48} {'lines':>6} {'run':>6} {'cover':>8} {'branch':>6} {'taken':>6} {'cover':>8}", *rows, "",
           f"{'total':<48} {total:>6} {covered:>6} {percent:>7.2f}% {branches:>6} {taken:>6} {b_percent:>7.2f}%",
           f"(required: lines {REQUIRED:g}%, branches {REQUIRED_BRANCHES:g}%)"]
    for title, groups in (("Lines not run", uncovered), ("Lines run with a branch not taken", untaken)):
        out += ["", f"{title}, by the reason they cannot be reached from Python:"]
        for reason, where in sorted(groups.items()):
            out += ["", f"  {reason} ({len(where)}):", *(f"    {w}" for w in where)]
    (report / "coverage.txt").write_text("\n".join(out) + "\n")
    print("\n".join(out))
    print(f"\nreports: {report / 'index.html'}, {report / 'coverage.txt'}")
    return 0 if percent >= REQUIRED and b_percent >= REQUIRED_BRANCHES and "no known reason" not in uncovered else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "build/coverage"))
