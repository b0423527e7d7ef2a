"""The tracked C++ files are formatted with the repository's .clang-format
(clang-format 14, dry run: nothing is rewritten)."""

import shutil

import pytest

from tooling import ROOT, release_only, run

CLANG_FORMAT = shutil.which("clang-format-14") or shutil.which("clang-format")


@release_only
@pytest.mark.skipif(CLANG_FORMAT is None, reason="clang-format is not installed (Debian package clang-format-14)")
def test_cpp_sources_are_formatted():
    version = run(CLANG_FORMAT, "--version")
    assert "version 14." in version, f"the style is kept with clang-format 14, not {version.strip()}"
    files = run("git", "-C", ROOT, "ls-files", "*.cpp", "*.h", "*.hpp", "*.cc").split()
    assert len(files) > 10
    done = run(CLANG_FORMAT, "--dry-run", "--Werror", *files, cwd=ROOT, check=False)
    assert done.returncode == 0, done.stderr[-6000:]
