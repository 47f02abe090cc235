"""validate_payload and SEOIssue: the eight rules, their messages, details
and emission order, as seen from Python.

Payloads of any shape come from build_seo_payload with a hook that replaces
the dictionary form, so the rules see exactly the fields written here.
"""

import sys

import pytest

import _quarlo_native as native
from _quarlo_native import SEOIssue, validate_payload
from parser_wording import shape_error
from leakcheck import traced_growth

HAS_NOTES = sys.version_info >= (3, 11)

TITLE_40 = "A forty character title for a blog post."
DESCRIPTION_120 = "D" * 120
CANONICAL = "https://www.example.com/blog/hello"
IMAGE = "https://www.example.com/img/hello.png"
MISSING_IMAGE = "OG image is missing; set default_og_image or an entity image"


class Replace:
    """A hook that swaps the payload's dict form for a fixed one."""

    def __init__(self, data):
        self.data = data

    def run(self, event, payload, entity, config):
        return self.data


def payload(title=TITLE_40, description=DESCRIPTION_120, canonical=CANONICAL, robots="index,follow",
            image=IMAGE):
    og = {"type": "article"}
    if image is not None:
        og["image"] = image
    data = {"title": title, "description": description, "canonical": canonical, "robots": robots,
            "og": og, "twitter": {"card": "summary"}}
    config = native.SEOConfig("www.example.com", "https://www.example.com", hooks=Replace(data))
    return native.build_seo_payload(native.SEOEntity("post"), "/", config)


def findings(p):
    return [(i.rule_id, i.message, i.details) for i in validate_payload(p)]


def test_typical_built_payload_passes():
    config = native.SEOConfig("www.example.com", "https://www.example.com",
                              default_og_image=native.SEOImage(IMAGE))
    entity = native.SEOEntity("post", title=TITLE_40, excerpt=DESCRIPTION_120)
    built = native.build_seo_payload(entity, "/blog/hello", config)
    assert validate_payload(built) == []
    assert validate_payload(payload()) == []


@pytest.mark.parametrize(
    "changes, expected",
    [
        # title
        ({"title": "T" * 60}, []),
        ({"title": "T" * 61}, [("QUARLO102", "Title is 61 characters (recommended max 60)", {"length": 61})]),
        ({"title": "\u00e9" * 60}, []),  # characters, not bytes
        ({"title": "\U0001f600" * 61},
         [("QUARLO102", "Title is 61 characters (recommended max 60)", {"length": 61})]),
        ({"title": ""}, [("QUARLO101", "Title is missing or default", {})]),
        ({"title": "Untitled"}, [("QUARLO101", "Title is missing or default", {})]),
        ({"title": "untitled"}, []),
        ({"title": "Untitled | Site"}, []),
        # description
        ({"description": "d" * 160}, []),
        ({"description": "d" * 161},
         [("QUARLO104", "Meta description is 161 characters (recommended max 160)", {"length": 161})]),
        ({"description": ""}, [("QUARLO103", "Meta description is missing", {})]),
        # canonical
        ({"canonical": "/blog/hello"}, [("QUARLO105", "Canonical URL is not absolute", {})]),
        ({"canonical": "http:/"}, [("QUARLO105", "Canonical URL is not absolute", {})]),
        ({"canonical": "HTTPS://WWW.EXAMPLE.COM/"}, []),
        ({"canonical": "Http://example.com/"}, []),
        # Open Graph image
        ({"image": None}, [("QUARLO108", MISSING_IMAGE, {})]),
        ({"image": "/img/a.png"}, [("QUARLO106", "OG image URL is not absolute", {"image": "/img/a.png"})]),
        ({"image": ""}, [("QUARLO106", "OG image URL is not absolute", {"image": ""})]),
        ({"image": "HTTP://cdn.example.com/a.png"}, []),
        # robots
        ({"robots": "noindex, nofollow"}, []),
        ({"robots": "max-snippet:-1,max-image-preview:large,max-video-preview:-1"}, []),
        ({"robots": "none,noarchive,nosnippet,notranslate,unavailable_after: 2025-01-01"}, []),
        ({"robots": "\u3000index\u00a0,\tfollow\n"}, []),  # White_Space trimmed
        ({"robots": "index,follow,noimageindex"},
         [("QUARLO107", "Invalid robots directive: 'noimageindex'", {"directive": "noimageindex"})]),
        ({"robots": "NOINDEX"}, [("QUARLO107", "Invalid robots directive: 'NOINDEX'", {"directive": "NOINDEX"})]),
        ({"robots": ""}, [("QUARLO107", "Invalid robots directive: ''", {"directive": ""})]),
        ({"robots": "index,,bogus: 1 "},
         [("QUARLO107", "Invalid robots directive: ''", {"directive": ""}),
          ("QUARLO107", "Invalid robots directive: 'bogus: 1'", {"directive": "bogus: 1"})]),
        # every check at once, in check order rather than numeric order
        ({"title": "", "description": "", "canonical": "", "image": None, "robots": "a, b"},
         [("QUARLO101", "Title is missing or default", {}),
          ("QUARLO103", "Meta description is missing", {}),
          ("QUARLO105", "Canonical URL is not absolute", {}),
          ("QUARLO108", MISSING_IMAGE, {}),
          ("QUARLO107", "Invalid robots directive: 'a'", {"directive": "a"}),
          ("QUARLO107", "Invalid robots directive: 'b'", {"directive": "b"})]),
        ({"title": "T" * 70, "description": "d" * 200, "image": "img.png", "robots": "x"},
         [("QUARLO102", "Title is 70 characters (recommended max 60)", {"length": 70}),
          ("QUARLO104", "Meta description is 200 characters (recommended max 160)", {"length": 200}),
          ("QUARLO106", "OG image URL is not absolute", {"image": "img.png"}),
          ("QUARLO107", "Invalid robots directive: 'x'", {"directive": "x"})]),
    ],
)
def test_rules(changes, expected):
    assert findings(payload(**changes)) == expected


