"""The package version: the wheel's metadata and CMake read it from here."""

__version__ = "0.2.0"
