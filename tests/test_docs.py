"""docs/api.md against the runtime: its examples run as doctests, every
message it quotes is one that a test checks exactly, its capsule signature
list is the export table, and the sibling-module example builds and works."""

import doctest
import importlib
import pickle
import re
import sysconfig

import pytest

from kora_ui.core.enums import CacheType
from kora_ui.fast.koracache import koracache
from kora_ui.fast.krshader.krshader import KrShader
from kora_ui.fast.raylib import kora_raylib as kr
import kora_capi_consumer as consumer
import test_cache
import test_errors
from test_boundaries import RANGES
from test_draw import KRVEC_EZ
from test_entry_points import NAMES, NOT_SET
from test_foundation import capi
from test_frame_args import COUNTS, RAYLIB, TEX, params, refusals
from tooling import ROOT, SRC, run

TEXT = (ROOT / "docs" / "api.md").read_text()


def test_examples_run(rec):
    blocks = re.findall(r"```pycon\n(.*?)```", TEXT, re.S)
    assert len(blocks) == 2
    parser, runner = doctest.DocTestParser(), doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    for i, block in enumerate(blocks):
        names = {"raylib_addresses": rec.addresses(), "texture": TEX}
        runner.run(parser.get_doctest(block, names, f"api.md example {i + 1}", "docs/api.md", 0))
    assert runner.summarize(verbose=False).failed == 0
    assert [c[0] for c in rec.calls()] == ["BeginDrawing", "ClearBackground", "EndDrawing", "DrawTextureRec"]


def checked_messages():
    """`Error: message` of every failure the suite checks exactly."""
    rows = [row[1:3] for row in [*test_errors.ERRORS.values(), *test_cache.UNPICKLING]]
    rows += [(call[1], call[2]) for call in test_cache.ERRORS.values()]
    rows += [(TypeError, f"{name}() {message}") for name, _, _, message in COUNTS]
    rows += [r[1:] for name in RAYLIB for p in params(getattr(kr, name)) for r in refusals(name, p)]
    rows += [(RuntimeError, NOT_SET.format(name)) for name in NAMES]
    rows += [(OverflowError, message) for row in RANGES for message in row[3:]]
    rows += [(exc, msg) for _, _, exc, msg in KRVEC_EZ if exc]
    return {f"{'pickle.' * (exc is pickle.PickleError)}{exc.__qualname__}: {msg}" for exc, msg in rows}


def quoted_messages():
    """`Error: message` spans of the document outside code blocks, and the
    argument messages (`name() ...`) of its calling table, which are TypeErrors."""
    prose = re.sub(r"```.*?```", "", TEXT, flags=re.S)
    found = set()
    for span in re.findall(r"`([^`]+)`", prose):
        span = " ".join(span.split())
        if re.fullmatch(r"[\w.]+(Error|Exception): .+", span):
            found.add(span)
        elif re.fullmatch(r"\w+\(\) (takes|got|keywords) .+", span):
            found.add(f"TypeError: {span}")
    return found


def test_every_quoted_message_is_raised_exactly_so():
    assert quoted_messages() - checked_messages() == set()


def test_doc_lists_every_capsule_signature():
    block = re.search(r"```text\n(.*?)```", TEXT, re.S).group(1)
    documented = [tuple(line.split(None, 1)) for line in block.splitlines()]
    table = kr.__pyx_capi__
    assert documented == [(n, capi.PyCapsule_GetName(c).decode()) for n, c in table.items()]  # in the table's order
    pointers = {consumer.capsule_pointer(n, s) for n, s in documented}
    assert len(pointers) == len(table) and None not in pointers


def test_doc_example_compiles(tmp_path, rec, monkeypatch):
    """docs/examples/sibling_module.cpp builds against the toolchain's Python
    headers and src/, imports (taking its routines by signature) and calls
    through the routines and the method table."""
    include = sysconfig.get_paths()["include"]
    target = tmp_path / f"sibling_module{sysconfig.get_config_var('EXT_SUFFIX')}"
    run("g++", "-std=c++20", "-shared", "-fPIC", "-Wall", "-Wextra", "-Werror",
        "-I", include, "-I", include.rpartition("/")[0], "-I", SRC,
        ROOT / "docs" / "examples" / "sibling_module.cpp", "-o", target)
    monkeypatch.syspath_prepend(tmp_path)
    sibling = importlib.import_module("sibling_module")

    assert sibling.blank() is None
    rec.map_location("u_time", 7)
    assert sibling.location(KrShader(5, 0x40), "u_time") == 7
    assert sibling.location(KrShader(5, 0x40), "u_other") == -1
    assert rec.calls() == [("ClearBackground", (0, 0, 0, 0)),
                           ("GetShaderLocation", (5, 0x40), "u_time"),
                           ("GetShaderLocation", (5, 0x40), "u_other")]
    with pytest.raises(AttributeError, match="encode"):
        sibling.location(KrShader(5, 0x40), None)
    cache = koracache.Cache()
    assert sibling.remember(cache, CacheType.FONT.value, "a") == "a"
    assert sibling.remember(cache, CacheType.FONT.value, "b") == "a"
    assert cache.FONT == "a"
