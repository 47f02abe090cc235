// The entity classes: SEOEntity and the value classes SEOImage, SEOAuthor,
// Breadcrumb, FAQItem and Robots. Each instance owns its core record (an
// SEOAuthor its name and optional url) and is immutable from Python.
//
// Other TUs take these objects as arguments with instance_arg (args.hpp)
// and read the record through unwrap_*:
//
//   PyObject* image = optional_instance_arg(obj, seo_image_type(), "default_og_image");
//   if (image) config.default_og_image = unwrap_seo_image(image);
#pragma once

#include <Python.h>

#include "core/model/entity.hpp"
#include "python/runtime/pyref.hpp"

namespace quarlo::py {

// The class objects, created on first use; throw PyErrorAlreadySet if that
// fails.
PyTypeObject* seo_image_type();
PyTypeObject* seo_author_type();
PyTypeObject* breadcrumb_type();
PyTypeObject* faq_item_type();
PyTypeObject* robots_type();
PyTypeObject* seo_entity_type();

// The record held by an instance that passed instance_arg. The reference is
// valid while the object lives; the record never changes.
const quarlo::SEOImage& unwrap_seo_image(PyObject* obj) noexcept;
const quarlo::Robots& unwrap_robots(PyObject* obj) noexcept;
const quarlo::SEOEntity& unwrap_seo_entity(PyObject* obj) noexcept;

// A new SEOEntity (another object) with the record of `entity` (an
// SEOEntity); the two share the immutable record instead of copying it.
PyRef copy_entity(PyObject* entity);

}  // namespace quarlo::py
