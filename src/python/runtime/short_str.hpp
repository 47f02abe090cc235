// Short str objects kept for the life of the process: JSON documents and
// records repeat the same keys ("@type", "name", "url", ...) and many short
// values ("ListItem", "https://schema.org", "en_US", ...) on every call, and
// a kept string costs a reference instead of a new one (a key's hash is
// computed once). Texts longer than 23 bytes are made anew each time.
//
// Both run with the interpreter lock held and throw PyErrorAlreadySet when a
// string cannot be made (text that is not UTF-8).
#pragma once

#include <Python.h>

#include <cstddef>
#include <string_view>

#include "python/runtime/pyref.hpp"

namespace quarlo::py {

// The longest text the tables keep.
inline constexpr std::size_t kMaxShortStr = 23;

// A str of `text` (a new reference), for a dict key.
PyRef key_str(std::string_view text);
// The same for a key of a dict made from a map of `entries` distinct keys.
// A map larger than the key table would only push out every key kept
// there, each at the cost of touching a str long gone cold: its keys are
// made anew.
PyRef map_key_str(std::string_view text, std::size_t entries);
// The same for a value; kept apart from the keys, so that varying values do
// not push the keys out.
PyRef value_str(std::string_view text);

}  // namespace quarlo::py
