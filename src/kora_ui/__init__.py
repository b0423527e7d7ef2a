"""kora_ui: a user interface toolkit drawn with raylib."""
