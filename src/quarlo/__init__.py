"""quarlo: deterministic SEO metadata for Python web applications.

Every class and function of the native module ``_quarlo_native`` is available
here under the same name. Two small registries hold the Python code that a
payload build calls out to, through a configuration's ``schema_registry`` and
``hooks``:

- :class:`quarlo.registry.SchemaRegistry`: Python schema generators by
  schema.org type;
- :class:`quarlo.hooks.HookRegistry`: functions that post-process the
  payload dictionary.
"""

# Every name the native module publishes (its __all__, generated with the
# module from src/python/interface/description.py), in its order.
from _quarlo_native import *  # noqa: F403
from _quarlo_native import __all__ as __all__

from . import hooks, registry
