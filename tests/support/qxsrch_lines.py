"""Reply lines as the daemon writes them (QXSRCH, LIST, MLLIST, SRCH), for
scripted peers and the fake daemon."""
