// The main page's functions, which the toolbar and the document frames call.
// The page writes the values they read (kv..., idlilist, libId, basicUrl)
// before this file. Other frames may be missing or still loading, so every
// call into one is tested first.

function kvFrame(name) {
  try {
    return top[name] || null;
  } catch (e) {
    return null;
  }
}

// The toolbar's form of that name, or null.
function kvToolbarForm(name) {
  var tbar = kvFrame("kivotbar");
  try {
    return tbar && tbar.document ? tbar.document.forms[name] || null : null;
  } catch (e) {
    return null;
  }
}

// The document frame inside the main frame's frameset, or null.
function kvDocFrame() {
  var main = kvFrame("kivomain");
  try {
    return main && main.kivodoc ? main.kivodoc : null;
  } catch (e) {
    return null;
  }
}

function kvDocUrl() {
  var doc = kvDocFrame();
  try {
    return doc && doc.location ? String(doc.location.href) : "";
  } catch (e) {
    return "";
  }
}

function kvDocLoaded() {
  var doc = kvDocFrame();
  try {
    return !!(doc && doc.document && doc.document.readyState == "complete" && kvDocUrl() != "about:blank");
  } catch (e) {
    return false;
  }
}

function kvIsHelpDoc() {
  var url = kvDocUrl().toLowerCase();
  return url.indexOf("kivo_help.khx") >= 0 || (helpID != "" && url.indexOf(helpID.toLowerCase()) >= 0);
}

// Search results and other generated lists have no document of their own.
function kvIsDocList() {
  var url = kvDocUrl().toLowerCase();
  return /[?&]ac=(search|advsearch|docsearch|searchmsg|sortmsg|instant)\b/.test(url) || /[?&]st=/.test(url);
}

// The document frame's address with AC set to ac, the anchor left out.
function kvDocAction(ac) {
  var url = kvDocUrl();
  var hash = url.indexOf("#");
  if (hash >= 0) url = url.substring(0, hash);
  if (/[?&]AC=[^&]*/i.test(url)) return url.replace(/([?&])AC=[^&]*/i, "$1AC=" + ac);
  return url + (url.indexOf("?") >= 0 ? "&" : "?") + "AC=" + ac;
}

function kvEnableBut(name, on) {
  var tbar = kvFrame("kivotbar");
  try {
    if (on && tbar && tbar.enableBut) tbar.enableBut(name);
    if (!on && tbar && tbar.disableBut) tbar.disableBut(name);
  } catch (e) {}
}

function openExternalLink(url) {
  if (!url) return;
  if (url.indexOf("SL=") >= 0) {
    top.location.href = url.replace(/DB=/g, "ODB=").replace(/ID=/g, "OID=");
    return;
  }
  var w = window.open(url, "KIVOEXT");
  if (w) w.focus();
}

function trimSpaces(text) {
  return String(text == null ? "" : text).replace(/^\s+|\s+$/g, "");
}

// The toolbar asks, once loaded, for the library it serves.
function setPDbyTB() {
  var lib = kvToolbarForm("lib");
  if (!lib) return;
  if (lib.li) lib.li.value = libId;
  if (lib.ID && hashID) lib.ID.value = hashID;
}

// url: a whole address, or the name of a help topic.
function openHelp(url) {
  if (helpCount == 0) return;
  var address = String(url || "DocumentBrowser");
  if (address.indexOf("?") < 0) address = kvScriptUrl + "?FN=help.html&CH=" + escape(address);
  var height = Math.max(600, Math.round(screen.height * 0.6));
  var help = window.open(address + "&DB=" + escape(helpID), "KIVOHELP",
      "width=800,height=" + height + ",top=0,resizable=yes,scrollbars=yes");
  if (help) help.focus();
}

// The second edition's personal documents: one window to look at them,
// one to add the current document.
function openPersonalDocs() {
  var w = window.open(kvPersonalDocsUrl, "KIVOMYDOCS", "width=800,height=600,resizable=yes,scrollbars=yes");
  if (w) w.focus();
}

