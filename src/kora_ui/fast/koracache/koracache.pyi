# Type stubs of kora_ui.fast.koracache.koracache, the slot cache.
#
# A key addresses slot `key.value` (an int from 0 to 31). get, set,
# get_or_set_val, get_or_exec and clear_selected read only `value`, so any
# object with an integer `value` will do; subscription requires a CacheType
# member. An empty slot holds None. Every slot access raises IndexError for a
# value outside 0..31 and TypeError on a detached cache (one whose __init__
# never ran). See docs/api.md.
from types import CapsuleType
from typing import Any, Callable, ClassVar, Protocol, SupportsInt, TypeAlias, TypeVar, disjoint_base

from kora_ui.core.enums import CacheType as CacheType

class _Keyed(Protocol):
    @property
    def value(self) -> SupportsInt: ...

_Key: TypeAlias = CacheType | _Keyed
_C = TypeVar("_C", bound=Cache)
# Pickled state: (slot list,) or (slot list, instance dict); the list is None
# for a detached instance.
_State: TypeAlias = tuple[list[Any] | None] | tuple[list[Any] | None, dict[str, Any]]
_Unpickle: TypeAlias = Callable[[type[Cache], int, _State | None], Cache]

# Doctest table of the module; always empty.
__test__: dict[str, str]

@disjoint_base
class Cache:
    """32 slots keyed by CacheType members; an empty slot holds None."""

    # C-level method table for sibling native modules (capsule without a name).
    __pyx_vtable__: ClassVar[CapsuleType]
    def __init__(self) -> None:
        """Give the cache 32 empty slots (again, if called on a used cache)."""

    def clear(self) -> None:
        """Empty all 32 slots."""

    def clear_selected(self, blacklist: list[_Key] | None = None, whitelist: list[_Key] | None = None) -> None:
        """Empty each slot named in whitelist and not in blacklist.

        A false blacklist spares nothing, a false whitelist selects every
        CacheType member; values outside 0..31 are ignored. Both lists are
        read before any slot changes. TypeError for a non-empty non-list.
        """

    def get(self, type: _Key) -> Any:
        """Return the content of the key's slot (TypeError for None, AttributeError without value)."""

    def set(self, type: _Key, value: object) -> None:
        """Store value in the key's slot; None empties it."""

    def get_or_set_val(self, type: _Key, value: object) -> Any:
        """Store value if the key's slot is empty; return the slot's content."""

    def get_or_exec(self, type: _Key, func: Callable[[], object]) -> Any:
        """If the key's slot is empty, store func()'s result; return the slot's content.

        An exception from func propagates and leaves the slot unchanged.
        TypeError if type or func is None.
        """

    def __getitem__(self, key: CacheType, /) -> Any:
        """Return the slot of a CacheType member (TypeError for any other key)."""

    def __getattr__(self, type: str) -> Any:
        """Return the slot of the member named type: cache.TEXTURE is the TEXTURE slot.

        AttributeError(type) for a name that is no member.
        """

    def copy(self) -> Cache:
        """Return a new Cache with its own slot list holding the same objects."""

    def __deepcopy__(self, memo: object) -> Cache:
        """Return self.copy(): deep copies share the slot contents too."""

    def __reduce__(self) -> tuple[_Unpickle, tuple[type[Cache], int, None], _State] | tuple[
        _Unpickle, tuple[type[Cache], int, _State]
    ]:
        """Pickle through __pyx_unpickle_Cache with the class, the checksum and the state."""

    def __setstate__(self, __pyx_state: _State) -> None:
        """Restore the slot list (and a subclass instance's dict) from pickled state.

        TypeError for None, a non-tuple or a first item that is no list or None.
        """

def __pyx_unpickle_Cache(__pyx_type: type[_C], __pyx_checksum: int, __pyx_state: _State | None) -> _C:
    """Rebuild a pickled Cache of class __pyx_type, restoring __pyx_state unless it is None.

    pickle.PickleError for an unknown checksum.
    """
