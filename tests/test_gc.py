"""The collector sees every reference a function object or a cache holds."""
import gc

import kora_ui.fast.raylib.kora_raylib as kr
from kora_ui.fast.koracache.koracache import Cache
from conftest import slots


def test_the_collector_sees_every_reference_held(monkeypatch):
    fn, cache = kr.draw_texture_rec, Cache()
    held = {"__dict__": {}, "__defaults__": (), "__kwdefaults__": {}, "__annotations__": {},
            **{name: f"{name} of {id(fn)}" for name in ("__name__", "__qualname__", "__module__", "__doc__")}}
    for name, value in held.items():
        monkeypatch.setattr(fn, name, value)
    for value in (type(fn), fn.__globals__, fn.__code__, kr, *held.values()):
        assert fn in gc.get_referrers(value), value
    assert cache in gc.get_referrers(slots(cache))
    other = kr.end_drawing
    for name in ("__doc__", "__module__"):
        monkeypatch.delattr(other, name)  # an emptied field is skipped
    assert other not in gc.get_referrers(*held.values())