function addPersonalDoc() {
  var w = window.open(kvPersonalDocsUrl + "&URL=" + escape(kvDocUrl()), "KIVOADDMYDOC",
      "width=460,height=300,resizable=yes,scrollbars=yes");
  if (w) w.focus();
}

function openBookmark() {
  if (!kvDocLoaded()) return;
  var w = window.open(kvDocAction("BOOKMARK"), "KIVOBOOKMARK", "width=460,height=160,resizable=yes");
  if (w) w.focus();
}

// With the library's hash id, as the document frames report it; without,
// the toolbar's bookmark button. The toolbar's newlib form carries the id
// (and the database name, when given) to the language switch page, which
// reads them from there.
function setPD(id, db) {
  if (arguments.length == 0) {
    openBookmark();
    return;
  }
  if (id) hashID = id;
  var lib = kvToolbarForm("lib");
  if (lib && lib.ID && hashID) lib.ID.value = hashID;
  var newlib = kvToolbarForm("newlib");
  if (newlib && newlib.ID && id) newlib.ID.value = id;
  if (newlib && newlib.DB && typeof db == "string" && db) newlib.DB.value = db;
}

function docNoTree(bc, id, db, fn) {
  var form = kvToolbarForm("ssoldlib");
  if (!form) return;
  if (form.BC) form.BC.value = bc;
  if (form.ID) form.ID.value = id;
  if (form.DB) form.DB.value = db;
  if (form.FN) form.FN.value = fn;
  form.submit();
}

