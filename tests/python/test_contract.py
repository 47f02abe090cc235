"""Contract classes (SEOExpectation, SEOContractRule, SEOContractConfig,
SEOContract), build_seo_contract and the native SchemaRegistry."""

import hashlib
import inspect
import os
import pathlib
import pwd
import shutil
import stat
import sys
import tempfile
import threading
import warnings

import pytest

import _quarlo_native as native
from _quarlo_native import (
    SchemaRegistry,
    SEOContract,
    SEOContractConfig,
    SEOContractRule,
    SEOExpectation,
    build_seo_contract,
)
from parser_wording import shape_error
from leakcheck import traced_growth

HAS_NOTES = sys.version_info >= (3, 11)
DATA = pathlib.Path(__file__).parent / "data"
MAX_NESTING = 64
SHARED = SEOExpectation(max_length=1)


def assert_note(exc, name):
    if HAS_NOTES:
        assert exc.__notes__ == [f"while processing '{name}'"]


def contract(host="example.com", **kwargs):
    return build_seo_contract(SEOContractConfig(host, **kwargs))


def full_config():
    defaults = SEOExpectation(
        required=True, forbidden=False, equals='a"b', not_equals="c\\d", contains="caf\u00e9/\u2615",
        matches="^/blog/[a-z]+$", one_of=("x", "y"), min_length=0, max_length=2**64 - 1, min_items=1,
        max_items=5, indexable=True, canonical="self", schema_required=True, schema_types=["Article", "BlogPosting"],
        og_required=False, twitter_required=True, sitemap_required=True, hreflang_required=False,
        title=SEOExpectation(max_length=60, title=SEOExpectation()),
        description=SEOExpectation(min_length=50, max_length=160),
    )
    rules = [
        SEOContractRule("/blog/*", SEOExpectation(schema_types=["Article"]), severity="warning"),
        SEOContractRule("/blog/*", SEOExpectation(indexable=False)),
        SEOContractRule("/docs/**", SEOExpectation(), severity="info"),
        SEOContractRule("/shop/*", SEOExpectation(one_of=[]), severity="WARNING"),
        SEOContractRule("", SEOExpectation(required=False), severity="error"),
    ]
    exceptions = [
        ("/b", SEOExpectation(forbidden=True)),
        ('/tab\there "q"', SEOExpectation(canonical="other")),
        ("/caf\u00e9", SEOExpectation()),
        ("/ctl\x01\x1f\b\f\n\r", SEOExpectation(schema_required=False)),
        ("/a", SEOExpectation(max_length=1)),
        ("/b", SEOExpectation(required=True)),
    ]
    return SEOContractConfig("www.example.com", scheme="http", defaults=defaults, rules=tuple(rules),
                             exceptions=exceptions)


# ------------------------------------------------------------------ class surface

@pytest.mark.parametrize("cls", [SEOExpectation, SEOContractRule, SEOContractConfig, SEOContract, SchemaRegistry])
def test_final_and_immutable(cls):
    assert getattr(native, cls.__name__) is cls
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    with pytest.raises(TypeError):
        cls.extra = 1


def test_contract_is_uninstantiable():
    with pytest.raises(TypeError):
        SEOContract()
    with pytest.raises(TypeError):
        SEOContract.__new__(SEOContract)


@pytest.mark.parametrize(
    "make, attrs",
    [
        (lambda: SEOExpectation(), ["required", "indexable", "canonical", "title"]),
        (lambda: SEOContractRule("/x", SEOExpectation()), ["match", "expect", "severity"]),
        (lambda: contract(), ["contract_version", "site"]),
    ],
)
def test_properties_are_read_only(make, attrs):
    obj = make()
    for attr in attrs:
        with pytest.raises(AttributeError):
            setattr(obj, attr, None)


# ------------------------------------------------------------------ expectations

def test_expectation_properties():
    empty = SEOExpectation()
    assert (empty.required, empty.indexable, empty.canonical) == (None, None, None)
    e = SEOExpectation(required=False, indexable=True, canonical="self")
    assert (e.required, e.indexable, e.canonical) == (False, True, "self")
    assert not hasattr(e, "forbidden") and not hasattr(e, "min_length")


