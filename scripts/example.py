"""Built-in example: a site configuration, an entity and its canonical URL."""

import json

import _quarlo_native as q


def main() -> None:
    config = q.SEOConfig(
        "www.example.com",
        "https://www.example.com/",
        site_name="Example Journal",
        title_template="{title} | Example Journal",
        url_policy=q.URLPolicy(trailing_slash="never", extra_tracking_params=["ref"]),
    )
    entity = q.SEOEntity(
        "post",
        title="Hello, world",
        excerpt="The first post of the example journal.",
        featured_image=q.SEOImage("https://www.example.com/img/hello.png", width=1200, height=630),
        breadcrumbs=[q.Breadcrumb("Home", "/"), q.Breadcrumb("Blog", "/blog/")],
    )
    route = "/blog//Hello-World/?utm_source=newsletter&ref=home&page=2#comments"

    print("canonical URL:", q.normalize_public_url_fn(route, config))
    print("cleaned URL:  ", json.dumps(q.clean_url_fn("https://www.example.com" + route), indent=2))
    print("entity:       ", json.dumps(entity.to_dict(), indent=2))
    print("robots:       ", q.Robots(max_snippet=-1, max_image_preview="large").serialize())
    print("exception hierarchy:")
    for name in ("QuarloError", "InvalidUrlError", "ConfigurationError",
                 "EntityError", "SchemaError", "ContractError"):
        cls = getattr(q, name)
        print(f"  {name}({', '.join(b.__name__ for b in cls.__bases__)})")


if __name__ == "__main__":
    main()
