"""Check results as text for people, JSON, JUnit XML for CI test views and
SARIF 2.1.0 for code-scanning views."""

from __future__ import annotations

import json
import os
import urllib.parse
import xml.etree.ElementTree as ElementTree
from pathlib import Path
from typing import Any, Callable

from .findings import SEVERITIES, Finding, Location, Severity, at_least
from .run import CheckResult

FORMATS = ("text", "json", "junit", "sarif")

#: What each check verifies, for the SARIF rule descriptions.
CHECKS: dict[str, str] = {
    "contract": "The contract file is well-formed.",
    "page.unreadable": "The page can be read (a file, a JSON Lines record or an HTTP 200 answer).",
    "page.required": "A route the contract requires is among the checked pages.",
    "sitemap.unreadable": "The site's sitemap can be read.",
    "indexable": "The page is indexable, or not, as expected (robots 'noindex').",
    "canonical": "The canonical link is the expected URL.",
    "schema.required": "The head holds a JSON-LD document.",
    "schema.types": "The JSON-LD documents hold nodes of the expected types.",
    "schema.invalid": "Every JSON-LD block is valid JSON.",
    "open_graph": "The Open Graph tags are present.",
    "twitter": "The Twitter Card tags are present.",
    "sitemap": "The page is listed in the sitemap.",
    "hreflang": "The head holds hreflang alternates.",
}
for _subject in ("page", "title", "description"):
    for _name, _text in (("required", "is present"), ("forbidden", "is absent"), ("equals", "equals a value"),
                         ("not_equals", "differs from a value"), ("contains", "contains a text"),
                         ("matches", "matches a regular expression"), ("one_of", "is one of a list"),
                         ("min_length", "is long enough"), ("max_length", "is short enough"),
                         ("min_items", "occurs often enough"), ("max_items", "occurs rarely enough")):
        CHECKS.setdefault(f"{_subject}.{_name}", f"The {'route' if _subject == 'page' else _subject} {_text}.")
CHECKS["page.required"] = "A route the contract requires is among the checked pages."
CHECKS["page.forbidden"] = "A route the contract forbids is not served."


def _tool_version() -> str | None:
    try:
        from importlib.metadata import PackageNotFoundError, version
        return version("quarlo-native")
    except (ImportError, PackageNotFoundError):
        return None


def _origin(finding: Finding) -> str:
    return f" [{finding.origin.label}]" if finding.origin else ""


def text(result: CheckResult, fail_on: Severity) -> str:
    lines = [f"quarlo check: {result.contract} against {result.source}"]

    def block(title: str, findings: list[Finding]) -> None:
        if findings:
            lines.append(title)
            for finding in findings:
                lines.append(f"  {finding.severity:8} {finding.check}: {finding.message}{_origin(finding)}")

    for finding in result.findings:
        block(str(finding.location), [finding])
    for page in result.pages:
        block(f"{page.route}  ({page.location})", page.findings)
    counts = result.counts()
    failed = sum(1 for page in result.pages if any(at_least(f.severity, fail_on) for f in page.findings))
    summary = ", ".join(f"{counts[s]} {s}" + ("s" if counts[s] != 1 and s != "info" else "")
                        for s in reversed(SEVERITIES))
    lines.append(f"{len(result.pages)} pages checked, {failed} failed; findings: {summary}")
    verdict = "FAILED" if result.failed(fail_on) else "PASSED"
    lines.append(f"{verdict} (failing on {fail_on} and above)")
    return "\n".join(lines) + "\n"


def _location_dict(location: Location) -> dict[str, Any]:
    return {key: value for key, value in (("uri", location.uri), ("line", location.line),
                                          ("column", location.column), ("pointer", location.pointer))
            if value is not None}


def _finding_dict(finding: Finding) -> dict[str, Any]:
    data: dict[str, Any] = {"check": finding.check, "severity": finding.severity, "message": finding.message,
                            "route": finding.route, "location": _location_dict(finding.location)}
    if finding.origin:
        data["origin"] = {"label": finding.origin.label, "location": _location_dict(finding.origin.location)}
    return data


def as_json(result: CheckResult, fail_on: Severity) -> str:
    summary: dict[str, int] = {"pages": len(result.pages)}
    summary.update((str(key), value) for key, value in result.counts().items())
    data = {
        "contract": result.contract,
        "source": result.source,
        "passed": not result.failed(fail_on),
        "fail_on": fail_on,
        "summary": summary,
        "findings": [_finding_dict(finding) for finding in result.all_findings()],
        "pages": [{"route": page.route, "location": _location_dict(page.location), "findings": len(page.findings)}
                  for page in result.pages],
    }
    return json.dumps(data, indent=2, ensure_ascii=False) + "\n"


