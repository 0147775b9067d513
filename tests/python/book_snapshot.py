"""Deep, plain copies of the module's objects, for comparing them later."""

import types

import quorvane


def attribute_names(cls):
    return sorted(name for name, value in vars(cls).items() if isinstance(value, types.GetSetDescriptorType))


QUORVANE_TYPES = tuple(getattr(quorvane, name) for name in quorvane.__all__ if isinstance(getattr(quorvane, name), type))


def snapshot(value):
    """Every attribute of a quorvane object, recursively, as tuples and plain values."""
    if isinstance(value, QUORVANE_TYPES):
        return (type(value).__name__, tuple((name, snapshot(getattr(value, name))) for name in attribute_names(type(value))))
    if isinstance(value, list):
        return ("list", tuple(snapshot(item) for item in value))
    return value
