"""Checking a site's pages against an SEO contract file.

The pages come from a directory of built HTML files, a JSON Lines file of
payload dictionaries or a running site; each is read as consumers read it
(the head parsed by an HTML5 parser, JSON-LD blocks parsed as JSON) and
checked against the expectation of its route: the contract's defaults, then
every rule whose pattern matches the route, in file order, then the
exception for that route, later ones overriding earlier ones constraint by
constraint. A problem of the contract itself, an unreadable page or an
invalid regular expression is a finding with its location, never an
exception. ``python -m quarlo check`` is the command line; the pytest plugin
turns each route into a test.

Reading HTML needs html5lib (``pip install 'quarlo-native[check]'``).
"""

from .contract import Contract, compile_pattern, load_contract, route_key
from .findings import SEVERITIES, Finding, Location, Origin, Severity
from .page import Page, page_from_payload, parse_head
from .report import FORMATS, render
from .run import Checker, CheckResult, PageResult, check
from .sources import DirectorySource, JsonLinesSource, SiteSource, Source

__all__ = [
    "FORMATS",
    "SEVERITIES",
    "CheckResult",
    "Checker",
    "Contract",
    "DirectorySource",
    "Finding",
    "JsonLinesSource",
    "Location",
    "Origin",
    "Page",
    "PageResult",
    "Severity",
    "SiteSource",
    "Source",
    "check",
    "compile_pattern",
    "load_contract",
    "page_from_payload",
    "parse_head",
    "render",
    "route_key",
]