@pytest.mark.parametrize(
    "kwargs, expected",
    [
        ({}, {}),
        ({"max_length": 60}, {"max_length": 60}),
        ({"min_items": True}, {"min_items": 1}),
        ({"og_required": False}, {"open_graph": {"required": False}}),
        ({"schema_required": True, "schema_types": ["Article"]}, {"schema": {"required": True, "types": ["Article"]}}),
        ({"schema_required": False}, {"schema": {"required": False}}),
        # types alone are kept: the caller meant them
        ({"schema_types": ("Product",)}, {"schema": {"types": ["Product"]}}),
        ({"schema_types": []}, {"schema": {"types": []}}),
        ({"one_of": []}, {"one_of": []}),
        ({"equals": "", "forbidden": True}, {"equals": "", "forbidden": True}),
        ({"required": None, "title": None, "one_of": None}, {}),
        ({"min_length": 10, "max_length": 5, "required": True, "forbidden": True},
         {"forbidden": True, "max_length": 5, "min_length": 10, "required": True}),
        # one nested expectation under both: written out at each place
        ({"title": SHARED, "description": SHARED}, {"title": {"max_length": 1}, "description": {"max_length": 1}}),
    ],
)
def test_expectation_fields(kwargs, expected):
    assert contract(defaults=SEOExpectation(**kwargs)).to_dict()["defaults"] == expected


@pytest.mark.parametrize(
    "kwargs, exc, message, name",
    [
        ({"one_of": "abc"}, TypeError, "a str is not accepted as a sequence of str", "one_of"),
        ({"schema_types": "Article"}, TypeError, "a str is not accepted as a sequence of str", "schema_types"),
        ({"one_of": [1]}, TypeError, "'int' object is not an instance of 'str'", "one_of"),
        ({"one_of": 5}, TypeError, "'int' object is not an instance of 'Sequence'", "one_of"),
        ({"min_length": -1}, OverflowError, "can't convert negative int to unsigned", "min_length"),
        ({"max_items": -2**70}, OverflowError, "can't convert negative int to unsigned", "max_items"),
        ({"max_length": 2**64}, OverflowError, "Python int too large to convert to C unsigned long long",
         "max_length"),
        ({"min_items": 1.0}, TypeError, "'float' object cannot be interpreted as an integer", "min_items"),
        ({"min_items": "1"}, TypeError, "'str' object cannot be interpreted as an integer", "min_items"),
        ({"required": 1}, TypeError, "'int' object is not an instance of 'bool'", "required"),
        ({"hreflang_required": "yes"}, TypeError, "'str' object is not an instance of 'bool'", "hreflang_required"),
        ({"canonical": b"self"}, TypeError, "'bytes' object is not an instance of 'str'", "canonical"),
        ({"title": {}}, TypeError, "'dict' object is not an instance of 'SEOExpectation'", "title"),
        ({"description": SEOContractRule("/", SEOExpectation())}, TypeError,
         "'SEOContractRule' object is not an instance of 'SEOExpectation'", "description"),
        # the first bad argument in signature order is reported
        ({"description": 1, "required": 2}, TypeError, "'int' object is not an instance of 'bool'", "required"),
    ],
)
def test_expectation_argument_errors(kwargs, exc, message, name):
    with pytest.raises(exc) as info:
        SEOExpectation(**kwargs)
    assert str(info.value) == message
    assert_note(info.value, name)


@pytest.mark.parametrize(
    "args, kwargs",
    [((1,), {}), ((), {"unknown": 1}), ((), {"Required": True})],
)
def test_expectation_call_shape(args, kwargs):
    signature = inspect.signature(SEOExpectation)
    with pytest.raises(TypeError) as info:
        SEOExpectation(*args, **kwargs)
    assert str(info.value) == shape_error("SEOExpectation", signature, args, kwargs)


