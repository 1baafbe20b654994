// Script of the "Loading document" page. The server writes only the
// assignments of protocol, kivoserv and the argument string before it.

// The single hit opened in the whole window, in place of the page that
// asked for it, so that Back skips the search.
function replaceTopUrl() {
  top.location.replace(protocol + kivoserv + "?" + args);
}
