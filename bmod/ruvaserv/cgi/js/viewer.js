// The viewer's browser side: the functions the pages the front end writes
// carry. Each "//@section <name>" line starts a section that the program
// embeds on its own; a section of whole definitions parses alone.

//@section doc-toc
// The document TOC: cNDoc and aNDoc. The lines before this text declare
// nextNodeIdDoc, dfT and kvoPageUrl (this page's address) and define
// generateDTOCTree(), whose node lines call these two. A node is a plain
// object that the tree frame draws: text (HTML whose entities stay; markup
// in it is shown as text), target ("#TOP", "#CHAPTER1.2"), url (the page
// at that target), prof (0xFFFF: the root), isOpen, parent, children.

function cNDoc(text, target, prof)
{
  target = String(target);
  return { id: nextNodeIdDoc++, text: String(text), target: target, url: kvoPageUrl + target,
           prof: prof, isOpen: prof == 0xFFFF, parent: null, children: [] };
}

// Adds child under parent and returns the child, so that the child can be
// the parent of the next line. A parent not made yet means the root.
function aNDoc(parent, child)
{
  if (!parent) parent = dfT;
  if (!parent) return child;
  child.parent = parent;
  parent.children.push(child);
  return child;
}

//@section collection
// The collection tree: cNCol and aNCol. The lines before this text declare
// nextNodeIdCol and cfT and define generateCollectionTree(). Nodes have
// the shape of the document TOC's (cNDoc). A file beginning with '#' is
// kept as the target of a node without a link: a library no server holds.
// The root made with "kivodoc" stands for this page. Any other file is a
// library identity: the node's open() asks the frame set to open it.

function cNCol(text, file, prof)
{
  var node = { id: nextNodeIdCol++, text: String(text), file: String(file), target: '', url: '',
               prof: prof, isOpen: prof == 0xFFFF, parent: null, children: [], open: null };
  if (node.file.charAt(0) == '#') {
    node.target = node.file;
  } else if (node.file != 'kivodoc') {
    node.open = function () { return kvoOpenLibrary(node.file); };
  }
  return node;
}

function aNCol(parent, child)
{
  if (!parent) parent = cfT;
  if (!parent) return child;
  child.parent = parent;
  parent.children.push(child);
  return child;
}

// A page opened outside the frame set has no OpenSL.
function kvoOpenLibrary(identity)
{
  if (top.OpenSL) {
    top.OpenSL(identity);
    return 1;
  }
  return 0;
}

//@section tree-render
// The tree renderer of the main page: draws the document and collection
// trees (nodes as cNDoc makes them) into the tree frame, with the TOC tab
// strip of generateTOCToolbar. The lines before this text set
// NotesEnabled, currentTOCType ('LTOC' library, 'DTOC' document, 'CTOC'
// collection) and kvoImgBase, the address of the toolbar images without
// their number. The library tree itself is the page's own renderTree().

var kvoShownTree = null;  // the root drawn, for clicks by node id
var kvoShownType = '';

function kvoImg(number)
{
  return kvoImgBase + number;
}

// A frame by name, here or in the frame set; null when there is none.
function kvoFrame(name)
{
  try {
    if (window.frames[name]) return window.frames[name];
  } catch (e) {}
  try {
    if (top.frames[name]) return top.frames[name];
  } catch (e) {}
  return null;
}

function kvoDocFrame()
{
  return kvoFrame('kivodoc');
}

// The tree frame: the frame of id 'treeframe' of this page.
function kvoTreeWindow()
{
  var frame = document.getElementById ? document.getElementById('treeframe') : null;
  if (frame && frame.contentWindow) return frame.contentWindow;
  return kvoFrame('treeframe');
}

// Node text is HTML whose entities stay; markup becomes text.
function kvoHtmlText(text)
{
  return String(text).replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
}

// The tab image for the TOC shown and the trees there are.
function kvoTabImage(type, hasDoc, hasCol)
{
  if (!hasCol) {
    if (type == 'DTOC') return 69;
    return hasDoc ? 70 : 71;
  }
  if (type == 'CTOC') return hasDoc ? 94 : 90;
  if (type == 'DTOC') return 92;
  return hasDoc ? 93 : 91;
}

function kvoDocHasToc()
{
  var win = kvoDocFrame();
  try {
    return !!(win && typeof win.generateDTOCTree == 'function');
  } catch (e) {
    return false;
  }
}

