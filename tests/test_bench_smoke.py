"""The benchmark harness runs: a few calls of a few cases, no timing judged."""
import json
import os
import shutil
import subprocess
import sys

import pytest

from recorder import NATIVE_DIR
from tooling import ROOT

BENCH_DIR = NATIVE_DIR.parent / "bench"
# callgrind cannot run under the sanitizers; one build is enough to check it.
CALLGRIND = os.environ.get("KORA_BUILD_VARIANT", "release") == "release" and shutil.which("valgrind")


@pytest.mark.skipif(not (BENCH_DIR / "libkr_noop_raylib.so").exists(), reason="benchmark helpers not built")
def test_bench_runs_on_a_few_calls(tmp_path):
    out = tmp_path / "bench.md"
    cmd = [sys.executable, str(ROOT / "bench" / "bench.py"), "--smoke", "--allow-missing", "--chart", "none",
           "--only", "draw_texture_rec,Cache.get,c_get,set_krshader_value_float_v", "--out", str(out)]
    if not CALLGRIND:
        cmd.append("--no-callgrind")
    env = dict(os.environ, KORA_BENCH_DIR=str(BENCH_DIR))
    res = subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=600)
    assert res.returncode == 0, res.stderr[-3000:]
    report = out.with_name("bench-only.md").read_text()
    figures = json.loads(out.with_name("bench-only.json").read_text())
    for key in ("draw_texture_rec", "min:draw_texture_rec", "Cache.get", "inline:get", "vt:c_get",
                "scale:float_v:generator:100"):
        assert key in figures["instructions"] and len(figures["cpu_ns"][key]) == 3
    assert "## Targets" in report and "## Scaling" in report
    if CALLGRIND:
        # Counted, floor subtracted: a call costs instructions, the bare C call a few dozen.
        assert figures["instructions"]["draw_texture_rec"] > 500
        assert 0 < figures["instructions"]["vt:c_get"] < 500
        assert {t["label"].split(",")[0] for t in figures["targets"]} >= {"Cache.get / inline lst[member.value]"}
