"""The prototype table against the public header, and the loader."""

import ctypes
import re

import pytest

from torva_testing import CHECKOUT, HEADER
from torva import _library
from torva import _prototypes as P

# C types of the header, as the table must declare them.
C_TYPES = {
    "void": None,
    "int": ctypes.c_int,
    "float": ctypes.c_float,
    "char*": "char*",  # a pointer to c_char that refuses bytes and str, see same_type
    "int*": ctypes.POINTER(ctypes.c_int),
    "float*": ctypes.POINTER(ctypes.c_float),
    "void*": ctypes.c_void_p,
    "float**": ctypes.POINTER(ctypes.POINTER(ctypes.c_float)),
    "int**": ctypes.POINTER(ctypes.POINTER(ctypes.c_int)),
    "short**": ctypes.POINTER(ctypes.POINTER(ctypes.c_short)),
    "TorvaWindowHandle": ctypes.c_void_p,
}
PROTOTYPE = re.compile(r"TORVA_API\s+([^;(]*?)\s*\b(fm\w+)\s*\(([^)]*)\)\s*;")


def same_type(table_type, header_type):
    if header_type == "char*":
        return issubclass(table_type, ctypes._Pointer) and table_type._type_ is ctypes.c_char
    return table_type is header_type


def header_prototypes():
    if not HEADER.is_file():
        pytest.skip(f"no header at {HEADER}")
    text = HEADER.read_text()
    found = {}
    for result, name, arguments in PROTOTYPE.findall(text):
        types = []
        if arguments.strip() != "void":
            for argument in arguments.split(","):
                # "float** frame" -> "float**": drop the parameter name, join the stars.
                c_type = re.sub(r"\s*\b\w+$", "", argument.strip()).replace(" ", "")
                types.append(C_TYPES[c_type])
        assert name not in found, f"{name} declared twice"
        found[name] = (C_TYPES[result.replace(" ", "")], tuple(types))
    declared = len(re.findall(r"^TORVA_API\s", text, re.MULTILINE))
    assert len(found) == declared, "a TORVA_API line the parser did not read"
    return found


def test_table_matches_header_names_arguments_and_results():
    header = header_prototypes()
    assert sorted(P.PROTOTYPES) == sorted(header)
    for name, (result, arguments) in header.items():
        table_result, table_arguments = P.PROTOTYPES[name]
        assert table_result is result, f"{name}: result {table_result} vs header {result}"
        assert len(table_arguments) == len(arguments), f"{name}: argument count"
        for index, (table_type, header_type) in enumerate(zip(table_arguments, arguments)):
            assert same_type(table_type, header_type), f"{name}: argument {index}"


def test_header_constants_match_the_package():
    text = HEADER.read_text() if HEADER.is_file() else pytest.skip("no header")
    assert f"TORVA_VERSION_ID = {P.VERSION_ID}" in text
    assert f"TORVA_ERROR_TEXT_BYTES = {P.ERROR_TEXT_BYTES}" in text
    # The frame layout, from the public header a C caller reads frames with.
    frame_layout = (CHECKOUT / "driver" / "layout" / "TorvaFrameLayout.h").read_text()
    assert f"#define TORVA_RECORD_VALUES {P.RECORD_VALUES}\n" in frame_layout
    assert f"#define TORVA_RECORD_COUNTER {P.RECORD_COUNTER}\n" in frame_layout
    assert f"#define TORVA_RECORD_CHANNELS {P.RECORD_CHANNELS}\n" in frame_layout
    assert f"#define TORVA_RECORD_AUXILIARY {P.RECORD_AUXILIARY}\n" in frame_layout
    assert f"#define TORVA_FRAME_ROWS {P.SAMPLES_PER_FRAME}\n" in frame_layout
    assert f"#define TORVA_FRAME_CHANNELS {P.CHANNELS}\n" in frame_layout
    assert f"#define TORVA_FORMAT_RECORDS {P.FORMAT_RECORDS}\n" in frame_layout


def test_every_output_buffer_is_a_pointer_argument_of_the_table():
    for (name, index), count in P.OUT_ELEMENTS.items():
        argument = P.PROTOTYPES[name][1][index]
        assert issubclass(argument, ctypes._Pointer), (name, index)
        assert count > 0
        buffer = P.out_buffer(name, index)
        assert len(buffer) == count and buffer._type_ is argument._type_
    # Text fields reach 28 bytes (the platform model) and may lack a NUL when full.
    assert P.TEXT_BYTES > 28
    assert len(P.out_buffer("fmDLLGetError")) == P.ERROR_TEXT_BYTES


def test_loaded_library_carries_the_table():
    library = _library.load()
    for name, (result, arguments) in P.PROTOTYPES.items():
        function = getattr(library, name)
        assert function.restype is result, name
        assert list(function.argtypes) == list(arguments), name


@pytest.mark.parametrize("value", [b"0123456789", "TA601201", 12345, 1.5, [0] * 6])
def test_buffer_arguments_refuse_python_objects(value):
    # A bytes or str object must never be handed to a function that writes through it.
    library = _library.load()
    with pytest.raises(ctypes.ArgumentError):
        library.fmGetAmplifierSerialNumber(value)
    with pytest.raises(ctypes.ArgumentError):
        library.fmGetPlatformXYZOffsets(value)


def test_number_arguments_refuse_text():
    library = _library.load()
    with pytest.raises(ctypes.ArgumentError):
        library.fmDLLSelectDeviceIndex("0")
    with pytest.raises(ctypes.ArgumentError):
        library.fmBroadcastPlatformOrderingThreshold("200")


def test_candidates_in_order(tmp_path):
    named = str(tmp_path / "libTorvaUSBDevice.so")
    assert _library.candidates({"TORVA_LIBRARY": named}) == [("TORVA_LIBRARY", named)]
    found = _library.candidates({})
    assert found[-1] == ("installed", "libTorvaUSBDevice.so.0")
    built = CHECKOUT / "build" / "lib" / "libTorvaUSBDevice.so"
    if built.is_file():
        assert found[0] == ("build tree", str(built))
        assert len(found) == 2
