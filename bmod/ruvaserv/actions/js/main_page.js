// The main page's functions, which the toolbar and the document frames call.
