"""Compiled modules of kora_ui: the raylib call layer, the slot cache and the
small value types they exchange."""
