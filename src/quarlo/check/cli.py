"""``python -m quarlo check``: the command line of the contract checker.

Exit status: 0 when no finding is at the ``--fail-on`` level or above, 1
when one is, 2 for a usage error (bad arguments, a missing source, an
unwritable output file).
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import Sequence

from .findings import SEVERITIES, Severity
from .report import FORMATS, render
from .run import check
from .sources import DirectorySource, JsonLinesSource, SiteSource, Source

USAGE_ERROR = 2


def parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python -m quarlo check",
        description="Checks the pages of a site against an SEO contract file.",
        epilog="SOURCE is a directory of built HTML files or a JSON Lines file of payload dictionaries "
               "with a 'route' key; or give --site URL with --routes FILE or --sitemap URL to check a running site.")
    parser.add_argument("contract", metavar="CONTRACT.json", help="the contract file")
    parser.add_argument("source", metavar="SOURCE", nargs="?", help="a directory of HTML files or a .jsonl file")
    parser.add_argument("--site", metavar="URL", help="base URL of a running site to fetch pages from")
    parser.add_argument("--routes", metavar="FILE", help="with --site: the routes to fetch, one a line")
    parser.add_argument("--sitemap", metavar="URL_OR_FILE",
                        help="the sitemap: with --site and no --routes also the routes to fetch; "
                             "default SITE/sitemap.xml or SOURCE/sitemap.xml")
    parser.add_argument("--format", choices=FORMATS, default="text", help="report format (default text)")
    parser.add_argument("-o", "--output", metavar="FILE", help="write the report to FILE instead of standard output")
    parser.add_argument("--fail-on", choices=SEVERITIES[::-1], default="error",
                        help="exit with 1 when a finding has this severity or a higher one (default error)")
    parser.add_argument("--jobs", type=int, metavar="N",
                        help="worker processes parsing HTML files (default 1), or concurrent requests "
                             "to a site (default 8)")
    parser.add_argument("--timeout", type=float, default=10.0, metavar="SECONDS",
                        help="with --site: time limit of each request (default 10)")
    return parser


def _source(options: argparse.Namespace, parser: argparse.ArgumentParser) -> Source:
    if options.site:
        if options.source:
            parser.error("give either SOURCE or --site, not both")
        if not options.routes and not options.sitemap:
            parser.error("--site needs --routes FILE or --sitemap URL")
        routes = None
        if options.routes:
            try:
                routes = Path(options.routes).read_text(encoding="utf-8").splitlines()
            except (OSError, UnicodeDecodeError) as exc:
                parser.error(f"cannot read --routes {options.routes}: {exc}")
        try:
            return SiteSource(options.site, routes=routes, sitemap=options.sitemap, timeout=options.timeout)
        except ValueError as exc:
            parser.error(str(exc))
    if options.routes:
        parser.error("--routes needs --site")
    if not options.source:
        parser.error("give SOURCE (a directory or a .jsonl file) or --site URL")
    path = Path(options.source)
    if path.is_dir():
        return DirectorySource(path, sitemap=options.sitemap)
    if path.is_file():
        return JsonLinesSource(path, sitemap=options.sitemap)
    parser.error(f"SOURCE {options.source} is neither a directory nor a file")


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the checker; returns the exit status."""
    arguments = parser()
    options = arguments.parse_args(argv)
    if options.jobs is not None and options.jobs < 1:
        arguments.error("--jobs must be at least 1")
    if options.timeout <= 0:
        arguments.error("--timeout must be above 0")
    try:
        import html5lib  # noqa: F401  (the checker's HTML parser)
    except ImportError:
        arguments.error("the checker needs html5lib: pip install 'quarlo-native[check]'")
    source = _source(options, arguments)
    jobs = options.jobs or (8 if options.site else 1)
    fail_on: Severity = options.fail_on
    result = check(options.contract, source, jobs=jobs)
    report = render(result, options.format, fail_on)
    if options.output:
        try:
            Path(options.output).write_text(report, encoding="utf-8")
        except OSError as exc:
            print(f"python -m quarlo check: cannot write {options.output}: {exc.strerror or exc}", file=sys.stderr)
            return USAGE_ERROR
    else:
        sys.stdout.write(report)
    return 1 if result.failed(fail_on) else 0
