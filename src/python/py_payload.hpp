// The payload classes: SEOPayload (a read-only dict view of the payload's
// dictionary form, its fields as properties, digest, ETag, JSON text and
// head renderings), OGPayload and TwitterPayload. None can be instantiated
// from Python; each instance owns its core record and never changes.
#pragma once

#include <Python.h>

#include "core/payload/payload.hpp"
#include "python/runtime/pyref.hpp"

namespace quarlo::py {

class PlainValueRecord;

// The class objects, created on first use; throw PyErrorAlreadySet if that
// fails.
PyTypeObject* seo_payload_type();
PyTypeObject* og_payload_type();
PyTypeObject* twitter_payload_type();

// The record held by an SEOPayload instance; valid while the object lives.
const quarlo::SEOPayload& unwrap_seo_payload(PyObject* obj) noexcept;

// A new SEOPayload instance owning `payload`.
PyRef new_seo_payload(quarlo::SEOPayload&& payload);

// The payload's dictionary form as a new dict (what SEOPayload.to_dict and
// build_seo_payload_dict return): keys in byte-wise order at every depth.
// Given an empty record, every object of the dict is noted there as it is
// made (see PlainValueRecord).
PyRef payload_to_pydict(const quarlo::SEOPayload& payload, PlainValueRecord* record = nullptr);

}  // namespace quarlo::py
