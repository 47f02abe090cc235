"""Reading a contract file: its expectations with their origins, route
patterns, and the expectation that applies to one route.

An expectation is held flat, one entry per constraint, keyed by its path in
the expectation object (``max_length``, ``title.max_length``,
``schema.types``, ``open_graph.required``). Merging for a route is then a
plain update in order: defaults, each matching rule in file order, the
exception for that route; each entry remembers where it came from, so a
failure carries its rule's severity and its place in the contract.
"""

from __future__ import annotations

import re
import urllib.parse
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable, Union

from .findings import Finding, Location, Origin, Severity
from .jsontext import JSONText, JSONTextError, pointer_join

#: A flat expectation: constraint path to the constraint.
Expectation = dict[str, "Constraint"]

_FLAGS = ("required", "forbidden")
_TEXTS = ("equals", "not_equals", "contains", "matches")
_COUNTS = ("min_length", "max_length", "min_items", "max_items")
_FIELD_RECORDS = ("open_graph", "twitter", "sitemap", "hreflang")
_PAGE_ONLY = ("indexable", "canonical", "schema", *_FIELD_RECORDS, "title", "description")
_SEVERITIES: dict[str, Severity] = {"Error": "error", "Warning": "warning", "Info": "info"}


@dataclass(frozen=True)
class Constraint:
    """One constraint's value and the contract member it came from."""

    value: Any
    origin: Origin


@dataclass
class Rule:
    """A rule of the contract; ``regex`` is None when its pattern is malformed
    (then it matches nothing)."""

    index: int
    pattern: str
    regex: re.Pattern[str] | None
    expectation: Expectation


@dataclass
class RouteException:
    """The expectation of one exact route."""

    route: str
    expectation: Expectation
    location: Location


@dataclass
class Contract:
    """A contract as read from its file. ``problems`` are the findings about
    the file itself; when ``usable`` is false (not JSON, another format
    version, no site) no page can be checked against it."""

    path: str
    scheme: str = "https"
    host: str = ""
    defaults: Expectation = field(default_factory=dict)
    rules: list[Rule] = field(default_factory=list)
    exceptions: dict[str, RouteException] = field(default_factory=dict)
    problems: list[Finding] = field(default_factory=list)
    usable: bool = True

    def expectation_for(self, route: str) -> Expectation:
        """Defaults, then every rule whose pattern matches the route's path, in
        file order, then the route's exception; later entries override
        earlier ones constraint by constraint."""
        merged = dict(self.defaults)
        key = route_key(route)
        path = key.split("?", 1)[0]
        for rule in self.rules:
            if rule.regex is not None and rule.regex.match(path):
                merged.update(rule.expectation)
        exception = self.exceptions.get(key)
        if exception is not None:
            merged.update(exception.expectation)
        return merged

    def self_url(self, route: str) -> str:
        """The URL of a route on the contract's site."""
        return f"{self.scheme}://{self.host}{route}"

    def uses(self, constraint: str) -> bool:
        """Whether any expectation sets ``constraint`` to a true value."""
        expectations = [self.defaults, *(rule.expectation for rule in self.rules),
                        *(exception.expectation for exception in self.exceptions.values())]
        return any(bool(getattr(e.get(constraint), "value", False)) for e in expectations)


def _decode_path(path: str) -> str:
    # Percent-escapes are decoded so that "/café" and "/caf%C3%A9" are one
    # route; an escaped "/" stays escaped, it does not split a segment.
    return urllib.parse.unquote(re.sub("%2[fF]", "%252F", path))


def route_key(route: str) -> str:
    """The form in which routes are compared: the path percent-decoded,
    without a trailing slash (except the root), the query kept as written and
    any fragment dropped."""
    route = route.split("#", 1)[0]
    path, question, query = route.partition("?")
    path = _decode_path(path) or "/"
    if len(path) > 1 and path.endswith("/"):
        path = path[:-1]
    return path + (question + query if query else "")


def compile_pattern(pattern: str) -> re.Pattern[str]:
    """The regular expression of a route pattern: ``*`` matches within one
    path segment, ``**`` across segments (a whole ``/**`` segment also matches
    no segment at all), everything else literally, anchored at both ends.
    Raises ValueError for a malformed pattern."""
    if not pattern.startswith("/"):
        raise ValueError("a route pattern starts with '/'")
    if "***" in pattern:
        raise ValueError("'***' is not a wildcard; use '*' or '**'")
    if "?" in pattern or "#" in pattern:
        raise ValueError("a route pattern matches the path only; it cannot hold '?' or '#'")
    key = route_key(pattern)
    parts = re.split(r"(\*\*|\*)", key)
    regex = ""
    for index, part in enumerate(parts):
        if part == "**":
            following = parts[index + 1]
            if regex.endswith("/") and (following == "" or following.startswith("/")):
                regex = regex[:-1] + "(?:/.*)?"
            else:
                regex += ".*"
        elif part == "*":
            regex += "[^/]*"
        else:
            regex += re.escape(part).replace("\\/", "/")
    return re.compile(regex + r"\Z")


