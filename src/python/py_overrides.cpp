// SEOOverrides.
#include "python/py_overrides.hpp"

#include <utility>

#include "python/runtime/args.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/fast_args.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/module.hpp"
#include "python/py_entity.hpp"
#include "python/runtime/record_object.hpp"

namespace quarlo::py {
namespace {

// Also the order in which the values are read and checked.
const char* const kOverridesKeywords[] = {
    "meta_title",     "meta_description", "canonical_url",     "canonical_path",      "robots",
    "og_title",       "og_description",   "og_image",          "twitter_card",        "twitter_title",
    "twitter_description", "twitter_image", "schema_jsonld",   "omit_schema",         "skip_title_template",
    "twitter_creator", "og_audio",        "og_video",          nullptr};
ArgParser overrides_args{"|$OOOOOOOOOOOOOOOOOO:SEOOverrides", kOverridesKeywords};

std::optional<quarlo::Robots> optional_robots_arg(PyObject* obj, const char* name) {
  if (PyObject* robots = optional_instance_arg(obj, robots_type(), name)) return unwrap_robots(robots);
  return std::nullopt;
}

std::optional<quarlo::SEOImage> optional_image_arg(PyObject* obj, const char* name) {
  if (PyObject* image = optional_instance_arg(obj, seo_image_type(), name)) return unwrap_seo_image(image);
  return std::nullopt;
}

PyObject* overrides_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] {
    PyObject *meta_title = nullptr, *meta_description = nullptr, *canonical_url = nullptr,
             *canonical_path = nullptr, *robots = nullptr, *og_title = nullptr, *og_description = nullptr,
             *og_image = nullptr, *twitter_card = nullptr, *twitter_title = nullptr,
             *twitter_description = nullptr, *twitter_image = nullptr, *schema_jsonld = nullptr,
             *omit_schema = nullptr, *skip_title_template = nullptr, *twitter_creator = nullptr,
             *og_audio = nullptr, *og_video = nullptr;
    overrides_args.parse(args, kwargs, &meta_title, &meta_description, &canonical_url, &canonical_path, &robots,
                         &og_title, &og_description, &og_image, &twitter_card, &twitter_title,
                         &twitter_description, &twitter_image, &schema_jsonld, &omit_schema,
                         &skip_title_template, &twitter_creator, &og_audio, &og_video);

    quarlo::SEOOverrides overrides;
    overrides.meta_title = optional_str_arg(meta_title, "meta_title");
    overrides.meta_description = optional_str_arg(meta_description, "meta_description");
    overrides.canonical_url = optional_str_arg(canonical_url, "canonical_url");
    overrides.canonical_path = optional_str_arg(canonical_path, "canonical_path");
    overrides.robots = optional_robots_arg(robots, "robots");
    overrides.og_title = optional_str_arg(og_title, "og_title");
    overrides.og_description = optional_str_arg(og_description, "og_description");
    overrides.og_image = optional_image_arg(og_image, "og_image");
    overrides.twitter_card = optional_str_arg(twitter_card, "twitter_card");
    overrides.twitter_title = optional_str_arg(twitter_title, "twitter_title");
    overrides.twitter_description = optional_str_arg(twitter_description, "twitter_description");
    overrides.twitter_image = optional_image_arg(twitter_image, "twitter_image");
    // schema_jsonld takes any object; it is converted once every keyword is read.
    overrides.omit_schema = flag_arg(omit_schema, "omit_schema", false);
    overrides.skip_title_template = flag_arg(skip_title_template, "skip_title_template", false);
    overrides.twitter_creator = optional_str_arg(twitter_creator, "twitter_creator");
    overrides.og_audio = optional_str_arg(og_audio, "og_audio");
    overrides.og_video = optional_str_arg(og_video, "og_video");
    // A document json.dumps accepts but the parser refuses (NaN, a lone
    // surrogate, deep nesting) is kept as null; json.dumps's own errors
    // propagate as they are.
    if (!is_none_or_missing(schema_jsonld)) overrides.schema_jsonld = py_to_json_value_or_null(schema_jsonld);
    return new_record_object(type, std::move(overrides));
  });
}

PyType_Slot overrides_slots[] = {
    {Py_tp_new, as_slot(overrides_new)},
    {Py_tp_dealloc, as_slot(record_dealloc<quarlo::SEOOverrides>)},
    {Py_tp_doc,
     const_cast<char*>("SEOOverrides(*, meta_title=None, meta_description=None, canonical_url=None, "
                       "canonical_path=None, robots=None, og_title=None, og_description=None, og_image=None, "
                       "twitter_card=None, twitter_title=None, twitter_description=None, twitter_image=None, "
                       "schema_jsonld=None, omit_schema=False, skip_title_template=False, "
                       "twitter_creator=None, og_audio=None, og_video=None)\n--\n\n"
                       "Per-call overrides that take precedence over the entity and config.")},
    {0, nullptr},
};
PyType_Spec overrides_spec{"_quarlo_native.SEOOverrides", sizeof(RecordObject<quarlo::SEOOverrides>), 0,
                           kFinalTypeFlags, overrides_slots};
TypeCell overrides_type{overrides_spec};

}  // namespace

PyTypeObject* seo_overrides_type() { return overrides_type.get(); }

const quarlo::SEOOverrides& unwrap_seo_overrides(PyObject* obj) noexcept {
  return record_of<quarlo::SEOOverrides>(obj);
}

}  // namespace quarlo::py
