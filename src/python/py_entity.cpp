// SEOEntity, SEOImage, SEOAuthor, Breadcrumb, FAQItem and Robots.
#include "python/py_entity.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "python/runtime/args.hpp"
#include "python/runtime/cell.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/fast_args.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/module.hpp"
#include "python/runtime/record_object.hpp"

namespace quarlo::py {
namespace {

// An author is a plain value class: nothing in the core consumes it.
struct AuthorRecord {
  std::string name;
  std::optional<std::string> url;
};

// A sequence of instances of `type`, each record copied in order.
// `type_name` names the items in the message for a refused str or bytes.
template <class Item>
std::vector<Item> record_sequence_arg(PyObject* obj, PyTypeObject* type, const char* type_name,
                                      const char* name) {
  return sequence_arg<Item>(obj, name, type_name,
                            [&](PyObject* item) { return record_of<Item>(instance_arg(item, type, name)); });
}

template <class Item>
std::optional<std::vector<Item>> optional_record_sequence_arg(PyObject* obj, PyTypeObject* type,
                                                              const char* type_name, const char* name) {
  if (is_none_or_missing(obj)) return std::nullopt;
  return record_sequence_arg<Item>(obj, type, type_name, name);
}

// ---------------------------------------------------------------- SEOImage

InternedString g_key_url{"url"};
InternedString g_key_width{"width"};
InternedString g_key_height{"height"};
InternedString g_key_alt{"alt"};

const char* const kImageKeywords[] = {"url", "width", "height", "alt", nullptr};
ArgParser image_args{"O|$OOO:SEOImage", kImageKeywords};

PyObject* image_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    PyObject *url = nullptr, *width = nullptr, *height = nullptr, *alt = nullptr;
    image_args.parse(args, kwargs, &url, &width, &height, &alt);
    quarlo::SEOImage image;
    image.url = str_arg(url, "url");
    image.width = optional_u32_arg(width, "width");
    image.height = optional_u32_arg(height, "height");
    image.alt = optional_str_arg(alt, "alt");
    return new_record_object(type, std::move(image));
  });
}

void set_item(PyObject* dict, InternedString& key, PyRef value) {
  if (PyDict_SetItem(dict, key.get(), value.get()) < 0) throw_error_set();
}

// Keys in the order url, width, height, alt; absent fields are left out.
PyObject* image_to_dict(PyObject* self, PyObject*) noexcept {
  return guard([&] {
    const quarlo::SEOImage& image = record_of<quarlo::SEOImage>(self);
    PyRef dict = PyRef::checked(PyDict_New());
    set_item(dict.get(), g_key_url, to_py(image.url));
    if (image.width) set_item(dict.get(), g_key_width, to_py(*image.width));
    if (image.height) set_item(dict.get(), g_key_height, to_py(*image.height));
    if (image.alt) set_item(dict.get(), g_key_alt, to_py(*image.alt));
    return dict;
  });
}

PyGetSetDef image_getset[] = {
    {"url", get_field<&quarlo::SEOImage::url>, nullptr, "Absolute URL of the image.", nullptr},
    {"width", get_field<&quarlo::SEOImage::width>, nullptr, "Image width in pixels.", nullptr},
    {"height", get_field<&quarlo::SEOImage::height>, nullptr, "Image height in pixels.", nullptr},
    {"alt", get_field<&quarlo::SEOImage::alt>, nullptr, "Alternative text describing the image.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef image_methods[] = {
    {"to_dict", as_pycfunction(image_to_dict), METH_NOARGS,
     "to_dict($self)\n--\n\nReturns the image as a dictionary."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot image_slots[] = {
    {Py_tp_new, as_slot(image_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<quarlo::SEOImage>)},
    {Py_tp_getset, image_getset},
    {Py_tp_methods, image_methods},
    {Py_tp_doc, const_cast<char*>("SEOImage(url, *, width=None, height=None, alt=None)\n--\n\n"
                                  "An image reference used for Open Graph, Twitter Cards, and schemas.")},
    {0, nullptr},
};
PyType_Spec image_spec{"_quarlo_native.SEOImage", sizeof(RecordObject<quarlo::SEOImage>), 0,
                       kFinalTypeFlags, image_slots};
TypeCell image_type{image_spec};

// --------------------------------------------------------------- SEOAuthor

const char* const kAuthorKeywords[] = {"name", "url", nullptr};
ArgParser author_args{"O|$O:SEOAuthor", kAuthorKeywords};

PyObject* author_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    PyObject *name = nullptr, *url = nullptr;
    author_args.parse(args, kwargs, &name, &url);
    AuthorRecord author{str_arg(name, "name"), std::nullopt};
    author.url = optional_str_arg(url, "url");
    return new_record_object(type, std::move(author));
  });
}

