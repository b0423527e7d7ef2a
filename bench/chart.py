"""Draws the benchmark chart from the JSON that bench.py writes.

    chart.py bench.json bench.png

Instructions per call (bars, lower axis) and median CPU time per call (thin
bars, upper axis) of every call and of the baselines, and the per-element
cost of the sequence calls against the sequence length.

Runs matplotlib from the provisioned prefix. Debian's build of it looks for its
data and its rc file at /usr/share/matplotlib and /etc, which are outside the
prefix: the package is put on the path through a directory of links that adds
the data beside it, and the prefix's BLAS is loaded by path (Debian selects
it through alternatives, which a prefix does not have).
"""

import ctypes
import json
import os
import pathlib
import statistics
import sys
import tempfile


def import_matplotlib():
    prefix = pathlib.Path(sys.base_prefix)
    arch = prefix / "lib" / "x86_64-linux-gnu"
    for lib in ("blas/libblas.so.3", "lapack/liblapack.so.3"):
        if (arch / lib).exists():
            ctypes.CDLL(str(arch / lib), mode=ctypes.RTLD_GLOBAL)
    package = prefix / "lib" / "python3" / "dist-packages" / "matplotlib"
    data = prefix / "share" / "matplotlib" / "mpl-data"
    if package.is_dir() and data.is_dir() and not (package / "mpl-data").exists():
        links = pathlib.Path(tempfile.mkdtemp(prefix="kora-mpl-"))
        (links / "matplotlib").mkdir()
        for entry in package.iterdir():
            (links / "matplotlib" / entry.name).symlink_to(entry)
        (links / "matplotlib" / "mpl-data").symlink_to(data)
        sys.path.insert(0, str(links))
        os.environ.setdefault("MATPLOTLIBRC", str(data / "matplotlibrc"))
    os.environ.setdefault("MPLCONFIGDIR", tempfile.mkdtemp(prefix="kora-mplcfg-"))
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    return plt


def paired(ax, d, keys, title):
    """Instructions (thick bars) and median CPU ns (thin bars, upper axis)."""
    keys = [k for k in keys if k in d["instructions"]]
    y = range(len(keys))
    instr = [max(d["instructions"][k], 1) for k in keys]
    cpu = [max(statistics.median(d["cpu_ns"][k]), 0.1) for k in keys]
    ax.barh([i + 0.17 for i in y], instr, height=0.34, color="#3b6ea8", label="instructions per call")
    top = ax.twiny()
    top.barh([i - 0.17 for i in y], cpu, height=0.34, color="#e08a2c", label="CPU ns per call (median)")
    for a in (ax, top):
        a.set_xlim(left=0)
    ax.set_yticks(list(y), [d["labels"][k] for k in keys], fontsize=7)
    ax.invert_yaxis()
    ax.set_xlabel("instructions per call", color="#3b6ea8", fontsize=8)
    top.set_xlabel("CPU ns per call (median of rounds)", color="#e08a2c", fontsize=8)
    ax.tick_params(axis="x", labelsize=7)
    top.tick_params(axis="x", labelsize=7)
    ax.set_title(title, fontsize=9, loc="left", pad=28)
    ax.grid(axis="x", alpha=0.3)


def scaling(ax, d):
    series = {}
    for key in d["instructions"]:
        if key.startswith("scale:"):
            _, fname, kind, n = key.split(":")
            series.setdefault(f"{fname}, {kind}", {})[int(n)] = d["instructions"][key]
    for name, points in series.items():
        base = points.get(0, 0.0)
        xs = sorted(n for n in points if n)
        ax.plot(xs, [(points[n] - base) / n for n in xs], marker="o", markersize=3, label=name)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("elements", fontsize=8)
    ax.set_ylabel("instructions per element", fontsize=8)
    ax.tick_params(labelsize=7)
    ax.legend(fontsize=7, ncol=4, loc="upper center", bbox_to_anchor=(0.5, -0.16))
    ax.grid(alpha=0.3)
    ax.set_title("Scaling: (I(n) − I(0)) / n, sequence setters and clear_selected", fontsize=9, loc="left")


def main(src, dst):
    d = json.loads(pathlib.Path(src).read_text())
    plt = import_matplotlib()
    groups = d["groups"]
    calls = [k for k, g in groups.items() if g in ("kora_raylib", "Cache") and ":" not in k and "[" not in k]
    fig = plt.figure(figsize=(15, 14))
    grid = fig.add_gridspec(3, 2, width_ratios=(1.1, 1), height_ratios=(1, 1, 1.1), hspace=0.55, wspace=0.45)
    paired(fig.add_subplot(grid[:, 0]), d, ["noop0", "noop1", "noop2", "noop3", "noop4"] + calls,
           "Every call, positional, with the call table's arguments (no-op builtins on top)")
    draw = [f"{k}[plain texture]" for k in ["draw_texture_rec", "draw_texture_rec:kw"] + [
        f"{b}:draw_texture_rec" for b in ("min", "nanobind", "pybind11", "cffi", "ctypes")]]
    paired(fig.add_subplot(grid[0, 1]), d, draw, "draw_texture_rec against the bindings users write (plain texture)")
    get = ["Cache.get", "inline:get", "py:get", "min:get", "nanobind:get", "pybind11:get", "noop0", "begin_drawing",
           "end_drawing"]
    paired(fig.add_subplot(grid[1, 1]), d, get, "Cache.get against slot caches; no-argument calls")
    scaling(fig.add_subplot(grid[2, 1]), d)
    fig.suptitle("kora_ui call costs: callgrind instructions and per-thread CPU time per call, no-op raylib",
                 fontsize=10, y=0.995)
    fig.savefig(dst, dpi=90, bbox_inches="tight")


if __name__ == "__main__":
    main(*sys.argv[1:3])
