"""The stub (quorlib/__init__.pyi) agrees with the module, mypy --strict accepts the example
and a typed script, and help() documents every member."""
import ast
import builtins
import inspect
import os
import subprocess
import sys

import pytest

import quorlib

PACKAGE = os.path.dirname(quorlib.__file__)
SOURCE = os.environ["QUOR_SOURCE_DIR"]


def stub_tree():
    with open(os.path.join(PACKAGE, "__init__.pyi"), encoding="utf-8") as file:
        return ast.parse(file.read())


def test_the_stub_names_every_public_name_and_the_same_parameters_in_the_same_order():
    tree = stub_tree()
    names = set()
    for node in tree.body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            names.add(node.name)
        elif isinstance(node, ast.AnnAssign):
            names.add(node.target.id)
        elif isinstance(node, ast.ImportFrom) and node.level:  # the package's own modules
            names.update(alias.asname or alias.name for alias in node.names)
    assert names == set(quorlib.__all__)

    stub_pulsyn = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == "Pulsyn")
    stubbed = {}
    for node in stub_pulsyn.body:
        if isinstance(node, ast.FunctionDef):
            stubbed.setdefault(node.name, [a.arg for a in node.args.args])
    public = {name for name in dir(quorlib.Pulsyn) if not name.startswith("_")} | {"__init__", "__enter__", "__exit__"}
    assert set(stubbed) == public
    for name, parameters in stubbed.items():
        member = getattr(quorlib.Pulsyn, name)
        if isinstance(member, property):
            continue
        assert list(inspect.signature(member).parameters) == parameters, name

    for node in tree.body:  # the exceptions derive from the same classes
        if isinstance(node, ast.ClassDef) and issubclass(getattr(quorlib, node.name), BaseException):
            bases = [getattr(quorlib, b.id, None) or getattr(builtins, b.id) for b in node.bases]
            assert getattr(quorlib, node.name).__bases__ == tuple(bases), node.name

    for enumeration in (quorlib.ChannelModes, quorlib.ChannelShapes):
        node = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == enumeration.__name__)
        values = {a.targets[0].id: a.value.value for a in node.body if isinstance(a, ast.Assign)}
        assert values == {m.name: m.value for m in enumeration}


def test_help_documents_every_member_and_the_exceptions():
    for name in dir(quorlib.Pulsyn):
        if not name.startswith("_") or name in ("__init__", "__enter__", "__exit__"):
            doc = inspect.getdoc(getattr(quorlib.Pulsyn, name))
            assert doc and len(doc) > 40, name
    text = inspect.getdoc(quorlib.Pulsyn)
    assert all(word in text for word in ("port", "timeout", "QUORLIB_PORT", "with", "NotConnectedError"))
    for error in (quorlib.Error, quorlib.ArgumentError, quorlib.PortError, quorlib.NotConnectedError,
                  quorlib.PortLostError, quorlib.NoReplyError, quorlib.list_ports, quorlib.PortInfo):
        assert inspect.getdoc(error), error
    assert quorlib.__version__ == open(os.path.join(SOURCE, "CMakeLists.txt")).read().split(
        "project(QuorLib VERSION ")[1].split()[0]


TYPED_SCRIPT = '''
import quorlib

def program(port: str) -> bool:
    with quorlib.Pulsyn(port=port, timeout=2.0) as p:
        p.ChangeChannelMode(1, quorlib.cmTrain)
        accepted: bool = p.SetChannelDelay(1, 0.025)
        p.Trigger(1)
        return accepted and p.Connected

def chosen() -> str:
    return next(port.device for port in quorlib.list_ports() if port.chosen)

try:
    program("COM7")
except quorlib.PortError as error:
    print(error.errno)
'''


def test_mypy_strict_accepts_the_example_and_a_typed_script_and_refuses_a_wrong_call(tmp_path):
    if subprocess.run([sys.executable, "-m", "mypy", "--version"], capture_output=True).returncode != 0:
        pytest.skip("mypy is not installed (python3-mypy; ./scripts/setup.sh installs it)")
    typed = tmp_path / "typed.py"
    typed.write_text(TYPED_SCRIPT)
    wrong = tmp_path / "wrong.py"
    wrong.write_text("import quorlib\nquorlib.Pulsyn().Trigger('1')\n")
    command = [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path / "cache")]
    modules = [os.path.join(PACKAGE, name) for name in ("cli.py", "_ports.py", "_traffic.py", "_errors.py")]
    run = subprocess.run(command + [os.path.join(SOURCE, "examples", "session_linux.py"), str(typed), *modules],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
    run = subprocess.run(command + [str(wrong)], capture_output=True, text=True, timeout=300)
    assert run.returncode == 1 and 'incompatible type "str"' in run.stdout, run.stdout