def test_max_length_full_range():
    c = contract(defaults=SEOExpectation(max_length=2**64 - 1, min_length=2**63 - 1))
    assert '"min_length": 9223372036854775807,\n    "max_length": 18446744073709551615\n' in c.to_json()
    # beyond the signed range the dict form holds the nearest float
    assert c.to_dict()["defaults"] == {"max_length": float(2**64), "min_length": 2**63 - 1}


@pytest.mark.parametrize("field", ["title", "description"])
def test_nesting_is_capped(field):
    e = SEOExpectation(max_length=1)
    levels = 1
    with pytest.raises(ValueError) as info:
        for _ in range(100_000):
            e = SEOExpectation(**{field: e})
            levels += 1
    assert levels == MAX_NESTING
    assert str(info.value) == f"expectations nest deeper than {MAX_NESTING} levels"
    assert_note(info.value, field)

    # The deepest allowed expectation goes through every operation.
    c = contract(defaults=e, rules=[SEOContractRule("/", e)], exceptions=[("/", e)])
    depth, node = 0, c.to_dict()["defaults"]
    while field in node:
        depth, node = depth + 1, node[field]
    assert depth == MAX_NESTING - 1 and node == {"max_length": 1}
    assert c.to_json().count(f'"{field}"') == 3 * (MAX_NESTING - 1)
    assert hashlib.sha256(c.to_json().encode()).hexdigest() == c.hash()


def test_nesting_counts_the_deeper_branch():
    shallow = SEOExpectation()
    deep = SEOExpectation()
    for _ in range(MAX_NESTING - 2):
        deep = SEOExpectation(description=deep)
    SEOExpectation(title=shallow, description=deep)  # 64 levels
    with pytest.raises(ValueError):
        SEOExpectation(title=SEOExpectation(description=deep), description=shallow)


# ------------------------------------------------------------------------- rules

def test_rule_properties():
    expect = SEOExpectation(required=True)
    rule = SEOContractRule("/blog/*", expect, severity="WARNING")
    assert (rule.match, rule.severity) == ("/blog/*", "WARNING")
    first, second = rule.expect, rule.expect
    assert type(first) is SEOExpectation and first is not expect and first is not second
    assert first.required is True
    assert SEOContractRule(match="/", expect=expect).severity is None


@pytest.mark.parametrize(
    "args, kwargs, exc, message, name",
    [
        ((1, SEOExpectation()), {}, TypeError, "'int' object is not an instance of 'str'", "match"),
        ((None, SEOExpectation()), {}, TypeError, "'None' is not an instance of 'str'", "match"),
        (("/",), {"expect": None}, TypeError, "'None' is not an instance of 'SEOExpectation'", "expect"),
        (("/", {}), {}, TypeError, "'dict' object is not an instance of 'SEOExpectation'", "expect"),
        (("/", SEOExpectation()), {"severity": 3}, TypeError, "'int' object is not an instance of 'str'",
         "severity"),
    ],
)
def test_rule_argument_errors(args, kwargs, exc, message, name):
    with pytest.raises(exc) as info:
        SEOContractRule(*args, **kwargs)
    assert str(info.value) == message
    assert_note(info.value, name)


@pytest.mark.parametrize(
    "args, kwargs",
    [((), {}), (("/",), {}), (("/", SEOExpectation(), "warning"), {}), (("/", SEOExpectation()), {"match": "/"})],
)
def test_rule_call_shape(args, kwargs):
    with pytest.raises(TypeError) as info:
        SEOContractRule(*args, **kwargs)
    assert str(info.value) == shape_error("SEOContractRule", inspect.signature(SEOContractRule), args, kwargs)


@pytest.mark.parametrize(
    "severity, written",
    [(None, None), ("info", "Info"), ("warning", "Warning"), ("error", "Error"), ("Error", "Error"),
     ("WARNING", "Error"), ("Info", "Error"), ("", "Error"), ("warn", "Error"), (" info", "Error")],
)
def test_rule_severity_words(severity, written):
    rule = SEOContractRule("/", SEOExpectation(), severity=severity)
    assert rule.severity == severity
    (entry,) = contract(rules=[rule]).to_dict()["rules"]
    assert entry.get("severity") == written
    assert ('"severity"' in contract(rules=[rule]).to_json()) is (written is not None)


