// normalize_path_fn, normalize_public_url_fn, clean_url_fn, clean_query_fn.
//
//   def normalize_path_fn(path: str, policy: URLPolicy) -> str
//   def normalize_public_url_fn(url: str, config: SEOConfig) -> str
//   def clean_url_fn(url: str) -> dict  # {"url", "removed_params", "cleaned_params"}
//   def clean_query_fn(query: str) -> str
//
// The two normalisation functions report core errors as the built-in
// ValueError carrying the full display text ("invalid URL: ..."), not as a
// QuarloError subclass.
#include "python/py_url.hpp"

#include "core/url/detrack.hpp"
#include "core/url/url.hpp"
#include "python/runtime/args.hpp"
#include "python/runtime/cell.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/fast_args.hpp"
#include "python/runtime/guard.hpp"
#include "python/runtime/module.hpp"
#include "python/py_config.hpp"

namespace quarlo::py {
namespace {

const char* const kPathPolicy[] = {"path", "policy", nullptr};
const char* const kUrlConfig[] = {"url", "config", nullptr};
const char* const kUrl[] = {"url", nullptr};
const char* const kQuery[] = {"query", nullptr};
ArgParser normalize_path_args{"OO:normalize_path_fn", kPathPolicy};
ArgParser normalize_public_url_args{"OO:normalize_public_url_fn", kUrlConfig};
ArgParser clean_url_args{"O:clean_url_fn", kUrl};
ArgParser clean_query_args{"O:clean_query_fn", kQuery};

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
  for (const auto& [key, value] : map) {
    PyRef k = new_str(key);
    PyRef v = new_str(value);
    if (PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) throw_error_set();
  }
  return dict;
}

PyObject* normalize_path_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    PyObject *path = nullptr, *policy = nullptr;
    normalize_path_args.parse_fastcall(args, nargs, kwnames, &path, &policy);
    const std::string_view path_text = str_view_arg(path, "path");
    const URLPolicy core_policy = to_core_policy(instance_arg(policy, url_policy_type(), "policy"));
    return new_str(normalize_path(path_text, core_policy));
  });
}

PyObject* normalize_public_url_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    PyObject *url = nullptr, *config = nullptr;
    normalize_public_url_args.parse_fastcall(args, nargs, kwnames, &url, &config);
    const std::string_view url_text = str_view_arg(url, "url");
    PyObject* given = instance_arg(config, seo_config_type(), "config");
    return new_str(value_or_value_error(normalize_public_url(url_text, unwrap_config(given), &config_public_base(given))));
  });
}

PyObject* clean_url_fn(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return guard([&] {
    PyObject* url = nullptr;
    clean_url_args.parse_fastcall(args, nargs, kwnames, &url);
    const CleanResult cleaned = clean_url(str_view_arg(url, "url"));
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
    PyObject* query = nullptr;
    clean_query_args.parse_fastcall(args, nargs, kwnames, &query);
    return new_str(clean_query(str_view_arg(query, "query")));
  });
}

}  // namespace

PyMethodDef normalize_path_fn_def{
    "normalize_path_fn", as_pycfunction(normalize_path_fn), METH_FASTCALL | METH_KEYWORDS,
    "normalize_path_fn(path, policy)\n--\n\n"
    "Normalizes a route path according to the URL policy.\n"
    "\n"
    "Raises:\n"
    "    ValueError: If the path or policy is invalid."};

PyMethodDef normalize_public_url_fn_def{
    "normalize_public_url_fn", as_pycfunction(normalize_public_url_fn), METH_FASTCALL | METH_KEYWORDS,
    "normalize_public_url_fn(url, config)\n--\n\n"
    "Resolves a path or URL against the configured public base URL.\n"
    "\n"
    "Raises:\n"
    "    QuarloError: If the input or configuration is invalid."};

PyMethodDef clean_url_fn_def{
    "clean_url_fn", as_pycfunction(clean_url_fn), METH_FASTCALL | METH_KEYWORDS,
    "clean_url_fn(url)\n--\n\n"
    "Removes tracking parameters from a URL.\n"
    "\n"
    "Returns:\n"
    "    A dict with ``url``, ``removed_params``, and ``cleaned_params``."};

PyMethodDef clean_query_fn_def{
    "clean_query_fn", as_pycfunction(clean_query_fn), METH_FASTCALL | METH_KEYWORDS,
    "clean_query_fn(query)\n--\n\n"
    "Removes tracking parameters from a query string."};

}  // namespace quarlo::py
