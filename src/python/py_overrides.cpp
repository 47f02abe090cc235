// SEOOverrides.
#include "python/py_overrides.hpp"

#include <optional>
#include <utility>

#include "python/interface/tables.hpp"
#include "python/py_entity.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/module.hpp"
#include "python/runtime/record_object.hpp"

namespace quarlo::py {
namespace {

namespace overrides_api = iface::SEOOverrides;

std::optional<quarlo::Robots> optional_robots_arg(const Arg& arg) {
  if (PyObject* robots = optional_instance_arg(arg, robots_type())) return unwrap_robots(robots);
  return std::nullopt;
}

std::optional<quarlo::SEOImage> optional_image_arg(const Arg& arg) {
  if (PyObject* image = optional_instance_arg(arg, seo_image_type())) return unwrap_seo_image(image);
  return std::nullopt;
}

// The values are read and checked in signature order.
PyObject* overrides_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    overrides_api::New a;
    a.parse(args, kwargs);

    quarlo::SEOOverrides overrides;
    overrides.meta_title = optional_str_arg(a.meta_title);
    overrides.meta_description = optional_str_arg(a.meta_description);
    overrides.canonical_url = optional_str_arg(a.canonical_url);
    overrides.canonical_path = optional_str_arg(a.canonical_path);
    overrides.robots = optional_robots_arg(a.robots);
    overrides.og_title = optional_str_arg(a.og_title);
    overrides.og_description = optional_str_arg(a.og_description);
    overrides.og_image = optional_image_arg(a.og_image);
    overrides.twitter_card = optional_str_arg(a.twitter_card);
    overrides.twitter_title = optional_str_arg(a.twitter_title);
    overrides.twitter_description = optional_str_arg(a.twitter_description);
    overrides.twitter_image = optional_image_arg(a.twitter_image);
    // schema_jsonld takes any object; it is converted once every keyword is read.
    overrides.omit_schema = flag_arg(a.omit_schema);
    overrides.skip_title_template = flag_arg(a.skip_title_template);
    overrides.twitter_creator = optional_str_arg(a.twitter_creator);
    overrides.og_audio = optional_str_arg(a.og_audio);
    overrides.og_video = optional_str_arg(a.og_video);
    // A document json.dumps accepts but the parser refuses (NaN, a lone
    // surrogate, deep nesting) is kept as null; json.dumps's own errors
    // propagate as they are.
    if (!is_none_or_missing(a.schema_jsonld)) {
      overrides.schema_jsonld = py_to_json_value_or_null(a.schema_jsonld.object);
    }
    return new_record_object(type, std::move(overrides));
  });
}

PyType_Slot overrides_slots[] = {
    {Py_tp_new, as_slot(overrides_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<quarlo::SEOOverrides>)},
    {Py_tp_doc, const_cast<char*>(overrides_api::kDoc)},
    {0, nullptr},
};
PyType_Spec overrides_spec{overrides_api::kQualifiedName, sizeof(RecordObject<quarlo::SEOOverrides>), 0,
                           kFinalTypeFlags, overrides_slots};
TypeCell overrides_type{overrides_spec};

}  // namespace

PyTypeObject* seo_overrides_type() { return overrides_type.get(); }

const quarlo::SEOOverrides& unwrap_seo_overrides(PyObject* obj) noexcept {
  return record_of<quarlo::SEOOverrides>(obj);
}

}  // namespace quarlo::py
