# Type stubs of the stand-in KrRect module (the real package ships its own).
from types import CapsuleType
from typing import ClassVar, disjoint_base

@disjoint_base
class KrRect:
    """A rectangle of four float32 fields; kora_raylib also reads one as a colour (r, g, b, a)."""

    # C-level method table for native modules.
    __pyx_vtable__: ClassVar[CapsuleType]
    x: float
    y: float
    w: float
    h: float
    def __init__(self, x: float = 0.0, y: float = 0.0, w: float = 0.0, h: float = 0.0) -> None:
        """Set the four fields, narrowed to float32 (TypeError for a value without a float conversion)."""