function generateTOCToolbar(doc)
{
  var hasDoc = kvoDocHasToc();
  var hasCol = kvoHasCollection();
  var tabs = [['LTOC', 0], ['DTOC', 100], ['CTOC', 200]];
  var map = '<map name="kvoTocTabs">';
  for (var i = 0; i < tabs.length; i++) {
    if ((tabs[i][0] == 'DTOC' && !hasDoc) || (tabs[i][0] == 'CTOC' && !hasCol)) continue;
    map += '<area shape="rect" coords="' + tabs[i][1] + ',0,' + (tabs[i][1] + 100) + ',32" href="#"' +
           ' onclick="parent.kvoSelectToc(\'' + tabs[i][0] + '\');return false;">';
  }
  doc.write(map + '</map><div id="kvoTocToolbar"><img src="' + kvoImg(kvoTabImage(currentTOCType, hasDoc, hasCol)) +
            '" width="801" height="32" border="0" usemap="#kvoTocTabs" alt=""></div>');
}

function kvoSelectToc(type)
{
  if (type == 'DTOC') return generateDTOC(1);
  if (type == 'CTOC') return generateCTOC(1);
  currentTOCType = 'LTOC';
  if (typeof renderTree == 'function') renderTree();
  return 1;
}

// The HTML of node and its open descendants; ids only in attributes.
function kvoNodeHtml(node, depth)
{
  var html = '<div class="kvoNode" style="margin-left:' + (depth * 14) + 'px;white-space:nowrap">';
  if (node.children.length) {
    html += '<a href="#" onclick="parent.kvoToggleNode(' + node.id + ');return false;"><img border="0" src="' +
            kvoImg(142) + '" alt="" style="transform:rotate(' + (node.isOpen ? 90 : 0) + 'deg)"></a>';
  }
  if (kvoShownType == 'CTOC') {
    html += '<img border="0" src="' + kvoImg(node.prof == 0xFFFF ? 88 : 95) + '" alt="">';
  }
  var text = kvoHtmlText(node.text);
  if (node.open || node.url) {
    html += '<a class="kvoText" id="kvoNode' + node.id + '" href="#" onclick="parent.kvoTreeClick(' +
            node.id + ');return false;">' + text + '</a>';
  } else {
    html += '<span class="kvoText" id="kvoNode' + node.id + '">' + text + '</span>';
  }
  html += '</div>';
  if (node.isOpen) {
    for (var i = 0; i < node.children.length; i++) html += kvoNodeHtml(node.children[i], depth + 1);
  }
  return html;
}

function kvoFindNode(node, id)
{
  if (!node) return null;
  if (node.id == id) return node;
  for (var i = 0; i < node.children.length; i++) {
    var hit = kvoFindNode(node.children[i], id);
    if (hit) return hit;
  }
  return null;
}

// Draws root as the tree of type into the tree frame; 0 without one.
function kvoDrawTree(root, type)
{
  var win = kvoTreeWindow();
  if (!win || !root) return 0;
  kvoShownTree = root;
  kvoShownType = type;
  currentTOCType = type;
  var doc = win.document;
  doc.open();
  doc.write('<html><head><title>TOC</title></head>' +
            '<body bgcolor="#FFFFFF" onkeydown="parent.onkeySearch(event)">');
  generateTOCToolbar(doc);
  doc.write('<div id="kvoTree">' + kvoNodeHtml(root, 0) + '</div></body></html>');
  doc.close();
  return 1;
}

function kvoToggleNode(id)
{
  var node = kvoFindNode(kvoShownTree, id);
  if (!node) return 0;
  node.isOpen = !node.isOpen;
  return kvoDrawTree(kvoShownTree, kvoShownType);
}

function kvoTreeClick(id)
{
  var node = kvoFindNode(kvoShownTree, id);
  if (!node) return 0;
  if (kvoShownType == 'CTOC') return kvoOpenCollectionNode(node);
  return kvoOpenChapter(node);
}

//@section generate-dtoc
// generateDTOC(flag): the document tree of the document frame in the tree
// frame. flag 1: the user asked for it; 0: the document frame changed.

function generateDTOC(flag)
{
  var win = kvoDocFrame();
  var root = null;
  try {
    if (win && typeof win.generateDTOCTree == 'function') {
      win.generateDTOCTree();
      root = win.dfT;
    }
  } catch (e) {
    root = null;
  }
  if (!root) {
    // A document without a TOC: the library tree stays or comes back.
    if (flag && currentTOCType != 'LTOC') kvoSelectToc('LTOC');
    return 0;
  }
  return kvoDrawTree(root, 'DTOC');
}

// Shows node's chapter in the document frame and marks it.
function kvoOpenChapter(node)
{
  var win = kvoDocFrame();
  if (!win || !node.url) return 0;
  try {
    if (win.kvoPageUrl && node.url.indexOf(win.kvoPageUrl + '#') == 0) win.location.hash = node.target;
    else win.location.href = node.url;
    win.prevChapterID = node.id;
  } catch (e) {
    return 0;
  }
  kvoMarkNode(node.id);
  return 1;
}