# ------------------------------------------------------------------------ config

@pytest.mark.parametrize(
    "args, kwargs, exc, message, name",
    [
        ((None,), {}, TypeError, "'None' is not an instance of 'str'", "canonical_host"),
        (("h",), {"scheme": None}, TypeError, "'None' is not an instance of 'str'", "scheme"),
        (("h",), {"defaults": SEOContractRule("/", SEOExpectation())}, TypeError,
         "'SEOContractRule' object is not an instance of 'SEOExpectation'", "defaults"),
        (("h",), {"rules": "/blog/*"}, TypeError, "a str is not accepted as a sequence of SEOContractRule", "rules"),
        (("h",), {"rules": b"/blog/*"}, TypeError, "a bytes object is not accepted as a sequence of SEOContractRule",
         "rules"),
        (("h",), {"rules": SEOContractRule("/", SEOExpectation())}, TypeError,
         "'SEOContractRule' object is not an instance of 'Sequence'", "rules"),
        (("h",), {"rules": [SEOExpectation()]}, TypeError,
         "'SEOExpectation' object is not an instance of 'SEOContractRule'", "rules"),
        (("h",), {"exceptions": {"/a": SEOExpectation()}}, TypeError,
         "'dict' object is not an instance of 'Sequence'", "exceptions"),
        (("h",), {"exceptions": "/a"}, TypeError, "a str is not accepted as a sequence of (str, SEOExpectation) tuples", "exceptions"),
        (("h",), {"exceptions": [["/a", SEOExpectation()]]}, TypeError,
         "'list' object is not an instance of 'tuple'", "exceptions"),
        (("h",), {"exceptions": [("/a",)]}, TypeError,
         "expected a tuple of length 2, got a tuple of length 1", "exceptions"),
        (("h",), {"exceptions": [("/a", SEOExpectation(), None)]}, TypeError,
         "expected a tuple of length 2, got a tuple of length 3", "exceptions"),
        (("h",), {"exceptions": [(1, SEOExpectation())]}, TypeError, "'int' object is not an instance of 'str'",
         "exceptions"),
        (("h",), {"exceptions": [("/a", None)]}, TypeError, "'None' is not an instance of 'SEOExpectation'",
         "exceptions"),
    ],
)
def test_config_argument_errors(args, kwargs, exc, message, name):
    with pytest.raises(exc) as info:
        SEOContractConfig(*args, **kwargs)
    assert str(info.value) == message
    assert_note(info.value, name)


@pytest.mark.parametrize("args, kwargs", [((), {}), (("h", "http"), {}), (("h",), {"host": "x"})])
def test_config_call_shape(args, kwargs):
    with pytest.raises(TypeError) as info:
        SEOContractConfig(*args, **kwargs)
    assert str(info.value) == shape_error("SEOContractConfig", inspect.signature(SEOContractConfig), args, kwargs)


def test_exceptions_sorted_and_last_pair_wins():
    first, second, third = (SEOExpectation(max_length=n) for n in (1, 2, 3))
    c = contract(exceptions=[("/b", first), ("/a", second), ("/b", third)])
    assert list(c.to_dict()["exceptions"].items()) == [("/a", {"max_length": 2}), ("/b", {"max_length": 3})]
    text = c.to_json()
    assert text.index('"/a"') < text.index('"/b"')


def test_exceptions_sorted_by_bytes():
    routes = ["/\u00e9", "/z", "/\U0001f600", "/Z", "/\uffff"]
    c = contract(exceptions=[(route, SEOExpectation()) for route in routes])
    assert list(c.to_dict()["exceptions"]) == sorted(routes, key=lambda r: r.encode())


def test_config_arguments_are_copied():
    rules = [SEOContractRule("/a", SEOExpectation())]
    config = SEOContractConfig("h", rules=rules)
    rules.append(SEOContractRule("/b", SEOExpectation()))
    assert [r["match"] for r in build_seo_contract(config).to_dict()["rules"]] == ["/a"]


# ---------------------------------------------------------------------- contract

