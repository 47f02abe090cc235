// SEOEntity, SEOImage, SEOAuthor, Breadcrumb, FAQItem and Robots.
#include "python/py_entity.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "python/interface/tables.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/cell.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/interface.hpp"
#include "python/runtime/module.hpp"
#include "python/runtime/record_fields.hpp"
#include "python/runtime/record_object.hpp"
#include "python/runtime/repr.hpp"

namespace quarlo::py {
namespace {

// An author is a plain value class: nothing in the core consumes it.
struct AuthorRecord {
  std::string name;
  std::optional<std::string> url;
};

// None or not given -> nullopt; otherwise a sequence of instances of `type`,
// each record copied in order. `type_name` names the items in the message
// for a refused str or bytes.
template <class Item>
std::optional<std::vector<Item>> optional_record_sequence_arg(const Arg& arg, PyTypeObject* type,
                                                              const char* type_name) {
  if (is_none_or_missing(arg)) return std::nullopt;
  return sequence_arg<Item>(arg.object, arg.name, type_name, [&](PyObject* item) {
    return record_of<Item>(instance_arg(item, type, arg.name));
  });
}

// ---------------------------------------------------------------- SEOImage

namespace image_api = iface::SEOImage;

PyObject* image_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    image_api::New a;
    a.parse(args, kwargs);
    quarlo::SEOImage image;
    image.url = str_arg(a.url);
    image.width = optional_u32_arg(a.width);
    image.height = optional_u32_arg(a.height);
    image.alt = optional_str_arg(a.alt);
    return new_record_object(type, std::move(image));
  });
}

// The present fields in declaration order.
PyObject* image_to_dict(PyObject* self, PyObject*) noexcept {
  return guard([&] { return fields_to_pydict<KeyOrder::Declared>(record_of<quarlo::SEOImage>(self)); });
}

auto image_getset = field_properties<quarlo::SEOImage, image_api::kProperties>();

PyMethodDef image_methods[] = {
    method_def<image_api::to_dict>(image_to_dict),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot image_slots[] = {
    {Py_tp_new, as_slot(image_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<quarlo::SEOImage>)},
    {Py_tp_getset, image_getset.data()},
    {Py_tp_methods, image_methods},
    {Py_tp_doc, const_cast<char*>(image_api::kDoc)},
    {Py_tp_repr, as_slot(properties_repr<image_api::kProperties>)},
    {0, nullptr},
};
PyType_Spec image_spec{image_api::kQualifiedName, sizeof(RecordObject<quarlo::SEOImage>), 0,
                       kFinalTypeFlags, image_slots};
TypeCell image_type{image_spec};

// --------------------------------------------------------------- SEOAuthor

namespace author_api = iface::SEOAuthor;

PyObject* author_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    author_api::New a;
    a.parse(args, kwargs);
    AuthorRecord author{str_arg(a.name), std::nullopt};
    author.url = optional_str_arg(a.url);
    return new_record_object(type, std::move(author));
  });
}

PyGetSetDef author_getset[] = {
    property_def(author_api::name, get_field<&AuthorRecord::name>),
    property_def(author_api::url, get_field<&AuthorRecord::url>),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot author_slots[] = {
    {Py_tp_new, as_slot(author_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<AuthorRecord>)},
    {Py_tp_getset, author_getset},
    {Py_tp_doc, const_cast<char*>(author_api::kDoc)},
    {Py_tp_repr, as_slot(properties_repr<author_api::kProperties>)},
    {0, nullptr},
};
PyType_Spec author_spec{author_api::kQualifiedName, sizeof(RecordObject<AuthorRecord>), 0,
                        kFinalTypeFlags, author_slots};
TypeCell author_type{author_spec};

// -------------------------------------------------------------- Breadcrumb

namespace breadcrumb_api = iface::Breadcrumb;

PyObject* breadcrumb_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    breadcrumb_api::New a;
    a.parse(args, kwargs);
    quarlo::Breadcrumb crumb{str_arg(a.name), std::string()};
    crumb.url = str_arg(a.url);
    return new_record_object(type, std::move(crumb));
  });
}

auto breadcrumb_getset = field_properties<quarlo::Breadcrumb, breadcrumb_api::kProperties>();

PyType_Slot breadcrumb_slots[] = {
    {Py_tp_new, as_slot(breadcrumb_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<quarlo::Breadcrumb>)},
    {Py_tp_getset, breadcrumb_getset.data()},
    {Py_tp_doc, const_cast<char*>(breadcrumb_api::kDoc)},
    {Py_tp_repr, as_slot(properties_repr<breadcrumb_api::kProperties>)},
    {0, nullptr},
};
PyType_Spec breadcrumb_spec{breadcrumb_api::kQualifiedName, sizeof(RecordObject<quarlo::Breadcrumb>), 0,
                            kFinalTypeFlags, breadcrumb_slots};
TypeCell breadcrumb_type_cell{breadcrumb_spec};

// ----------------------------------------------------------------- FAQItem

namespace faq_item_api = iface::FAQItem;

PyObject* faq_item_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    faq_item_api::New a;
    a.parse(args, kwargs);
    quarlo::FAQItem item{str_arg(a.question), std::string()};
    item.answer = str_arg(a.answer);
    return new_record_object(type, std::move(item));
  });
}

auto faq_item_getset = field_properties<quarlo::FAQItem, faq_item_api::kProperties>();

