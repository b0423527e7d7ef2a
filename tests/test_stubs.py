"""The type stubs: mypy's stubtest finds them consistent with the modules
(this project's and the stand-in peers, on the build tree), and every function
and method in them carries the documentation that the runtime leaves out.
The stand-in kora_ui.core.enums is Python source: its py.typed marker makes
it its own stub."""

import ast
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
