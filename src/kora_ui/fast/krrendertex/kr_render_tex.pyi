# Type stubs of the stand-in KrRenderTexture module (the real package ships its own).
from types import CapsuleType
from typing import Any, ClassVar, disjoint_base

from kora_ui.fast.krvector2.krvector2 import KrVector2

@disjoint_base
class KrRenderTexture:
    """A render target: the wrapped raylib render texture object, its size and a loaded flag."""

    # C-level method table for native modules.
    __pyx_vtable__: ClassVar[CapsuleType]
    render_texture: Any
    size: KrVector2 | None
    loaded: int
    def __init__(self, render_texture: Any = None, size: KrVector2 | None = None, loaded: int = 0) -> None:
        """Set the fields; TypeError if size is neither a KrVector2 nor None."""
