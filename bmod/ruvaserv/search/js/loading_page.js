// Script of the "Loading document" page. The server writes only the
// assignments of protocol, kivoserv and the argument string before it.
