"""Hostile and unusual use: sub-interpreters, deep reference chains, lying
sequences, argument-shape errors, large inputs."""

import inspect
import os
import subprocess
import sys
import textwrap

import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st
from parser_wording import shape_error

import _quarlo_native as q

NOTES_SUPPORTED = sys.version_info >= (3, 11)
# A module built with AddressSanitizer: slower, and its runtime maps far more
# address space than any limit the memory test sets.
SANITIZED = os.environ.get("QUARLO_SANITIZED") == "1"


def notes(exc):
    return getattr(exc, "__notes__", [])


def run_python(code, *args, timeout=120):
    """Runs `code` with `args` in a fresh interpreter with this process's module path."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code), *args], capture_output=True, text=True,
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


# --------------------------------------------------------- argument shapes

POLICY = q.URLPolicy()
CONFIG = q.SEOConfig("example.com", "https://example.com")


def test_shape_errors_name_the_argument():
    signature = inspect.signature(q.normalize_path_fn)
    with pytest.raises(TypeError) as info:
        q.normalize_path_fn("/a", POLICY, bogus=1)
    assert str(info.value) == shape_error("normalize_path_fn", signature, ("/a", POLICY), {"bogus": 1})
    assert "'bogus'" in str(info.value)
    with pytest.raises(TypeError) as info:
        q.normalize_path_fn("/a", POLICY, path="/b")
    assert str(info.value) == shape_error("normalize_path_fn", signature, ("/a", POLICY), {"path": "/b"})
    assert "'path'" in str(info.value)


def constructible():
    """Every module function and every class with a constructor, with the
    signature it publishes."""
    for name in q.__all__:
        member = getattr(q, name)
        if isinstance(member, type) and (issubclass(member, BaseException) or member.__text_signature__ is None):
            continue  # an exception class, or a class without a constructor
        try:
            signature = inspect.signature(member)
        except ValueError:
            continue
        yield pytest.param(member, signature, id=name)


def wrong_shapes(signature):
    """Calls of the wrong shape for `signature`: (args, kwargs) pairs."""
    params = list(signature.parameters.values())
    positional = [p for p in params if p.kind is p.POSITIONAL_OR_KEYWORD]
    required = [p for p in positional if p.default is p.empty]
    filler = [object()] * len(required)
    shapes = [
        (filler, {"bogus": 1}),
        (filler + [object()] * (len(positional) - len(required) + 1), {}),
    ]
    if params:
        first = params[0].name
        shapes += [
            (filler, {first.upper(): 1}),        # case slip: 3.13 suggests the name
            (filler, {first[:-1]: 1}),           # one letter short
            (filler, {first + "s": 1, "bogus": 2}),
        ]
    if required:
        shapes += [([], {}), (filler, {required[0].name: 1}), (filler[:-1], {})]
        keyword_only = [p for p in params if p.kind is p.KEYWORD_ONLY]
        if keyword_only:
            shapes.append((filler + [object()], {keyword_only[-1].name: None}))
    return shapes


@pytest.mark.parametrize("member, signature", list(constructible()))
def test_shape_errors_match_a_python_function(member, signature):
    name = member.__name__
    for args, kwargs in wrong_shapes(signature):
        try:
            expected = shape_error(name, signature, args, kwargs)
        except AssertionError:
            continue  # that call has the right shape after all
        with pytest.raises(TypeError) as info:
            member(*args, **kwargs)
        assert str(info.value) == expected, (args, kwargs)


def mutated_keyword(names):
    """A keyword near one of `names`: a few random edits away, case slips
    included, or anything at all."""
    edit = st.tuples(st.sampled_from(["insert", "delete", "replace", "case"]), st.integers(0, 40),
                     st.sampled_from("abcdeilmnoprstu_AEX1"))

    def apply(name, edits):
        chars = list(name)
        for kind, position, char in edits:
            i = position % (len(chars) + 1)
            if kind == "insert":
                chars.insert(i, char)
            elif chars and i < len(chars):
                if kind == "delete":
                    del chars[i]
                elif kind == "replace":
                    chars[i] = char
                else:
                    chars[i] = chars[i].swapcase()
        return "".join(chars)

    near = st.builds(apply, st.sampled_from(names), st.lists(edit, max_size=4))
    return st.one_of(near, st.text(st.characters(blacklist_categories=("Cs",)), min_size=1, max_size=12))


CONFIG_SIGNATURE = inspect.signature(q.SEOConfig)


@settings(max_examples=400, deadline=None)
@given(mutated_keyword(list(CONFIG_SIGNATURE.parameters)))
def test_unknown_keyword_wording_matches_the_interpreter(keyword):
    assume(keyword not in CONFIG_SIGNATURE.parameters)
    expected = shape_error("SEOConfig", CONFIG_SIGNATURE, ("example.com", "https://example.com"), {keyword: 1})
    with pytest.raises(TypeError) as info:
        q.SEOConfig("example.com", "https://example.com", **{keyword: 1})
    assert str(info.value) == expected


# ------------------------------------------------------ sequence arguments


class Lying:
    """A sequence that claims `length` items but has only three (honest when
    `length` is 3)."""

    def __init__(self, length, item):
        self.length, self.item = length, item

    def __len__(self):
        return self.length

    def __getitem__(self, index):
        if index >= 3:
            raise IndexError(index)
        return self.item


# (callable, argument name, a valid item)
SEQUENCE_ARGUMENTS = [
    (q.URLPolicy, "allowed_query_params", "page"),
    (q.URLPolicy, "extra_tracking_params", "ref"),
    (lambda **kw: q.SEOConfig("example.com", "https://example.com", **kw), "locale_alternate", "de_DE"),
    (lambda **kw: q.SEOConfig("example.com", "https://example.com", **kw), "schema_type_map", ("post", "Article")),
    (lambda **kw: q.SEOEntity("post", **kw), "same_as", "https://example.org/"),
    (lambda **kw: q.SEOEntity("post", **kw), "breadcrumbs", q.Breadcrumb("Home", "/")),
    (lambda **kw: q.SEOEntity("faq", **kw), "faq_items", q.FAQItem("Q?", "A.")),
]
SEQUENCE_IDS = [name for _, name, _ in SEQUENCE_ARGUMENTS]


@pytest.mark.parametrize("make, name, item", SEQUENCE_ARGUMENTS, ids=SEQUENCE_IDS)
@pytest.mark.parametrize("length", [2**60, 2**40, 10**8])
def test_a_lying_length_reserves_nothing(make, name, item, length):
    # The object's own error, with the argument note; never an internal fault
    # or a MemoryError from sizing storage by the claimed length.
    with pytest.raises(IndexError) as info:
        make(**{name: Lying(length, item)})
    if NOTES_SUPPORTED:
        assert notes(info.value) == [f"while processing '{name}'"]


@pytest.mark.parametrize("make, name, item", SEQUENCE_ARGUMENTS, ids=SEQUENCE_IDS)
@pytest.mark.parametrize("value", [b"ab", bytearray(b"ab"), "ab"], ids=["bytes", "bytearray", "str"])
def test_text_and_bytes_are_not_sequences(make, name, item, value):
    with pytest.raises(TypeError, match=f"^a {type(value).__name__}( object)? is not accepted as a sequence of "):
        make(**{name: value})


@pytest.mark.parametrize("make, name, item", SEQUENCE_ARGUMENTS, ids=SEQUENCE_IDS)
def test_an_honest_custom_sequence_is_accepted(make, name, item):
    make(**{name: Lying(3, item)})


MEMORY_SCRIPT = r"""
import resource, sys
import _quarlo_native as q

