"""Built-in example: shows what the extension module offers."""

import _quarlo_native as q


def main() -> None:
    print("_quarlo_native exception hierarchy:")
    for name in ("QuarloError", "InvalidUrlError", "ConfigurationError",
                 "EntityError", "SchemaError", "ContractError"):
        cls = getattr(q, name)
        bases = ", ".join(b.__name__ for b in cls.__bases__)
        print(f"  {name}({bases})")


if __name__ == "__main__":
    main()
