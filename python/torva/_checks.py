"""Checks of the arguments Python callers pass, made before any library call.

Each returns the value converted to the plain Python type the library call needs, or raises
TypeError (wrong kind of value: a str, a bool, a float where a whole number is needed) or
ValueError (right kind, outside what the library accepts).
"""

import math
import numbers
import operator


def whole(name, value, lowest=None, highest=None):
    """An int (or any integer type, numpy's included) within lowest..highest; never a bool."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be a whole number, not {type(value).__name__}")
    value = operator.index(value)
    if (lowest is not None and value < lowest) or (highest is not None and value > highest):
        raise ValueError(f"{name} {value} is outside {lowest}..{highest}")
    return value


def real(name, value, lowest=None, highest=None, lowest_excluded=False, highest_excluded=False):
    """A finite real number (int or float, not bool) within the given bounds, as a float."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    value = float(value)
    if not math.isfinite(value):
        raise ValueError(f"{name} must be finite, not {value}")
    if lowest is not None and (value < lowest or (lowest_excluded and value == lowest)):
        relation = "above" if lowest_excluded else "at least"
        raise ValueError(f"{name} {value:g} must be {relation} {lowest:g}")
    if highest is not None and (value > highest or (highest_excluded and value == highest)):
        relation = "below" if highest_excluded else "at most"
        raise ValueError(f"{name} {value:g} must be {relation} {highest:g}")
    return value


# The longest time any wait or recording of the package may be asked for: one day.
LONGEST_SECONDS = 86400.0


def seconds(name, value):
    """A duration in seconds: above 0 and at most a day."""
    return real(name, value, 0.0, LONGEST_SECONDS, lowest_excluded=True)


def whole_sequence(name, values, length, lowest, highest):
    """A sequence of exactly `length` whole numbers, each within lowest..highest, as a tuple."""
    if isinstance(values, (str, bytes)) or not hasattr(values, "__len__"):
        raise TypeError(f"{name} must be a sequence of {length} whole numbers")
    if len(values) != length:
        raise ValueError(f"{name} must hold {length} values, not {len(values)}")
    return tuple(whole(f"{name}[{i}]", v, lowest, highest) for i, v in enumerate(values))


def callable_or_none(name, value):
    """A callable, or None."""
    if value is not None and not callable(value):
        raise TypeError(f"{name} must be callable or None, not {type(value).__name__}")
    return value


def flag(name, value):
    """A bool (True or False only)."""
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False, not {type(value).__name__}")
    return value
