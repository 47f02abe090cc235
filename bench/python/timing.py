"""Tiny timing harness for the Python benchmarks: median per-call time, alone
or paired with a base timed in the same rounds."""

import statistics
import time
from typing import Callable, List, Optional, Tuple


def _mean_ns(fn: Callable[[], object], number: int) -> float:
    """Mean time of one call over `number` calls, in ns."""
    start = time.perf_counter_ns()
    for _ in range(number):
        fn()
    return (time.perf_counter_ns() - start) / number


def per_call_ns(fn: Callable[[], object], number: int = 20000, repeat: int = 7) -> float:
    """Median over `repeat` runs of the mean time of one call, in ns."""
    median = statistics.median(_mean_ns(fn, number) for _ in range(repeat))
    # Subtract the cost of the loop and the lambda call itself.
    return median - _overhead_ns(number, repeat)


def paired_ns(fn: Callable[[], object], base: Callable[[], object], number: int = 20000,
              repeat: int = 9) -> Tuple[float, float, float]:
    """`fn` and `base` timed in alternation, `repeat` rounds of `number` calls
    each: the median per-call time of each, in ns, and the median of the
    per-round ratios fn / base. Load from other processes comes and goes
    within seconds on a shared machine; timed in the same rounds, both sides
    see the same load, and the ratio keeps what the load would scatter."""
    overhead = _overhead_ns(number, repeat)
    fn_ns: List[float] = []
    base_ns: List[float] = []
    for _ in range(repeat):
        fn_ns.append(_mean_ns(fn, number) - overhead)
        base_ns.append(_mean_ns(base, number) - overhead)
    ratio = statistics.median(f / b for f, b in zip(fn_ns, base_ns))
    return statistics.median(fn_ns), statistics.median(base_ns), ratio


_OVERHEAD: Optional[float] = None


def _overhead_ns(number: int, repeat: int) -> float:
    global _OVERHEAD
    if _OVERHEAD is None:
        noop = lambda: None  # noqa: E731
        _OVERHEAD = statistics.median(_mean_ns(noop, number) for _ in range(repeat))
    return _OVERHEAD


def report(name: str, fn: Callable[[], object], target_ns: Optional[float] = None) -> float:
    ns = per_call_ns(fn)
    target = f"  (target <= {target_ns:.0f} ns)" if target_ns else ""
    print(f"{name:45s} {ns:8.0f} ns{target}")
    return ns
