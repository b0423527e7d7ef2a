"""The type stubs: mypy's stubtest finds them consistent with the modules
(this project's and the stand-in peers, on the build tree), every function
and method in them carries the documentation that the runtime leaves out, and
mypy, reading them, reports each wrong call of a small program and nothing in
the correct calls beside them. The stand-in kora_ui.core.enums is Python
source: its py.typed marker makes it its own stub."""

import ast
import re
import sys

import pytest

from kora_ui.fast.koracache import koracache
from tooling import ROOT, SRC, needs_mypy, release_only, run

STUBS = sorted(SRC.rglob("*.pyi"))
MODULES = [".".join(p.relative_to(SRC).with_suffix("").parts) for p in STUBS]


@release_only
@needs_mypy
def test_stubtest_is_clean(tmp_path):
    assert {"kora_ui.fast.raylib.kora_raylib", "kora_ui.fast.koracache.koracache"} <= set(MODULES)
    done = run(sys.executable, "-m", "mypy.stubtest", "--allowlist", ROOT / "tests" / "stubtest-allowlist.txt",
               *MODULES, keep_path=True, check=False, cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr


def functions(tree):
    """(qualified name, node) of every function and method of a stub, but
    those of private typing helpers (Protocols)."""
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            yield node.name, node
        elif isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
            yield from ((f"{node.name}.{f.name}", f) for f in node.body if isinstance(f, ast.FunctionDef))


@pytest.mark.parametrize("stub", STUBS, ids=MODULES)
def test_every_stub_function_is_documented(stub):
    tree = ast.parse(stub.read_text(), str(stub))
    missing = [name for name, node in functions(tree) if not ast.get_docstring(node)]
    assert not missing
    assert all(ast.get_docstring(c) for c in tree.body if isinstance(c, ast.ClassDef) and not c.name.startswith("_"))


def test_runtime_leaves_docstrings_to_the_stubs():
    methods = [v for v in vars(koracache.Cache).values() if type(v) is type(koracache.__pyx_unpickle_Cache)]
    assert len(methods) >= 10 and koracache.__pyx_unpickle_Cache.__doc__ is None
    assert all(m.__doc__ is None for m in methods)


# Lines ending in "# wrong" must be reported, no other line may be.
PROGRAM = '''
from types import SimpleNamespace
from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache.koracache import Cache
from kora_ui.fast.krrect.krrect import KrRect
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.krvector2.krvector2 import KrVector2
from kora_ui.fast.raylib import kora_raylib as kr


class Texture:
    id, width, height, mipmaps, format = 1, 16, 16, 1, 7


tex, shader = Texture(), KrShader(3, 0)
kr.draw_texture_krvec(tex, KrVector2(1.0, 2.0), KrRect(255, 255, 255, 255), True)
kr.draw_texture_krvec(tex, (1.0, 2.0), KrRect(), True)  # wrong
kr.draw_texture_krvec(tex, KrVector2(), (255, 255, 255), True)  # wrong
kr.draw_texture_krvec_ez(tex, KrRect(), False)  # wrong
kr.draw_texture_vec(tex, KrVector2(), (255, 255, 255), False)  # wrong
kr.set_krshader_value_float(shader, 0, 1.0)
kr.set_krshader_value_float("shader", 0, 1.0)  # wrong
kr.get_krshader_location(SimpleNamespace(id=3, locs=0), "u_time")  # wrong
kr.set_krshader_value_vec2_krvec(shader, 0, KrRect())  # wrong
kr.set_shader_value_vec2_krvec(shader, 0, (1.0, 2.0))  # wrong
kr.begin_shader_mode(shader)
kr.begin_shader_mode("shader")  # wrong
kr.draw_texture_rec(tex, [0, 0, 8, 8], (0, 0), (255, 255, 255))  # wrong
kr.init_raylib_pointers({"BeginDrawing": 0})
kr.init_raylib_pointers([("BeginDrawing", 0)])  # wrong
cache = Cache()
cache.set(CacheType.TEXTURE, tex)
cache.set("TEXTURE", tex)  # wrong
print(cache[CacheType.SHADER], cache.TEXTURE)
print(cache[3])  # wrong
cache.clear_selected(whitelist=[CacheType.FONT])
cache.clear_selected(whitelist=(CacheType.FONT,))  # wrong
'''


@release_only
@needs_mypy
def test_mypy_reports_every_wrong_call(tmp_path):
    (tmp_path / "program.py").write_text(PROGRAM)
    done = run(sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir", "/dev/null", "--no-error-summary",
               "program.py", keep_path=True, check=False, cwd=tmp_path)
    reported = {int(n) for n in re.findall(r"^program\.py:(\d+): error:", done.stdout, re.M)}
    wrong = {i for i, line in enumerate(PROGRAM.splitlines(), 1) if line.endswith("# wrong")}
    assert len(wrong) == 14 and reported == wrong, done.stdout + done.stderr
