"""Writes the raylib entry list of kora_raylib.h as JSON, for the Python side
of the tools, tests and benchmarks (tools/raylib_ctypes.py reads it).

    gen_raylib_entries.py kora_raylib.h out.json

The list is the macro KORA_RAYLIB_ENTRIES, one row per line:
X(Name, result type, (parameter types)). The output is a list of
{"name", "result", "params"} in the rows' order, type texts with single
blanks and pointers written "T *". Anything else inside the macro fails with
its line number.
"""

import json
import pathlib
import re
import sys

START = "#define KORA_RAYLIB_ENTRIES(X)"
ROW = re.compile(r"X\((\w+),\s*([^,()]+?),\s*\(([^()]*)\)\)")


def ctype(text):
    return re.sub(r"\s*\*", " *", " ".join(text.split()))


def entries(path):
    lines = pathlib.Path(path).read_text().splitlines()
    starts = [n for n, line in enumerate(lines) if line.startswith(START)]
    if len(starts) != 1:
        raise SystemExit(f"{path}: expected one line starting {START!r}, found {len(starts)}")
    rows, n = [], starts[0]
    while lines[n].rstrip().endswith("\\"):
        n += 1
        text = lines[n].rstrip().removesuffix("\\").strip()
        match = ROW.fullmatch(text)
        if not match:
            raise SystemExit(f"{path}:{n + 1}: not a row X(Name, result type, (parameter types)): {text!r}")
        name, result, params = match.groups()
        params = [ctype(p) for p in params.split(",")] if params.strip() not in ("", "void") else []
        rows.append({"name": name, "result": ctype(result), "params": params})
    if not rows:
        raise SystemExit(f"{path}: the entry list is empty")
    return rows


def main(header, out):
    rows = ",\n".join(" " + json.dumps(row) for row in entries(header))
    pathlib.Path(out).write_text(f"[\n{rows}\n]\n")


if __name__ == "__main__":
    main(*sys.argv[1:])
