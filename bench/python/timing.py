"""Tiny timing harness for the Python benchmarks: median per-call time."""

import statistics
import time
from typing import Callable, Optional


def per_call_ns(fn: Callable[[], object], number: int = 20000, repeat: int = 7) -> float:
    """Median over `repeat` runs of the mean time of one call, in ns."""
    samples = []
    for _ in range(repeat):
        start = time.perf_counter_ns()
        for _ in range(number):
            fn()
        samples.append((time.perf_counter_ns() - start) / number)
    # Subtract the cost of the loop and the lambda call itself.
    return statistics.median(samples) - _overhead_ns(number, repeat)


_OVERHEAD: Optional[float] = None


def _overhead_ns(number: int, repeat: int) -> float:
    global _OVERHEAD
    if _OVERHEAD is None:
        noop = lambda: None  # noqa: E731
        samples = []
        for _ in range(repeat):
            start = time.perf_counter_ns()
            for _ in range(number):
                noop()
            samples.append((time.perf_counter_ns() - start) / number)
        _OVERHEAD = statistics.median(samples)
    return _OVERHEAD


def report(name: str, fn: Callable[[], object], target_ns: Optional[float] = None) -> float:
    ns = per_call_ns(fn)
    target = f"  (target <= {target_ns:.0f} ns)" if target_ns else ""
    print(f"{name:45s} {ns:8.0f} ns{target}")
    return ns
