"""Command line of the quarlo package: ``python -m quarlo check ...``."""

from __future__ import annotations

import sys
from typing import Sequence


_USAGE = ("usage: python -m quarlo check CONTRACT.json SOURCE [options]\n\n"
          "commands:\n  check    check the pages of a site against an SEO contract (python -m quarlo check --help)")


def main(argv: Sequence[str] | None = None) -> int:
    arguments = list(sys.argv[1:] if argv is None else argv)
    if not arguments or arguments[0] in ("-h", "--help"):
        print(_USAGE, file=sys.stdout if arguments else sys.stderr)
        return 0 if arguments else 2
    if arguments[0] != "check":
        print(f"python -m quarlo: unknown command {arguments[0]!r}; the command is 'check'", file=sys.stderr)
        return 2
    from .check.cli import main as check_main
    return check_main(arguments[1:])


if __name__ == "__main__":
    sys.exit(main())