// Bold for one node of the drawn tree at a time.
var kvoMarkedNode = -1;
function kvoMarkNode(id)
{
  var win = kvoTreeWindow();
  if (!win || !win.document) return 0;
  var old = win.document.getElementById('kvoNode' + kvoMarkedNode);
  if (old) old.style.fontWeight = 'normal';
  var node = win.document.getElementById('kvoNode' + id);
  if (!node) return 0;
  node.style.fontWeight = 'bold';
  kvoMarkedNode = id;
  return 1;
}

//@section generate-ctoc
// generateCTOC(flag): the collection tree of a collection page in the tree
// frame. The tree is kept, so it stays while the document frame shows the
// collection's libraries. flag 1: the user asked for it; 0: redraw.
// Linkless nodes (libraries no server holds) are shown or hidden by the
// filter switch below the tabs.

var kvoColTree = null;
var kvoShowMissing = 1;

function generateCTOC(flag)
{
  var win = kvoDocFrame();
  try {
    if (win && typeof win.generateCollectionTree == 'function') {
      win.generateCollectionTree();
      if (win.cfT) kvoColTree = win.cfT;
    }
  } catch (e) {}
  if (!kvoColTree) {
    if (flag && currentTOCType != 'LTOC') kvoSelectToc('LTOC');
    return 0;
  }
  try {
    top.colTreeStatus = 1;
  } catch (e) {}
  if (!kvoDrawTree(kvoColTreeShown(), 'CTOC')) return 0;
  var doc = kvoTreeWindow().document;
  var bar = doc.getElementById('kvoTocToolbar');
  if (bar) {
    bar.innerHTML += '<a href="#" onclick="parent.kvoToggleMissing();return false;"><img border="0" src="' +
                     kvoImg(kvoShowMissing ? 135 : 136) + '" alt=""></a>';
  }
  return 1;
}

function kvoHasCollection()
{
  if (kvoColTree) return true;
  var win = kvoDocFrame();
  try {
    return !!(win && typeof win.generateCollectionTree == 'function');
  } catch (e) {
    return false;
  }
}

// The kept tree, without linkless libraries while they are hidden.
function kvoColTreeShown()
{
  if (kvoShowMissing) return kvoColTree;
  var root = {};
  for (var key in kvoColTree) root[key] = kvoColTree[key];
  root.children = [];
  for (var i = 0; i < kvoColTree.children.length; i++) {
    if (kvoColTree.children[i].target.charAt(0) != '#') root.children.push(kvoColTree.children[i]);
  }
  return root;
}

function kvoToggleMissing()
{
  kvoShowMissing = kvoShowMissing ? 0 : 1;
  return generateCTOC(0);
}

function kvoOpenCollectionNode(node)
{
  if (!node.open) return 0;
  disableColBold();
  node.open();
  kvoMarkNode(node.id);
  return 1;
}

//@section auto-sync
// The functions that keep the tree frame in step with the document: the
// document frame's onload calls togBnew(folder), the daemon's wait page of
// a PDF handlePDFback(folder), the tree page's onload treeInitialize().
// They act only on a tree frame that holds a tree (treeInitialize ran):
// a tree frame that shows an error page is left alone.
// The library tree is the main page's: fT with nodes holding children (an
// array), isOpen and folderId (the folder number of folderindex.txt), drawn
// by the page's renderTree() with an element of id "folder<number>" per
// folder.

var prevFolderID = 0;
var kvoTreeReady = 0;
var kvoTypeBeforePdf = '';
var kvoBoldFolder = 0;
var kvoKeys = '';
var kvoKeyTime = 0;

function treeStatusCheck()
{
  return kvoTreeReady && kvoTreeWindow() ? 1 : 0;
}

function treeInitialize()
{
  kvoTreeReady = 1;
  if (typeof initializeTree == 'function') initializeTree();
  else treeRender();
  if (prevFolderID) togBnew(prevFolderID);
  return 1;
}

// A PDF in the document frame has no document TOC: the library tree
// follows its folder until the next document comes.
function handlePDFback(folder)
{
  if (currentTOCType == 'DTOC') {
    kvoTypeBeforePdf = 'DTOC';
    currentTOCType = 'LTOC';
    treeRender();
  }
  return togBnew(folder);
}

// Away from the PDF again: the document TOC comes back if it was shown.
function handlePDFforward(folder)
{
  if (kvoTypeBeforePdf == 'DTOC') currentTOCType = 'DTOC';
  kvoTypeBeforePdf = '';
  return togBnew(folder);
}

