"""pytest plugin: ``pytest --seo-contract CONTRACT.json --seo-source SOURCE``
checks every page of SOURCE against the contract, one test per route.

SOURCE is a directory of built HTML files, a JSON Lines file of payload
dictionaries, or the http(s) URL of a running site whose pages are listed by
its ``/sitemap.xml``. Besides the pages there is one test for the contract
itself (and the sitemap), and one per required route that is missing. A test
fails on a finding at the ``--seo-fail-on`` level (default error) or above.

The plugin is registered for every pytest run once the wheel is installed,
and does nothing unless ``--seo-contract`` or ``--seo-source`` is given; its
module imports nothing of the checker until then.
"""

from __future__ import annotations

from pathlib import Path
from typing import TYPE_CHECKING, Any, Iterable, Optional, Union

import pytest

if TYPE_CHECKING:
    from .findings import Finding
    from .run import Checker
    from .sources import PageRef


def pytest_addoption(parser: pytest.Parser) -> None:
    group = parser.getgroup("seo-contract", "SEO contract checks (quarlo)")
    group.addoption("--seo-contract", metavar="CONTRACT.json", help="check pages against this SEO contract file")
    group.addoption("--seo-source", metavar="SOURCE",
                    help="the pages: a directory of HTML files, a .jsonl file of payloads, or a site's http(s) URL")
    group.addoption("--seo-fail-on", choices=("error", "warning", "info"), default="error",
                    help="fail a route's test on findings of this severity or higher (default error)")


class SEOFindings(Exception):
    """The failing findings of one test."""

    def __init__(self, findings: "list[Finding]") -> None:
        super().__init__(findings)
        self.findings = findings


class SEOContractFile(pytest.File):
    """The contract: one item for the contract itself, then one per page."""

    checker: "Checker"

    def collect(self) -> Iterable[Union[pytest.Item, pytest.Collector]]:
        from .contract import route_key
        from .evaluate import missing_pages
        from .findings import Finding

        general: list[Finding] = list(self.checker.contract.problems)
        refs: list[PageRef] = []
        if self.checker.contract.usable:
            for item in self.checker.source.refs(self.checker.contract):
                if isinstance(item, Finding):
                    general.append(item)
                else:
                    refs.append(item)
        yield SEOContractItem.from_parent(self, name="contract", findings=general)
        for ref in refs:
            yield SEOPageItem.from_parent(self, name=ref.route, ref=ref)
        if self.checker.contract.usable:
            seen = {route_key(ref.route) for ref in refs}
            for finding in missing_pages(self.checker.contract, seen):
                yield SEOContractItem.from_parent(self, name=finding.route or "?", findings=[finding])


class _SEOItem(pytest.Item):
    parent: SEOContractFile

    def findings(self) -> "list[Finding]":
        raise NotImplementedError

    def runtest(self) -> None:
        from .findings import at_least

        fail_on = self.config.getoption("seo_fail_on")
        findings = self.findings()
        failing = [f for f in findings if at_least(f.severity, fail_on)]
        milder = [f"{f.severity} {f.check}: {f.message}" for f in findings if f not in failing]
        if milder:
            self.add_report_section("call", "seo findings below --seo-fail-on", "\n".join(milder))
        if failing:
            raise SEOFindings(failing)

    def repr_failure(self, excinfo: pytest.ExceptionInfo[BaseException],
                     style: Optional[Any] = None) -> str:
        if isinstance(excinfo.value, SEOFindings):
            lines = []
            for finding in excinfo.value.findings:
                origin = f" [{finding.origin.label}]" if finding.origin else ""
                lines.append(f"{finding.severity} {finding.check}: {finding.message}{origin}")
                lines.append(f"    at {finding.location}")
            return "\n".join(lines)
        return str(super().repr_failure(excinfo))

    def reportinfo(self) -> tuple[Path, Optional[int], str]:
        return self.path, None, f"SEO contract: {self.name}"


class SEOContractItem(_SEOItem):
    """The contract's own problems, the sitemap's and the source's; or a
    required route that is missing."""

    def __init__(self, *, findings: "list[Finding]", **kwargs: Any) -> None:
        super().__init__(**kwargs)
        self._findings = findings

    def findings(self) -> "list[Finding]":
        if self.name == "contract" and self.parent.checker.contract.usable:
            return self._findings + self.parent.checker.sitemap().findings
        return self._findings


class SEOPageItem(_SEOItem):
    """One page of the source, read when the test runs."""

    def __init__(self, *, ref: "PageRef", **kwargs: Any) -> None:
        super().__init__(**kwargs)
        self.ref = ref

    def findings(self) -> "list[Finding]":
        checker = self.parent.checker
        return checker.check(checker.source.load(self.ref, checker.contract))


def _source(value: str) -> Any:
    from .sources import DirectorySource, JsonLinesSource, SiteSource

    if value.startswith(("http://", "https://")):
        return SiteSource(value, sitemap=value.rstrip("/") + "/sitemap.xml")
    path = Path(value)
    if path.is_dir():
        return DirectorySource(path)
    if path.is_file():
        return JsonLinesSource(path)
    raise pytest.UsageError(f"--seo-source {value}: neither a directory, a file nor an http(s) URL")


@pytest.hookimpl(tryfirst=True)
def pytest_collection_modifyitems(session: pytest.Session, config: pytest.Config, items: list[pytest.Item]) -> None:
    contract, source = config.getoption("seo_contract"), config.getoption("seo_source")
    if not contract and not source:
        return
    if not (contract and source):
        raise pytest.UsageError("--seo-contract and --seo-source go together")
    from .run import Checker

    checker = Checker(contract, _source(source))
    config.add_cleanup(checker.source.close)
    node = SEOContractFile.from_parent(session, path=Path(contract).absolute())
    node.checker = checker
    items.extend(item for item in node.collect() if isinstance(item, pytest.Item))