@pytest.mark.parametrize("canonical", [CANONICAL, "", "/relative"])
def test_issue_fields(canonical):
    issues = validate_payload(payload(canonical=canonical, title="", image="x"))
    assert len(issues) >= 2
    for issue in issues:
        assert type(issue) is SEOIssue
        assert issue.severity == "warning"
        assert issue.url == canonical


def test_details_is_a_new_dict_every_read():
    (issue,) = validate_payload(payload(image="rel.png"))
    first = issue.details
    assert first == {"image": "rel.png"}
    first["image"] = "changed"
    first["extra"] = 1
    second = issue.details
    assert second == {"image": "rel.png"} and second is not first
    assert issue.details is not issue.details
    (empty,) = validate_payload(payload(title=""))
    assert empty.details == {} and empty.details is not empty.details


def test_result_is_a_new_list():
    p = payload()
    assert validate_payload(p) is not validate_payload(p)
    assert validate_payload(payload=p) == []


# ---------------------------------------------------------------- class surface

def test_issue_final_uninstantiable_immutable():
    with pytest.raises(TypeError):
        SEOIssue()
    with pytest.raises(TypeError):
        SEOIssue.__new__(SEOIssue)
    with pytest.raises(TypeError):
        type("Sub", (SEOIssue,), {})
    (issue,) = validate_payload(payload(title=""))
    for attr in ("rule_id", "severity", "message", "url", "details"):
        with pytest.raises(AttributeError):
            setattr(issue, attr, "x")


@pytest.mark.parametrize(
    "value, message",
    [
        (1, "'int' object is not an instance of 'SEOPayload'"),
        (None, "'None' is not an instance of 'SEOPayload'"),
        ({"title": "x"}, "'dict' object is not an instance of 'SEOPayload'"),
    ],
)
def test_argument_type(value, message):
    with pytest.raises(TypeError) as info:
        validate_payload(value)
    assert str(info.value) == message
    if HAS_NOTES:
        assert info.value.__notes__ == ["while processing 'payload'"]


@pytest.mark.parametrize("args, kwargs", [((), {}), ((1, 2), {}), ((), {"other": 1}), ((1,), {"payload": 1})])
def test_call_shape(args, kwargs):
    def validate_payload(payload):  # noqa: ARG001 - signature only
        pass

    with pytest.raises(TypeError) as info:
        native.validate_payload(*args, **kwargs)
    assert str(info.value) == shape_error("validate_payload", validate_payload, args, kwargs)


def test_no_leaks():
    p = payload(title="", description="d" * 200, canonical="/x", image="i", robots="a,b")

    def run():
        for _ in range(2000):
            for issue in validate_payload(p):
                issue.rule_id, issue.severity, issue.message, issue.url, issue.details

    assert traced_growth(run) < 64 * 1024
