"""Call-cost benchmarks of kora_raylib and koracache.

Two figures for every call: instructions per call, counted by valgrind's
callgrind (deterministic; the figure the targets are judged on), and CPU time
per call of the calling thread, from rounds run in shuffled order (min, median,
interquartile range). raylib is replaced by a library whose functions do
nothing (bench/native/noop_raylib.cpp), so both are the cost of getting from
Python, or from C, to raylib.

The calls and their arguments come from tests/calls.py, the table the tests
share. Arguments are built afresh for every measurement and outside it: a
measurement times only the calls. Baselines measured in the same run: no-op
builtins of each arity, a minimal hand-written binding (bench/native), ctypes,
cffi in API mode, nanobind and pybind11 (bench/bindings), and slot caches
written in Python and in C.

    bench.py                       everything; writes --out, --json, --chart
    bench.py --only draw_texture_rec,Cache.get
                                   those calls with their baselines, quickly
    bench.py --compare A.json B.json
                                   instructions of two runs, side by side
"""

import argparse
import ctypes
import gc
import json
import os
import pathlib
import platform
import random
import re
import shutil
import statistics
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
NATIVE = pathlib.Path(os.environ.get("KORA_BENCH_DIR", ROOT / "build" / "bench"))
sys.path[:0] = [str(NATIVE), str(ROOT / "tests"), str(ROOT / "tools")]

UNROLL = 10  # calls per loop iteration of a repeated call
CG_CALLS = (100, 600)  # calls counted under callgrind; the difference is used
SIZES = (1, 10, 100, 1000, 10000, 100000)
NOARG = ("begin_drawing", "end_drawing", "end_blend_mode", "end_texture_mode", "end_shader_mode")


# ---------------------------------------------------------------------------
# Measured loops


def _loop(stmt, names, prebuilt):
    """A function timing `stmt` over the locals `names`: n calls of the same
    arguments, or one call per prebuilt argument tuple."""
    params = ", ".join(names)
    if prebuilt:
        target = f"({params},)" if names else "_"
        head, body = f"def loop(_pre):\n    _t = _clock()\n    for {target} in _pre:\n", "        " + stmt + "\n"
    else:
        head = f"def loop(_n, {params}):\n    _t = _clock()\n    for _ in range(_n):\n"
        body = "".join("        " + stmt + "\n" for _ in range(UNROLL))
    ns = {"_clock": time.thread_time_ns}
    exec(compile(head + body + "    return _clock() - _t\n", "<bench>", "exec"), ns)
    return ns["loop"]