function isNetscapePDF() {
  return kvBrowser >= 1 && kvBrowser <= 7 && /\.pdf(&|#|$)/i.test(kvDocUrl());
}

// A window with the document shown under another action; texts[0] when it
// has not loaded, texts[1] for a help document, texts[2] for a list.
function kvOpenOnDoc(ac, name, texts, blocked) {
  if (!kvDocLoaded() || blocked) {
    alert(kvTexts[texts[0]]);
  } else if (kvIsHelpDoc()) {
    alert(kvTexts[texts[1]]);
  } else if (kvIsDocList()) {
    alert(kvTexts[texts[2]]);
  } else {
    var w = window.open(kvDocAction(ac), name, "width=640,height=480,resizable=yes,scrollbars=yes");
    if (w) w.focus();
  }
}

// INFO and the other actions on the document shown.
function actionOnDoc(ac) {
  kvOpenOnDoc(ac, "KIVO" + ac, [20, 18, 19], false);
}

function switchDocLang() {
  var tbar = kvFrame("kivotbar");
  var list = null;
  try {
    list = tbar && tbar.document ? tbar.document.getElementsByName("LANGLIST")[0] : null;
  } catch (e) {}
  if (!list || list.selectedIndex <= 0) return;
  var code = list.options[list.selectedIndex].value;
  list.selectedIndex = 0;
  var doc = kvDocFrame();
  if (doc && kvDocUrl()) doc.location.href = kvDocAction("CHNGLANG") + "&LU=" + escape(code);
}

function printAction() {
  if (!kvDocLoaded()) {
    alert(kvTexts[25]);
  } else if (kvIsDocList()) {
    alert(kvTexts[26]);
  } else {
    var w = window.open(kvDocAction("PRINT"), "KIVOPRINT");
    if (w) w.focus();
  }
}

function browserPrint() {
  var doc = kvDocFrame();
  if (isNetscapePDF()) {
    alert(kvTexts[27]);
  } else if (!doc || !doc.print) {
    alert(kvTexts[28]);
  } else {
    doc.focus();
    doc.print();
  }
}

// After a library change: the toolbar's fields follow the new library.
function library() {
  setPDbyTB();
  var info = kvToolbarForm("sdlinfo");
  if (info && info.LIBTYPE) info.LIBTYPE.value = libInfType == "SDI" ? "new" : "old";
}

function kvRunButton(name) {
  if (name == "b1") naviBack();
  else if (name == "b2") openInNewTab();
  else if (name == "b3") openBookmark();
  else if (name == "annot") openAnEd();
  else if (name == "b4") change2PDF();
  else if (name == "b5") printAction();
  else if (name == "b7") openHelp();
  else if (name == "search_hit") nextSearchHit();
}

// These browsers fire the buttons while the toolbar's library switch is
// still loading the main frame: they wait for it.
var pressButton = (kvBrowser == 16 || kvBrowser == 15 || kvBrowser == 6) ?
  function (name) {
    var info = kvToolbarForm("sdlinfo");
    if (info && info.LIBSWITCH && info.LIBSWITCH.value == "yes") {
      alert(kvTexts[29]);
      return;
    }
    kvRunButton(name);
  } :
  function (name) {
    kvRunButton(name);
  };

function naviBack() {
  var doc = kvDocFrame();
  try {
    if (doc) doc.history.back();
  } catch (e) {}
}

function openInNewTab() {
  var url = kvDocUrl();
  if (url) window.open(url, "_blank");
}

var kvHitNumber = 0;

function nextSearchHit() {
  var doc = kvDocFrame();
  if (!doc || !doc.document) return;
  kvHitNumber++;
  var anchor = doc.document.getElementsByName("SearchMatch" + kvHitNumber);
  if (!anchor || anchor.length == 0) {
    kvHitNumber = 0;
    alert(kvTexts[151]);
    return;
  }
  if (anchor[0].scrollIntoView) anchor[0].scrollIntoView();
}

// new browserType() describes the browser; called plainly it gives its
// number.
function browserType() {
  if (!(this instanceof browserType)) return kvBrowser;
  this.code = kvBrowser;
  this.isIE11 = kvIE11 == 1;
  this.isIE = (kvBrowser >= 13 && kvBrowser <= 16) || this.isIE11;
  this.isNS = kvBrowser >= 1 && kvBrowser <= 7;
  this.isOldNS = kvBrowser >= 1 && kvBrowser <= 4;
  this.isFirefox = kvBrowser == 25;
}

// The PDF link of the document shown, or "".
function kvPdfLink() {
  var doc = kvDocFrame();
  try {
    var links = doc && doc.document ? doc.document.links : [];
    for (var i = 0; i < links.length; i++) {
      if (/\.pdf(&|#|$)/i.test(links[i].href)) return links[i].href;
    }
  } catch (e) {}
  return "";
}

function change2PDF() {
  if (!hasPDFCounterPart()) {
    noPDFCounterpartError();
    return;
  }
  var match = /[?&]FN=([^&#]*)/i.exec(kvPdfLink());
  var doc = kvDocFrame();
  if (doc && match) doc.location.href = "qzl:/kivo?AC=NOTELI&FN=" + match[1];
}

function noPDFCounterpartError() {
  alert(kvTexts[154]);
}

function hasPDFCounterPart() {
  return kvPdfLink() != "";
}

function dynamicToolBar() {
  kvEnableBut("b3", isBookmarkEnabled());
  kvEnableBut("annot", isAnnotEnabled());
  kvEnableBut("b5", isPrintEnabled());
}

function refreshTree() {
  var main = kvFrame("kivomain");
  try {
    if (main && main.kivotree && typeof main.kivotree.refresh == "function") main.kivotree.refresh();
  } catch (e) {}
}

function isAnnotEnabled() {
  return kvDocLoaded() && !kvIsHelpDoc() && !kvIsDocList() && !isNetscapePDF();
}

function isInfoEnabled() {
  return kvDocLoaded() && !kvIsHelpDoc() && !kvIsDocList();
}

function isBookmarkEnabled() {
  return kvDocLoaded();
}

function isPrintEnabled() {
  return kvDocLoaded() && !kvIsDocList();
}

// No operator may open or close the expression or follow another.
function checkOperatorValidity(pattern) {
  var words = trimSpaces(pattern).split(/\s+/);
  var operator = /^(AND|OR|NOT)$/i;
  if (words.length == 0 || words[0] == "") return true;
  if (operator.test(words[0]) || operator.test(words[words.length - 1])) return false;
  for (var i = 1; i < words.length; i++) {
    if (operator.test(words[i]) && operator.test(words[i - 1])) return false;
  }
  return true;
}

function noRightClick(e) {
  var event = e || window.event;
  return !(event && (event.button == 2 || event.which == 3));
}

function noContextMenu() {
  return false;
}

function startTimer() {
  setTimeout(function () {
    dynamicToolBar();
    refreshTree();
  }, 1);
}

var kvFilterCookieDays = kvCookieDays;

function getCookie(name) {
  var parts = document.cookie ? document.cookie.split(";") : [];
  for (var i = 0; i < parts.length; i++) {
    var pair = trimSpaces(parts[i]);
    if (pair.indexOf(name + "=") == 0) return unescape(pair.substring(name.length + 1));
  }
  return null;
}

// With the library's filter script loaded: the filters of the request.
function kvApplyFilters() {
  var name = typeof dwf_cookie == "string" ? dwf_cookie : "";
  if (!kvFilterValues || !name || getCookie(name) == null) return;
  if (typeof top.setExpiryDate == "function") top.setExpiryDate.apply(top, kvFilterValues);
}

var kvSearchPrompts = ["Search in this library", "Search in this library collection"];

// The toolbar's search form submits only a pattern.
function checkSearch() {
  var lib = kvToolbarForm("lib");
  var value = lib && lib.PA ? trimSpaces(lib.PA.value) : "";
  if (value == "") return false;
  var tbar = kvFrame("kivotbar");
  try {
    if (tbar && typeof tbar.kvSearchPrompt == "string" && value == tbar.kvSearchPrompt) return false;
  } catch (e) {}
  for (var i = 0; i < kvSearchPrompts.length; i++) {
    if (value == kvSearchPrompts[i]) return false;
  }
  if (typeof promptText != "undefined") {
    for (var k in promptText) {
      if (value == promptText[k]) return false;
    }
  }
  return true;
}

// The follow-up request of an entry word, once the toolbar stands.
function setLowerFrame() {
  var main = kvFrame("kivomain");
  if (kvLowerMode == "subMain") {
    docNoTree("SUB_MAIN", kvRootId, "", "");
    return;
  }
  if (kvLowerMode != "ext" && kvLowerMode != "oldLib") return;
  var ext = kvToolbarForm("ext");
  if (!ext || !ext.XF) return;
  ext.XF.value = kvXF;
  var href = String(top.location.href).toLowerCase();
  if (href.indexOf("st=docsearch") >= 0) {
    ext.XF.value += "#searchmatch1";
  } else if (href.indexOf("st=catchword") >= 0 && href.indexOf("#kw:") >= 0) {
    ext.XF.value += "&WK=" + String(top.location.href).substring(href.indexOf("#kw:") + 4);
  }
  var url = kvScriptUrl + "?AC=DOCNOTREE&BC=EXTFUNC&XF=" + escape(ext.XF.value);
  if (kvBrowser >= 1 && kvBrowser <= 4) url = url.replace(/\+/g, "%2B");
  if (!main || !main.location) {
    top.location.reload();
    return;
  }
  if (kvLowerMode == "oldLib") {
    main.location.href = kvOldLibUrl;
    return;
  }
  if (kvBrowser == 16 || kvBrowser == 15 || kvBrowser == 6) {
    var info = kvToolbarForm("sdlinfo");
    var switching = info && info.LIBSWITCH && info.LIBSWITCH.value != "no";
    if (switching && url.indexOf("AC=") >= 0 && !kvIE11) return;
  }
  main.location.href = url;
}
