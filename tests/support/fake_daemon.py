"""A stand-in daemon that greets and answers VER as the real one does and
answers LIST, MLLIST, QXSRCH and SRCH from a case file, logging each line;
for replies the real daemon never sends."""
