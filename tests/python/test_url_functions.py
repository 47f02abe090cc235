"""Route and public URL normalisation and tracking-parameter removal."""

import pytest
from hypothesis import given, settings, strategies as st

import _quarlo_native as q


def config(base="https://example.com", **policy):
    return q.SEOConfig("www.example.com", base, url_policy=q.URLPolicy(**policy))


@pytest.mark.parametrize(
    "path, policy, expected",
    [
        ("", {}, "/"),
        ("blog//post/", {}, "/blog/post"),
        ("/a", {"trailing_slash": "always"}, "/a/"),
        ("///", {"trailing_slash": "never", "collapse_duplicate_slashes": False}, ""),
        ("/A//B/", {"trailing_slash": "preserve", "lowercase_paths": True}, "/a/b/"),
        ("/ÉTÉ/Σ", {"lowercase_paths": True}, "/été/σ"),
    ],
)
def test_normalize_path(path, policy, expected):
    assert q.normalize_path_fn(path, q.URLPolicy(**policy)) == expected
    assert q.normalize_path_fn(path=path, policy=q.URLPolicy(**policy)) == expected


def test_normalize_path_bad_trailing_slash_word():
    with pytest.raises(ValueError, match="^invalid trailing_slash: Never$"):
        q.normalize_path_fn("/a", q.URLPolicy(trailing_slash="Never"))


@pytest.mark.parametrize(
    "url, base, policy, expected",
    [
        ("blog/hello/", "https://example.com", {}, "https://www.example.com/blog/hello"),
        ("https://other.org/x/?utm_source=a&id=1#f", "https://example.com", {},
         "https://www.example.com/x?id=1"),
        ("?a=1", "https://example.com/shop/", {}, "https://www.example.com/shop?a=1"),
        ("/p?page=2&ref=home", "https://example.com", {"allowed_query_params": ["page"]},
         "https://www.example.com/p?page=2"),
        ("/x", "http://example.com:8080", {"enforce_https": False}, "http://www.example.com/x"),
        # An ASCII host keeps its xn-- label even where it would not decode to a valid one.
        ("https://xn--ab-j1t.example/x", "https://example.com", {}, "https://www.example.com/x"),
    ],
)
def test_normalize_public_url(url, base, policy, expected):
    assert q.normalize_public_url_fn(url, config(base, **policy)) == expected


@pytest.mark.parametrize(
    "url, base, message",
    [
        ("  ", "https://example.com", "invalid URL: url_or_path must be a non-empty string"),
        ("", "nope", "invalid URL: url_or_path must be a non-empty string"),
        ("/a", "nope", "invalid configuration: invalid public_base_url: relative URL without a base"),
        ("/a", "https://", "invalid configuration: invalid public_base_url: empty host"),
    ],
)
def test_normalize_public_url_errors_are_plain_value_errors(url, base, message):
    with pytest.raises(ValueError) as info:
        q.normalize_public_url_fn(url, config(base))
    assert type(info.value) is ValueError
    assert not isinstance(info.value, q.QuarloError)
    assert str(info.value) == message
    assert info.value.args == (message,)


def test_clean_url_result_shape():
    result = q.clean_url_fn("https://e.com/p?b=2&utm_source=x&a=1&flag&fbclid=9&a=3")
    assert list(result) == ["url", "removed_params", "cleaned_params"]
    assert result["url"] == "https://e.com/p?b=2&a=1&flag&a=3"
    assert list(result["removed_params"].items()) == [("fbclid", "9"), ("utm_source", "x")]
    assert list(result["cleaned_params"].items()) == [("a", "3"), ("b", "2")]


def test_clean_url_without_query():
    assert q.clean_url_fn("https://e.com/p") == {
        "url": "https://e.com/p", "removed_params": {}, "cleaned_params": {}}


@pytest.mark.parametrize(
    "url, cleaned, removed, kept",
    [
        ("https://shop.example/p?utm_source=x#reviews", "https://shop.example/p#reviews",
         {"utm_source": "x"}, {}),
        ("/list?page=2#comments", "/list?page=2#comments", {}, {"page": "2"}),
        ("/p#frag?utm_source=x", "/p#frag?utm_source=x", {}, {}),
        ("/p?fbclid=1&b=2#a?c=3#d", "/p?b=2#a?c=3#d", {"fbclid": "1"}, {"b": "2"}),
    ],
)
def test_clean_url_keeps_the_fragment_out_of_the_query(url, cleaned, removed, kept):
    assert q.clean_url_fn(url) == {"url": cleaned, "removed_params": removed, "cleaned_params": kept}