function togBnew(folder)
{
  prevFolderID = folder;
  if (!treeStatusCheck()) return 0;
  if (currentTOCType == 'DTOC') return generateDTOC(0);
  if (currentTOCType != 'LTOC' || typeof fT != 'object' || !fT) return 0;
  disableBold();
  if (!clickOnFolderRecnew(fT, folder)) return 0;
  treeRender();
  var win = kvoTreeWindow();
  var item = win && win.document ? win.document.getElementById('folder' + folder) : null;
  if (!item) return 0;
  item.style.fontWeight = 'bold';
  kvoBoldFolder = folder;
  return 1;
}

function treeRender()
{
  if (!treeStatusCheck()) return 0;
  if (currentTOCType == 'DTOC') return generateDTOC(0);
  if (currentTOCType == 'CTOC') return generateCTOC(0);
  if (typeof renderTree != 'function') return 0;
  renderTree();
  return 1;
}

function disableBold()
{
  var win = kvoTreeWindow();
  var item = kvoBoldFolder && win && win.document ? win.document.getElementById('folder' + kvoBoldFolder) : null;
  if (item) item.style.fontWeight = 'normal';
  kvoBoldFolder = 0;
}

function disableColBold()
{
  if (kvoShownType == 'CTOC') kvoMarkNode(-1);
}

// The node of folder number folder under node, its ancestors opened on the
// way; null when there is none.
function clickOnFolderRecnew(node, folder)
{
  if (!node) return null;
  if (node.folderId == folder) return node;
  var children = node.children || [];
  for (var i = 0; i < children.length; i++) {
    var hit = clickOnFolderRecnew(children[i], folder);
    if (hit) {
      node.isOpen = true;
      return hit;
    }
  }
  return null;
}

// The collection tree's node of the library identity, marked; null when
// the collection does not hold it.
function clickOnCollectionRecnew(node, identity)
{
  if (!node) return null;
  if (node.file == identity || node.target == '#' + identity) {
    if (kvoShownType == 'CTOC' && treeStatusCheck()) {
      disableColBold();
      kvoMarkNode(node.id);
    }
    return node;
  }
  for (var i = 0; i < node.children.length; i++) {
    var hit = clickOnCollectionRecnew(node.children[i], identity);
    if (hit) return hit;
  }
  return null;
}

// The first entry of the tree frame whose text begins with text (any
// case) gets the focus; 1 when one did.
function keySearch(text)
{
  var win = kvoTreeWindow();
  if (!text || !treeStatusCheck() || !win.document) return 0;
  var links = win.document.getElementsByTagName('a');
  text = text.toLowerCase();
  for (var i = 0; i < links.length; i++) {
    var label = (links[i].textContent || links[i].innerText || '').replace(/^\s+/, '').toLowerCase();
    if (label && label.indexOf(text) == 0) {
      links[i].focus();
      return 1;
    }
  }
  return 0;
}

// Letters typed in the tree frame within a second of each other search
// together.
function onkeySearch(e)
{
  e = e || window.event;
  var key = e && e.key ? e.key : '';
  if (key.length != 1) return true;
  var now = new Date().getTime();
  kvoKeys = now - kvoKeyTime > 1000 ? key : kvoKeys + key;
  kvoKeyTime = now;
  keySearch(kvoKeys);
  return true;
}

//@section main-init-tree
// The main page's initializeTree: the collection tree when the frame set
// shows collections and this is no sub-library's page, else the library
// tree. Functions of other scripts are called only when they exist.
function initializeTree()
{
  var subLibrary = String(location.href).indexOf("kvo_ml_sub_main_page") >= 0;
  if (top.colTreeStatus == 1 && !subLibrary && typeof generateCTOC == "function") {
    currentTOCType = 'CTOC';
    generateCTOC(1);
    return;
  }
  if (currentTOCType == 'LTOC') {
    if (typeof generateTree == "function" && (typeof fT == "undefined" || !fT)) generateTree();
    if (typeof renderTree == "function") renderTree();
  }
}

//@section main-togb-tail
// The end of the main page's togB (a fragment, checked in the patched page):
// the library tree marks the folder's way, another tree keeps the branch as
// the document frame's current chapter.
  if (typeof clickOnFolderRec == "function" && typeof fT != "undefined" && fT) clickOnFolderRec(fT, branchName);
}
else {
  var docFrame = window.frames["kivodoc"];
  if (docFrame && typeof docFrame.prevChapterID != "undefined") docFrame.prevChapterID = branchName;
}
}