PyGetSetDef author_getset[] = {
    {"name", get_field<&AuthorRecord::name>, nullptr, "Display name of the author.", nullptr},
    {"url", get_field<&AuthorRecord::url>, nullptr, "Optional profile URL for the author.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot author_slots[] = {
    {Py_tp_new, as_slot(author_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<AuthorRecord>)},
    {Py_tp_getset, author_getset},
    {Py_tp_doc, const_cast<char*>("SEOAuthor(name, *, url=None)\n--\n\n"
                                  "An author reference used in article schemas.")},
    {0, nullptr},
};
PyType_Spec author_spec{"_quarlo_native.SEOAuthor", sizeof(RecordObject<AuthorRecord>), 0,
                        kFinalTypeFlags, author_slots};
TypeCell author_type{author_spec};

// -------------------------------------------------------------- Breadcrumb

const char* const kBreadcrumbKeywords[] = {"name", "url", nullptr};
ArgParser breadcrumb_args{"OO:Breadcrumb", kBreadcrumbKeywords};

PyObject* breadcrumb_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    PyObject *name = nullptr, *url = nullptr;
    breadcrumb_args.parse(args, kwargs, &name, &url);
    quarlo::Breadcrumb crumb{str_arg(name, "name"), std::string()};
    crumb.url = str_arg(url, "url");
    return new_record_object(type, std::move(crumb));
  });
}

PyGetSetDef breadcrumb_getset[] = {
    {"name", get_field<&quarlo::Breadcrumb::name>, nullptr, "Human readable label for the breadcrumb.", nullptr},
    {"url", get_field<&quarlo::Breadcrumb::url>, nullptr, "URL the breadcrumb links to.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot breadcrumb_slots[] = {
    {Py_tp_new, as_slot(breadcrumb_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<quarlo::Breadcrumb>)},
    {Py_tp_getset, breadcrumb_getset},
    {Py_tp_doc, const_cast<char*>("Breadcrumb(name, url)\n--\n\nA single entry in a breadcrumb trail.")},
    {0, nullptr},
};
PyType_Spec breadcrumb_spec{"_quarlo_native.Breadcrumb", sizeof(RecordObject<quarlo::Breadcrumb>), 0,
                            kFinalTypeFlags, breadcrumb_slots};
TypeCell breadcrumb_type_cell{breadcrumb_spec};

// ----------------------------------------------------------------- FAQItem

const char* const kFaqItemKeywords[] = {"question", "answer", nullptr};
ArgParser faq_item_args{"OO:FAQItem", kFaqItemKeywords};

PyObject* faq_item_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    PyObject *question = nullptr, *answer = nullptr;
    faq_item_args.parse(args, kwargs, &question, &answer);
    quarlo::FAQItem item{str_arg(question, "question"), std::string()};
    item.answer = str_arg(answer, "answer");
    return new_record_object(type, std::move(item));
  });
}

PyGetSetDef faq_item_getset[] = {
    {"question", get_field<&quarlo::FAQItem::question>, nullptr, "The question text.", nullptr},
    {"answer", get_field<&quarlo::FAQItem::answer>, nullptr, "The answer text.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot faq_item_slots[] = {
    {Py_tp_new, as_slot(faq_item_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<quarlo::FAQItem>)},
    {Py_tp_getset, faq_item_getset},
    {Py_tp_doc, const_cast<char*>("FAQItem(question, answer)\n--\n\n"
                                  "A single question and answer pair for FAQ schemas.")},
    {0, nullptr},
};
PyType_Spec faq_item_spec{"_quarlo_native.FAQItem", sizeof(RecordObject<quarlo::FAQItem>), 0,
                          kFinalTypeFlags, faq_item_slots};
TypeCell faq_item_type_cell{faq_item_spec};

// ------------------------------------------------------------------ Robots

const char* const kRobotsKeywords[] = {"index", "follow", "max_snippet", "max_image_preview",
                                        "max_video_preview", nullptr};
ArgParser robots_args{"|$OOOOO:Robots", kRobotsKeywords};

PyObject* robots_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    PyObject *index = nullptr, *follow = nullptr, *max_snippet = nullptr, *max_image_preview = nullptr,
             *max_video_preview = nullptr;
    robots_args.parse(args, kwargs, &index, &follow, &max_snippet, &max_image_preview,
               &max_video_preview);
    quarlo::Robots robots;
    robots.index = bool_arg(index, "index", true);
    robots.follow = bool_arg(follow, "follow", true);
    robots.max_snippet = optional_i32_arg(max_snippet, "max_snippet");
    robots.max_image_preview = optional_str_arg(max_image_preview, "max_image_preview");
    robots.max_video_preview = optional_i32_arg(max_video_preview, "max_video_preview");
    return new_record_object(type, std::move(robots));
  });
}

