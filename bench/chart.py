"""Draws the benchmark chart from the JSON that bench.py writes.

    chart.py bench.json bench.png

Instructions per call (bars, lower axis) and median CPU time per call (thin
bars, upper axis) of every call and of the baselines, the targets (each
measured ratio against its limit), and the per-element cost of the sequence
calls against the sequence length.

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
    bars = ax.barh([i + 0.17 for i in y], instr, height=0.34, color="#3b6ea8", label="instructions per call")
    top = ax.twiny()
    thin = top.barh([i - 0.17 for i in y], cpu, height=0.34, color="#e08a2c", label="CPU ns per call (median)")
    ax.legend(handles=[bars, thin], fontsize=7, loc="best", framealpha=0.9)
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


def targets(ax, d):
    """Each ratio target: the instruction ratio (bar, green when met), the
    CPU-time ratio (median and interquartile range) and the limit."""
    rows = [t for t in d.get("targets", []) if t["den"]]
    y = range(len(rows))
    for i, t in enumerate(rows):
        ok = t["value"] <= t["target"] if t["op"] == "<=" else t["value"] >= t["target"]
        ax.barh(i, t["value"], height=0.5, color="#4c9a5b" if ok else "#c8453c")
        med, q1, q3, _ = t["cpu"]
        ax.errorbar(med, i, xerr=[[med - q1], [q3 - med]], fmt="D", color="black", markersize=4, capsize=3)
        ax.plot([t["target"]] * 2, [i - 0.4, i + 0.4], color="#7a1fa2", linewidth=2.5)
        ax.annotate(f"{t['op'].replace('<=', '≤').replace('>=', '≥')} {t['target']}", (t["target"], i - 0.42),
                    fontsize=6, color="#7a1fa2", ha="center", va="bottom")
    ax.set_yticks(list(y), [t["label"] for t in rows], fontsize=6)
    ax.invert_yaxis()
    ax.set_xlim(left=0)
    ax.set_xlabel("ratio", fontsize=8)
    ax.tick_params(axis="x", labelsize=7)
    ax.grid(axis="x", alpha=0.3)
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch

    ax.legend(handles=[Patch(color="#4c9a5b", label="instructions: met"),
                       Patch(color="#c8453c", label="instructions: not met"),
                       Line2D([], [], marker="D", color="black", markersize=4, label="CPU time: median, IQR"),
                       Line2D([], [], color="#7a1fa2", linewidth=2.5, label="target")],
              fontsize=7, loc="lower right", framealpha=0.9)
    ax.set_title("Targets: the measured ratio against its limit", fontsize=9, loc="left")


# Container kinds share a marker and line style; each call its colour. Lines
# whose figures coincide (a list and a tuple of the same call) stay visible:
# the larger hollow markers ring the smaller filled ones.
KIND_STYLE = {
    "list": dict(marker="o", linestyle="-", markersize=4),
    "tuple": dict(marker="s", linestyle="--", markersize=8, markerfacecolor="none", markeredgewidth=1.2),
    "generator": dict(marker="^", linestyle=":", markersize=6),
}
OTHER_STYLES = [dict(marker="D", linestyle="-.", markersize=5), dict(marker="x", linestyle="-", markersize=6)]


def scaling(ax, d):
    series = {}
    for key in d["instructions"]:
        if key.startswith("scale:"):
            _, fname, kind, n = key.split(":")
            series.setdefault((fname, kind), {})[int(n)] = d["instructions"][key]
    colors = {}
    others = {}
    for (fname, kind), points in series.items():
        color = colors.setdefault(fname, f"C{len(colors)}")
        style = KIND_STYLE.get(kind) or others.setdefault(kind, OTHER_STYLES[len(others) % len(OTHER_STYLES)])
        base = points.get(0, 0.0)
        xs = sorted(n for n in points if n)
        ax.plot(xs, [(points[n] - base) / n for n in xs], color=color, label=f"{fname}, {kind}", **style)
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
    fig = plt.figure(figsize=(15, 18))
    grid = fig.add_gridspec(4, 2, width_ratios=(1.1, 1), height_ratios=(1, 1, 1, 1.1), hspace=0.6, wspace=0.45, top=0.955)
    paired(fig.add_subplot(grid[:, 0]), d, ["noop0", "noop1", "noop2", "noop3", "noop4"] + calls,
           "Every call, positional, with the call table's arguments (no-op builtins on top)")
    draw = [f"{k}[plain texture]" for k in ["draw_texture_rec", "draw_texture_rec:kw"] + [
        f"{b}:draw_texture_rec" for b in ("min", "nanobind", "pybind11", "cffi", "ctypes")]]
    paired(fig.add_subplot(grid[0, 1]), d, draw, "draw_texture_rec against the bindings users write (plain texture)")
    get = ["Cache.get", "inline:get", "py:get", "min:get", "nanobind:get", "pybind11:get", "noop0", "begin_drawing",
           "end_drawing"]
    paired(fig.add_subplot(grid[1, 1]), d, get, "Cache.get against slot caches; no-argument calls")
    targets(fig.add_subplot(grid[2, 1]), d)
    scaling(fig.add_subplot(grid[3, 1]), d)
    fig.suptitle("kora_ui call costs: callgrind instructions and per-thread CPU time per call, no-op raylib",
                 fontsize=10, y=0.995)
    fig.savefig(dst, dpi=90, bbox_inches="tight")


if __name__ == "__main__":
    main(*sys.argv[1:3])
