"""Packaging as `make dist` does it, offline: the sdist, the wheel built from
it and tagged by auditwheel repair (once per session, release interpreter),
its contents and reproducibility, and installing it beside the package."""

import email.parser
import re
import shutil
import sys
import sysconfig
import tarfile
import zipfile
from pathlib import Path
from types import SimpleNamespace
from urllib.parse import urlparse

import pytest

from tooling import ROOT, SRC, release_only, run

SUFFIX = sysconfig.get_config_var("EXT_SUFFIX")
TAG = f"cp{sys.version_info.major}{sys.version_info.minor}"
INFO = "kora_ui_native-0.1.0.dist-info/"
# This project's own files; everything else under src/kora_ui stands in for
# the package's.
OWN = re.compile(r"kora_ui/fast/(raylib|koracache)/")
NATIVE = {f"kora_ui/fast/raylib/kora_raylib{SUFFIX}", f"kora_ui/fast/koracache/koracache{SUFFIX}"}
STANDIN_NATIVE = {f"kora_ui/fast/{m}{SUFFIX}" for m in
                  ("krvector2/krvector2", "krshader/krshader", "krrect/krrect", "krrendertex/kr_render_tex")}

pytestmark = [pytest.mark.slow, release_only]
# Any fixed time: every timestamp of the sdist and wheels.
EPOCH = "1767225600"


def tree(top):
    """Files under top/kora_ui, relative to top, without byte-code caches."""
    return {p.relative_to(top).as_posix() for p in (top / "kora_ui").rglob("*")
            if p.is_file() and "__pycache__" not in p.parts}


def expected(standins):
    """The files an install lays out: this project's, plus the stand-ins'."""
    files = {p for p in tree(SRC) if p.endswith((".py", ".pyi", "py.typed"))}
    if standins:
        return files | NATIVE | STANDIN_NATIVE
    return {p for p in files if OWN.match(p)} | NATIVE


def wheel_files(archive, info=False):
    """name -> bytes of a wheel's files (not the directory entries that
    auditwheel adds), its .dist-info left out unless info."""
    with zipfile.ZipFile(archive) as z:
        return {n: z.read(n) for n in z.namelist() if not n.endswith("/") and (info or ".dist-info/" not in n)}


def build(*args):
    run("env", f"SOURCE_DATE_EPOCH={EPOCH}", sys.executable, "-m", "build", "--no-isolation", *args)


def wheel_from(sdist, top, *args):
    """The wheel built from the sdist unpacked under top, and that wheel as
    auditwheel repair tags it (make dist): (sources, local wheel, wheel)."""
    with tarfile.open(sdist) as tar:
        tar.extractall(top / "unpacked", filter="data")
    (src,) = (top / "unpacked").iterdir()
    build("--wheel", "--outdir", top / "local", *args, src)
    (local,) = (top / "local").glob("*.whl")
    run("env", f"SOURCE_DATE_EPOCH={EPOCH}", sys.executable, "-m", "auditwheel", "repair", "-w", top, local)
    (wheel,) = top.glob("*.whl")
    return src, local, wheel


@pytest.fixture(scope="module")
def dist(tmp_path_factory):
    """The sdist of this tree and the wheels built from its unpacked copy, all
    offline (make dist), with the wheel's CMake build dir kept."""
    top = tmp_path_factory.mktemp("dist")
    build("--sdist", "--outdir", top, ROOT)
    (sdist,) = top.glob("*.tar.gz")
    cmake = top / "build"
    src, local, wheel = wheel_from(sdist, top, "-C", f"build-dir={cmake}")
    return SimpleNamespace(sdist=sdist, src=src, build=cmake, local=local, wheel=wheel)


@pytest.fixture(scope="module")
def package_wheel(tmp_path_factory):
    """A wheel of the package's files as the build tree stands them in:
    kora_ui/__init__.py, kora_ui/fast/__init__.py, kora_ui.core and the peer
    modules with their stubs."""
    import kora_ui

    tree_root = Path(kora_ui.__file__).resolve().parent.parent
    top = tmp_path_factory.mktemp("package")
    unpacked = top / "kora_ui-1.0"
    for rel in tree(tree_root):
        if not OWN.match(rel):
            (unpacked / rel).parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(tree_root / rel, unpacked / rel)
    info = unpacked / "kora_ui-1.0.dist-info"
    info.mkdir()
    (info / "METADATA").write_text("Metadata-Version: 2.1\nName: kora_ui\nVersion: 1.0\n")
    (info / "WHEEL").write_text(
        f"Wheel-Version: 1.0\nGenerator: tests\nRoot-Is-Purelib: false\nTag: {TAG}-{TAG}-linux_x86_64\n")
    run(sys.executable, "-m", "wheel", "pack", "--dest-dir", top, unpacked)
    (wheel,) = top.glob("*.whl")
    return wheel


CHECK = """
import sys
from pathlib import Path
import kora_ui
from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache
from kora_ui.fast.raylib import kora_raylib
site = Path(sys.argv[1]).resolve()
for m in (kora_ui, kora_raylib, koracache):
    assert Path(m.__file__).resolve().is_relative_to(site), m.__file__
assert len(kora_raylib.__pyx_capi__) == 30
kora_raylib.init_raylib_pointers({})
cache = koracache.Cache()
cache.set(CacheType.FONT, "font")
assert cache.FONT == "font" and cache.copy()[CacheType.FONT] == "font"
print("ok")
"""