def junit(result: CheckResult, fail_on: Severity) -> str:
    """One test case for the contract, one for each checked page and one for
    each missing required route; a case fails when it has a finding at the
    ``fail_on`` level or above (an unreadable page is an error), and lists
    the milder findings in its output."""
    cases: list[tuple[str, str, Location, list[Finding]]] = []
    general: list[Finding] = []
    missing: dict[str, list[Finding]] = {}
    for finding in result.findings:
        if finding.check == "page.required" and finding.route:
            missing.setdefault(finding.route, []).append(finding)
        else:
            general.append(finding)
    cases.append(("seo.contract", "contract", Location(result.contract), general))
    cases.extend(("seo.page", page.route, page.location, page.findings) for page in result.pages)
    cases.extend(("seo.page", route, findings[0].location, findings) for route, findings in missing.items())
    suite = ElementTree.Element("testsuite", name="quarlo check", tests=str(len(cases)))
    failures = errors = 0
    for classname, name, location, findings in cases:
        case = ElementTree.SubElement(suite, "testcase", classname=classname, name=name, file=location.uri)
        failing = [f for f in findings if at_least(f.severity, fail_on)]
        if failing:
            error = all(f.check in ("page.unreadable", "sitemap.unreadable") for f in failing)
            errors, failures = errors + error, failures + (not error)
            element = ElementTree.SubElement(case, "error" if error else "failure",
                                             message=f"{len(failing)} finding(s): {failing[0].message}",
                                             type=failing[0].check)
            element.text = "\n".join(f"{f.severity} {f.check}: {f.message}{_origin(f)} at {f.location}"
                                     for f in failing)
        milder = [f for f in findings if f not in failing]
        if milder:
            ElementTree.SubElement(case, "system-out").text = "\n".join(
                f"{f.severity} {f.check}: {f.message}{_origin(f)}" for f in milder)
    suite.set("failures", str(failures))
    suite.set("errors", str(errors))
    suite.set("skipped", "0")
    root = ElementTree.Element("testsuites", name="quarlo check", tests=str(len(cases)),
                               failures=str(failures), errors=str(errors))
    root.append(suite)
    ElementTree.indent(root)
    return '<?xml version="1.0" encoding="UTF-8"?>\n' + ElementTree.tostring(root, encoding="unicode") + "\n"


_SARIF_LEVELS = {"error": "error", "warning": "warning", "info": "note"}


def _artifact(uri: str, root: Path) -> dict[str, Any]:
    """A SARIF artifact location: a file below the working directory
    relative to it (the SRCROOT base), other files as file URIs, URLs as
    they are."""
    if "://" in uri:
        return {"uri": uri}
    path = Path(uri).absolute()
    try:
        relative = path.relative_to(root)
    except ValueError:
        return {"uri": path.as_uri()}
    return {"uri": urllib.parse.quote(relative.as_posix()), "uriBaseId": "SRCROOT"}


def _sarif_location(location: Location, root: Path) -> dict[str, Any]:
    physical: dict[str, Any] = {"artifactLocation": _artifact(location.uri, root)}
    if location.line is not None:
        region: dict[str, Any] = {"startLine": location.line}
        if location.column is not None:
            region["startColumn"] = location.column
        physical["region"] = region
    return {"physicalLocation": physical}


def sarif(result: CheckResult, fail_on: Severity) -> str:
    root = Path(os.getcwd())
    findings = list(result.all_findings())
    rule_ids = sorted({finding.check for finding in findings} | {"contract"})
    rules = [{"id": rule_id, "shortDescription": {"text": CHECKS.get(rule_id, rule_id)}} for rule_id in rule_ids]
    driver: dict[str, Any] = {"name": "quarlo check", "rules": rules}
    version = _tool_version()
    if version:
        driver["version"] = version
    results = []
    for finding in findings:
        message = f"{finding.route}: {finding.message}" if finding.route else finding.message
        item: dict[str, Any] = {
            "ruleId": finding.check,
            "ruleIndex": rule_ids.index(finding.check),
            "level": _SARIF_LEVELS[finding.severity],
            "message": {"text": message + _origin(finding)},
            "locations": [_sarif_location(finding.location, root)],
        }
        if finding.origin and finding.origin.location != finding.location:
            item["relatedLocations"] = [{"id": 1, **_sarif_location(finding.origin.location, root),
                                         "message": {"text": f"expectation from {finding.origin.label}"}}]
        if finding.route:
            item["properties"] = {"route": finding.route}
        results.append(item)
    run = {
        "tool": {"driver": driver},
        "originalUriBaseIds": {"SRCROOT": {"uri": root.as_uri() + "/"}},
        "invocations": [{"executionSuccessful": True,
                         "properties": {"contract": result.contract, "source": result.source,
                                        "passed": not result.failed(fail_on)}}],
        "results": results,
    }
    document = {"$schema": "https://json.schemastore.org/sarif-2.1.0.json", "version": "2.1.0", "runs": [run]}
    return json.dumps(document, indent=2, ensure_ascii=False) + "\n"


RENDERERS: dict[str, Callable[[CheckResult, Severity], str]] = {
    "text": text, "json": as_json, "junit": junit, "sarif": sarif}


def render(result: CheckResult, format: str = "text", fail_on: Severity = "error") -> str:
    """The result in one of ``FORMATS``."""
    return RENDERERS[format](result, fail_on)