def test_clean_url_result_does_not_depend_on_key_order():
    # The cost per key order is watched by bench/python/scaling.py, not here.
    keys = [f"k{i:06d}" for i in range(100_000)]
    ascending = "/p?" + "&".join(f"{k}=v" for k in keys)
    descending = "/p?" + "&".join(f"{k}=v" for k in reversed(keys))
    cleaned = q.clean_url_fn(descending)["cleaned_params"]
    assert cleaned == q.clean_url_fn(ascending)["cleaned_params"]
    assert list(cleaned) == keys


@pytest.mark.parametrize(
    "query, expected",
    [("", ""), ("utm_source=x", ""), ("a=1&utm_source=x&", "a=1&"), ("UTM_SOURCE=1&b", "b"),
     ("utm%5Fsource=x&k=v", "k=v")],
)
def test_clean_query(query, expected):
    assert q.clean_query_fn(query) == expected


class Text(str):
    pass


@pytest.mark.parametrize(
    "fn, text",
    [(lambda t: q.normalize_path_fn(t, q.URLPolicy()), "/a/b"), (q.clean_query_fn, "a=1&b=2"),
     (lambda t: q.normalize_path_fn(t, q.URLPolicy()), "/é/😀")],
)
def test_text_already_in_form_comes_back_as_a_plain_str(fn, text):
    assert fn(text) == text
    out = fn(Text(text))
    assert type(out) is str and out == text


@pytest.mark.parametrize(
    "call, argument",
    [
        (lambda: q.normalize_path_fn(1, q.URLPolicy()), "path"),
        (lambda: q.normalize_path_fn("/", None), "policy"),
        (lambda: q.normalize_public_url_fn("/", q.URLPolicy()), "config"),
        (lambda: q.clean_url_fn(b"/"), "url"),
        (lambda: q.clean_query_fn(None), "query"),
    ],
)
def test_wrong_argument_types_name_the_argument(call, argument):
    with pytest.raises(TypeError) as info:
        call()
    notes = getattr(info.value, "__notes__", [f"while processing '{argument}'"])
    assert f"while processing '{argument}'" in notes


@pytest.mark.parametrize("fn", [q.clean_url_fn, q.clean_query_fn])
def test_lone_surrogate_is_refused_cleanly(fn):
    with pytest.raises(UnicodeEncodeError):
        fn("a=\ud800")


def test_call_shape_errors():
    with pytest.raises(TypeError):
        q.clean_query_fn()
    with pytest.raises(TypeError):
        q.clean_query_fn("a", "b")
    with pytest.raises(TypeError):
        q.clean_query_fn(q="a")


# Properties over arbitrary text: no crash, valid str results, idempotence.
text = st.text(st.characters(blacklist_categories=("Cs",)), max_size=200)


@settings(max_examples=300, deadline=None)
@given(text)
def test_clean_query_is_idempotent(query):
    once = q.clean_query_fn(query)
    assert q.clean_query_fn(once) == once
    result = q.clean_url_fn(query)
    assert isinstance(result["url"], str)


@settings(max_examples=300, deadline=None)
@given(text)
def test_normalize_public_url_total_on_any_text(url):
    cfg = config()
    try:
        out = q.normalize_public_url_fn(url, cfg)
    except ValueError as exc:
        assert str(exc) == "invalid URL: url_or_path must be a non-empty string"
        return
    assert out.startswith("https://www.example.com/")
    out.encode("utf-8")


@settings(max_examples=200, deadline=None)
@given(text)
def test_normalize_path_is_idempotent(path):
    policy = q.URLPolicy(lowercase_paths=True, trailing_slash="preserve")
    once = q.normalize_path_fn(path, policy)
    assert q.normalize_path_fn(once, policy) == once


@pytest.mark.parametrize("size", [1 << 20])
def test_large_inputs(size):
    big = "/" + "a/" * (size // 2)
    assert q.normalize_public_url_fn(big, config()).endswith("a")
    assert len(q.clean_query_fn("x=1&" * (size // 4))) > 0
    assert q.normalize_public_url_fn("https://e.com/" + "%41" * (size // 3), config())
