"""What the checker reads from a page: the head as an HTML5 parser builds
it, or a payload dictionary as the head would show it."""

from __future__ import annotations

import json
import re
from dataclasses import dataclass, field
from typing import Any, Iterator, Mapping

from .findings import Location

_ASCII_SPACE = re.compile(r"[\t\n\f\r ]+")


@dataclass
class Page:
    """The metadata of one page, as a consumer reads it.

    ``path`` is the path and query at which the page was finally served (it
    differs from ``route`` after a redirect within the site). Texts are kept
    only when they are not empty once trimmed.
    """

    route: str
    location: Location
    path: str = ""
    titles: list[str] = field(default_factory=list)
    descriptions: list[str] = field(default_factory=list)
    canonicals: list[str] = field(default_factory=list)
    robots: list[str] = field(default_factory=list)
    og: set[str] = field(default_factory=set)
    twitter: set[str] = field(default_factory=set)
    jsonld: list[Any] = field(default_factory=list)
    jsonld_errors: list[str] = field(default_factory=list)
    alternates: list[tuple[str, str]] = field(default_factory=list)
    error: str | None = None

    def __post_init__(self) -> None:
        if not self.path:
            self.path = self.route


def jsonld_nodes(documents: list[Any]) -> Iterator[dict[str, Any]]:
    """Every JSON-LD document (an array counts as its elements) and every
    node of a document's ``@graph``."""
    for document in documents:
        for item in document if isinstance(document, list) else [document]:
            if not isinstance(item, dict):
                continue
            yield item
            graph = item.get("@graph")
            for node in graph if isinstance(graph, list) else [graph] if isinstance(graph, dict) else []:
                if isinstance(node, dict):
                    yield node


def _parser() -> Any:
    """An html5lib parser whose tokenizer stops once the document's body has
    started: everything of the head has been read by then (a head element
    written after ``</head>`` but before the body still joins the head), and
    the body, usually the larger part, is never tokenized."""
    try:
        import html5lib
        from html5lib import _tokenizer, constants
    except ImportError as exc:
        raise ImportError("reading HTML needs html5lib: pip install 'quarlo-native[check]'") from exc

    class HeadTokenizer(_tokenizer.HTMLTokenizer):
        def __init__(self, stream: Any, parser: Any, **kwargs: Any) -> None:
            super().__init__(stream, parser, **kwargs)
            # Small chunks: the input is decoded and scanned a chunk at a
            # time, and little of it is read past the head.
            setattr(self.stream, "_defaultChunkSize", 2048)

        def __iter__(self) -> Iterator[Any]:
            parser = self.parser
            body = parser.phases["inBody"]
            for token in super().__iter__():
                if parser.phase is body:
                    return
                yield token

    class HeadParser(html5lib.HTMLParser):
        # The same steps as HTMLParser._parse, with the tokenizer above.
        def _parse(self, stream: Any, innerHTML: bool = False, container: str = "div",
                   scripting: bool = False, **kwargs: Any) -> None:
            self.innerHTMLMode = innerHTML
            self.container = container
            self.scripting = scripting
            self.tokenizer = HeadTokenizer(stream, parser=self, **kwargs)
            self.reset()
            try:
                self.mainLoop()
            except constants._ReparseException:  # a <meta charset> changed the encoding
                self.reset()
                self.mainLoop()

    return HeadParser(tree=html5lib.getTreeBuilder("etree"), namespaceHTMLElements=False)


_PARSER: Any = None


def parse_head(data: bytes, route: str, location: Location, *, path: str = "",
               encoding: str | None = None) -> Page:
    """A page from HTML bytes. ``encoding`` is the charset the server
    declared; without one (and without a byte order mark or ``<meta
    charset>``) the bytes are read as UTF-8."""
    global _PARSER
    if _PARSER is None:
        _PARSER = _parser()
    page = Page(route, location, path)
    document = _PARSER.parse(data, transport_encoding=encoding, default_encoding="utf-8", useChardet=False)
    head = document.find("head")
    for element in head if head is not None else ():
        tag = element.tag
        if tag == "title":
            _add(page.titles, _ASCII_SPACE.sub(" ", element.text or ""))
        elif tag == "meta":
            content = element.get("content")
            if content is None:
                continue
            name = (element.get("name") or "").strip().lower()
            prop = (element.get("property") or "").strip().lower()
            if name == "description":
                _add(page.descriptions, content)
            elif name == "robots":
                _add(page.robots, content)
            if prop.startswith("og:"):
                page.og.add(prop)
            for key in (name, prop):
                if key.startswith("twitter:"):
                    page.twitter.add(key)
        elif tag == "link":
            rel = (element.get("rel") or "").lower().split()
            href = element.get("href")
            if href is None:
                continue
            if "canonical" in rel:
                _add(page.canonicals, href)
            hreflang = element.get("hreflang")
            if "alternate" in rel and hreflang is not None:
                page.alternates.append((hreflang.strip(), href.strip()))
        elif tag == "script":
            kind = (element.get("type") or "").split(";", 1)[0].strip().lower()
            if kind == "application/ld+json":
                _read_jsonld(page, element.text or "")
    return page


def _read_jsonld(page: Page, text: str) -> None:
    try:
        page.jsonld.append(json.loads(text))
    except ValueError as exc:
        page.jsonld_errors.append(f"a JSON-LD block is not valid JSON: {exc}")


def _add(values: list[str], text: str) -> None:
    text = text.strip()
    if text:
        values.append(text)


# Open Graph and Twitter tag names of the payload dictionary's keys.
_OG_TAGS = {"image_width": "og:image:width", "image_height": "og:image:height", "image_alt": "og:image:alt",
            "locale_alternate": "og:locale:alternate"}
_TWITTER_TAGS = {"image_alt": "twitter:image:alt"}


def page_from_payload(record: Mapping[str, Any], route: str, location: Location) -> Page:
    """A page from a payload dictionary (``SEOPayload.to_dict()``), read as
    its rendered head shows it: an empty description renders no tag, an
    absent Open Graph or Twitter field no tag. ``alternates``, when the record
    has it, maps language tags to URLs (or is a list of such pairs)."""
    page = Page(route, location)
    for key, values in (("title", page.titles), ("description", page.descriptions),
                        ("canonical", page.canonicals), ("robots", page.robots)):
        value = record.get(key)
        if isinstance(value, str):
            _add(values, value)
    for key, tags, prefix, names in (("og", _OG_TAGS, "og:", page.og),
                                     ("twitter", _TWITTER_TAGS, "twitter:", page.twitter)):
        part = record.get(key)
        if isinstance(part, Mapping):
            names.update(tags.get(name, prefix + name) for name, value in part.items()
                         if value is not None and value != [])
    schema = record.get("schema_jsonld")
    if schema is not None:
        page.jsonld.append(schema)
    alternates = record.get("alternates")
    pairs = alternates.items() if isinstance(alternates, Mapping) else alternates or ()
    for pair in pairs:
        if isinstance(pair, (list, tuple)) and len(pair) == 2 and all(isinstance(p, str) for p in pair):
            page.alternates.append((pair[0], pair[1]))
        else:
            page.error = f"'alternates' holds {pair!r}, not a (language, URL) pair"
    return page