def vm_bytes():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024

# Room for 512 MB more than is mapped now.
limit = vm_bytes() + (512 << 20)
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

big = "x" * (1 << 20)

class Endless:
    # Claims ten million items of 1 MB each; copying them cannot fit.
    def __len__(self):
        return 10**7
    def __getitem__(self, index):
        return ITEM(index)

crumb = q.Breadcrumb(big, "/")
cases = [
    ("allowed_query_params", lambda i: big, lambda v: q.URLPolicy(allowed_query_params=v)),
    ("same_as", lambda i: big, lambda v: q.SEOEntity("post", same_as=v)),
    ("breadcrumbs", lambda i: crumb, lambda v: q.SEOEntity("post", breadcrumbs=v)),
    # Distinct keys, so the map grows.
    ("schema_type_map", lambda i: (str(i), big),
     lambda v: q.SEOConfig("example.com", "https://example.com", schema_type_map=v)),
]
for name, ITEM, make in cases:
    try:
        make(Endless())
        print(name, "accepted")
    except MemoryError as exc:
        print(name, "MemoryError", getattr(exc, "__notes__", None))
    except BaseException as exc:
        print(name, type(exc).__name__, exc)
"""


@pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc")
@pytest.mark.skipif(SANITIZED, reason="the sanitizer runtime does not run under an address-space limit")
def test_running_out_of_memory_is_a_memory_error_naming_the_argument():
    done = run_python(MEMORY_SCRIPT)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert len(lines) == 4, done.stdout
    for line in lines:
        name, kind, *rest = line.split(" ", 2)
        assert kind == "MemoryError", line
        if NOTES_SUPPORTED:
            assert rest == [str([f"while processing '{name}'"])], line


SHARED_EXPECTATIONS_SCRIPT = r"""
import os, resource, sys
import _quarlo_native as q

