"""A JSON reader that remembers where each value starts.

The standard ``json`` module gives no positions, and a contract problem is
only useful with its place in the file: this reader returns the document and
the offset of every value by its JSON pointer.
"""

from __future__ import annotations

import bisect
import json.decoder
import re
from typing import Any, Callable

# The standard library's string reader: escapes, and control characters refused.
_scanstring: Callable[[str, int, bool], tuple[str, int]] = getattr(json.decoder, "scanstring")

_NUMBER = re.compile(r"-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][-+]?[0-9]+)?")
_SPACE = re.compile(r"[ \t\n\r]*")
_LITERALS = (("true", True), ("false", False), ("null", None))
_MAX_DEPTH = 64


class JSONTextError(ValueError):
    """The text is not JSON; ``offset`` is where reading stopped."""

    def __init__(self, message: str, offset: int) -> None:
        super().__init__(message)
        self.message = message
        self.offset = offset


def pointer_join(pointer: str, key: str | int) -> str:
    """The JSON pointer of a member or element of the value at ``pointer``."""
    return pointer + "/" + str(key).replace("~", "~0").replace("/", "~1")


class JSONText:
    """A parsed JSON text: ``value``, and ``position(pointer)`` giving the
    1-based line and column where the member's name, or the array element,
    at that pointer starts."""

    def __init__(self, text: str) -> None:
        self.text = text
        self.offsets: dict[str, int] = {}
        self._end = 0
        self._line_starts = [0] + [match.end() for match in re.finditer("\n", text)]
        position = self._skip(0)
        self.value: Any = self._value(position, "", 0)
        end = self._skip(self._end)
        if end != len(text):
            raise JSONTextError("unexpected text after the JSON document", end)

    def line_column(self, offset: int) -> tuple[int, int]:
        """1-based line and column (in characters) of an offset."""
        line = bisect.bisect_right(self._line_starts, offset)
        return line, offset - self._line_starts[line - 1] + 1

    def position(self, pointer: str) -> tuple[int, int] | None:
        offset = self.offsets.get(pointer)
        return None if offset is None else self.line_column(offset)

    def _skip(self, position: int) -> int:
        match = _SPACE.match(self.text, position)
        assert match is not None  # the pattern matches the empty text
        return match.end()

    def _value(self, position: int, pointer: str, depth: int) -> Any:
        text = self.text
        self.offsets[pointer] = position
        if position >= len(text):
            raise JSONTextError("unexpected end of the JSON text", position)
        char = text[position]
        if char == "{" or char == "[":
            if depth >= _MAX_DEPTH:
                raise JSONTextError(f"nested deeper than {_MAX_DEPTH} levels", position)
            return self._object(position, pointer, depth) if char == "{" else self._array(position, pointer, depth)
        if char == '"':
            return self._string(position)
        match = _NUMBER.match(text, position)
        if match:
            self._end = match.end()
            number = match.group()
            return float(number) if any(c in number for c in ".eE") else int(number)
        for word, literal in _LITERALS:
            if text.startswith(word, position):
                self._end = position + len(word)
                return literal
        raise JSONTextError(f"unexpected character {char!r}", position)

    def _string(self, position: int) -> str:
        try:
            value, self._end = _scanstring(self.text, position + 1, True)
        except json.JSONDecodeError as exc:
            raise JSONTextError(exc.msg.lower(), exc.pos) from None
        return value

    def _object(self, position: int, pointer: str, depth: int) -> dict[str, Any]:
        text = self.text
        result: dict[str, Any] = {}
        position = self._skip(position + 1)
        if text.startswith("}", position):
            self._end = position + 1
            return result
        while True:
            if not text.startswith('"', position):
                raise JSONTextError("expected a member name in double quotes", position)
            key_position = position
            key = self._string(position)
            position = self._skip(self._end)
            if not text.startswith(":", position):
                raise JSONTextError("expected ':' after the member name", position)
            position = self._skip(position + 1)
            member = pointer_join(pointer, key)
            result[key] = self._value(position, member, depth + 1)
            self.offsets[member] = key_position  # a member is shown at its name
            position = self._skip(self._end)
            if text.startswith(",", position):
                position = self._skip(position + 1)
            elif text.startswith("}", position):
                self._end = position + 1
                return result
            else:
                raise JSONTextError("expected ',' or '}'", position)

    def _array(self, position: int, pointer: str, depth: int) -> list[Any]:
        text = self.text
        result: list[Any] = []
        position = self._skip(position + 1)
        if text.startswith("]", position):
            self._end = position + 1
            return result
        while True:
            result.append(self._value(position, pointer_join(pointer, len(result)), depth + 1))
            position = self._skip(self._end)
            if text.startswith(",", position):
                position = self._skip(position + 1)
            elif text.startswith("]", position):
                self._end = position + 1
                return result
            else:
                raise JSONTextError("expected ',' or ']'", position)
