# Type stubs of the stand-in KrVector2 module (the real package ships its own).
from types import CapsuleType
from typing import ClassVar, disjoint_base

@disjoint_base
class KrVector2:
    """A 2D vector of doubles."""

    # C-level method table for native modules.
    __pyx_vtable__: ClassVar[CapsuleType]
    x: float
    y: float
    def __init__(self, x: float = 0.0, y: float = 0.0) -> None:
        """Set both components (TypeError for a value without a float conversion)."""
