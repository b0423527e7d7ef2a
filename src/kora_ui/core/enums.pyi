# Type stubs of the stand-in kora_ui.core.enums (the real package ships its own).
import enum

class CacheType(enum.Enum):
    """Kinds of resources kept in a cache; each value selects a slot (0..31)."""

    TEXTURE = 0
    RENDER_TEXTURE = 1
    SHADER = 2
    FONT = 3
    RECT = 4
    SURFACE = 5
    SIZE = 6
    POSITION = 7
    COLOR = 8
    IMAGE = 9
    SOUND = 12
    LAYOUT = 16
    STYLE = 24
    WIDGET = 31
