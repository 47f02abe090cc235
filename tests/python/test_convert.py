"""Python <-> JSON value conversion, through _quarlo_testing."""

import collections
import math
import sys

import pytest

TOO_DEEP = "JSON structure too deeply nested (max 128 levels)"


def nested_list(levels, innermost=()):
    value = list(innermost)
    for _ in range(levels - 1):
        value = [value]
    return value


class TestPythonToJson:
    def test_dict_members_come_back_in_key_order(self, testing):
        result = testing.to_dict({"b": 1, "a": 2})
        assert list(result) == ["a", "b"] and result == {"a": 2, "b": 1}

    def test_nested_keys_are_ordered_at_every_level(self, testing):
        result = testing.roundtrip([{"z": {"y": 1, "x": 2}, "\u00e9": 0, "A": 1}])
        assert list(result[0]) == ["A", "z", "\u00e9"]
        assert list(result[0]["z"]) == ["x", "y"]

    @pytest.mark.parametrize(
        "value, expected",
        [
            ((1, "a"), [1, "a"]),
            ({1: "x"}, {"1": "x"}),
            ({1: "int", "1": "str"}, {"1": "str"}),
            ({True: 1, None: 2, 1.5: 3}, {"true": 1, "null": 2, "1.5": 3}),
            (collections.OrderedDict(b=1, a=2), {"a": 2, "b": 1}),
            (-(2**63), -(2**63)),
            (2**63 - 1, 2**63 - 1),
            ("caf\u00e9 \U0001f600 \x00", "caf\u00e9 \U0001f600 \x00"),
            (None, None),
            (0.1, 0.1),
        ],
    )
    def test_values(self, testing, value, expected):
        result = testing.roundtrip(value)
        assert result == expected and type(result) is type(expected)

    @pytest.mark.parametrize("value", [True, False])
    def test_bool_stays_bool(self, testing, value):
        assert testing.roundtrip(value) is value
        assert testing.dumps_compact([value]) == f"[{str(value).lower()}]"

    @pytest.mark.parametrize(
        "value, expected_json",
        [
            (2**63, "9223372036854775808"),  # still an unsigned integer in JSON
            (2**64, "1.8446744073709552e+19"),  # already a double in JSON
            (-(2**63) - 1, "-9.223372036854776e+18"),
        ],
    )
    def test_large_integers_come_back_as_float(self, testing, value, expected_json):
        assert testing.dumps_compact(value) == expected_json
        result = testing.roundtrip(value)
        assert type(result) is float and result == float(value)

    def test_two_to_the_63rd(self, testing):
        assert testing.roundtrip(2**63) == 9.223372036854776e18

    @pytest.mark.parametrize(
        "value",
        [math.nan, [math.inf], {"a": {"b": -math.inf}}, "x\udc80", ["\ud800"], 10**400],
        ids=["nan", "inf", "nested-inf", "surrogate", "nested-surrogate", "huge-int"],
    )
    def test_text_the_parser_refuses_is_value_error(self, testing, value):
        with pytest.raises(ValueError) as info:
            testing.roundtrip(value)
        assert type(info.value) is ValueError
        assert "line 1" in str(info.value) and "column" in str(info.value)
        assert testing.or_null(value) is None

    @pytest.mark.parametrize(
        "value, message",
        [({1, 2}, "Object of type set is not JSON serializable"), ({(1,): 2}, "keys must be")],
    )
    def test_json_dumps_errors_propagate(self, testing, value, message):
        with pytest.raises(TypeError, match=message):
            testing.roundtrip(value)
        with pytest.raises(TypeError, match=message):
            testing.or_null(value)

    def test_nesting_limit(self, testing):
        assert testing.roundtrip(nested_list(127)) == nested_list(127)
        with pytest.raises(ValueError, match="nesting deeper than 127") as info:
            testing.roundtrip(nested_list(128))
        assert "column 128" in str(info.value)

    def test_layouts(self, testing):
        assert testing.dumps_compact({"b": [1, 2.0], "a": "x"}) == '{"a":"x","b":[1,2.0]}'
        assert testing.dumps_pretty({"a": [1]}) == '{\n  "a": [\n    1\n  ]\n}'


class TestJsonToPython:
    def test_array_nested_129_deep_with_empty_innermost(self, testing):
        assert testing.nested_arrays(129, 0) == nested_list(129)

    def test_array_nested_129_deep_with_an_element(self, testing):
        with pytest.raises(ValueError) as info:
            testing.nested_arrays(129, 1)
        assert str(info.value) == TOO_DEEP

    @pytest.mark.parametrize(
        "text, depth",
        [("1", 128), ("[]", 128), ("{}", 128), ("[1]", 127), ('{"a": null}', 127)],
    )
    def test_depth_accepted(self, testing, text, depth):
        testing.parse(text, depth)

    @pytest.mark.parametrize("text, depth", [("null", 129), ("[]", 129), ("[1]", 128), ('{"a": []}', 128)])
    def test_depth_refused(self, testing, text, depth):
        with pytest.raises(ValueError) as info:
            testing.parse(text, depth)
        assert str(info.value) == TOO_DEEP

    @pytest.mark.parametrize("value", [[1, 2], "text", 3, None])
    def test_pydict_of_non_object_is_empty(self, testing, value):
        assert testing.to_dict(value) == {}

    def test_pydict_members_start_at_depth_zero(self, testing):
        # The dict itself is not counted: a member may hold 127 levels.
        assert testing.to_dict({"a": nested_list(126)}) == {"a": nested_list(126)}

    def test_ordered_values_come_back_sorted(self, testing):
        value = {"b": {"d": 1, "c": [{"z": 1, "y": 2}]}, "a": 0}
        result = testing.ordered_to_dict(value)
        assert result == value
        assert list(result) == ["a", "b"]
        assert list(result["b"]) == ["c", "d"]
        assert list(result["b"]["c"][0]) == ["y", "z"]

    def test_parse_errors_are_core_errors(self, testing):
        table = testing.exception_types()
        with pytest.raises(table[0], match="line 1, column"):
            testing.parse("[1,", 0)


def test_reference_counts_are_stable(testing):
    payload = {"key": ["value", 1, 2.5, None, True], "nested": {"k": "v"}}
    before = sys.getrefcount(payload)
    baseline = testing.roundtrip(payload)
    for _ in range(500):
        assert testing.roundtrip(payload) == baseline
        assert testing.to_dict(payload) == baseline
        with pytest.raises(ValueError):
            testing.roundtrip([payload, math.nan])
        with pytest.raises(ValueError):
            testing.nested_arrays(130, 1)
    assert sys.getrefcount(payload) == before
    assert sys.getrefcount(baseline) == 2
