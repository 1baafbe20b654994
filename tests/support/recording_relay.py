"""A transparent TCP relay in front of a daemon that logs each command line
and each reply line passing through."""
