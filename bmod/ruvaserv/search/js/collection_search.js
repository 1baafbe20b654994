// Scripts of the collection search (STB "1") pages: the link is built from
// the toolbar's pattern with DOM text nodes. Each section is carried whole
// by the page that needs it.
//@section results
//@section nomatch