class Case:
    """One measured call.

    `make()` returns (stmt, env): a statement over the names of env, with env
    built afresh. A case whose arguments are used up by a call (an iterator)
    is `prebuilt`: every call gets its own arguments, made before timing.
    `native(n)` instead runs n calls inside a C loop and returns their CPU
    time. `floor` names the case whose per-call cost is subtracted."""

    def __init__(self, key, label, group, make=None, native=None, prebuilt=False, floor=None, cg=None):
        self.key, self.label, self.group, self.cg = key, label, group, cg or CG_CALLS
        self.make, self.native, self.prebuilt = make, native, prebuilt
        self.floor = floor if floor is not None else ("c_floor" if native else "loop")
        self.loop = None
        self.n = UNROLL

    def prepare(self, n):
        """Builds the arguments of n calls; returns the timed run (-> ns)."""
        if self.native:
            return lambda: self.native(n)
        if not self.prebuilt:
            stmt, env = self.make()
            if self.loop is None:
                self.loop = _loop(stmt, list(env), False)
            values = list(env.values())
            return lambda: self.loop(n // UNROLL, *values)
        envs = [self.make() for _ in range(n)]
        if self.loop is None:
            self.loop = _loop(envs[0][0], list(envs[0][1]), True)
        pre = [tuple(env.values()) for _, env in envs]
        return lambda: self.loop(pre)

    def calls(self, n):
        return n if self.native or self.prebuilt else n // UNROLL * UNROLL

    def calibrate(self, target_ns, cap):
        n = 1 if self.native or self.prebuilt else UNROLL
        while True:
            ns = self.prepare(n)()
            if ns >= target_ns / 10 or n >= cap:
                break
            n = min(cap, n * 10)
        if self.native or self.prebuilt:
            self.n = max(1, min(cap, 2000 if self.prebuilt else cap, int(n * target_ns / max(ns, 1))))
        else:
            self.n = max(UNROLL, min(cap, int(n * target_ns / max(ns, 1)) // UNROLL * UNROLL))


def floor_cases():
    cases = [Case("loop", "empty loop", "floors", make=lambda: ("pass", {}), floor="")]
    for k in range(8):
        names = {f"a{j}": None for j in range(k)}
        cases.append(Case(f"pre{k}", f"empty loop over prebuilt {k}-tuples", "floors",
                          make=lambda names=names: ("pass", dict(names)), prebuilt=True, floor=""))
    return cases


# ---------------------------------------------------------------------------
# The calls of tests/calls.py


def _stmt(name, args, kwargs, fn_env):
    """(statement, locals): the statement a user writes for this call, over
    positional locals a0, a1, .. and keyword locals k_<name>."""
    env = dict(fn_env)
    pos = [f"a{i}" for i in range(len(args))]
    env.update(zip(pos, args))
    kws = [f"{k}=k_{k}" for k in kwargs]
    env.update({f"k_{k}": v for k, v in kwargs.items()})
    if not name.startswith("Cache."):
        return f"f({', '.join(pos + kws)})", env
    attr = name.partition(".")[2]
    if attr == "__init__":
        return "f()", env
    if attr == "__getitem__":
        return "a0[a1]", env
    if attr == "__getattr__":
        return f"a0.{args[1]}", {"a0": args[0]}
    return f"a0.{attr}({', '.join(pos[1:] + kws)})", env


def _consumed(args, kwargs):
    return any(iter(a) is a for a in list(args) + list(kwargs.values()) if hasattr(a, "__iter__"))


def call_case(name, call, builder, label, key, group):
    args, kwargs = builder()

    def make():
        a, k = builder()
        fn = {} if name.startswith("Cache.") and name != "Cache.__init__" else {"f": call.function()}
        return _stmt(name, a, k, fn)

    prebuilt = _consumed(args, kwargs)
    stmt, env = make()
    floor = f"pre{len(env)}" if prebuilt else "loop"
    return Case(key, label, group, make=make, prebuilt=prebuilt, floor=floor)


class Record:
    """A texture as applications usually hold one: an object with plain
    instance attributes. The table's textures answer through properties (so
    that tests can see their values' reference counts), which costs every
    binding the same five Python-level calls and hides the differences."""

    def __init__(self, **fields):
        self.__dict__.update(fields)


def plain(calls, builder):
    """builder with its textures replaced by Records holding the same values."""

    def conv(a):
        return Record(**vars(a)["_held"]) if isinstance(a, calls.Texture) else a

    def build():
        args, kwargs = builder()
        return tuple(map(conv, args)), {k: conv(v) for k, v in kwargs.items()}

    return build


def has_texture(calls, builder):
    args, kwargs = builder()
    return any(isinstance(a, calls.Texture) for a in list(args) + list(kwargs.values()))


def subject_cases(calls):
    """Every call of the table: positional, all keywords, and its variants;
    calls that take a texture also with a plain-attribute texture."""
    cases = []
    for name, call in calls.CALLS.items():
        group = "Cache" if name.startswith(("Cache.", "__pyx")) else "kora_raylib"
        cases.append(call_case(name, call, call.args, name, name, group))
        if has_texture(calls, call.args):
            cases.append(call_case(name, call, plain(calls, call.args), f"{name} [plain texture]",
                                   f"{name}[plain texture]", group))
            if call.keywords() is not None:
                cases.append(call_case(name, call, plain(calls, call.keywords), f"{name}, all keywords "
                                       "[plain texture]", f"{name}:kw[plain texture]", group))
        special = name.partition(".")[2].startswith("__")  # operators and protocol methods: positional only
        if not special and call.keywords() is not None and call.keywords()[1]:
            cases.append(call_case(name, call, call.keywords, f"{name}, all keywords", name + ":kw", group))
        for label, builder in call.variants.items():
            cases.append(call_case(name, call, builder, f"{name} [{label}]", f"{name}[{label}]", group))
    return cases


# ---------------------------------------------------------------------------
# Baselines


class PySlotCache:
    """A 32-slot cache written in Python."""

    __slots__ = ("arr",)

    def __init__(self):
        self.arr = [None] * 32

    def get(self, type):
        return self.arr[type.value]

    def set(self, type, value):
        self.arr[type.value] = value


def ctypes_binding(lib):
    class Texture2D(ctypes.Structure):
        _fields_ = [("id", ctypes.c_uint)] + [(n, ctypes.c_int) for n in ("width", "height", "mipmaps", "format")]

    class Rectangle(ctypes.Structure):
        _fields_ = [(n, ctypes.c_float) for n in ("x", "y", "width", "height")]

    class Vector2(ctypes.Structure):
        _fields_ = [(n, ctypes.c_float) for n in ("x", "y")]

    class Color(ctypes.Structure):
        _fields_ = [(n, ctypes.c_ubyte) for n in "rgba"]

    draw = lib.DrawTextureRec
    draw.argtypes = [Texture2D, Rectangle, Vector2, Color]
    draw.restype = None

    def draw_texture_rec(texture, source_rec, position, color):
        t = texture
        r, g, b, a = color
        draw(Texture2D(t.id, t.width, t.height, t.mipmaps, t.format), Rectangle(*source_rec), Vector2(*position),
             Color(int(r) & 255, int(g) & 255, int(b) & 255, int(a) & 255))

    return draw_texture_rec


def cffi_binding(module):
    draw = module.lib.DrawTextureRec

    def draw_texture_rec(texture, source_rec, position, color):
        t = texture
        r, g, b, a = color
        draw((t.id, t.width, t.height, t.mipmaps, t.format), source_rec, position,
             (int(r) & 255, int(g) & 255, int(b) & 255, int(a) & 255))

    return draw_texture_rec


def optional_module(name, required):
    try:
        return __import__(name)
    except ImportError:
        if required:
            raise
        return None


def baseline_cases(calls, mods, lib):
    cases = []
    for k in range(7):
        f = getattr(mods["base"], f"noop{k}")

        def make(f=f, k=k):
            args = [calls.fresh_int(1000 + j) for j in range(k)]
            return f"f({', '.join(f'a{j}' for j in range(k))})", dict(f=f, **{f"a{j}": a for j, a in enumerate(args)})

        cases.append(Case(f"noop{k}", f"no-op builtin, {k} arguments", "baselines", make=make))

    draw = calls.CALLS["draw_texture_rec"]
    bindings = [("min", "minimal C binding", mods["base"].draw_texture_rec), ("ctypes", "ctypes", ctypes_binding(lib))]
    for name, label in (("nanobind", "nanobind"), ("pybind11", "pybind11")):
        if mods[name]:
            bindings.append((name, label, mods[name].draw_texture_rec))
    if mods["cffi"]:
        bindings.append(("cffi", "cffi (API mode)", cffi_binding(mods["cffi"])))
    for name, label, f in bindings:
        for suffix, builder in (("", draw.args), ("[plain texture]", plain(calls, draw.args))):
            cases.append(Case(f"{name}:draw_texture_rec{suffix}", f"draw_texture_rec: {label} {suffix}".strip(),
                              "baselines", make=lambda f=f, b=builder: _stmt("draw_texture_rec", *b(), {"f": f})))

    # Slot caches holding the same payload in the same slot as Cache.get's.
    def cache_make(factory, stmt):
        def make():
            cache, member = calls.CALLS["Cache.get"].args()[0]
            c = factory()
            if isinstance(c, list):  # an exact list, as the inline expression reads one
                c[member.value] = calls.Payload(member.value)
            else:
                c.set(member, calls.Payload(member.value))
            return stmt, dict(c=c, k=member)

        return make

    caches = [("inline", "inline lst[member.value]", lambda: [None] * 32, "c[k.value]"),
              ("py", "Python slot cache", PySlotCache, "c.get(k)"),
              ("min", "minimal C slot cache (METH_O)", mods["base"].SlotCache, "c.get(k)")]
    caches += [(n, n, mods[n].SlotCache, "c.get(k)") for n in ("nanobind", "pybind11") if mods[n]]
    for name, label, factory, stmt in caches:
        cases.append(Case(f"{name}:get", f"Cache.get: {label}", "baselines", make=cache_make(factory, stmt)))
    return cases


def clevel_cases(calls, mods, kr):
    """kora_raylib's exported routines and Cache's method table, called from C."""
    base = mods["base"]
    draw = calls.CALLS["draw_texture_rec"].args()[0]
    krvec = calls.CALLS["draw_texture_krvec"].args()[0][:3]
    clear = calls.CALLS["clear_background"].args()[0]
    fval = calls.CALLS["set_krshader_value_float"].args()[0]
    vec4 = calls.CALLS["set_krshader_value_vec4_tuple"].args()[0]
    fv = calls.CALLS["set_krshader_value_float_v"].args()[0]
    loc = calls.CALLS["get_krshader_location"].args()[0]
    routines = [("c_draw_texture_rec", draw), ("draw_texture_rec", draw), ("c_draw_texture_krvec", krvec),
                ("c_clear_background", clear), ("begin_drawing", ()), ("set_krshader_value_float", fval),
                ("set_krshader_value_vec4_tuple", vec4), ("set_krshader_value_float_v", fv),
                ("get_krshader_location", loc)]
    cases = [Case("c_floor", "C loop: indirect call returning a new reference", "floors", native=base.call_loop,
                  floor="")]
    for name, args in routines:
        cases.append(Case(f"capi:{name}", f"__pyx_capi__ {name}", "C-level",
                          native=lambda n, name=name, args=args: base.capi_loop(kr, name, n, *args)))
    cache = calls.filled_cache(3)
    payload = calls.Payload(3)
    for name, extra in (("c_get", ()), ("c_set", (payload,)), ("c_get_or_set_val", (payload,))):
        cases.append(Case(f"vt:{name}", f"Cache method table {name}", "C-level",
                          native=lambda n, name=name, extra=extra: base.vtable_loop(cache, name, n, 3, *extra)))
    return cases


# ---------------------------------------------------------------------------
# Scaling: the sequence setters and clear_selected with long lists


def scaling_cases(calls, sizes):
    ks, loc = calls.krshader(), calls.loc()
    # Elements are made once (floats made by arithmetic are new objects) and
    # shared by the sizes and containers; the containers are made per call.
    element = {
        "float_v": lambda i: i / 8 + 0.0625,
        "vec4_v": lambda i: dict(x=i + 0.5, y=i + 1.5, z=i + 2.5, w=i + 3.5),
    }
    cases = []
    for fname, make_item in element.items():
        f = getattr(calls.kr, f"set_krshader_value_{fname}")
        every = [make_item(i) for i in range(max(sizes))]
        for kind in ("list", "tuple", "generator"):
            for n in (0,) + sizes:
                items = every[:n]
                container = {"list": list, "tuple": tuple}.get(kind)

                def make(items=items, container=container, f=f):
                    values = container(items) if container else (x for x in items)
                    return "f(s, l, v)", dict(f=f, s=ks, l=loc, v=values)

                cases.append(Case(f"scale:{fname}:{kind}:{n}", f"set_krshader_value_{fname}, {kind} of {n}",
                                  "scaling", make=make, prebuilt=True, floor="pre4", cg=_cg_calls(n)))
    cache = calls.filled_cache(1, 3)
    members = [calls.member((0, 1, 2, 4, 5, 6, 7, 8, 9, 12)[i % 10]) for i in range(max(sizes))]
    for n in (0,) + sizes:
        black = members[:n]

        def make(black=black):
            return "c.clear_selected(b, w)", dict(c=cache, b=list(black), w=[calls.member(3)])

        cases.append(Case(f"scale:clear_selected:list:{n}", f"Cache.clear_selected, blacklist of {n}", "scaling",
                          make=make, prebuilt=True, floor="pre3", cg=_cg_calls(n)))
    return cases


def _cg_calls(n):
    """Calls counted under callgrind for a sequence of n: fewer as n grows."""
    return (max(1, CG_CALLS[0] // max(n, 1)), max(3, CG_CALLS[1] // max(n, 1)))


# ---------------------------------------------------------------------------
# Measuring


SCALED = ("set_krshader_value_float_v", "set_krshader_value_vec4_v", "Cache.clear_selected")


def setup(only, required, sizes):
    """Imports the subjects, points kora_raylib and the bindings at the no-op
    raylib and returns (baseline modules, cases)."""
    import calls
    from kora_ui.fast.raylib import kora_raylib as kr
    from raylib_ctypes import ENTRY_NAMES  # every raylib entry of kora_raylib, from the build

    lib = ctypes.CDLL(str(NATIVE / "libkr_noop_raylib.so"))
    addresses = {n: ctypes.cast(getattr(lib, n), ctypes.c_void_p).value for n in ENTRY_NAMES}
    kr.init_raylib_pointers(addresses)
    calls.use_addresses(addresses)
    mods = {"base": __import__("kr_bench_baseline")}
    for name in ("nanobind", "pybind11", "cffi"):
        mods[name] = optional_module(f"kr_bench_{name}", required)
    for name in ("base", "nanobind", "pybind11"):
        if mods[name]:
            mods[name].set_draw_target(addresses["DrawTextureRec"])
    cases = floor_cases() + baseline_cases(calls, mods, lib) + subject_cases(calls) + clevel_cases(calls, mods, kr)
    if not only or set(only) & set(SCALED):
        cases += scaling_cases(calls, sizes)
    if only:
        cases = [c for c in cases if c.group in ("floors", "baselines") or call_name(c.key) in only]
    return mods, cases


def call_name(key):
    """The call a case key measures: "draw_texture_rec:kw" and
    "capi:draw_texture_rec" are draw_texture_rec, "Cache.get[empty]" is
    Cache.get, "scale:float_v:list:10" is set_krshader_value_float_v."""
    key = key.split("[")[0]
    if key.startswith("scale:"):
        name = key.split(":")[1]
        return "Cache." + name if name == "clear_selected" else "set_krshader_value_" + name
    if key.startswith(("capi:", "vt:")):
        return key.split(":")[1]
    return key.split(":")[0]


def cpu_rounds(cases, rounds, target_ns, seed):
    """Per-call CPU times, one sample per round; rounds run every case once,
    in an order shuffled afresh each round, and subtract the floor measured in
    the same round."""
    gc.collect()
    gc.disable()
    try:
        for c in cases:
            c.calibrate(target_ns, 1 << 22)
            c.prepare(c.n)()  # warm-up: the interpreter specialises the loop
        raw = {c.key: [] for c in cases}
        rng = random.Random(seed)
        for _ in range(rounds):
            order = cases[:]
            rng.shuffle(order)
            for c in order:
                run = c.prepare(c.n)
                raw[c.key].append(run() / c.calls(c.n))
    finally:
        gc.enable()
    out = {}
    for c in cases:
        floor = raw[c.floor] if c.floor else [0.0] * rounds
        out[c.key] = [s - f for s, f in zip(raw[c.key], floor)]
    return out


def callgrind_child(cases, labels_out):
    """Inside callgrind: counts two runs of each case, each between a reset of
    the counters and a dump labelled with the case and its number of calls."""
    base = __import__("kr_bench_baseline")
    gc.collect()
    gc.disable()
    plan = []
    for c in cases:
        c.prepare(c.cg[0])()  # warm-up: the interpreter specialises the loop
        for n in c.cg:
            run = c.prepare(n)
            label = f"{len(plan)}"
            base.cg_zero()
            run()
            base.cg_dump(label)
            plan.append((c.key, c.calls(n)))
    gc.enable()
    pathlib.Path(labels_out).write_text(json.dumps(plan))


def run_callgrind(args, outdir):
    """Runs this script under callgrind on the same cases; returns
    ({key: instructions per call, floor subtracted}, {key: dump file})."""
    outdir.mkdir(parents=True, exist_ok=True)
    for old in outdir.glob("cg.out*"):
        old.unlink()
    plan_file = outdir / "plan.json"
    cmd = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={outdir}/cg.out",
           "--compress-strings=no", sys.executable, __file__, "--callgrind-child", str(plan_file)]
    cmd += ["--only", ",".join(args.only)] if args.only else []
    cmd += ["--allow-missing"] if args.allow_missing else []
    cmd += ["--smoke"] if args.smoke else []
    env = dict(os.environ, PYTHONHASHSEED="0")
    res = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if res.returncode != 0:
        sys.exit(f"callgrind run failed:\n{res.stdout}\n{res.stderr[-4000:]}")
    plan = json.loads(plan_file.read_text())
    totals, files = {}, {}
    for f in outdir.glob("cg.out.*"):
        text = f.read_text()
        m = re.search(r"^desc: Trigger: Client Request: (\d+)$", text, re.M)
        t = re.search(r"^(?:totals|summary): (\d+)", text, re.M)
        if m and t:
            totals[int(m.group(1))] = int(t.group(1))
            files[int(m.group(1))] = f
    runs = {}
    for i, (key, n) in enumerate(plan):
        runs.setdefault(key, []).append((n, totals[i], files[i]))
    per = {key: (r[1][1] - r[0][1]) / (r[1][0] - r[0][0]) for key, r in runs.items()}
    return per, {key: (r[1][2], r[1][0]) for key, r in runs.items()}


def subtract_floors(cases, per):
    return {c.key: per[c.key] - (per[c.floor] if c.floor else 0.0) for c in cases}


# ---------------------------------------------------------------------------
# Targets and verdicts

def targets(ir):
    """(label, numerator keys, denominator keys, op, target); a ratio uses the
    smallest of its denominators (the faster baseline)."""
    rows = []
    for suffix, texture in (("[plain texture]", "plain texture"), ("", "the table's property texture")):
        rows += [
            (f"draw_texture_rec positional / minimal C binding, {texture}", [f"draw_texture_rec{suffix}"],
             [f"min:draw_texture_rec{suffix}"], "<=", 1.05),
            (f"faster of nanobind, pybind11 / draw_texture_rec positional, {texture}",
             [f"nanobind:draw_texture_rec{suffix}", f"pybind11:draw_texture_rec{suffix}"],
             [f"draw_texture_rec{suffix}"], ">=", 1.5),
            (f"draw_texture_rec all keywords / positional, {texture}", [f"draw_texture_rec:kw{suffix}"],
             [f"draw_texture_rec{suffix}"], "<=", 1.1),
        ]
    rows += [(f"{n} / no-op builtin, no arguments", [n], ["noop0"], "<=", 1.25) for n in NOARG]
    rows += [("Cache.get / inline lst[member.value]", ["Cache.get"], ["inline:get"], "<=", 0.6),
             ("Cache method table c_get (instructions)", ["vt:c_get"], [], "<=", 30)]
    return [r for r in rows if all(k in ir for k in r[1] + r[2])]


def div(a, b):
    return a / b if b else float("nan")


def ratio(values, num, den):
    n = min(values[k] for k in num)
    return div(n, min(values[k] for k in den)) if den else n


def met(v, op, target):
    return v <= target if op == "<=" else v >= target


def cpu_verdict(samples, num, den, op, target):
    """Median and quartiles of the per-round ratio; a verdict only when the
    interquartile range lies on one side of the target."""
    rounds = len(samples[num[0]])
    per_round = [ratio({k: samples[k][r] for k in num + den}, num, den) for r in range(rounds)]
    q1, med, q3 = quartiles(per_round)
    if met(q1, op, target) and met(q3, op, target):
        verdict = "met"
    elif not met(q1, op, target) and not met(q3, op, target):
        verdict = "NOT MET"
    else:
        verdict = "inconclusive"
    return med, q1, q3, verdict


def quartiles(xs):
    if len(xs) < 2:
        return xs[0], xs[0], xs[0]
    q1, med, q3 = statistics.quantiles(xs, n=4, method="inclusive")
    return q1, med, q3


# ---------------------------------------------------------------------------
# Report


def cpu_cell(xs):
    q1, med, q3 = quartiles(xs)
    return f"{med:.1f} ({min(xs):.1f}; {q1:.1f}–{q3:.1f})"


def table(md, head, rows, align):
    if md:
        out = ["| " + " | ".join(head) + " |", "|" + "|".join("---:" if a == "r" else "---" for a in align) + "|"]
        out += ["| " + " | ".join(r) + " |" for r in rows]
        return out
    widths = [max(len(x) for x in col) for col in zip(head, *rows)]
    fmt = lambda r: "  ".join(x.rjust(w) if a == "r" else x.ljust(w) for x, w, a in zip(r, widths, align))  # noqa
    return [fmt(head), fmt(["-" * w for w in widths])] + [fmt(r) for r in rows]


def profile(dump, calls):
    """{function: self instructions per call} of one counted run. The
    functions on the stack around the run (main, the interpreter's entry)
    carry the whole run and are left out; the interpreter's own static
    functions show as addresses, its binary being stripped."""
    if not shutil.which("callgrind_annotate"):
        return {"(callgrind_annotate not found)": 0.0}
    res = subprocess.run(["callgrind_annotate", "--inclusive=no", "--threshold=100", str(dump)],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    out = {}
    for line in res.stdout.splitlines():
        m = re.match(r"\s*([\d,]+) \(\s*([\d.]+)%\)\s+\?*:?(\S.*?)\s*$", line)
        if not m or "PROGRAM TOTALS" in line or float(m.group(2)) >= 99.9:
            continue
        name, _, lib = m.group(3).partition(" [")
        name = f"{name}  ({pathlib.Path(lib.rstrip(']')).name})"
        out[name] = out.get(name, 0.0) + int(m.group(1).replace(",", "")) / calls
    return out


def where(key, ref, dumps, top=12):
    """The listing for a missed target: the subject's costliest functions
    and, against its reference, the functions whose share differs most."""
    mine = profile(*dumps[key])
    lines = [f"{n:8.1f}  {name}" for name, n in sorted(mine.items(), key=lambda x: -x[1])[:top] if n >= 1]
    if ref and ref in dumps:
        theirs = profile(*dumps[ref])
        diff = {k: mine.get(k, 0.0) - theirs.get(k, 0.0) for k in set(mine) | set(theirs)}
        lines += ["", f"against {ref} (instructions per call, + where {key} spends more):"]
        lines += [f"{d:+8.1f}  {name}" for name, d in sorted(diff.items(), key=lambda x: -abs(x[1]))[:top]
                  if abs(d) >= 1]
    return lines


def report(cases, ir, cpu, dumps, info, md):
    L = []
    h = (lambda t: ["", f"## {t}", ""]) if md else (lambda t: ["", f"== {t} =="])
    if md:
        L += ["# kora_ui call-cost benchmark", "", info]
    else:
        L += [info]
    rows, missed = [], []
    for label, num, den, op, target in targets(ir):
        v = ratio(ir, num, den)
        med, q1, q3, cv = cpu_verdict(cpu, num, den, op, target)
        if not den:  # a bound in instructions: the CPU figure is ns, with no verdict of its own
            cv = "–"
        ok = met(v, op, target)
        if not ok and v == v:
            missed.append((label, num, den) if op == "<=" else (label, den, num))
        fmt = "{:.0f}" if not den else "{:.3f}"
        rows.append([label, fmt.format(v), f"{op} {target}", "met" if ok else "NOT MET" if v == v else "–",
                     f"{med:.2f} ({q1:.2f}–{q3:.2f})", cv])
    L += h("Targets (judged on instructions; CPU-time ratio: median of rounds, interquartile range)")
    L += table(md, ["target", "instructions", "target", "verdict", "CPU time", "CPU verdict"], rows, "lrllll")

    by_group = {}
    for c in cases:
        by_group.setdefault(c.group, []).append(c)
    noop = {k: ir[f"noop{k}"] for k in range(7) if f"noop{k}" in ir}
    head = ["call", "instr/call", "over no-op", "CPU ns/call: median (min; IQR)"]
    for group, title in (("baselines", "Baselines"), ("kora_raylib", "kora_raylib from Python"),
                         ("Cache", "koracache from Python"), ("C-level", "C-level, native loop"),
                         ("floors", "Floors (subtracted)")):
        rows = []
        for c in by_group.get(group, []):
            over = ""
            if group != "floors" and not c.native:
                arity = len(c.make()[1]) - 1
                over = f"{ir[c.key] - noop[min(max(arity, 0), 6)]:.0f}" if noop else ""
            rows.append([c.label, f"{ir[c.key]:.0f}", over, cpu_cell(cpu[c.key])])
        if rows:
            L += h(title) + table(md, head, rows, "lrrr")

    sc = [c for c in by_group.get("scaling", [])]
    if sc:
        rows = []
        series = {}
        for c in sc:
            _, fname, kind, n = c.key.split(":")
            series.setdefault((fname, kind), {})[int(n)] = c.key
        for (fname, kind), keys in series.items():
            per_i = per_element(ir, keys)
            lo, hi = min(per_i), max(per_i)
            cpu_hi = (statistics.median(cpu[keys[hi]]) - statistics.median(cpu[keys[0]])) / hi
            rows.append([f"{fname}, {kind}"] + [f"{per_i[n]:.1f}" for n in sorted(per_i)]
                        + [f"{div(per_i[hi], per_i[lo]):.2f}", f"{cpu_hi:.2f}"])
        sizes = sorted(per_i)
        L += h("Scaling: instructions per element, (I(n) − I(0)) / n")
        L += table(md, ["call, container"] + [f"n={n}" for n in sizes]
                   + [f"ratio n={sizes[-1]} / n={sizes[0]}", f"CPU ns/element, n={sizes[-1]}"], rows,
                   "l" + "r" * (len(sizes) + 2))

    if missed:
        L += h("Where the instructions go (missed targets; callgrind, self instructions per call)")
        for label, num, den in missed:
            key = min(num, key=ir.get)
            ref = min(den, key=ir.get) if den else None
            if key not in dumps:
                continue
            L += [f"{label}: {key}, {ir[key]:.0f} instructions per call"
                  + (f" against {ref[:60]}, {ir[ref]:.0f}" if ref else "") + " (floors subtracted)", ""]
            L += (["```"] if md else []) + where(key, ref, dumps) + (["```", ""] if md else [""])
    return "\n".join(L) + "\n"


def per_element(values, keys):
    """{n: (value(n) - value(0)) / n} of one scaling series {n: key}."""
    return {n: (values[k] - values[keys[0]]) / n for n, k in keys.items() if n}


def compare(a, b):
    A, B = (json.loads(pathlib.Path(p).read_text()) for p in (a, b))
    rows = []
    for key in A["instructions"]:
        if key in B["instructions"]:
            x, y = A["instructions"][key], B["instructions"][key]
            ma, mb = (statistics.median(d["cpu_ns"][key]) for d in (A, B))
            rows.append([key, f"{x:.0f}", f"{y:.0f}", f"{(y - x) / x * 100 if x else 0:+.1f}%",
                         f"{ma:.1f}", f"{mb:.1f}"])
    print("\n".join(table(False, ["case", "instr A", "instr B", "B vs A", "CPU ns A", "CPU ns B"], rows, "lrrrrr")))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--rounds", type=int, default=31, help="CPU-time rounds")
    ap.add_argument("--ms", type=float, default=3.0, help="milliseconds per case per round")
    ap.add_argument("--only", type=lambda s: [x for x in s.split(",") if x],
                    help="comma-separated call names (Cache methods as Cache.get), measured with the baselines")
    ap.add_argument("--out", default=str(ROOT / "build" / "bench.md"), help="markdown report")
    ap.add_argument("--json", default=None, help="all figures as JSON (default: next to --out)")
    ap.add_argument("--chart", default=None, help="chart image (default: next to --out; 'none' for no chart)")
    ap.add_argument("--no-callgrind", action="store_true", help="CPU time only")
    ap.add_argument("--allow-missing", action="store_true", help="skip baselines whose modules were not built")
    ap.add_argument("--smoke", action="store_true", help="a few calls of each case: checks the harness only")
    ap.add_argument("--callgrind-child", metavar="PLAN", help=argparse.SUPPRESS)
    ap.add_argument("--compare", nargs=2, metavar=("A", "B"), help="compare two --json files")
    args = ap.parse_args()
    if args.compare:
        return compare(*args.compare)
    global CG_CALLS, UNROLL
    if args.smoke:
        CG_CALLS, UNROLL = (10, 20), 2
    mods, cases = setup(args.only, not args.allow_missing, SIZES[:3] if args.smoke else SIZES)
    if args.callgrind_child:
        return callgrind_child(cases, args.callgrind_child)

    try:
        os.sched_setaffinity(0, {sorted(os.sched_getaffinity(0))[-1]})
    except (AttributeError, OSError):
        pass
    t0 = time.monotonic()
    rounds = 3 if args.smoke else args.rounds
    cpu = cpu_rounds(cases, rounds, (0.05 if args.smoke else args.ms) * 1e6, seed=1)
    t1 = time.monotonic()
    out = pathlib.Path(args.out)
    out.parent.mkdir(parents=True, exist_ok=True)
    if args.no_callgrind:
        ir, dumps = {c.key: 0.0 for c in cases}, {}
    else:
        per, dumps = run_callgrind(args, out.parent / (out.stem + "-callgrind"))
        ir = subtract_floors(cases, per)
    t2 = time.monotonic()
    info = (f"Python {platform.python_version()} on {platform.machine()}, {os.cpu_count()} CPUs; "
            f"raylib replaced by no-op functions. Instructions: callgrind, per call, the empty loop subtracted "
            f"(difference of {CG_CALLS[1]} and {CG_CALLS[0]} calls). CPU time: per-thread clock, {rounds} rounds "
            f"in shuffled order, floor of the same round subtracted. CPU rounds {t1 - t0:.0f} s, "
            f"callgrind {t2 - t1:.0f} s.")
    print(report(cases, ir, cpu, dumps, info, False))
    if args.only or args.smoke:
        out = out.with_name(out.stem + "-only" + out.suffix)
    out.write_text(report(cases, ir, cpu, dumps, info, True))
    jpath = pathlib.Path(args.json) if args.json else out.with_suffix(".json")
    labels = {c.key: c.label for c in cases}
    groups = {c.key: c.group for c in cases}
    jpath.write_text(json.dumps({"info": info, "instructions": ir, "cpu_ns": cpu, "labels": labels,
                                 "groups": groups, "targets": [
                                     dict(label=l, num=n, den=d, op=o, target=t, value=ratio(ir, n, d),
                                          cpu=cpu_verdict(cpu, n, d, o, t))
                                     for l, n, d, o, t in targets(ir)]}, indent=1))
    print(f"written {out}, {jpath}")
    chart = args.chart or str(out.with_suffix(".png"))
    if chart != "none" and not args.only and not args.smoke:
        res = subprocess.run([sys.executable, str(pathlib.Path(__file__).with_name("chart.py")), str(jpath), chart])
        if res.returncode == 0:
            print(f"written {chart}")
        else:
            print("chart not written (see above)")


if __name__ == "__main__":
    main()
