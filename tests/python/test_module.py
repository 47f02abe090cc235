"""Module frame: members, exception classes, core error messages and the
entry-point guard. Which members, in which order, with which bases and for
which core error kinds is checked against the interface table in
test_interface.py."""

import importlib
import pickle
import sys

import pytest

import _quarlo_native as native

MEMBERS = {name: getattr(native, name) for name in native.__all__}
FUNCTIONS = [name for name, member in MEMBERS.items() if not isinstance(member, type)]
EXCEPTIONS = [name for name, member in MEMBERS.items()
              if isinstance(member, type) and issubclass(member, BaseException)]

# Core error kind -> its display prefix, in the core's order.
PREFIXES = {
    "InvalidUrl": "invalid URL: ",
    "InvalidConfig": "invalid configuration: ",
    "InvalidEntity": "invalid entity: ",
    "InvalidSchema": "invalid schema: ",
    "Serialization": "serialization error: ",
    "Contract": "contract error: ",
    "UrlPolicy": "URL policy error: ",
}


class TestMembers:
    def test_no_public_attribute_outside_all(self):
        public = {name for name in dir(native) if not name.startswith("_")}
        assert public == set(native.__all__)
        assert FUNCTIONS and EXCEPTIONS

    def test_functions_are_bound_to_the_module(self):
        for name in FUNCTIONS:
            function = getattr(native, name)
            assert function.__module__ == "_quarlo_native"
            assert function.__self__ is native

    def test_reimport_reuses_process_wide_classes(self):
        before = {name: getattr(native, name) for name in native.__all__}
        del sys.modules["_quarlo_native"]
        try:
            again = importlib.import_module("_quarlo_native")
            assert again is not native
            assert again.__all__ == native.__all__
            for name, obj in before.items():
                if name in FUNCTIONS:
                    # functions are bound to their own module object
                    assert getattr(again, name).__self__ is again
                else:
                    assert getattr(again, name) is obj, name
        finally:
            sys.modules["_quarlo_native"] = native


class TestExceptionClasses:
    @pytest.mark.parametrize("name", EXCEPTIONS)
    def test_plain_classes_with_short_names(self, name):
        cls = getattr(native, name)
        assert cls.__name__ == cls.__qualname__ == name
        assert cls.__doc__ is None
        assert [key for key in vars(cls) if not key.startswith("__")] == []
        exc = cls("a", 2)
        assert exc.args == ("a", 2)

    @pytest.mark.parametrize("name", EXCEPTIONS)
    def test_pickle_round_trip(self, name):
        cls = getattr(native, name)
        restored = pickle.loads(pickle.dumps(cls("message")))
        assert type(restored) is cls and restored.args == ("message",)


class TestCoreErrorMapping:
    def test_every_core_kind_has_its_prefix(self, testing):
        assert testing.error_kinds() == list(PREFIXES)

    def test_table_made_once(self, testing):
        # The test extension has its own process-wide table (its own copy of
        # the binding), built by the same code.
        table = testing.exception_types()
        assert [cls.__name__ for cls in table] == EXCEPTIONS
        assert testing.exception_types() == table

    @pytest.mark.parametrize("kind", PREFIXES)
    def test_message_without_prefix(self, testing, kind):
        with pytest.raises(ValueError) as info:
            testing.raise_core_error(kind, "url_or_path must be a non-empty string")
        assert type(info.value) in testing.exception_types()
        assert info.value.args == ("url_or_path must be a non-empty string",)
        assert not str(info.value).startswith(PREFIXES[kind])

    def test_non_ascii_message(self, testing):
        with pytest.raises(ValueError, match="caf\u00e9 \U0001f600"):
            testing.raise_core_error("InvalidUrl", "caf\u00e9 \U0001f600")

    @pytest.mark.parametrize("kind", PREFIXES)
    def test_display_text_as_value_error(self, testing, kind):
        with pytest.raises(ValueError) as info:
            testing.raise_display(kind, "boom")
        assert type(info.value) is ValueError
        assert info.value.args == (PREFIXES[kind] + "boom",)


class TestGuard:
    def test_bad_alloc_is_memory_error(self, testing):
        with pytest.raises(MemoryError):
            testing.throw_cpp("bad_alloc", "")

    @pytest.mark.parametrize(
        "kind, message",
        [
            ("runtime_error", "broken invariant"),
            ("non_std", "unknown C++ exception"),
            ("silent_failure", "a failure was reported without a Python exception"),
        ],
    )
    def test_faults_bypass_exception_handlers(self, testing, kind, message):
        with pytest.raises(BaseException) as info:
            try:
                testing.throw_cpp(kind, "broken invariant")
            except Exception:  # must not catch an internal fault
                pytest.fail("internal fault caught as Exception")
        fault = type(info.value)
        assert fault.__bases__ == (BaseException,)
        assert str(info.value) == message
        assert fault.__name__ not in dir(native)

    def test_python_error_passes_through(self, testing):
        with pytest.raises(KeyError, match="kept"):
            testing.throw_cpp("python_error", "kept")

    def test_int_slots(self, testing):
        assert testing.guard_int(False) == 0
        with pytest.raises(BaseException, match="int slot fault") as info:
            testing.guard_int(True)
        assert not isinstance(info.value, Exception)

    @pytest.mark.parametrize("pending", [False, True])
    def test_unraisable_slots(self, testing, monkeypatch, pending):
        seen = []
        monkeypatch.setattr(sys, "unraisablehook", seen.append)
        if pending:
            with pytest.raises(KeyError, match="pending"):
                testing.unraisable("dealloc fault", True)
        else:
            assert testing.unraisable("dealloc fault", False) is None
        assert len(seen) == 1
        assert str(seen[0].exc_value) == "dealloc fault"
        assert not isinstance(seen[0].exc_value, Exception)


class TestTypeHelpers:
    def test_final_and_immutable(self, testing):
        with pytest.raises(TypeError):
            type("Sub", (testing.Token,), {})
        with pytest.raises(TypeError):
            testing.Token.extra = 1
        assert isinstance(testing.Token(), testing.Token)

    def test_no_constructor(self, testing):
        with pytest.raises(TypeError):
            testing.Sealed()
        assert type(testing.make_sealed()) is testing.Sealed
