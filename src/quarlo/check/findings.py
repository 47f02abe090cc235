"""What a check reports: findings, their locations and severities."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Literal

Severity = Literal["error", "warning", "info"]

#: Severities from the least to the most severe.
SEVERITIES: tuple[Severity, ...] = ("info", "warning", "error")
SEVERITY_RANK: dict[str, int] = {name: rank for rank, name in enumerate(SEVERITIES)}


@dataclass(frozen=True)
class Location:
    """Where a finding points: a file or URL, optionally a line and column
    (1-based) and, in a contract, the JSON pointer of the member."""

    uri: str
    line: int | None = None
    column: int | None = None
    pointer: str | None = None

    def __str__(self) -> str:
        text = self.uri
        if self.line is not None:
            text += f":{self.line}"
            if self.column is not None:
                text += f":{self.column}"
        if self.pointer is not None:
            text += f" ({self.pointer or '/'})"
        return text


@dataclass(frozen=True)
class Origin:
    """The contract member an expectation came from: its label (``defaults``,
    ``rule 2 "/blog/*"``, ``exception "/about"``), the severity its failures
    carry and its place in the contract file."""

    label: str
    severity: Severity
    location: Location


@dataclass(frozen=True)
class Finding:
    """One problem: a failed expectation, an unreadable page, a malformed
    contract or an unreadable sitemap.

    ``check`` names what was checked (``title.max_length``, ``canonical``,
    ``page.unreadable``, ``contract`` ...); ``route`` is the page's route when
    the finding belongs to one; ``origin`` is the contract member a failed
    expectation came from.
    """

    check: str
    severity: Severity
    message: str
    location: Location
    route: str | None = None
    origin: Origin | None = None


def at_least(severity: str, threshold: str) -> bool:
    """Whether ``severity`` is ``threshold`` or more severe."""
    return SEVERITY_RANK[severity] >= SEVERITY_RANK[threshold]