def test_wheel_tag_comes_from_auditwheel(dist):
    """The build tags the wheel for its own machine; auditwheel repair tags
    it manylinux_2_17 (the C++ runtime and glibc stand-ins linked in) and
    grafts nothing: the modules are the built ones."""
    assert dist.local.name == f"kora_ui_native-0.1.0-{TAG}-{TAG}-linux_x86_64.whl"
    assert dist.wheel.name == f"kora_ui_native-0.1.0-{TAG}-{TAG}-manylinux2014_x86_64.manylinux_2_17_x86_64.whl"
    assert wheel_files(dist.wheel) == wheel_files(dist.local)
    report = " ".join(run(sys.executable, "-m", "auditwheel", "show", dist.wheel).split())
    assert 'is consistent with the following platform tag: "manylinux_2_17_x86_64"' in report, report
    assert "libstdc++" not in report, report


def test_wheel_is_reproducible(dist, tmp_path):
    """Built again in other folders: the same bytes, no build path inside."""
    _, local, wheel = wheel_from(dist.sdist, tmp_path / "again")
    assert local.read_bytes() == dist.local.read_bytes()
    assert wheel.read_bytes() == dist.wheel.read_bytes()
    for name, data in wheel_files(dist.wheel).items():
        for path in (ROOT, dist.src, dist.build, tmp_path, Path(sys.base_prefix)):
            assert str(path).encode() not in data, (name, path)


def test_wheel_files_and_metadata(dist):
    files = wheel_files(dist.wheel, info=True)
    assert {n for n in files if not n.startswith(INFO)} == expected(standins=False)
    info = {INFO + n for n in ("METADATA", "WHEEL", "RECORD", "licenses/LICENSE")}
    assert {n for n in files if n.startswith(INFO)} == info
    assert files[INFO + "licenses/LICENSE"] == (ROOT / "LICENSE").read_bytes()
    meta = email.parser.Parser().parsestr(files[INFO + "METADATA"].decode())
    assert (meta["License-Expression"], meta["License-File"]) == ("MIT", "LICENSE")
    assert meta["Author"] and meta["Description-Content-Type"] == "text/markdown"
    assert "Development Status :: 3 - Alpha" in meta.get_all("Classifier")
    assert (meta["Requires-Python"], meta.get_all("Requires-Dist")) == ("==3.15.*", ["kora-ui"])
    urls = dict(u.split(", ", 1) for u in meta.get_all("Project-URL"))
    assert set(urls) == {"Homepage", "Documentation", "Source", "Issues", "Changelog"}
    # Links and images of the long description must resolve on an index page.
    body = meta.get_payload()
    links = re.findall(r"\]\(([^)\s]+)", body) + re.findall(r"""src=["']([^"']+)""", body)
    assert all(urlparse(link).scheme == "https" for link in [*urls.values(), *links]), links


def test_sdist_holds_the_tracked_tree(dist):
    with tarfile.open(dist.sdist) as tar:
        names = {n.split("/", 1)[1] for n in tar.getnames() if "/" in n}
    tracked = set(run("git", "-C", ROOT, "ls-files").split())
    assert {t for t in tracked if not t.startswith(".ci/")} <= names
    assert not {n for n in names if n.split("/")[0] in {".ci", ".git", ".toolchain", "build"}}


def test_install_beside_the_package(dist, package_wheel, tmp_path):
    """Both wheels into one isolated venv in either order, each removed while
    the other stays: every file as its wheel has it."""
    venv = tmp_path / "venv"
    run(sys.executable, "-m", "venv", venv)
    python = venv / "bin" / "python"
    assert run(python, "-c", "import pytest", check=False).returncode != 0, "the venv sees the toolchain's packages"
    site = Path(run(python, "-c", "import sysconfig; print(sysconfig.get_paths()['platlib'])").strip())
    wheels = {"package": (package_wheel, "kora_ui"), "native": (dist.wheel, "kora-ui-native")}
    files = {k: wheel_files(w) for k, (w, _) in wheels.items()}
    assert not set(files["package"]) & set(files["native"])

    def pip(action, kind, *options):
        wheel, name = wheels[kind]
        what = [wheel, "--no-index", *options] if action == "install" else ["-y", name]
        run(python, "-m", "pip", action, *what, cwd=tmp_path)

    def holds(*kinds):
        want = {n: data for k in kinds for n, data in files[k].items()}
        assert tree(site) == set(want)
        assert all((site / n).read_bytes() == data for n, data in want.items())
        if len(kinds) == 2:
            # From an empty directory, so that nothing but the venv supplies kora_ui.
            assert run(python, "-c", CHECK, site, cwd=tmp_path).strip() == "ok"

    pip("install", "native", "--find-links", package_wheel.parent)
    holds("package", "native")
    pip("uninstall", "native")
    holds("package")
    pip("uninstall", "package")
    pip("install", "native", "--no-deps")
    pip("install", "package")
    holds("native", "package")
    pip("uninstall", "package")
    holds("native")


def test_standins_installed_only_on_request(dist, tmp_path):
    # The wheel's CMake build, reconfigured with the stand-ins and installed.
    run("cmake", "-S", dist.src, "-B", dist.build, "-DKORA_INSTALL_STANDINS=ON")
    run("cmake", "--install", dist.build, "--prefix", tmp_path)
    assert tree(tmp_path) == expected(standins=True)
