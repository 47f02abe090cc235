"""Argument parsing and conversion helpers, through _quarlo_testing."""

import sys

import pytest
from parser_wording import shape_error

NOTE = "while processing 'value'"


def notes(exc):
    return getattr(exc, "__notes__", [])


@pytest.fixture
def convert(testing):
    return testing.convert


class TestShape:
    @pytest.mark.parametrize(
        "args, kwargs, expected",
        [
            ((1,), {}, {"a": 1, "flag": True}),
            ((1, 2), {"c": 3, "flag": False}, {"a": 1, "b": 2, "c": 3, "flag": False}),
            ((), {"a": 1, "b": None}, {"a": 1, "b": None, "flag": True}),
        ],
    )
    def test_accepted(self, testing, args, kwargs, expected):
        assert testing.parse_sample(*args, **kwargs) == expected

    @staticmethod
    def parse_sample(a, b=None, *, c=None, flag=True):
        """The signature of _quarlo_testing.parse_sample."""

    @pytest.mark.parametrize(
        "args, kwargs",
        [((), {}), ((1, 2, 3), {}), ((1,), {"d": 1}), ((1,), {"a": 1}), ((1,), {"flg": True})],
    )
    def test_shape_errors_name_the_callable(self, testing, args, kwargs):
        # The interpreter's own wording for a callable of this name and signature.
        with pytest.raises(TypeError) as info:
            testing.parse_sample(*args, **kwargs)
        assert "parse_sample()" in str(info.value)
        assert str(info.value) == shape_error("parse_sample", self.parse_sample, args, kwargs)

    def test_value_error_names_the_argument(self, testing):
        with pytest.raises(TypeError, match="'int' object is not an instance of 'bool'") as info:
            testing.parse_sample(1, flag=1)
        if sys.version_info >= (3, 11):
            assert notes(info.value) == ["while processing 'flag'"]


class TestConverters:
    @pytest.mark.parametrize(
        "kind, value, expected",
        [
            ("str", "caf\u00e9 \U0001f600", "caf\u00e9 \U0001f600"),
            ("str", "a\x00b", "a\x00b"),
            ("optional_str", None, None),
            ("optional_str", "", ""),
            ("bool", True, True),
            ("bool", False, False),
            ("optional_u32", None, None),
            ("optional_u32", 0, 0),
            ("optional_u32", 2**32 - 1, 2**32 - 1),
            ("optional_i32", -(2**31), -(2**31)),
            ("optional_i32", 2**31 - 1, 2**31 - 1),
            ("str_sequence", ["a", "b"], ["a", "b"]),
            ("str_sequence", ("a",), ["a"]),
            ("str_sequence", [], []),
            ("optional_str_sequence", None, None),
        ],
    )
    def test_accepted(self, convert, kind, value, expected):
        result = convert(kind, value)
        assert result == expected and type(result) is type(expected)

    def test_any_sequence(self, convert):
        class Letters:
            def __len__(self):
                return 2

            def __getitem__(self, index):
                if index >= 2:
                    raise IndexError(index)
                return "xy"[index]

        assert convert("str_sequence", Letters()) == ["x", "y"]

    @pytest.mark.parametrize(
        "kind, value, exc_type, message",
        [
            ("str", 1, TypeError, "'int' object is not an instance of 'str'"),
            ("str", b"x", TypeError, "'bytes' object is not an instance of 'str'"),
            ("optional_str", 1.5, TypeError, "'float' object is not an instance of 'str'"),
            ("bool", 1, TypeError, "'int' object is not an instance of 'bool'"),
            ("bool", None, TypeError, "'None' is not an instance of 'bool'"),
            ("optional_u32", -1, OverflowError, "can't convert negative int to unsigned"),
            ("optional_u32", 2**32, OverflowError, "Python int too large to convert to C unsigned int"),
            ("optional_u32", 2**80, OverflowError, "Python int too large to convert to C unsigned int"),
            ("optional_u32", "1", TypeError, "'str' object cannot be interpreted as an integer"),
            ("optional_i32", 2**31, OverflowError, "Python int too large to convert to C int"),
            ("optional_i32", -(2**31) - 1, OverflowError, "Python int too large to convert to C int"),
            ("optional_i32", -(2**80), OverflowError, "Python int too large to convert to C int"),
            ("optional_i32", 1.0, TypeError, "'float' object cannot be interpreted as an integer"),
            ("str_sequence", "ab", TypeError, "a str is not accepted as a sequence of str"),
            ("str_sequence", {"a"}, TypeError, "'set' object is not an instance of 'Sequence'"),
            ("str_sequence", {"a": 1}, TypeError, "'dict' object is not an instance of 'Sequence'"),
            ("str_sequence", ["a", 1], TypeError, "'int' object is not an instance of 'str'"),
            ("optional_str_sequence", "ab", TypeError, "a str is not accepted as a sequence of str"),
        ],
    )
    def test_refused_with_note(self, convert, kind, value, exc_type, message):
        with pytest.raises(exc_type) as info:
            convert(kind, value)
        assert type(info.value) is exc_type
        assert str(info.value) == message
        if sys.version_info >= (3, 11):
            assert notes(info.value) == [NOTE]

    @pytest.mark.parametrize("kind, value", [("str", "x\udc80"), ("str_sequence", ["ok", "\ud800"])])
    def test_lone_surrogate(self, convert, kind, value):
        with pytest.raises(UnicodeEncodeError) as info:
            convert(kind, value)
        if sys.version_info >= (3, 11):
            assert notes(info.value) == [NOTE]

    def test_sequence_errors_propagate_unchanged(self, convert):
        class Broken:
            def __len__(self):
                return 1

            def __getitem__(self, index):
                raise LookupError("no items here")

        with pytest.raises(LookupError, match="no items here") as info:
            convert("str_sequence", Broken())
        if sys.version_info >= (3, 11):
            assert notes(info.value) == [NOTE]

    def test_failing_add_note_keeps_the_original(self, convert):
        class NoNotes(Exception):
            def add_note(self, note):
                raise RuntimeError("refused")

        class Broken:
            def __len__(self):
                raise NoNotes("original")

            def __getitem__(self, index):
                return "x"

        with pytest.raises(NoNotes, match="original") as info:
            convert("str_sequence", Broken())
        assert notes(info.value) == []
        assert info.value.__context__ is None


class TestInstances:
    def test_exact_instance(self, testing, convert):
        token = testing.Token()
        assert convert("token", token) is token
        assert convert("optional_token", token) is token
        assert convert("optional_token", None) is None

    @pytest.mark.parametrize(
        "kind, make, message",
        [
            ("token", lambda t: None, "'None' is not an instance of 'Token'"),
            ("token", lambda t: 3, "'int' object is not an instance of 'Token'"),
            ("optional_token", lambda t: t.make_sealed(), "'Sealed' object is not an instance of 'Token'"),
        ],
    )
    def test_refused(self, testing, convert, kind, make, message):
        with pytest.raises(TypeError) as info:
            convert(kind, make(testing))
        assert str(info.value) == message
        if sys.version_info >= (3, 11):
            assert notes(info.value) == [NOTE]


def test_reference_counts_are_stable(convert):
    text, items, big_int = "stable text", ["a", "b"], 2**31 - 1
    before = [sys.getrefcount(obj) for obj in (text, items, big_int)]
    for _ in range(1000):
        convert("str", text)
        convert("str_sequence", items)
        convert("optional_i32", big_int)
        with pytest.raises(TypeError):
            convert("bool", items)
    assert [sys.getrefcount(obj) for obj in (text, items, big_int)] == before
