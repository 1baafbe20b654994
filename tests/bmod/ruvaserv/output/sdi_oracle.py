"""The expected rows of comparing two SDI document lists, computed from their records alone."""