def test_minimal_contract_text():
    c = contract()
    assert c.to_json() == (DATA / "contract_minimal.json").read_text(encoding="utf-8")
    assert c.contract_version == "1"
    assert c.site == {"canonical_host": "example.com", "scheme": "https"}
    assert list(c.site) == ["canonical_host", "scheme"]
    assert c.to_dict() == {"contract_version": "1", "defaults": {}, "exceptions": {},
                           "generator": {"name": "quarlo", "version": "0.2.0"}, "rules": [],
                           "site": {"canonical_host": "example.com", "scheme": "https"}}
    assert list(c.to_dict()) == ["contract_version", "defaults", "exceptions", "generator", "rules", "site"]


def test_full_contract_text():
    c = build_seo_contract(full_config())
    assert c.to_json() == (DATA / "contract_full.json").read_text(encoding="utf-8")
    assert c.site == {"canonical_host": "www.example.com", "scheme": "http"}


def test_dict_form_sorts_keys_at_every_level():
    d = build_seo_contract(full_config()).to_dict()
    assert list(d["defaults"]) == sorted(d["defaults"])
    assert list(d["defaults"]["schema"]) == ["required", "types"]
    assert list(d["rules"][0]) == ["expect", "match", "severity"]
    assert d["defaults"]["max_length"] == float(2**64) and type(d["defaults"]["max_length"]) is float
    assert d["defaults"]["min_items"] == 1 and type(d["defaults"]["min_items"]) is int


def test_unusual_site_values_pass_through():
    c = contract("", scheme="ftp")
    assert c.site == {"canonical_host": "", "scheme": "ftp"}


def test_each_read_is_new():
    c = contract()
    assert c.site is not c.site and c.to_dict() is not c.to_dict()
    c.site["scheme"] = "x"
    assert c.site["scheme"] == "https"


@pytest.mark.parametrize("make", [contract, lambda: build_seo_contract(full_config())])
def test_hash(make):
    c = make()
    digest = c.hash()
    assert len(digest) == 64 and digest == digest.lower()
    assert digest == hashlib.sha256(c.to_json().encode("utf-8")).hexdigest() == c.hash()
    assert make().hash() == digest  # built again from equal input


def test_build_argument_errors():
    with pytest.raises(TypeError) as info:
        build_seo_contract(SEOExpectation())
    assert str(info.value) == "'SEOExpectation' object is not an instance of 'SEOContractConfig'"
    assert_note(info.value, "config")
    with pytest.raises(TypeError) as info:
        build_seo_contract()
    assert str(info.value) == shape_error("build_seo_contract", inspect.signature(build_seo_contract))


# ------------------------------------------------------------------------- write

def test_write_matches_text_and_hash(tmp_path):
    c = build_seo_contract(full_config())
    target = tmp_path / "contract.json"
    assert c.write(str(target)) is None
    data = target.read_bytes()
    assert data == c.to_json().encode("utf-8")
    assert hashlib.sha256(data).hexdigest() == c.hash()
    assert sorted(os.listdir(tmp_path)) == ["contract.json"]  # no temporary file left


def test_write_replaces_and_keeps_mode(tmp_path):
    target = tmp_path / "contract.json"
    target.write_text("old contract, longer than the new one" * 10)
    target.chmod(0o640)
    contract().write(path=str(target))
    assert target.read_text() == contract().to_json()
    assert stat.S_IMODE(target.stat().st_mode) == 0o640


def test_new_file_gets_umask_mode(tmp_path):
    old = os.umask(0o022)
    try:
        contract().write(str(tmp_path / "c.json"))
    finally:
        os.umask(old)
    assert stat.S_IMODE((tmp_path / "c.json").stat().st_mode) == 0o644


def test_write_through_symbolic_link(tmp_path):
    real = tmp_path / "real.json"
    real.write_text("old")
    link = tmp_path / "link.json"
    link.symlink_to("real.json")
    contract().write(str(link))
    assert link.is_symlink() and real.read_text() == contract().to_json()


