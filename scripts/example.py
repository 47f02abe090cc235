"""Built-in example: head HTML, ETag and validation findings for a blog post,
a home page with a search action and a product of one site."""

import _quarlo_native as q

CONFIG = q.SEOConfig(
    "www.example.com",
    "https://www.example.com",
    site_name="Example Journal",
    title_template="{title} | Example Journal",
    default_og_image=q.SEOImage("https://www.example.com/img/default.png", width=1200, height=630,
                                alt="Example Journal"),
    publisher_name="Example Media",
    publisher_logo="https://www.example.com/img/logo.png",
    locale="en_US",
    locale_alternate=["de_DE"],
    twitter_site="@examplejournal",
    search_url_template="https://www.example.com/search?q={search_term_string}",
    url_policy=q.URLPolicy(trailing_slash="never", extra_tracking_params=["ref"]),
)

PAGES = [
    (
        "Blog post",
        q.SEOEntity(
            "post",
            title="Hello, world",
            excerpt="The first post of the example journal: what it covers and why.",
            body_html="<p>Welcome to the <em>Example Journal</em>.</p>",
            status="published",
            published_at="2024-05-01T09:00:00Z",
            updated_at="2024-05-02",
            author_name="Ada Writer",
            featured_image=q.SEOImage("https://www.example.com/img/hello.png", width=1200, height=630,
                                      alt="A sunrise over the sea"),
            breadcrumbs=[q.Breadcrumb("Home", "/"), q.Breadcrumb("Blog", "/blog"),
                         q.Breadcrumb("Hello, world", "/blog/hello-world")],
        ),
        # Tracking parameters and a doubled slash are cleaned from the canonical URL.
        "/blog//hello-world/?utm_source=newsletter&ref=home",
        None,
    ),
    (
        "Home page",
        q.SEOEntity("home", title="Example Journal",
                    excerpt="Essays and notes on the craft of writing, published weekly."),
        "/",
        # The site name alone, not "Example Journal | Example Journal".
        q.SEOOverrides(skip_title_template=True),
    ),
    (
        "Product",
        q.SEOEntity(
            "product",
            title="The Example Journal, printed edition",
            excerpt="All essays of the first year, printed and bound.",
            sku="EJ-PRINT-1",
            price="29.00",
            price_currency="EUR",
            availability="InStock",
            featured_image=q.SEOImage("https://www.example.com/img/book.png", width=800, height=800,
                                      alt="The printed edition"),
            breadcrumbs=[q.Breadcrumb("Home", "/"), q.Breadcrumb("Shop", "/shop")],
        ),
        "/shop/printed-edition",
        q.SEOOverrides(twitter_card="summary"),
    ),
]


def main() -> None:
    for label, entity, route, overrides in PAGES:
        payload = q.build_seo_payload(entity, route, CONFIG, overrides)
        print(f"== {label}: {payload.canonical}")
        print(payload.render_html(), end="")
        print("ETag:", payload.etag())
        issues = q.validate_payload(payload)
        print("Validation:", "no findings" if not issues else f"{len(issues)} finding(s)")
        for issue in issues:
            print(f"  [{issue.rule_id}] {issue.severity}: {issue.message}")
        print()


if __name__ == "__main__":
    main()
