"""Per-call cost of the payload functions for a typical blog post.

Run against the installed module:

    python3 bench/python/bench_build.py

The typical post is the one of bench_classes (2 KB body, image, three
breadcrumbs, title template); the hook cases add a hook object that returns
None, so the payload goes through its dict form (read back only when the
hook changed it: the second hook sets the title, so that road is measured
too).
"""

import _quarlo_native as q

from bench_classes import make_config, make_entity
from timing import report


class NoOpHook:
    def run(self, event, payload, entity, config):
        return None


class TitleHook:
    def run(self, event, payload, entity, config):
        payload["title"] = "From the hook"
        return None


class DeclineRegistry:
    def has(self, schema_type):
        return False


def main() -> None:
    entity, config = make_entity(), make_config()
    route = "/blog/hello-world"
    build = q.build_seo_payload
    overrides = q.SEOOverrides(meta_title="Custom", og_title="Social", twitter_card="summary")

    report("build_seo_payload(typical post)", lambda: build(entity, route, config), target_ns=3000)
    report("build_seo_payload(...).render_html()", lambda: build(entity, route, config).render_html(),
           target_ns=4500)
    report("build_seo_payload(..., overrides)", lambda: build(entity, route, config, overrides))
    report("build_seo_payload_dict(typical post)", lambda: q.build_seo_payload_dict(entity, route, config))
    report("SEOOverrides(3 texts)",
           lambda: q.SEOOverrides(meta_title="Custom", og_title="Social", twitter_card="summary"))

    with_registry = make_config()
    with_registry.schema_registry = DeclineRegistry()
    report("build_seo_payload(registry has() False)", lambda: build(entity, route, with_registry))

    with_hook = make_config()
    with_hook.hooks = NoOpHook()
    report("build_seo_payload(no-op hook)", lambda: build(entity, route, with_hook), target_ns=15000)

    with_title_hook = make_config()
    with_title_hook.hooks = TitleHook()
    report("build_seo_payload(hook setting the title)", lambda: build(entity, route, with_title_hook))


if __name__ == "__main__":
    main()
