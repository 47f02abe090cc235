"""Hostile and unusual use: sub-interpreters, deep reference chains, lying
sequences, argument-shape errors, large inputs."""

import inspect
import os
import subprocess
import sys
import textwrap

import pytest
from parser_wording import shape_error

import _quarlo_native as q

NOTES_SUPPORTED = sys.version_info >= (3, 11)


def notes(exc):
    return getattr(exc, "__notes__", [])


def run_python(code, timeout=120):
    """Runs `code` in a fresh interpreter with this process's module path."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout, env=env)


# ------------------------------------------------------------ sub-interpreters

SUBINTERPRETER_SCRIPT = r"""
import sys
try:
    import _interpreters as interpreters  # 3.13
    configs = [("isolated",), ("legacy",)]
except ImportError:
    import _xxsubinterpreters as interpreters  # 3.10 to 3.12
    configs = [{}]
    if sys.version_info >= (3, 12):
        configs = [{"isolated": True}, {"isolated": False}]
import _quarlo_native as q

RESULT = sys.argv[1]
SCRIPT = '''
try:
    import _quarlo_native as q
    q.SEOEntity("bad")
    outcome = "imported"
except ImportError as exc:
    outcome = "ImportError: " + str(exc)
except Exception as exc:
    outcome = "imported: " + type(exc).__name__
with open(%r, "a") as f:
    f.write(outcome + "\\n")
''' % RESULT

for config in configs:
    iid = interpreters.create(*config) if isinstance(config, tuple) else interpreters.create(**config)
    interpreters.run_string(iid, SCRIPT)
    interpreters.destroy(iid)

# The main interpreter is unaffected.
try:
    q.SEOEntity("bad")
except q.EntityError:
    print("main interpreter fine")
"""


def test_sub_interpreters_are_refused_at_import(tmp_path):
    probe = run_python("import importlib.util as u; print(bool(u.find_spec('_interpreters') or "
                       "u.find_spec('_xxsubinterpreters')))")
    if probe.stdout.strip() != "True":
        pytest.skip("this interpreter has no sub-interpreter module")
    result_file = tmp_path / "outcomes.txt"
    script = tmp_path / "sub.py"
    script.write_text(SUBINTERPRETER_SCRIPT)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    done = subprocess.run([sys.executable, str(script), str(result_file)], capture_output=True, text=True,
                          timeout=30, env=env)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "main interpreter fine"
    outcomes = result_file.read_text().splitlines()
    assert outcomes, "the sub-interpreter script did not run"
    for outcome in outcomes:
        # The interpreter itself may refuse first (an isolated interpreter and
        # a module that declares no support); either way nothing is imported.
        assert outcome.startswith("ImportError: "), outcome
    # Unless the interpreter refused every one itself, the module's own
    # refusal was met.
    ours = [o for o in outcomes if "does not support loading in subinterpreters" not in o]
    assert all("only be imported in the main interpreter" in o for o in ours)
    if sys.version_info < (3, 12):
        assert ours


def test_core_errors_still_map_in_the_main_interpreter():
    with pytest.raises(q.EntityError, match="got 'bad'"):
        q.SEOEntity("bad")
