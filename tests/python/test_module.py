import subprocess
import sys
import textwrap

import pytest

import quorvane

# The registration order; later classes take their places behind these.
REGISTRATION_ORDER = [
    "iter_prices_file",
    "PricesIterator",
    "MarketBook",
    "Runner",
    "ExchangePrices",
    "StartingPrices",
    "PriceSize",
    "MarketDefinition",
    "MarketDefinitionRunner",
]

SUBINTERPRETER_MESSAGE = (
    "PyO3 modules do not yet support subinterpreters, see https://github.com/PyO3/pyo3/issues/576"
)


def test_all_lists_the_registered_names_in_order():
    names = quorvane.__all__
    assert type(names) is list
    assert len(names) >= 2
    assert names == REGISTRATION_ORDER[: len(names)]


def test_module_has_exactly_the_names_of_all():
    public = {name for name in vars(quorvane) if not name.startswith("__")}
    assert public == set(quorvane.__all__)
    assert not hasattr(quorvane, "PanicException")


def test_classes_are_types_from_builtins():
    for name in quorvane.__all__[1:]:
        cls = getattr(quorvane, name)
        assert isinstance(cls, type)
        assert (cls.__module__, cls.__name__, cls.__qualname__) == ("builtins", name, name)


def test_module_doc_is_empty_string():
    assert quorvane.__doc__ == ""
    assert quorvane.__name__ == "quorvane"


def test_iter_prices_file_function():
    function = quorvane.iter_prices_file
    assert type(function).__name__ == "builtin_function_or_method"
    assert function.__name__ == "iter_prices_file"
    assert function.__text_signature__ == "(path)"
    assert function.__doc__ is None
    assert function.__self__ is quorvane
    assert function.__module__ == "quorvane"


def test_reimport_returns_the_same_module():
    first = sys.modules.pop("quorvane")
    try:
        import quorvane as second

        assert second is first
        assert second.iter_prices_file is first.iter_prices_file
        assert second.__all__ == REGISTRATION_ORDER[: len(second.__all__)]
    finally:
        sys.modules["quorvane"] = first


def run_python(code):
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=60
    )
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


SUBINTERPRETER_IMPORT = """
    import _interpreters
    interpreter = _interpreters.create(_interpreters.new_config("legacy"))
    failure = _interpreters.exec(interpreter, "import quorvane")
    print(failure.type.__name__ if failure else "imported")
    print(failure.msg if failure else "")
"""


@pytest.mark.parametrize("main_imports_first", [True, False])
def test_second_interpreter_is_refused(main_imports_first):
    # The legacy configuration lets single-phase modules load in a
    # subinterpreter, so the refusal is the module's own.
    pytest.importorskip("_interpreters")
    main_import = "\n    import quorvane" if main_imports_first else ""
    later_main_import = "" if main_imports_first else """
    try:
        import quorvane
        print("imported")
    except ImportError as error:
        print("ImportError", error)
    """
    lines = run_python(main_import + SUBINTERPRETER_IMPORT + later_main_import)
    # Python 3.13 runs a single-phase initialiser in the main interpreter
    # first even when a subinterpreter imports before it; the module then
    # belongs to the main interpreter, which goes on importing it.
    expected = ["ImportError", SUBINTERPRETER_MESSAGE]
    assert lines == (expected if main_imports_first else expected + ["imported"])