def write_error(path):
    with pytest.raises(OSError) as info:
        contract().write(path)
    exc = info.value
    assert type(exc) is OSError and len(exc.args) == 1
    assert not isinstance(exc, native.QuarloError)
    return exc.args[0]


def test_write_into_missing_directory(tmp_path):
    assert write_error(str(tmp_path / "missing" / "c.json")) == (
        "serialization error: failed to write contract: No such file or directory")
    assert not (tmp_path / "missing").exists()


def test_write_to_a_directory(tmp_path):
    (tmp_path / "dir").mkdir()
    (tmp_path / "dir" / "keep").write_text("x")
    assert write_error(str(tmp_path / "dir")) == "serialization error: failed to write contract: Is a directory"
    assert sorted(os.listdir(tmp_path)) == ["dir"] and os.listdir(tmp_path / "dir") == ["keep"]
    assert write_error("") == "serialization error: failed to write contract: No such file or directory"


# Where permissions matter the writer must not be root, who may write
# anything: as root, the write runs in a child process that has dropped to
# the unprivileged user nobody.
ROOT = os.geteuid() == 0
WRITER = pwd.getpwnam("nobody") if ROOT else pwd.getpwuid(os.geteuid())


def write_as_writer(path):
    """contract().write(path) by WRITER: None, or the OSError's text."""
    if not ROOT:
        try:
            contract().write(path)
        except OSError as exc:
            return exc.args[0]
        return None
    read_end, write_end = os.pipe()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork with other threads alive
        pid = os.fork()
    if pid == 0:  # the child: report through the pipe, never return into pytest
        status = 1
        try:
            os.close(read_end)
            os.setgroups([])
            os.setgid(WRITER.pw_gid)
            os.setuid(WRITER.pw_uid)
            try:
                contract().write(path)
                report = "ok"
            except OSError as exc:
                report = "error:" + exc.args[0]
            os.write(write_end, report.encode())
            status = 0
        finally:
            os._exit(status)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as reader:
        report = reader.read().decode()
    assert os.waitpid(pid, 0)[1] == 0
    return None if report == "ok" else report.removeprefix("error:")


@pytest.fixture
def writer_dir():
    """An empty directory that WRITER owns (and may reach)."""
    base = tempfile.mkdtemp(prefix="quarlo-contract-", dir="/tmp" if ROOT else None)
    os.chmod(base, 0o755)
    path = os.path.join(base, "d")
    os.mkdir(path)
    os.chown(path, WRITER.pw_uid, WRITER.pw_gid)
    try:
        yield pathlib.Path(path)
    finally:
        os.chmod(path, 0o700)
        shutil.rmtree(base)


def owned_file(path, mode, owner=None):
    path.write_text("previous")
    uid = WRITER.pw_uid if owner is None else owner
    os.chown(path, uid, WRITER.pw_gid if owner is None else os.getegid())
    path.chmod(mode)
    return path


def read_only_dir(d):
    target = owned_file(d / "c.json", 0o644)
    d.chmod(0o555)
    return target


def others_writable(d):
    if not ROOT:
        pytest.skip("needs a file of another user")
    return owned_file(d / "c.json", 0o666, owner=os.geteuid())


def new_in_read_only_dir(d):
    d.chmod(0o555)
    return d / "c.json"


# The cases where permissions decide (the others are in the core tests):
# (setup(dir) -> path, outcome), the outcome being "in place" (the same file,
# its mode, owner and group kept) or the error text.
WRITE_CASES = [
    pytest.param(lambda d: owned_file(d / "c.json", 0o444), "Permission denied", id="read-only-file"),
    pytest.param(read_only_dir, "in place", id="read-only-directory"),
    pytest.param(others_writable, "in place", id="file-of-another-user"),
    pytest.param(new_in_read_only_dir, "Permission denied", id="new-file-in-read-only-directory"),
]


