"""Plain Python values convert to JSON directly; the result must be exactly
what the json.dumps road gives (a list subclass forces that road)."""

import pytest
from hypothesis import given, settings, strategies as st


class ForceText(list):
    """Not a plain list: the whole value goes through json.dumps."""


SCALARS = (st.none() | st.booleans() | st.integers() | st.integers(-2**64, 2**64) | st.floats()
           | st.text(st.characters(blacklist_categories=())))  # surrogates included
VALUES = st.recursive(
    SCALARS,
    lambda inner: (st.lists(inner, max_size=4) | st.lists(inner, max_size=3).map(tuple)
                   | st.dictionaries(st.text(max_size=4), inner, max_size=4)
                   | st.dictionaries(st.integers(-3, 3) | st.booleans() | st.none(), inner, max_size=3)),
    max_leaves=12)


def outcome(fn, value):
    try:
        return fn(value)
    except (TypeError, ValueError) as exc:
        return type(exc), str(exc)


@settings(max_examples=300, deadline=None)
@given(VALUES)
def test_direct_conversion_matches_the_text_road(testing, value):
    direct = outcome(testing.dumps_compact, [value])
    through_text = outcome(testing.dumps_compact, ForceText([value]))
    assert direct == through_text
    assert outcome(testing.or_null, [value]) == outcome(testing.or_null, ForceText([value]))


def nested(depth):
    value = []
    for _ in range(depth - 1):
        value = [value]
    return value


@pytest.mark.parametrize("depth, ok", [(127, True), (128, False)])
def test_nesting_limit_on_both_roads(testing, depth, ok):
    for value in (nested(depth), ForceText(nested(depth))):
        if ok:
            assert testing.dumps_compact(value) == "[" * depth + "]" * depth
        else:
            with pytest.raises(ValueError, match="nesting deeper than 127"):
                testing.dumps_compact(value)


def test_cycles_are_refused(testing):
    loop = []
    loop.append(loop)
    with pytest.raises(ValueError, match="Circular reference"):
        testing.dumps_compact(loop)
