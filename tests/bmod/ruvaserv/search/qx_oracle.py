"""The order, counts, library table, cap, language and option string the
results page should show for a search reply, computed independently of the
front end; prep_dump's output and the pages are checked against it."""
