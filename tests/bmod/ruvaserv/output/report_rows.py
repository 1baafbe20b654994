"""Reads a comparison report page into its rows."""
