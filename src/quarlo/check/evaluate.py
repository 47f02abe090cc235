"""Checking one page against the expectation of its route."""

from __future__ import annotations

import re
import urllib.parse
from typing import Any, Callable, Collection

from .contract import Constraint, Contract, Expectation
from .findings import Finding
from .page import Page, jsonld_nodes

#: The tags that make Open Graph metadata present (the protocol's four
#: required properties) and Twitter Card metadata present.
OG_TAGS = ("og:title", "og:type", "og:image", "og:url")
TWITTER_TAGS = ("twitter:card",)

_ESCAPE = re.compile("%[0-9a-fA-F]{2}")
_DEFAULT_PORTS = {"http": 80, "https": 443}


def url_key(url: str) -> str:
    """A URL in the form in which two spellings of one URL compare equal:
    scheme and host lower-cased, a default port dropped, the path
    percent-encoded with upper-case escapes, no fragment."""
    try:
        parts = urllib.parse.urlsplit(url.strip())
        port = parts.port
    except ValueError:
        return url.strip()
    scheme = parts.scheme.lower()
    host = (parts.hostname or "").lower()
    if port is not None and port != _DEFAULT_PORTS.get(scheme):
        host += f":{port}"
    path = urllib.parse.quote(parts.path or "/", safe="/:@!$&'()*+,;=-._~%")
    path = _ESCAPE.sub(lambda match: match.group().upper(), path)
    return urllib.parse.urlunsplit((scheme, host, path, parts.query, ""))


def _shown(value: str, limit: int = 80) -> str:
    return repr(value if len(value) <= limit else value[:limit - 1] + "…")


def is_noindex(robots: Collection[str]) -> bool:
    """Whether any robots directive text holds ``noindex`` (or ``none``)."""
    return any(token.strip().lower() in ("noindex", "none") for text in robots for token in text.split(","))


