// Scripts of the advanced and document search pages. The server writes
// only assignments of escaped values before a section; each section is
// carried whole by the page that needs it.
//@section advanced
//@section document