if sys.argv[1] == "limit":
    with open("/proc/self/status") as f:
        mapped = next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmSize:"))
    limit = mapped + (256 << 20)
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

# Each level nests the one below twice: thirty records, a billion objects of text.
e = q.SEOExpectation(one_of=["x" * 100])
for _ in range(30):
    e = q.SEOExpectation(title=e, description=e)
c = q.build_seo_contract(q.SEOContractConfig("example.com", defaults=e, rules=[q.SEOContractRule("/", e)]))
target = os.path.join(sys.argv[2], "c.json")
for call in (c.to_json, c.hash, c.to_dict, lambda: c.write(target)):
    try:
        call()
        print("accepted")
    except Exception as exc:
        print(type(exc).__name__, exc)
print(os.listdir(sys.argv[2]))
"""


def test_shared_nested_expectations_stay_small_and_their_text_is_refused(tmp_path):
    done = run_python(SHARED_EXPECTATIONS_SCRIPT, "none" if SANITIZED else "limit", str(tmp_path))
    assert done.returncode == 0, done.stderr
    refused = "contract text would exceed 268435456 bytes"
    assert done.stdout.splitlines() == [f"ValueError serialization error: {refused}"] * 2 + [
        f"ValueError {refused}", f"OSError serialization error: {refused}", "[]"]


# ------------------------------------------------------------ deep chains

CHAIN_SCRIPT = r"""
import gc, sys, threading
import _quarlo_native as q

how, length = sys.argv[1], int(sys.argv[2])

# n.hooks (or n.schema_registry, alternately) = head; head = n
gc.disable()  # keep the collector out of the building of a million objects
head = tail = q.SEOConfig("example.com", "https://example.com")
for i in range(length - 1):
    node = q.SEOConfig("example.com", "https://example.com")
    setattr(node, "hooks" if i % 2 else "schema_registry", head)
    head = node
del node
if how == "collect":
    tail.hooks = head  # the chain becomes one long cycle
del tail
gc.enable()
holder = [head]
del head

def free():
    if how == "assign":  # through the property setters
        holder[0].hooks = None
        holder[0].schema_registry = None
    holder.clear()
    if how == "collect":
        gc.collect()
    print("freed")

threading.stack_size(256 * 1024)
thread = threading.Thread(target=free)
thread.start()
thread.join()
"""


# A recursive free overflows a 256 KB stack after a few thousand links; the
# sanitized build is many times slower, so its chains are shorter.
@pytest.mark.parametrize("how, length", [("del", 50_000 if SANITIZED else 1_000_000),
                                         ("assign", 50_000 if SANITIZED else 200_000),
                                         ("collect", 50_000 if SANITIZED else 200_000)])
def test_freeing_a_long_chain_uses_constant_stack(tmp_path, how, length):
    script = tmp_path / "chain.py"
    script.write_text(CHAIN_SCRIPT)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    done = subprocess.run([sys.executable, str(script), how, str(length)], capture_output=True, text=True,
                          timeout=300, env=env)
    assert (done.returncode, done.stdout) == (0, "freed\n"), done.stderr


# ------------------------------------------------------------- large inputs


def test_config_to_dict_of_a_large_schema_type_map():
    pairs = [(f"type{i:06d}", f"Schema{i}") for i in reversed(range(32_000))]
    config = q.SEOConfig("example.com", "https://example.com", schema_type_map=pairs)
    type_map = config.to_dict()["schema_type_map"]
    assert list(type_map) == sorted(key for key, _ in pairs)
    assert type_map["type000007"] == "Schema7"
    # The cost per size is watched by bench/python/scaling.py, not here.
