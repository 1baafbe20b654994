// The toolbar frame's functions.
