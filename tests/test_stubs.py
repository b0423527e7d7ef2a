"""The type stubs shipped with the two modules match them: every Python-visible
function, every type and every method of Cache is declared with the runtime's
parameter names in the same order (and defaults in the same places), and
nothing the stubs declare is missing at runtime."""

import ast
import inspect
from pathlib import Path

import pytest

from kora_ui.fast.koracache import koracache
from kora_ui.fast.raylib import kora_raylib

SRC = Path(__file__).resolve().parent.parent / "src"
FUNCTION = type(kora_raylib.begin_drawing)
# Cache's slots that only restate object's protocol; __init__ and __getattr__
# carry what they do.
UNSTUBBED = {"__new__", "__getattribute__"}


def stub_of(module):
    path = SRC.joinpath(*module.__name__.split(".")).with_suffix(".pyi")
    return ast.parse(path.read_text(), str(path))


def is_helper(node):
    """A private name that exists for typing only: a Protocol, a TypeAlias or
    a TypeVar."""
    if isinstance(node, ast.ClassDef):
        return node.name.startswith("_") and any(ast.unparse(b).endswith("Protocol") for b in node.bases)
    if isinstance(node, ast.AnnAssign):
        return ast.unparse(node.annotation).endswith("TypeAlias")
    if isinstance(node, ast.Assign):
        return isinstance(node.value, ast.Call) and ast.unparse(node.value.func).endswith("TypeVar")
    return False


def declared(body):
    """name -> AST node for the names a stub body declares (helpers left out)."""
    names = {}
    for node in body:
        if is_helper(node):
            continue
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names[node.name] = node
        elif isinstance(node, ast.AnnAssign):
            names[node.target.id] = node
        elif isinstance(node, ast.ImportFrom):  # re-exports: `import X as X`
            names.update({a.name: node for a in node.names if a.asname == a.name})
    return names


def check_function(stub, runtime, where):
    assert isinstance(stub, ast.FunctionDef), f"{where} is not declared as a function"
    a = stub.args
    assert not (a.posonlyargs or a.vararg or a.kwonlyargs or a.kwarg), f"{where}: every parameter is positional-or-keyword"
    params = inspect.signature(runtime).parameters.values()
    assert [p.name for p in params] == [x.arg for x in a.args], where
    with_default = [p.default is not inspect.Parameter.empty for p in params]
    assert with_default == [False] * (len(a.args) - len(a.defaults)) + [True] * len(a.defaults), where


@pytest.mark.parametrize("module", [kora_raylib, koracache], ids=lambda m: m.__name__.rpartition(".")[2])
def test_module_matches_stub(module):
    stub = declared(stub_of(module).body)
    functions = {n: v for n, v in vars(module).items() if isinstance(v, FUNCTION)}
    types = {n: v for n, v in vars(module).items() if isinstance(v, type) and v.__module__ == module.__name__}
    assert functions and set(functions) | set(types) <= set(stub), "not in the stub"
    for name, function in functions.items():
        check_function(stub[name], function, name)
    for name, node in stub.items():
        assert hasattr(module, name), f"{name} is declared but missing at runtime"
        if isinstance(node, ast.FunctionDef):
            assert isinstance(getattr(module, name), FUNCTION), name
        if isinstance(node, ast.ClassDef):
            assert isinstance(getattr(module, name), type), name


def test_cache_matches_stub():
    (cls,) = [n for n in stub_of(koracache).body if isinstance(n, ast.ClassDef) and n.name == "Cache"]
    stub = declared(cls.body)
    runtime = {n: v for n, v in vars(koracache.Cache).items() if callable(v) and n not in UNSTUBBED}
    assert {"get", "__getitem__", "__getattr__", "copy", "__deepcopy__", "__reduce__", "__setstate__"} <= set(runtime)
    assert set(runtime) <= set(stub), "methods not in the stub"
    for name, method in runtime.items():
        if isinstance(method, FUNCTION):
            check_function(stub[name], method, f"Cache.{name}")
    for name in stub:
        assert name in vars(koracache.Cache), f"Cache.{name} is declared but missing at runtime"