PyObject* robots_serialize(PyObject* self, PyObject*) noexcept {
  return guard([&] { return new_str(record_of<quarlo::Robots>(self).serialize()); });
}

PyGetSetDef robots_getset[] = {
    {"index", get_field<&quarlo::Robots::index>, nullptr,
     "Whether search engines may index the page. Defaults to ``True``.", nullptr},
    {"follow", get_field<&quarlo::Robots::follow>, nullptr,
     "Whether search engines may follow links. Defaults to ``True``.", nullptr},
    {"max_snippet", get_field<&quarlo::Robots::max_snippet>, nullptr,
     "Maximum number of characters to show in a snippet.", nullptr},
    {"max_image_preview", get_field<&quarlo::Robots::max_image_preview>, nullptr,
     "Maximum image preview size, for example ``\"large\"``.", nullptr},
    {"max_video_preview", get_field<&quarlo::Robots::max_video_preview>, nullptr,
     "Maximum video preview length in seconds.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef robots_methods[] = {
    {"serialize", as_pycfunction(robots_serialize), METH_NOARGS,
     "serialize($self)\n--\n\n"
     "Serializes the directives into the meta robots string, for example\n``\"index,follow\"``."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot robots_slots[] = {
    {Py_tp_new, as_slot(robots_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<quarlo::Robots>)},
    {Py_tp_getset, robots_getset},
    {Py_tp_methods, robots_methods},
    {Py_tp_doc, const_cast<char*>("Robots(*, index=True, follow=True, max_snippet=None, max_image_preview=None, "
                                  "max_video_preview=None)\n--\n\nRobots directives for a page.")},
    {0, nullptr},
};
PyType_Spec robots_spec{"_quarlo_native.Robots", sizeof(RecordObject<quarlo::Robots>), 0, kFinalTypeFlags,
                        robots_slots};
TypeCell robots_type_cell{robots_spec};

// --------------------------------------------------------------- SEOEntity

const char* const kEntityKeywords[] = {
    "entity_type", "slug",        "title",          "excerpt",      "body_html", "status",
    "featured_image", "published_at", "updated_at", "author_name", "breadcrumbs", "sku",
    "price",       "price_currency", "availability", "same_as",     "address",   "faq_items",
    nullptr};
ArgParser entity_args{"O|$OOOOOOOOOOOOOOOOO:SEOEntity", kEntityKeywords};

PyObject* entity_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    PyObject *entity_type = nullptr, *slug = nullptr, *title = nullptr, *excerpt = nullptr,
             *body_html = nullptr, *status = nullptr, *featured_image = nullptr, *published_at = nullptr,
             *updated_at = nullptr, *author_name = nullptr, *breadcrumbs = nullptr, *sku = nullptr,
             *price = nullptr, *price_currency = nullptr, *availability = nullptr, *same_as = nullptr,
             *address = nullptr, *faq_items = nullptr;
    entity_args.parse(args, kwargs, &entity_type, &slug, &title,
               &excerpt, &body_html, &status, &featured_image, &published_at, &updated_at, &author_name,
               &breadcrumbs, &sku, &price, &price_currency, &availability, &same_as, &address, &faq_items);

    const std::string type_text = str_arg(entity_type, "entity_type");
    quarlo::SEOEntity entity;
    entity.slug = optional_str_arg(slug, "slug");
    entity.title = optional_str_arg(title, "title");
    entity.excerpt = optional_str_arg(excerpt, "excerpt");
    entity.body_html = optional_str_arg(body_html, "body_html");
    entity.status = optional_str_arg(status, "status");
    if (PyObject* image = optional_instance_arg(featured_image, image_type.get(), "featured_image")) {
      entity.featured_image = record_of<quarlo::SEOImage>(image);
    }
    entity.published_at = optional_str_arg(published_at, "published_at");
    entity.updated_at = optional_str_arg(updated_at, "updated_at");
    entity.author_name = optional_str_arg(author_name, "author_name");
    entity.breadcrumbs = optional_record_sequence_arg<quarlo::Breadcrumb>(
        breadcrumbs, breadcrumb_type_cell.get(), "Breadcrumb", "breadcrumbs");
    entity.sku = optional_str_arg(sku, "sku");
    entity.price = optional_str_arg(price, "price");
    entity.price_currency = optional_str_arg(price_currency, "price_currency");
    entity.availability = optional_str_arg(availability, "availability");
    entity.same_as = optional_str_sequence_arg(same_as, "same_as");
    entity.address = optional_str_arg(address, "address");
    entity.faq_items = optional_record_sequence_arg<quarlo::FAQItem>(faq_items, faq_item_type_cell.get(),
                                                                     "FAQItem", "faq_items");
    entity.entity_type = unwrap(quarlo::entity_type_from_str(type_text));
    return new_record_object(type, std::move(entity));
  });
}

