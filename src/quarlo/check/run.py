"""Checking every page of a source against a contract."""

from __future__ import annotations

from dataclasses import dataclass, field
from pathlib import Path
from typing import Iterator, Union

from .contract import Contract, load_contract, route_key
from .evaluate import check_page, missing_pages
from .findings import SEVERITIES, Finding, Location, Severity, at_least
from .page import Page
from .sources import Sitemap, Source


@dataclass
class PageResult:
    """One checked page: its route, where it was read and its findings."""

    route: str
    location: Location
    findings: list[Finding]


@dataclass
class CheckResult:
    """The outcome of a check: every page with its findings, and the findings
    that belong to no checked page (the contract's own problems, an
    unreadable sitemap or source line, a required route that is missing)."""

    contract: str
    source: str
    pages: list[PageResult] = field(default_factory=list)
    findings: list[Finding] = field(default_factory=list)

    def all_findings(self) -> Iterator[Finding]:
        yield from self.findings
        for page in self.pages:
            yield from page.findings

    def counts(self) -> dict[Severity, int]:
        counts: dict[Severity, int] = {severity: 0 for severity in SEVERITIES}
        for finding in self.all_findings():
            counts[finding.severity] += 1
        return counts

    def failed(self, fail_on: Severity = "error") -> bool:
        """Whether any finding is ``fail_on`` or more severe."""
        return any(at_least(finding.severity, fail_on) for finding in self.all_findings())


class Checker:
    """The contract and the source of one check; ``check(page)`` gives the
    findings of one page (the pytest plugin runs pages one at a time)."""

    def __init__(self, contract: Union[Contract, str, Path], source: Source) -> None:
        self.contract = contract if isinstance(contract, Contract) else load_contract(contract)
        self.source = source
        self._sitemap: Sitemap | None = None

    def sitemap(self) -> Sitemap:
        """The sitemap, read once and only when an expectation needs it."""
        if self._sitemap is None:
            self._sitemap = (self.source.sitemap(self.contract) if self.contract.uses("sitemap.required")
                             else Sitemap(None, []))
        return self._sitemap

    def check(self, page: Page) -> list[Finding]:
        return check_page(self.contract, page, self.sitemap().urls)

    def pages(self, jobs: int = 1) -> Iterator[Union[Page, Finding]]:
        return self.source.pages(self.contract, jobs)

    def run(self, jobs: int = 1) -> CheckResult:
        contract = self.contract
        result = CheckResult(contract.path, self.source.description)
        result.findings.extend(contract.problems)
        if not contract.usable:
            return result
        result.findings.extend(self.sitemap().findings)
        seen: set[str] = set()
        try:
            for item in self.pages(jobs):
                if isinstance(item, Finding):
                    result.findings.append(item)
                    continue
                seen.add(route_key(item.route))
                result.pages.append(PageResult(item.route, item.location, self.check(item)))
        finally:
            self.source.close()
        result.findings.extend(missing_pages(contract, seen))
        return result


def check(contract: Union[Contract, str, Path], source: Source, *, jobs: int = 1) -> CheckResult:
    """Checks every page of ``source`` against the contract (a file path or
    a loaded ``Contract``). ``jobs`` is the number of worker processes that
    parse HTML files, or of concurrent requests to a site. Never raises for
    what the contract or the pages hold: every problem is a finding."""
    return Checker(contract, source).run(jobs)
