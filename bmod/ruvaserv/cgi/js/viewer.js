// The viewer's browser side: the functions the pages the front end writes
// carry. Each "//@section <name>" line starts a section that the program
// embeds on its own; a section of whole definitions parses alone.

//@section doc-toc
// The document TOC: cNDoc and aNDoc.


//@section collection
// The collection tree: cNCol and aNCol.


//@section tree-render
// The library tree renderer with generateTOCToolbar.


//@section generate-dtoc
// generateDTOC(flag): the document tree.


//@section generate-ctoc
// generateCTOC(flag): the collection tree.


//@section auto-sync
// The functions that keep the tree frame in step with the document.


//@section main-init-tree
// The main page's initializeTree.


//@section main-togb-tail
// The end of the main page's togB (a fragment, checked in the patched page).

