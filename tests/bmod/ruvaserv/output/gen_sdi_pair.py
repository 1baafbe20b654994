"""Writes an old and a new SDI document list, their records and the expected comparison rows."""
