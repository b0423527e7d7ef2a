# Type stubs of the stand-in KrShader module (the real package ships its own).
from types import CapsuleType
from typing import ClassVar, disjoint_base

@disjoint_base
class KrShader:
    """A raylib shader handle: program id and the address of its uniform location array."""

    # C-level method table for native modules.
    __pyx_vtable__: ClassVar[CapsuleType]
    id: int
    locs: int
    def __init__(self, id: int = 0, locs: int = 0) -> None:
        """Set the fields; OverflowError unless 0 <= id < 2**32 and locs fits a pointer."""
