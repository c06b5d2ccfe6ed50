"""Giving back the memory that decodes keep for the next one."""

from __future__ import annotations

from tarnwel import _core


def release_memory() -> int:
    """Frees the memory kept for arrays and decoded columns, and returns how many bytes.

    Decodes take large blocks (64 KiB and more) from one pool shared by every thread, and
    blocks come back to it when their arrays are freed, up to 64 MiB in 64 blocks, so that
    the next decode starts from warm memory. Call this when no more decodes follow soon:
    arrays still alive keep their memory and values; only the kept blocks are freed.
    """
    return _core.drain_cell_pool()