@pytest.mark.parametrize("setup, outcome", WRITE_CASES)
def test_write_behaves_as_a_plain_write(writer_dir, setup, outcome):
    path = setup(writer_dir)
    before = os.stat(path) if path.exists() else None
    error = write_as_writer(str(path))
    if outcome == "in place":
        assert error is None and path.read_text() == contract().to_json()
        after = os.stat(path)
        assert (after.st_ino, after.st_mode, after.st_uid, after.st_gid) == (
            before.st_ino, before.st_mode, before.st_uid, before.st_gid)
    else:
        assert error == f"serialization error: failed to write contract: {outcome}"
        assert before is None or path.read_text() == "previous"
    assert not any(name.startswith(".quarlo-contract-") for name in os.listdir(writer_dir))


def test_nul_in_path(tmp_path):
    with pytest.raises(ValueError) as info:
        contract().write(str(tmp_path / "a") + "\0b")
    assert type(info.value) is ValueError and str(info.value) == "embedded null byte"
    assert_note(info.value, "path")
    assert os.listdir(tmp_path) == []
    with pytest.raises(ValueError, match="embedded null byte"):
        open(str(tmp_path / "a") + "\0b", "w")


@pytest.mark.parametrize(
    "path, message",
    [
        (pathlib.Path("c.json"), "'PosixPath' object is not an instance of 'str'"),
        (b"c.json", "'bytes' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
    ],
)
def test_write_path_must_be_str(path, message):
    with pytest.raises(TypeError) as info:
        contract().write(path)
    assert str(info.value) == message
    assert_note(info.value, "path")


# ---------------------------------------------------------------- SchemaRegistry

def test_registry_is_empty():
    registry = SchemaRegistry()
    assert registry.has("Article") is False
    assert registry.has(schema_type="") is False
    assert registry.list_types() == []
    assert registry.list_types() is not registry.list_types()


@pytest.mark.parametrize(
    "call, exc, message",
    [
        (lambda r: r.has(1), TypeError, "'int' object is not an instance of 'str'"),
        (lambda r: r.has(None), TypeError, "'None' is not an instance of 'str'"),
    ],
)
def test_registry_argument_errors(call, exc, message):
    with pytest.raises(exc) as info:
        call(SchemaRegistry())
    assert str(info.value) == message
    assert_note(info.value, "schema_type")


@pytest.mark.parametrize(
    "call, name, signature, args, kwargs",
    [
        (lambda a, k: SchemaRegistry(*a, **k), "SchemaRegistry", "()", (1,), {}),
        (lambda a, k: SchemaRegistry(*a, **k), "SchemaRegistry", "()", (), {"x": 1}),
        (lambda a, k: SchemaRegistry().has(*a, **k), "has", "(schema_type)", (), {}),
        (lambda a, k: SchemaRegistry().has(*a, **k), "has", "(schema_type)", ("a", "b"), {}),
    ],
)
def test_registry_call_shape(call, name, signature, args, kwargs):
    ns = {}
    exec(f"def f{signature}: pass", ns)
    with pytest.raises(TypeError) as info:
        call(args, kwargs)
    assert str(info.value) == shape_error(name, ns["f"], args, kwargs)


def test_registry_shared_between_threads():
    registry = SchemaRegistry()
    errors = []

    def work():
        try:
            for i in range(2000):
                assert registry.has(f"Type{i % 7}") is False
                assert registry.list_types() == []
        except BaseException as exc:  # reported below
            errors.append(exc)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


# ----------------------------------------------------------------- reference leaks

def test_no_leaks(tmp_path):
    target = str(tmp_path / "c.json")
    deep = SEOExpectation()
    for _ in range(MAX_NESTING - 1):
        deep = SEOExpectation(title=deep)

    def run():
        for _ in range(100):
            config = full_config()
            c = build_seo_contract(config)
            c.to_json(), c.hash(), c.to_dict(), c.site, c.contract_version
            c.write(target)
            rule = SEOContractRule("/", deep, severity="info")
            rule.expect, rule.match, rule.severity
            SchemaRegistry().has("x"), SchemaRegistry().list_types()
            for bad in ({"one_of": "x"}, {"title": 1}, {"title": deep}):
                try:
                    SEOExpectation(**bad)
                except (TypeError, ValueError):
                    pass
            try:
                c.write(target + "\0")
            except ValueError:
                pass

    assert traced_growth(run) < 64 * 1024
