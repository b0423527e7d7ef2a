"""A declaration that breaks a rule does not compile, and the message names
the rule and the parameter (its index in `ParamRule<declaration, I>`), under
both compilers."""

import shutil
import sysconfig

import pytest

from tooling import ROOT, release_only, run

INCLUDE = sysconfig.get_paths()["include"]
PREFIX = "#include \"kora_ui/fast/common/function.h\"\nusing namespace kora;\n" \
         "constexpr ModuleIdentity kProbe{\"probe\"};\nstruct Record { PyObject ob_base; };\n"
# routine, declaration items, the rule broken, the parameter's index
CASES = {
    "truth on an object": ("void r(int, PyObject *)", 'arg("a"), truth("flag")',
                           "truth() needs an integer routine parameter", 1),
    "record without a type test": ("void r(Record *)", 'arg("o")',
                                   "an instance-record parameter needs exact(), subtype() or instance()", 0),
    "type test on a converted": ("void r(PyObject *, int)", 'arg("a"), not_none("n")',
                                 "a converted parameter takes no type test and no default", 1),
    "required after optional": ("void r(PyObject *, PyObject *, PyObject *)", 'arg("a"), optional("b"), arg("c")',
                                "a required parameter follows an optional one", 2),
}


@release_only
@pytest.mark.parametrize("compiler", ["g++", "clang++"])
@pytest.mark.parametrize("case", CASES)
def test_wrong_declaration_names_rule_and_parameter(tmp_path, compiler, case):
    if shutil.which(compiler) is None:
        pytest.skip(f"{compiler} is not installed")
    routine, items, rule, index = CASES[case]
    source = tmp_path / "wrong.cpp"
    source.write_text(PREFIX + f"{routine} {{}}\nconstexpr auto d_wrong = function<r>(kProbe, \"f\", {items});\n"
                      "const FuncDef *p = def_of<d_wrong>;\n")
    done = run(compiler, "-std=c++20", "-fsyntax-only", f"-I{ROOT / 'src'}", f"-I{INCLUDE}",
               f"-I{INCLUDE}/..", source, check=False)
    assert done.returncode != 0
    assert f"declaration rule broken: {rule}" in done.stderr
    assert f"ParamRule<d_wrong, {index}>" in done.stderr