PyObject* entity_get_type(PyObject* self, void*) noexcept {
  return guard([&] { return new_str(quarlo::entity_type_name(record_of<quarlo::SEOEntity>(self).entity_type)); });
}

PyObject* entity_to_dict(PyObject* self, PyObject*) noexcept {
  return guard([&] { return json_to_pydict(quarlo::to_json(record_of<quarlo::SEOEntity>(self))); });
}

PyGetSetDef entity_getset[] = {
    {"entity_type", entity_get_type, nullptr, "The entity type as a string.", nullptr},
    {"title", get_field<&quarlo::SEOEntity::title>, nullptr, "The page title.", nullptr},
    {"excerpt", get_field<&quarlo::SEOEntity::excerpt>, nullptr, "The short description.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef entity_methods[] = {
    {"to_dict", as_pycfunction(entity_to_dict), METH_NOARGS,
     "to_dict($self)\n--\n\nReturns the entity as a dictionary."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot entity_slots[] = {
    {Py_tp_new, as_slot(entity_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<quarlo::SEOEntity>)},
    {Py_tp_getset, entity_getset},
    {Py_tp_methods, entity_methods},
    {Py_tp_doc,
     const_cast<char*>("SEOEntity(entity_type, *, slug=None, title=None, excerpt=None, body_html=None, "
                       "status=None, featured_image=None, published_at=None, updated_at=None, "
                       "author_name=None, breadcrumbs=None, sku=None, price=None, price_currency=None, "
                       "availability=None, same_as=None, address=None, faq_items=None)\n--\n\n"
                       "A content entity to generate SEO metadata for.")},
    {0, nullptr},
};
PyType_Spec entity_spec{"_quarlo_native.SEOEntity", sizeof(RecordObject<quarlo::SEOEntity>), 0,
                        kFinalTypeFlags, entity_slots};
TypeCell entity_type_cell{entity_spec};

}  // namespace

PyTypeObject* seo_image_type() { return image_type.get(); }
PyTypeObject* seo_author_type() { return author_type.get(); }
PyTypeObject* breadcrumb_type() { return breadcrumb_type_cell.get(); }
PyTypeObject* faq_item_type() { return faq_item_type_cell.get(); }
PyTypeObject* robots_type() { return robots_type_cell.get(); }
PyTypeObject* seo_entity_type() { return entity_type_cell.get(); }

const quarlo::SEOImage& unwrap_seo_image(PyObject* obj) noexcept { return record_of<quarlo::SEOImage>(obj); }
const quarlo::Robots& unwrap_robots(PyObject* obj) noexcept { return record_of<quarlo::Robots>(obj); }
const quarlo::SEOEntity& unwrap_seo_entity(PyObject* obj) noexcept { return record_of<quarlo::SEOEntity>(obj); }

PyRef copy_entity(PyObject* entity) {
  return new_record_object(entity_type_cell.get(), quarlo::SEOEntity(unwrap_seo_entity(entity)));
}

}  // namespace quarlo::py
