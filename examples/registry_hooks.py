"""A Python schema generator and two post-processing hooks around the payload
build, registered through the quarlo package.

    python3 examples/registry_hooks.py
"""

from typing import Any

from quarlo import HookRegistry, SchemaRegistry, SEOConfig, SEOEntity, SEOImage, build_seo_payload

schemas = SchemaRegistry()
hooks = HookRegistry()


@schemas.register("Recipe")
def recipe(entity: SEOEntity, config: SEOConfig, canonical: str, title: str, description: str,
           image: str | None) -> dict[str, Any]:
    """The JSON-LD document of a recipe page (replaces the built-in one)."""
    document: dict[str, Any] = {"@context": "https://schema.org", "@type": "Recipe", "name": title,
                                "description": description, "url": canonical}
    if image is not None:
        document["image"] = image
    return document


@hooks.register
def brand_title(payload: dict[str, Any], entity: SEOEntity, config: SEOConfig) -> None:
    """Changes the dictionary in place."""
    payload["title"] += " | Example Kitchen"


@hooks.register("post_process")
def small_card(payload: dict[str, Any], entity: SEOEntity, config: SEOConfig) -> dict[str, Any]:
    """Returns a new dictionary; runs after brand_title."""
    return {**payload, "twitter": {**payload["twitter"], "card": "summary"}}


CONFIG = SEOConfig("www.example.com", "https://www.example.com", schema_type_map=[("post", "Recipe")],
                   schema_registry=schemas, hooks=hooks)


def main() -> None:
    entity = SEOEntity("post", title="Lemon cake", excerpt="A light lemon cake with a crisp sugar crust.",
                       featured_image=SEOImage("https://www.example.com/img/lemon-cake.png"))
    payload = build_seo_payload(entity, "/recipes/lemon-cake", CONFIG)
    print(payload.render_html(), end="")


if __name__ == "__main__":
    main()