class _PageCheck:
    def __init__(self, contract: Contract, page: Page, expectation: Expectation) -> None:
        self.contract = contract
        self.page = page
        self.expectation = expectation
        self.findings: list[Finding] = []

    def fail(self, check: str, constraint: Constraint, message: str) -> None:
        self.findings.append(Finding(check, constraint.origin.severity, message, self.page.location,
                                     self.page.route, constraint.origin))

    def get(self, name: str) -> Constraint | None:
        return self.expectation.get(name)

    def values(self, subject: str, values: list[str]) -> None:
        """The constraints that every expectation level has, over the values
        of its field: the page's route (one value, the page exists), the
        titles or the descriptions in the head."""
        prefix = "" if subject == "page" else subject + "."
        check = f"{subject}."
        what = "the route" if subject == "page" else f"the {subject}"
        c = self.get(prefix + "forbidden")
        if c and c.value and values:
            message = "this route must not be served" if subject == "page" else f"{what} must be absent"
            self.fail(check + "forbidden", c, message)
        c = self.get(prefix + "required")
        if c and c.value and not values:
            self.fail(check + "required", c, f"{what} is missing")
        count = len(values)
        c = self.get(prefix + "min_items")
        if c and count < c.value:
            self.fail(check + "min_items", c, f"{count} {subject} value(s) found, at least {c.value} required")
        c = self.get(prefix + "max_items")
        if c and count > c.value:
            self.fail(check + "max_items", c, f"{count} {subject} value(s) found, at most {c.value} allowed")
        tests: list[tuple[str, Callable[[str, Any], bool], str]] = [
            ("equals", lambda v, x: v == x, "{v} is not {x!r}"),
            ("not_equals", lambda v, x: v != x, "{v} must not be {x!r}"),
            ("contains", lambda v, x: x in v, "{v} does not contain {x!r}"),
            ("matches", lambda v, x: x.search(v) is not None, "{v} does not match {p!r}"),
            ("one_of", lambda v, x: v in x, "{v} is not one of {x!r}"),
            ("min_length", lambda v, x: len(v) >= x, "{v} is {n} characters long; at least {x} required"),
            ("max_length", lambda v, x: len(v) <= x, "{v} is {n} characters long; at most {x} allowed"),
        ]
        for name, test, template in tests:
            c = self.get(prefix + name)
            if c is None:
                continue
            for value in values:
                if not test(value, c.value):
                    x = list(c.value) if name == "one_of" else c.value
                    pattern = getattr(c.value, "pattern", "")
                    self.fail(check + name, c, f"{what} " + template.format(v=_shown(value), x=x, p=pattern,
                                                                            n=len(value)))

    def run(self, sitemap: Collection[str] | None) -> list[Finding]:
        page = self.page
        self.values("page", [page.route])
        self.values("title", page.titles)
        self.values("description", page.descriptions)
        own_url = self.contract.self_url(page.path)
        c = self.get("indexable")
        if c is not None:
            noindex = is_noindex(page.robots)
            if c.value and noindex:
                self.fail("indexable", c, f"the page is not indexable (robots {', '.join(map(repr, page.robots))})")
            elif not c.value and not noindex:
                self.fail("indexable", c, "the page is indexable; a 'noindex' robots directive is expected")
        c = self.get("canonical")
        if c is not None:
            self.canonical(c, own_url)
        self.schema()
        for name, tags, label in (("open_graph", OG_TAGS, "Open Graph"), ("twitter", TWITTER_TAGS, "Twitter Card")):
            c = self.get(name + ".required")
            present = page.og if name == "open_graph" else page.twitter
            missing = [tag for tag in tags if tag not in present]
            if c and c.value and missing:
                self.fail(name, c, f"{label} tags missing: {', '.join(missing)}")
        c = self.get("hreflang.required")
        if c and c.value and not page.alternates:
            self.fail("hreflang", c, "no hreflang alternates (<link rel=\"alternate\" hreflang=...>) in the head")
        c = self.get("sitemap.required")
        if c and c.value and sitemap is not None and url_key(own_url) not in sitemap:
            self.fail("sitemap", c, f"{own_url} is not listed in the sitemap")
        return self.findings

    def canonical(self, c: Constraint, own_url: str) -> None:
        expected = own_url if c.value == "self" else c.value
        whose = "the page's own URL " if c.value == "self" else ""
        hrefs = [urllib.parse.urljoin(own_url, href) for href in self.page.canonicals]
        if not hrefs:
            self.fail("canonical", c, f"no canonical link; expected {whose}{expected!r}")
        elif len(set(map(url_key, hrefs))) > 1:
            self.fail("canonical", c, f"{len(hrefs)} different canonical links {hrefs!r}; expected one, "
                                      f"{whose}{expected!r}")
        elif url_key(hrefs[0]) != url_key(expected):
            self.fail("canonical", c, f"canonical is {hrefs[0]!r}; expected {whose}{expected!r}")

    def schema(self) -> None:
        required, types = self.get("schema.required"), self.get("schema.types")
        any_constraint = required or types
        if any_constraint is None:
            return
        for error in self.page.jsonld_errors:
            self.fail("schema.invalid", any_constraint, error)
        nodes = list(jsonld_nodes(self.page.jsonld))
        if required and required.value and not nodes:
            self.fail("schema.required", required, "no JSON-LD document in the head")
        if types:
            found: list[str] = []
            for node in nodes:
                kind = node.get("@type")
                found.extend(t for t in (kind if isinstance(kind, list) else [kind]) if isinstance(t, str))
            missing = [t for t in types.value if t not in found]
            if missing:
                seen = ", ".join(dict.fromkeys(found)) or "none"
                self.fail("schema.types", types, f"no JSON-LD node of type {', '.join(missing)} (types found: {seen})")


def check_page(contract: Contract, page: Page, sitemap: Collection[str] | None = None) -> list[Finding]:
    """The findings of one page. ``sitemap`` holds the ``url_key`` of every
    URL in the site's sitemap, or is None when there is none to check
    against."""
    if page.error is not None:
        return [Finding("page.unreadable", "error", page.error, page.location, page.route)]
    return _PageCheck(contract, page, contract.expectation_for(page.route)).run(sitemap)


def missing_pages(contract: Contract, seen: Collection[str]) -> list[Finding]:
    """Findings for the exception routes that must exist (``required`` at the
    top level of their expectation) and were not among the checked pages;
    ``seen`` holds the ``route_key`` of every checked page."""
    findings = []
    for key, exception in contract.exceptions.items():
        if key in seen:
            continue
        required = contract.expectation_for(exception.route).get("required")
        if required and required.value:
            findings.append(Finding("page.required", required.origin.severity,
                                    f"route {exception.route!r} must exist and is not among the checked pages",
                                    exception.location, exception.route, required.origin))
    return findings
