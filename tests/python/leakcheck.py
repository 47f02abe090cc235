"""Memory growth of a repeated workload, for the leak tests."""

import gc
import tracemalloc


def traced_growth(run):
    """Runs ``run`` once to warm up, then again under tracemalloc; returns the bytes still held."""
    run()
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        run()
        gc.collect()
        return tracemalloc.get_traced_memory()[0] - before
    finally:
        tracemalloc.stop()