class _Reader:
    """Reads one contract file into a Contract, collecting problems."""

    def __init__(self, path: str, document: JSONText) -> None:
        self.path = path
        self.document = document
        self.problems: list[Finding] = []

    def location(self, pointer: str) -> Location:
        position = self.document.position(pointer)
        line, column = position if position else (None, None)
        return Location(self.path, line, column, pointer)

    def problem(self, pointer: str, message: str, severity: Severity = "error") -> None:
        self.problems.append(Finding("contract", severity, message, self.location(pointer)))

    def read(self) -> Contract:
        data = self.document.value
        contract = Contract(self.path)
        if not isinstance(data, dict):
            self.problem("", "a contract is a JSON object")
            contract.usable = False
            return self.finish(contract)
        version = data.get("contract_version")
        if version != "1":
            where = "/contract_version" if "contract_version" in data else ""
            self.problem(where, f"unsupported contract version {version!r}; this checker reads version '1'")
            contract.usable = False
        site = data.get("site")
        if isinstance(site, dict):
            contract.usable &= self.read_site(site, contract)
        else:
            self.problem("/site" if "site" in data else "", "the contract needs a 'site' object")
            contract.usable = False
        known = {"contract_version", "generator", "site", "defaults", "rules", "exceptions"}
        for key in data:
            if key not in known:
                self.problem(pointer_join("", key), f"unknown contract member '{key}'")
        if "defaults" in data:
            origin = self.origin_factory("defaults", "error")
            contract.defaults = self.expectation(data["defaults"], "/defaults", origin, "")
        rules = data.get("rules", [])
        if isinstance(rules, list):
            contract.rules = [rule for index, item in enumerate(rules)
                              if (rule := self.rule(index, item)) is not None]
        else:
            self.problem("/rules", "'rules' is a list of rules")
        exceptions = data.get("exceptions", {})
        if isinstance(exceptions, dict):
            for route, item in exceptions.items():
                self.exception(route, item, contract)
        else:
            self.problem("/exceptions", "'exceptions' maps routes to expectations")
        return self.finish(contract)

    def finish(self, contract: Contract) -> Contract:
        contract.problems = self.problems
        return contract

    def read_site(self, site: dict[str, Any], contract: Contract) -> bool:
        host, scheme = site.get("canonical_host"), site.get("scheme", "https")
        ok = True
        if not isinstance(host, str) or not host or "/" in host:
            self.problem("/site/canonical_host" if "canonical_host" in site else "/site",
                         "'site.canonical_host' must be a host name without scheme or path")
            ok = False
        else:
            contract.host = host
        if not isinstance(scheme, str) or scheme.lower() not in ("http", "https"):
            self.problem("/site/scheme", "'site.scheme' must be 'http' or 'https'")
            ok = False
        else:
            contract.scheme = scheme.lower()
        return ok

    def origin_factory(self, label: str, severity: Severity) -> Callable[[str], Origin]:
        return lambda pointer: Origin(label, severity, self.location(pointer))

    def rule(self, index: int, item: Any) -> Rule | None:
        pointer = pointer_join("/rules", index)
        if not isinstance(item, dict):
            self.problem(pointer, "a rule is an object with 'match' and 'expect'")
            return None
        for key in item:
            if key not in ("match", "expect", "severity"):
                self.problem(pointer_join(pointer, key), f"unknown rule member '{key}'")
        severity: Severity = "error"
        if "severity" in item:
            written = item["severity"]
            if written in _SEVERITIES:
                severity = _SEVERITIES[written]
            else:
                self.problem(pointer + "/severity",
                             f"severity {written!r} is not one of 'Error', 'Warning', 'Info'; taken as 'Error'")
        pattern = item.get("match")
        regex: re.Pattern[str] | None = None
        if not isinstance(pattern, str):
            self.problem(pointer + "/match" if "match" in item else pointer, "a rule needs a 'match' pattern (text)")
            pattern = "" if pattern is None else str(pattern)
        else:
            try:
                regex = compile_pattern(pattern)
            except ValueError as exc:
                self.problem(pointer + "/match", f"malformed route pattern {pattern!r}: {exc}; the rule matches nothing")
        label = f"rule {index + 1} {pattern!r}"
        if "expect" not in item:
            self.problem(pointer, "a rule needs an 'expect' object")
        expectation = self.expectation(item.get("expect", {}), pointer + "/expect",
                                       self.origin_factory(label, severity), "")
        return Rule(index, pattern, regex, expectation)

    def exception(self, route: str, item: Any, contract: Contract) -> None:
        pointer = pointer_join("/exceptions", route)
        if not route.startswith("/"):
            self.problem(pointer, f"exception route {route!r} does not start with '/'")
        key = route_key(route)
        if key in contract.exceptions:
            self.problem(pointer, f"exception route {route!r} is the same route as "
                                  f"{contract.exceptions[key].route!r}; this one wins", "warning")
        expectation = self.expectation(item, pointer, self.origin_factory(f"exception {route!r}", "error"), "")
        contract.exceptions[key] = RouteException(route, expectation, self.location(pointer))

    def expectation(self, value: Any, pointer: str, origin: Callable[[str], Origin], subject: str) -> Expectation:
        """The flat constraints of an expectation object; ``subject`` is ""
        for a page and "title" or "description" for a nested expectation."""
        result: Expectation = {}
        if not isinstance(value, dict):
            self.problem(pointer, "an expectation is a JSON object")
            return result
        prefix = subject + "." if subject else ""
        for key, item in value.items():
            child = pointer_join(pointer, key)

            def put(name: str, checked: Any, child: str = child) -> None:
                result[prefix + name] = Constraint(checked, origin(child))

            if key in _FLAGS:
                if self.expect(item, bool, child, "true or false"):
                    put(key, item)
            elif key in _TEXTS:
                if self.expect(item, str, child, "text"):
                    if key == "matches":
                        try:
                            put(key, re.compile(item))
                        except re.error as exc:
                            self.problem(child, f"invalid regular expression {item!r}: {exc}; not checked")
                    else:
                        put(key, item)
            elif key == "one_of":
                if self.expect(item, list, child, "a list of texts") and self.texts(item, child):
                    put(key, tuple(item))
            elif key in _COUNTS:
                if isinstance(item, int) and not isinstance(item, bool) and item >= 0:
                    put(key, item)
                else:
                    self.problem(child, f"'{key}' must be a whole number of at least 0")
            elif key in _PAGE_ONLY and subject:
                if item != {}:
                    self.problem(child, f"'{key}' applies to a whole page, not to the {subject}; ignored", "warning")
            elif key == "indexable":
                if self.expect(item, bool, child, "true or false"):
                    put(key, item)
            elif key == "canonical":
                if self.expect(item, str, child, "text"):
                    if item == "self" or re.match(r"https?://[^/?#]+", item):
                        put(key, item)
                    else:
                        self.problem(child, f"canonical expectation {item!r} is neither 'self' nor an absolute "
                                            "http(s) URL; not checked")
            elif key == "schema":
                if self.expect(item, dict, child, "an object"):
                    for name, member in item.items():
                        member_pointer = pointer_join(child, name)
                        if name == "required":
                            if self.expect(member, bool, member_pointer, "true or false"):
                                put("schema.required", member, member_pointer)
                        elif name == "types":
                            if self.expect(member, list, member_pointer, "a list of texts") and \
                                    self.texts(member, member_pointer):
                                put("schema.types", tuple(member), member_pointer)
                        else:
                            self.problem(member_pointer, f"unknown schema expectation '{name}'")
            elif key in _FIELD_RECORDS:
                if self.expect(item, dict, child, "an object"):
                    for name, member in item.items():
                        member_pointer = pointer_join(child, name)
                        if name != "required":
                            self.problem(member_pointer, f"unknown {key} expectation '{name}'")
                        elif self.expect(member, bool, member_pointer, "true or false"):
                            put(key + ".required", member, member_pointer)
            elif key in ("title", "description"):
                result.update(self.expectation(item, child, origin, key))
            else:
                self.problem(child, f"unknown expectation field '{key}'")
        self.contradictions(value, pointer)
        return result

    def expect(self, value: Any, kind: type, pointer: str, wanted: str) -> bool:
        if isinstance(value, kind) and (kind is bool or not isinstance(value, bool)):
            return True
        self.problem(pointer, f"'{pointer.rsplit('/', 1)[-1]}' must be {wanted}")
        return False

    def texts(self, items: list[Any], pointer: str) -> bool:
        for index, item in enumerate(items):
            if not isinstance(item, str):
                self.problem(pointer_join(pointer, index), "must be text")
                return False
        return True

    def contradictions(self, value: dict[str, Any], pointer: str) -> None:
        if value.get("required") is True and value.get("forbidden") is True:
            self.problem(pointer, "'required' and 'forbidden' are both true; no page can pass", "warning")
        for low, high in (("min_length", "max_length"), ("min_items", "max_items")):
            a, b = value.get(low), value.get(high)
            if isinstance(a, int) and isinstance(b, int) and a > b:
                self.problem(pointer, f"'{low}' {a} is above '{high}' {b}; no page can pass", "warning")


def load_contract(path: Union[str, Path]) -> Contract:
    """Reads a contract file. Never raises for what the file holds: problems
    are findings in ``Contract.problems``, with their place in the file."""
    name = str(path)
    try:
        text = Path(path).read_bytes().decode("utf-8")
    except (OSError, UnicodeDecodeError) as exc:
        reason = exc.strerror if isinstance(exc, OSError) and exc.strerror else str(exc)
        return Contract(name, problems=[Finding("contract", "error", f"cannot read the contract: {reason}",
                                                Location(name))], usable=False)
    try:
        document = JSONText(text.removeprefix("\ufeff"))
    except JSONTextError as exc:
        lines = text.removeprefix("\ufeff")[:exc.offset].split("\n")
        location = Location(name, len(lines), len(lines[-1]) + 1)
        return Contract(name, problems=[Finding("contract", "error", f"the contract is not valid JSON: {exc.message}",
                                                location)], usable=False)
    return _Reader(name, document).read()
