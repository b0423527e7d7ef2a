"""Packaging: pip builds the package from this tree through pyproject.toml,
offline and without build isolation, into a fresh virtual environment, and the
installed modules import from there; the sibling-module example of
docs/api.md builds against the package headers and works."""

import ctypes
import importlib
import os
import re
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
SRC = ROOT / "src"
SUFFIX = sysconfig.get_config_var("EXT_SUFFIX")
STANDIN = re.compile(r"kora_ui/(core/|fast/(krvector2|krshader|krrect|krrendertex)/)")
NATIVE = {
    f"kora_ui/fast/raylib/kora_raylib{SUFFIX}",
    "kora_ui/fast/raylib/kora_raylib.pyi",
    "kora_ui/fast/raylib/py.typed",
    f"kora_ui/fast/koracache/koracache{SUFFIX}",
    "kora_ui/fast/koracache/koracache.pyi",
    "kora_ui/fast/koracache/py.typed",
}
STANDIN_NATIVE = {
    f"kora_ui/fast/krvector2/krvector2{SUFFIX}",
    f"kora_ui/fast/krshader/krshader{SUFFIX}",
    f"kora_ui/fast/krrect/krrect{SUFFIX}",
    f"kora_ui/fast/krrendertex/kr_render_tex{SUFFIX}",
}

release_only = pytest.mark.skipif(
    os.environ.get("KORA_BUILD_VARIANT", "release") != "release",
    reason="one pip build per run, with the release interpreter",
)


def clean_env():
    """The environment without the test run's module path, preloads and pip
    settings, so that children see only what they are given."""
    drop = ("PYTHONPATH", "LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")
    env = {k: v for k, v in os.environ.items() if k not in drop and not k.startswith(("PIP_", "SKBUILD_"))}
    env["PIP_CONFIG_FILE"] = os.devnull
    env["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"
    return env


def run(*cmd, **kwargs):
    done = subprocess.run([str(c) for c in cmd], env=clean_env(), capture_output=True, text=True, **kwargs)
    assert done.returncode == 0, f"{cmd}\n{done.stdout[-6000:]}\n{done.stderr[-6000:]}"
    return done.stdout


def tree(top):
    """Files under top/kora_ui, relative to top, without byte-code caches."""
    return {p.relative_to(top).as_posix() for p in (top / "kora_ui").rglob("*")
            if p.is_file() and "__pycache__" not in p.parts}


def expected(standins):
    py = {p.relative_to(SRC).as_posix() for p in SRC.rglob("*.py")}
    if standins:
        return py | NATIVE | STANDIN_NATIVE
    return {p for p in py if not STANDIN.match(p)} | NATIVE


@pytest.fixture(scope="module")
def installed(tmp_path_factory):
    """A venv holding the package, installed by pip with the stand-ins; the
    pip output, the venv's interpreter and site directory and the build dir."""
    top = tmp_path_factory.mktemp("pip")
    venv, build = top / "venv", top / "build"
    run(sys.executable, "-m", "venv", "--system-site-packages", "--without-pip", venv)
    python = venv / "bin" / "python"
    out = run(python, "-m", "pip", "install", "--no-build-isolation", "--no-index",
              "-C", "cmake.define.KORA_INSTALL_STANDINS=ON", "-C", f"build-dir={build}", ROOT, cwd=top)
    site = Path(run(python, "-c", "import sysconfig; print(sysconfig.get_paths()['platlib'])").strip())
    return out, python, site, build


CHECK = """
import sys
from pathlib import Path
from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache
from kora_ui.fast.raylib import kora_raylib
site = Path(sys.argv[1]).resolve()
for m in (kora_raylib, koracache):
    assert Path(m.__file__).resolve().is_relative_to(site), m.__file__
assert len(kora_raylib.__pyx_capi__) == 30
kora_raylib.init_raylib_pointers({})
cache = koracache.Cache()
cache.set(CacheType.FONT, "font")
assert cache.FONT == "font" and cache.copy()[CacheType.FONT] == "font"
print("ok")
"""


@pytest.mark.slow
@release_only
def test_pip_install_gives_importable_modules(installed, tmp_path):
    out, python, site, _ = installed
    tag = f"cp{sys.version_info.major}{sys.version_info.minor}"
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    assert re.search(rf"filename=kora_ui_native-[^\s]+-{tag}-{tag}-{platform}\.whl", out), out
    assert tree(site) == expected(standins=True)
    # Run from an empty directory so that nothing but the venv supplies kora_ui.
    assert run(python, "-c", CHECK, site, cwd=tmp_path).strip() == "ok"


@pytest.mark.slow
@release_only
def test_standins_installed_only_on_request(installed, tmp_path):
    # Reconfigure the pip build with the option off and install it again.
    build = installed[3]
    run("cmake", "-S", ROOT, "-B", build, "-DKORA_INSTALL_STANDINS=OFF")
    run("cmake", "--install", build, "--prefix", tmp_path)
    assert tree(tmp_path) == expected(standins=False)


def test_doc_example_compiles(tmp_path, rec, monkeypatch):
    """docs/examples/sibling_module.cpp builds against the toolchain's Python
    headers and src/, imports (taking its routines by signature) and calls
    through the routines and the method table."""
    include = sysconfig.get_paths()["include"]
    target = tmp_path / f"sibling_module{SUFFIX}"
    run("g++", "-std=c++20", "-shared", "-fPIC", "-Wall", "-Wextra", "-Werror",
        "-I", include, "-I", Path(include).parent, "-I", SRC,
        ROOT / "docs" / "examples" / "sibling_module.cpp", "-o", target)
    monkeypatch.syspath_prepend(tmp_path)
    sibling = importlib.import_module("sibling_module")

    from kora_ui.core.enums import CacheType
    from kora_ui.fast.koracache.koracache import Cache
    from kora_ui.fast.krshader.krshader import KrShader

    assert sibling.blank() is None
    rec.map_location("u_time", 7)
    assert sibling.location(KrShader(5, 0x40), "u_time") == 7
    assert sibling.location(KrShader(5, 0x40), "u_other") == -1
    assert rec.calls() == [("ClearBackground", (0, 0, 0, 0)),
                           ("GetShaderLocation", (5, 0x40), "u_time"),
                           ("GetShaderLocation", (5, 0x40), "u_other")]
    with pytest.raises(AttributeError, match="encode"):
        sibling.location(KrShader(5, 0x40), None)
    cache = Cache()
    assert sibling.remember(cache, CacheType.FONT.value, "a") == "a"
    assert sibling.remember(cache, CacheType.FONT.value, "b") == "a"
    assert cache.FONT == "a"


def test_doc_lists_every_capsule_signature():
    from kora_ui.fast.raylib import kora_raylib

    name_of = ctypes.pythonapi.PyCapsule_GetName
    name_of.restype, name_of.argtypes = ctypes.c_char_p, [ctypes.py_object]
    text = (ROOT / "docs" / "api.md").read_text()
    block = re.search(r"```text\n(.*?)```", text, re.S).group(1)
    documented = dict(line.split(None, 1) for line in block.splitlines())
    assert documented == {n: name_of(c).decode() for n, c in kora_raylib.__pyx_capi__.items()}