PyType_Slot faq_item_slots[] = {
    {Py_tp_new, as_slot(faq_item_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<quarlo::FAQItem>)},
    {Py_tp_getset, faq_item_getset.data()},
    {Py_tp_doc, const_cast<char*>(faq_item_api::kDoc)},
    {Py_tp_repr, as_slot(properties_repr<faq_item_api::kProperties>)},
    {0, nullptr},
};
PyType_Spec faq_item_spec{faq_item_api::kQualifiedName, sizeof(RecordObject<quarlo::FAQItem>), 0,
                          kFinalTypeFlags, faq_item_slots};
TypeCell faq_item_type_cell{faq_item_spec};

// ------------------------------------------------------------------ Robots

namespace robots_api = iface::Robots;

PyObject* robots_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    robots_api::New a;
    a.parse(args, kwargs);
    quarlo::Robots robots;
    robots.index = bool_arg(a.index);
    robots.follow = bool_arg(a.follow);
    robots.max_snippet = optional_i32_arg(a.max_snippet);
    robots.max_image_preview = optional_str_arg(a.max_image_preview);
    robots.max_video_preview = optional_i32_arg(a.max_video_preview);
    return new_record_object(type, std::move(robots));
  });
}

PyObject* robots_serialize(PyObject* self, PyObject*) noexcept {
  return guard([&] { return new_str(record_of<quarlo::Robots>(self).serialize()); });
}

auto robots_getset = field_properties<quarlo::Robots, robots_api::kProperties>();

PyMethodDef robots_methods[] = {
    method_def<robots_api::serialize>(robots_serialize),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot robots_slots[] = {
    {Py_tp_new, as_slot(robots_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<quarlo::Robots>)},
    {Py_tp_getset, robots_getset.data()},
    {Py_tp_methods, robots_methods},
    {Py_tp_doc, const_cast<char*>(robots_api::kDoc)},
    {Py_tp_repr, as_slot(properties_repr<robots_api::kProperties>)},
    {0, nullptr},
};
PyType_Spec robots_spec{robots_api::kQualifiedName, sizeof(RecordObject<quarlo::Robots>), 0, kFinalTypeFlags,
                        robots_slots};
TypeCell robots_type_cell{robots_spec};

// --------------------------------------------------------------- SEOEntity

namespace entity_api = iface::SEOEntity;

// An SEOEntity instance holds its record behind a shared pointer: the record
// never changes, so the copies handed to hooks and registries share it.
using EntityHolder = std::shared_ptr<const quarlo::SEOEntity>;

PyObject* entity_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    entity_api::New a;
    a.parse(args, kwargs);

    const std::string type_text = str_arg(a.entity_type);
    quarlo::SEOEntity entity;
    entity.slug = optional_str_arg(a.slug);
    entity.title = optional_str_arg(a.title);
    entity.excerpt = optional_str_arg(a.excerpt);
    entity.body_html = optional_str_arg(a.body_html);
    entity.status = optional_str_arg(a.status);
    if (PyObject* image = optional_instance_arg(a.featured_image, image_type.get())) {
      entity.featured_image = record_of<quarlo::SEOImage>(image);
    }
    entity.published_at = optional_str_arg(a.published_at);
    entity.updated_at = optional_str_arg(a.updated_at);
    entity.author_name = optional_str_arg(a.author_name);
    entity.breadcrumbs =
        optional_record_sequence_arg<quarlo::Breadcrumb>(a.breadcrumbs, breadcrumb_type_cell.get(), breadcrumb_api::kName);
    entity.sku = optional_str_arg(a.sku);
    entity.price = optional_str_arg(a.price);
    entity.price_currency = optional_str_arg(a.price_currency);
    entity.availability = optional_str_arg(a.availability);
    entity.same_as = optional_str_sequence_arg(a.same_as);
    entity.address = optional_str_arg(a.address);
    entity.faq_items =
        optional_record_sequence_arg<quarlo::FAQItem>(a.faq_items, faq_item_type_cell.get(), faq_item_api::kName);
    entity.entity_type = unwrap(quarlo::entity_type_from_str(type_text));
    return new_record_object(type, EntityHolder(std::make_shared<const quarlo::SEOEntity>(std::move(entity))));
  });
}

// The entity type reads as its lower-case word ("post").
struct EntityReader : FieldReader {
  using FieldReader::read;
  static PyRef read(EntityType type) { return new_str(quarlo::entity_type_name(type)); }
};

PyObject* entity_to_dict(PyObject* self, PyObject*) noexcept {
  return guard([&] { return record_to_pydict(unwrap_seo_entity(self)); });
}

auto entity_getset =
    selected_field_properties<quarlo::SEOEntity, entity_api::kProperties, EntityReader, EntityHolder>();

PyMethodDef entity_methods[] = {
    method_def<entity_api::to_dict>(entity_to_dict),
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot entity_slots[] = {
    {Py_tp_new, as_slot(entity_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<EntityHolder>)},
    {Py_tp_getset, entity_getset.data()},
    {Py_tp_methods, entity_methods},
    {Py_tp_doc, const_cast<char*>(entity_api::kDoc)},
    {Py_tp_repr, as_slot(dict_repr)},
    {0, nullptr},
};
PyType_Spec entity_spec{entity_api::kQualifiedName, sizeof(RecordObject<EntityHolder>), 0,
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
const quarlo::SEOEntity& unwrap_seo_entity(PyObject* obj) noexcept { return *record_of<EntityHolder>(obj); }

PyRef copy_entity(PyObject* entity) {
  return new_record_object(entity_type_cell.get(), EntityHolder(record_of<EntityHolder>(entity)));
}

}  // namespace quarlo::py
