// normalize_path_fn, normalize_public_url_fn, clean_url_fn, clean_query_fn
// (their signatures and docstrings: interface/description.py).
//
// The two normalisation functions report core errors as the built-in
// ValueError carrying the full display text ("invalid URL: ..."), not as a
// QuarloError subclass.
#include "python/py_url.hpp"

#include <cstddef>
#include <memory>

#include "core/url/detrack.hpp"
#include "core/url/url.hpp"
#include "python/interface/tables.hpp"
#include "python/py_config.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/cell.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/interface.hpp"
#include "python/runtime/module.hpp"
#include "python/runtime/short_str.hpp"

namespace quarlo::py {
namespace {

InternedString kUrlKey{"url"};
InternedString kRemovedKey{"removed_params"};
InternedString kCleanedKey{"cleaned_params"};
// {"url": None, "removed_params": None, "cleaned_params": None}: copying it
// gives the result dict its keys, in order, without hashing or resizing.
ObjectCell g_clean_url_template;

PyObject* clean_url_template() {
  if (PyObject* t = g_clean_url_template.get()) return t;
  PyRef t = PyRef::checked(PyDict_New());
  if (PyDict_SetItem(t.get(), kUrlKey.get(), Py_None) < 0 ||
      PyDict_SetItem(t.get(), kRemovedKey.get(), Py_None) < 0 ||
      PyDict_SetItem(t.get(), kCleanedKey.get(), Py_None) < 0) {
    throw_error_set();
  }
  return g_clean_url_template.offer(std::move(t));
}

template <class T>
T value_or_value_error(Result<T>&& result) {
  if (!result) raise_value_error_display(result.error());
  return std::move(result).value();
}

PyRef str_map_to_dict(const ParamMap& map) {
  PyRef dict = PyRef::checked(PyDict_New());
  const ParamMap::Entry* entries = std::to_address(map.begin());
  const std::size_t n = map.size();
  for (std::size_t i = 0; i < n; ++i) {
    // The keys are in byte-wise order, not in the order of the text they
    // point into: a large query's next keys are fetched ahead.
    constexpr std::size_t kAhead = 8;
    if (i + kAhead < n) __builtin_prefetch(entries[i + kAhead].first.data());
    const auto& [key, value] = entries[i];
    PyRef k = map_key_str(key, n);
    PyRef v = value_str(value);
    if (PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) throw_error_set();
  }
  return dict;
}

// The result text as a str: the argument itself when the text came back
// unchanged (a path already in form, a query with nothing to clean), so that
// no copy of it is made.
PyRef str_result(PyObject* given, std::string_view given_text, const std::string& result) {
  if (PyUnicode_CheckExact(given) && std::string_view(result) == given_text) return PyRef::borrow(given);
  return new_str(result);
}

PyObject* normalize_path_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    iface::normalize_path_fn a;
    a.parse(args, nargs, kwnames);
    const std::string_view path_text = str_view_arg(a.path);
    const URLPolicy core_policy = to_core_policy(instance_arg(a.policy, url_policy_type()));
    return str_result(a.path.object, path_text, normalize_path(path_text, core_policy));
  });
}

PyObject* normalize_public_url_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    iface::normalize_public_url_fn a;
    a.parse(args, nargs, kwnames);
    const std::string_view url_text = str_view_arg(a.url);
    PyObject* given = instance_arg(a.config, seo_config_type());
    return new_str(value_or_value_error(normalize_public_url(url_text, unwrap_config(given), &config_public_base(given))));
  });
}

PyObject* clean_url_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    iface::clean_url_fn a;
    a.parse(args, nargs, kwnames);
    const CleanResult cleaned = clean_url(str_view_arg(a.url));
    PyRef result = PyRef::checked(PyDict_Copy(clean_url_template()));
    PyRef url_value = new_str(cleaned.url);
    PyRef removed = str_map_to_dict(cleaned.removed_params);
    PyRef kept = str_map_to_dict(cleaned.cleaned_params);
    if (PyDict_SetItem(result.get(), kUrlKey.get(), url_value.get()) < 0 ||
        PyDict_SetItem(result.get(), kRemovedKey.get(), removed.get()) < 0 ||
        PyDict_SetItem(result.get(), kCleanedKey.get(), kept.get()) < 0) {
      throw_error_set();
    }
    return result;
  });
}

PyObject* clean_query_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    iface::clean_query_fn a;
    a.parse(args, nargs, kwnames);
    const std::string_view query_text = str_view_arg(a.query);
    return str_result(a.query.object, query_text, clean_query(query_text));
  });
}

}  // namespace

PyMethodDef normalize_path_fn_def = method_def<iface::normalize_path_fn>(normalize_path_fn);
PyMethodDef normalize_public_url_fn_def = method_def<iface::normalize_public_url_fn>(normalize_public_url_fn);
PyMethodDef clean_url_fn_def = method_def<iface::clean_url_fn>(clean_url_fn);
PyMethodDef clean_query_fn_def = method_def<iface::clean_query_fn>(clean_query_fn);

}  // namespace quarlo::py
