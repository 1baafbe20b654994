// Scripts of the search results page. The server writes only assignments
// of escaped values (helpID, helpCount) before it; the page carries it whole.
