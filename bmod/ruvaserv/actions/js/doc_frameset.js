// The document frameset's functions (DOCNOTREE).
