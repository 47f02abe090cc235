"""Entity classes: SEOEntity, SEOImage, SEOAuthor, Breadcrumb, FAQItem, Robots."""

import inspect
import sys

import pytest

import _quarlo_native as native
from _quarlo_native import Breadcrumb, EntityError, FAQItem, Robots, SEOAuthor, SEOEntity, SEOImage
from parser_wording import shape_error

HAS_NOTES = sys.version_info >= (3, 11)
ENTITY_MESSAGE = ("entity_type must be one of home/post/page/video/taxonomy/search/other/product/"
                  "organization/local_business/faq, got '{}'")


def assert_note(exc, name):
    if HAS_NOTES:
        assert exc.__notes__ == [f"while processing '{name}'"]


CLASSES = [SEOEntity, SEOImage, SEOAuthor, Breadcrumb, FAQItem, Robots]
SAMPLES = [SEOEntity("post"), SEOImage("u"), SEOAuthor("n"), Breadcrumb("n", "u"), FAQItem("q", "a"), Robots()]


@pytest.mark.parametrize("cls", CLASSES)
def test_final(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    assert cls.__module__ == "_quarlo_native" and getattr(native, cls.__name__) is cls


@pytest.mark.parametrize("obj", SAMPLES, ids=lambda o: type(o).__name__)
def test_immutable(obj):
    prop = next(name for name, value in vars(type(obj)).items() if type(value).__name__ == "getset_descriptor")
    with pytest.raises(AttributeError):
        setattr(obj, prop, None)
    with pytest.raises(AttributeError):
        obj.extra = 1


class TestValueClasses:
    def test_image(self):
        image = SEOImage("https://e.com/a.png", width=0, height=4294967295, alt="")
        assert (image.url, image.width, image.height, image.alt) == ("https://e.com/a.png", 0, 4294967295, "")
        assert list(image.to_dict()) == ["url", "width", "height", "alt"]
        assert image.to_dict()["width"] == 0
        bare = SEOImage("u")
        assert (bare.width, bare.height, bare.alt) == (None, None, None)
        assert bare.to_dict() == {"url": "u"}
        assert list(SEOImage("u", alt="a", height=2).to_dict()) == ["url", "height", "alt"]

    def test_author_breadcrumb_faq(self):
        assert (SEOAuthor("Ann").name, SEOAuthor("Ann").url) == ("Ann", None)
        assert SEOAuthor(name="Ann", url="https://e.com/ann").url == "https://e.com/ann"
        crumb = Breadcrumb(url="/b", name="B")
        assert (crumb.name, crumb.url) == ("B", "/b")
        item = FAQItem("Q?", answer="A.")
        assert (item.question, item.answer) == ("Q?", "A.")

    @pytest.mark.parametrize(
        "kwargs, directives",
        [
            ({}, "index,follow"),
            ({"index": False}, "noindex,follow"),
            ({"follow": False, "max_snippet": -1}, "index,nofollow,max-snippet:-1"),
            ({"index": False, "follow": False, "max_snippet": 50, "max_image_preview": "large",
              "max_video_preview": 30},
             "noindex,nofollow,max-snippet:50,max-image-preview:large,max-video-preview:30"),
            ({"max_image_preview": " large "}, "index,follow,max-image-preview: large "),
        ],
    )
    def test_robots(self, kwargs, directives):
        robots = Robots(**kwargs)
        assert robots.serialize() == directives
        assert robots.index == kwargs.get("index", True)
        assert robots.max_snippet == kwargs.get("max_snippet")
        assert robots.max_image_preview == kwargs.get("max_image_preview")
        assert robots.max_video_preview == kwargs.get("max_video_preview")

    @pytest.mark.parametrize(
        "make, name",
        [
            (lambda: SEOImage("u", width=-1), "width"),
            (lambda: SEOImage("u", height=2**32), "height"),
            (lambda: Robots(max_snippet=2**31), "max_snippet"),
            (lambda: Robots(max_video_preview=-2**31 - 1), "max_video_preview"),
            (lambda: Robots(max_snippet=2**70), "max_snippet"),
        ],
    )
    def test_integer_range(self, make, name):
        with pytest.raises(OverflowError) as info:
            make()
        assert_note(info.value, name)

    def test_integer_bounds_accepted(self):
        robots = Robots(max_snippet=-2**31, max_video_preview=2**31 - 1)
        assert (robots.max_snippet, robots.max_video_preview) == (-2**31, 2**31 - 1)


class TestEntity:
    def test_only_type(self):
        entity = SEOEntity("other")
        assert entity.to_dict() == {"entity_type": "Other"}
        assert (entity.entity_type, entity.title, entity.excerpt) == ("other", None, None)

    @pytest.mark.parametrize(
        "word, serialized",
        [("post", "Post"), ("local_business", "LocalBusiness"), ("faq", "Faq"), ("home", "Home")],
    )
    def test_type_names(self, word, serialized):
        entity = SEOEntity(word)
        assert entity.entity_type == word
        assert entity.to_dict()["entity_type"] == serialized

    @pytest.mark.parametrize("word", ["Post", "post ", "", "LOCAL_BUSINESS", "caf\u00e9"])
    def test_bad_type(self, word):
        with pytest.raises(EntityError) as info:
            SEOEntity(word)
        assert info.value.args == (ENTITY_MESSAGE.format(word),)

    def test_full_dict(self):
        entity = SEOEntity(
            "product", slug="s", title="T", excerpt="E", body_html="<p>b</p>", status="draft",
            featured_image=SEOImage("i", width=1), published_at="2024-01-01", updated_at="2024-01-02",
            author_name="A", breadcrumbs=(Breadcrumb("n", "u"),), sku="K", price="9.99",
            price_currency="EUR", availability="InStock", same_as=["x", "y"], address="Addr",
            faq_items=[FAQItem("q", "a")],
        )
        data = entity.to_dict()
        assert list(data) == sorted(data)
        assert data["featured_image"] == {"url": "i", "width": 1}
        assert data["breadcrumbs"] == [{"name": "n", "url": "u"}]
        assert data["faq_items"] == [{"answer": "a", "question": "q"}]
        assert data["same_as"] == ["x", "y"]
        assert (data["entity_type"], data["price"], data["status"]) == ("Product", "9.99", "draft")
        assert (entity.title, entity.excerpt) == ("T", "E")

    def test_empty_lists_are_present(self):
        data = SEOEntity("page", breadcrumbs=[], faq_items=(), same_as=[]).to_dict()
        assert data == {"entity_type": "Page", "breadcrumbs": [], "faq_items": [], "same_as": []}

    def test_records_are_copied(self):
        crumbs = [Breadcrumb("a", "/a")]
        entity = SEOEntity("post", breadcrumbs=crumbs)
        crumbs.append(Breadcrumb("b", "/b"))
        assert entity.to_dict()["breadcrumbs"] == [{"name": "a", "url": "/a"}]


class BadSequence:
    def __len__(self):
        return 1

    def __getitem__(self, index):
        raise KeyError("broken item")


@pytest.mark.parametrize(
    "kwargs, exc_type, message, name",
    [
        ({"breadcrumbs": [Breadcrumb("a", "b"), FAQItem("q", "a")]}, TypeError,
         "'FAQItem' object is not an instance of 'Breadcrumb'", "breadcrumbs"),
        ({"faq_items": [None]}, TypeError, "'None' is not an instance of 'FAQItem'", "faq_items"),
        ({"breadcrumbs": "ab"}, TypeError, None, "breadcrumbs"),
        ({"breadcrumbs": iter([])}, TypeError, None, "breadcrumbs"),
        ({"breadcrumbs": BadSequence()}, KeyError, None, "breadcrumbs"),
        ({"same_as": "https://e.com"}, TypeError, None, "same_as"),
        ({"same_as": ["ok", 3]}, TypeError, "'int' object is not an instance of 'str'", "same_as"),
        ({"featured_image": Robots()}, TypeError, "'Robots' object is not an instance of 'SEOImage'",
         "featured_image"),
        ({"title": b"bytes"}, TypeError, "'bytes' object is not an instance of 'str'", "title"),
        ({"title": "a\ud800b"}, UnicodeEncodeError, None, "title"),
        ({"same_as": ["\udfff"]}, UnicodeEncodeError, None, "same_as"),
    ],
)
def test_entity_argument_errors(kwargs, exc_type, message, name):
    with pytest.raises(exc_type) as info:
        SEOEntity("post", **kwargs)
    if message is not None:
        assert str(info.value) == message
    assert_note(info.value, name)


@pytest.mark.parametrize(
    "make, exc_type, name",
    [
        (lambda: Robots(index=1), TypeError, "index"),
        (lambda: Robots(follow=None), TypeError, "follow"),
        (lambda: Robots(max_snippet=1.0), TypeError, "max_snippet"),
        (lambda: SEOImage(None), TypeError, "url"),
        (lambda: SEOImage("u", width="1"), TypeError, "width"),
        (lambda: SEOAuthor("\ud800"), UnicodeEncodeError, "name"),
        (lambda: FAQItem("q", 1), TypeError, "answer"),
        (lambda: SEOEntity(1), TypeError, "entity_type"),
    ],
)
def test_value_argument_errors(make, exc_type, name):
    with pytest.raises(exc_type) as info:
        make()
    assert_note(info.value, name)


@pytest.mark.parametrize(
    "cls, args, kwargs",
    [
        (SEOEntity, (), {}),
        (SEOEntity, ("post", "slug"), {}),
        (SEOEntity, ("post",), {"entity_type": "post"}),
        (SEOEntity, ("post",), {"tittle": "x"}),
        (Robots, (True,), {}),
        (Breadcrumb, ("n",), {}),
        (SEOImage, ("u", 1), {}),
    ],
)
def test_call_shape_errors(cls, args, kwargs):
    # The interpreter's own wording for a callable of this name and signature.
    with pytest.raises(TypeError) as info:
        cls(*args, **kwargs)
    assert f"{cls.__name__}()" in str(info.value)
    assert str(info.value) == shape_error(cls.__name__, inspect.signature(cls), args, kwargs)


def test_keywords_from_non_interned_names():
    # Keyword names built at run time are not interned; they must still match.
    name = "".join(["ti", "tle"])
    assert SEOEntity("post", **{name: "T"}).title == "T"
    assert SEOEntity(**{"entity_" + "type": "faq"}).entity_type == "faq"


def test_no_reference_leaks():
    title, image, crumb, items = "t" * 50, SEOImage("u"), Breadcrumb("n", "u"), [FAQItem("q", "a")]
    watched = [title, image, crumb, items, items[0]]

    def run():
        SEOEntity("post", title=title, featured_image=image, breadcrumbs=[crumb], faq_items=items).to_dict()
        with pytest.raises(TypeError):
            SEOEntity("post", title=title, breadcrumbs=[crumb, image])
        with pytest.raises(EntityError):
            SEOEntity("Post", featured_image=image, faq_items=items)
        with pytest.raises(OverflowError):
            SEOImage(title, width=-1)

    run()
    before = [sys.getrefcount(obj) for obj in watched]
    for _ in range(200):
        run()
    assert [sys.getrefcount(obj) for obj in watched] == before


@pytest.mark.parametrize("length", range(26))
def test_short_texts_differing_in_one_byte_read_back_apart(length):
    # Short texts are shared through a table keyed by their bytes: any byte,
    # at any position and length, tells two texts apart.
    base = "a" * length
    texts = [base] + [base[:i] + c + base[i + 1:] for i in range(length) for c in ("b", "\u00e9")]
    texts += [base + "\x00", "\x00" + base]
    for _ in range(2):
        for text in texts:
            entity = SEOEntity("post", title=text, slug=text, breadcrumbs=[Breadcrumb(text, text)])
            assert entity.title == text and entity.to_dict()["slug"] == text
            assert entity.to_dict()["breadcrumbs"] == [{"name": text, "url": text}]
