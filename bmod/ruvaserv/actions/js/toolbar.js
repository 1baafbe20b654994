// The toolbar frame's functions (kivotbar). The lines before this text set
// kvCookieVersion, kvWhatsNewCookie, kvCookieDomain, kvHintAddress,
// kvHintCount, kvPrivacyMode, kvPrivacyAddress and kvPrivacyStatus. The
// main page (top) owns the actions: every call into it is guarded, since
// the toolbar may load before the main page's script has run or without
// it.

// The search field's text while it is empty; top.checkSearch refuses it.
var kvSearchPrompt = 'Search';
var kvDisabled = {};
var kvBrowser = 0;
var kvSuggestions = [];
var kvSuggestAt = -1;
var kvSuggestRequest = null;

// top[name] called with the arguments that follow; undefined when the main
// page does not define it (yet).
function callTop(name) {
  try {
    if (top && typeof top[name] == 'function')
      return top[name].apply(top, Array.prototype.slice.call(arguments, 1));
  } catch (e) {
  }
  return undefined;
}

function field(id) {
  return document.getElementById(id);
}

// ---- search field

function checkdisabled(id) {
  return kvDisabled[id] === true;
}

function reloadSearchField() {
  var input = field('search_inp');
  if (input && input.value === '') {
    input.value = kvSearchPrompt;
    input.className = 'searchPrompt';
  }
}

function checkSearchField() {
  var input = field('search_inp');
  return !!input && removeExtraSpaces(input.value) !== '' && input.value !== kvSearchPrompt;
}

function emptySearchField() {
  var input = field('search_inp');
  if (input && input.value === kvSearchPrompt) {
    input.value = '';
    input.className = 'searchText';
  }
}

// Leaving the field: the suggestions go once a click on one had its turn.
function resetSearchBlur() {
  setTimeout(function () {
    searchSuggestHide();
    reloadSearchField();
  }, 200);
}

function resetSearchField() {
  var input = field('search_inp');
  if (input) input.value = '';
  reloadSearchField();
}

function searchSuggestHide() {
  var box = field('search_suggest');
  if (box) {
    box.style.display = 'none';
    box.innerHTML = '';
  }
  kvSuggestions = [];
  kvSuggestAt = -1;
}

// ---- buttons

// A context menu the viewer's menu script opened in this frame.
function hideContextMenu() {
  var lists = document.getElementsByTagName('ul');
  for (var i = 0; i < lists.length; i++) {
    if ((' ' + lists[i].className + ' ').indexOf(' context-menu ') >= 0) lists[i].style.display = 'none';
  }
}

function mouseOverBut(id) {
  var button = field(id);
  if (button && !checkdisabled(id)) button.className = 'tbButOver';
}

function mouseDownBut(id) {
  var button = field(id);
  if (button && !checkdisabled(id)) button.className = 'tbButDown';
}

function mouseOutBut(id) {
  var button = field(id);
  if (button) button.className = checkdisabled(id) ? 'tbButOff' : 'tbBut';
}

function handleOnMouseOver(id) {
  mouseOverBut(id);
  return true;
}

function handleOnMouseOut(id) {
  mouseOutBut(id);
  return true;
}

// A button's action, unless the main page disabled it.
var kvButtonActions = {
  search_but: function () { submitSearch(); },
  search_hit: function () { callTop('nextSearchHit'); },
  b1: function () { callTop('naviBack'); },
  b2: function () { showBrowserMenu(); },
  b3: function () { callTop('setPD'); },
  annot: function () { callTop('openAnEd'); },
  b4: function () { callTop('change2PDF'); },
  b5: function () { callTop('printAction'); },
  b7: function () { callTop('openHelp', 'DocumentBrowser'); }
};

function handleOnMouseDown(id) {
  hideContextMenu();
  if (checkdisabled(id)) return false;
  mouseDownBut(id);
  var action = kvButtonActions[id];
  if (action) action();
  mouseOutBut(id);
  return false;
}

function submitSearch() {
  searchSuggestHide();
  var form = document.forms['lib'];
  if (form && callTop('checkSearch') === true) form.submit();
}

// ---- keys and suggestions

function getCursorLocation(input) {
  if (!input) return 0;
  if (typeof input.selectionStart == 'number') return input.selectionStart;
  return input.value.length;
}

function removeExtraSpaces(text) {
  return String(text).replace(/\s+/g, ' ').replace(/^ /, '').replace(/ $/, '');
}

// The word the cursor is in: the one the suggestions complete.
function currentWord(input) {
  var text = input.value.substring(0, getCursorLocation(input));
  var blank = text.lastIndexOf(' ');
  return text.substring(blank + 1);
}

function checkEntry(input) {
  return !!input && input.value !== kvSearchPrompt && removeExtraSpaces(input.value) !== '';
}

function markSuggestion(at) {
  var box = field('search_suggest');
  if (!box) return;
  var rows = box.getElementsByTagName('div');
  for (var i = 0; i < rows.length; i++) rows[i].className = i == at ? 'suggestOn' : 'suggestOff';
  kvSuggestAt = at;
}

function takeSuggestion(at) {
  var input = field('search_inp');
  if (!input || at < 0 || at >= kvSuggestions.length) return;
  var text = input.value.substring(0, getCursorLocation(input));
  var blank = text.lastIndexOf(' ');
  input.value = text.substring(0, blank + 1) + kvSuggestions[at] + input.value.substring(text.length);
  searchSuggestHide();
  input.focus();
}

// Arrows walk the suggestions, Enter takes one or searches, Escape closes
// them and the browser menu.
function handleKeyMovement(e) {
  e = e || window.event;
  var key = e ? (e.keyCode || e.which) : 0;
  if (key == 27) {
    searchSuggestHide();
    hideContextMenu();
    return true;
  }
  if (!e || (e.target || e.srcElement) !== field('search_inp')) return true;
  if (key == 40 && kvSuggestions.length) {
    markSuggestion((kvSuggestAt + 1) % kvSuggestions.length);
    return false;
  }
  if (key == 38 && kvSuggestions.length) {
    markSuggestion(kvSuggestAt <= 0 ? kvSuggestions.length - 1 : kvSuggestAt - 1);
    return false;
  }
  if (key == 13 && kvSuggestAt >= 0) {
    takeSuggestion(kvSuggestAt);
    return false;
  }
  return true;
}

// The hint program answers with a comma-separated word list; an error page
// (it holds a title) is no list.
function sendAjaxRequest(word) {
  var input = field('search_inp');
  if (!checkEntry(input) || word === '' || typeof XMLHttpRequest == 'undefined') return;
  var id = typeof top.hashID != 'undefined' && top.hashID !== '' ? top.hashID : document.forms['lib'].ID.value;
  var address = kvHintAddress + '?id=' + encodeURIComponent(id) + '&AC=GETSS&PA=' + encodeURIComponent(word) +
      '&CT=' + kvHintCount + '&FN=fulltext.qxx&t=' + Math.random();
  try {
    if (kvSuggestRequest) kvSuggestRequest.abort();
    var request = new XMLHttpRequest();
    kvSuggestRequest = request;
    request.onreadystatechange = function () {
      if (request.readyState != 4 || request.status != 200) return;
      if (request.responseText.indexOf('<title>') >= 0) return;
      showSuggestions(request.responseText);
    };
    request.open('GET', address, true);
    request.send(null);
  } catch (e) {
  }
}

function showSuggestions(answer) {
  searchSuggestHide();
  var box = field('search_suggest');
  var words = String(answer).split(',');
  for (var i = 0; i < words.length; i++) {
    var word = removeExtraSpaces(words[i]);
    if (word !== '') kvSuggestions.push(word);
  }
  if (!box || !kvSuggestions.length) return;
  for (var k = 0; k < kvSuggestions.length; k++) {
    var row = document.createElement('div');
    row.className = 'suggestOff';
    row.appendChild(document.createTextNode(kvSuggestions[k]));
    row.onmousedown = (function (at) {
      return function () { takeSuggestion(at); return false; };
    })(k);
    box.appendChild(row);
  }
  box.style.display = 'block';
}

function startSuggestions(e) {
  e = e || window.event;
  callTop('keypress', e);
  var key = e ? (e.keyCode || e.which) : 0;
  if (key == 13 || key == 27 || key == 38 || key == 40) return true;
  var input = field('search_inp');
  if (!input || input.value === '') {
    searchSuggestHide();
    return true;
  }
  sendAjaxRequest(currentWord(input));
  return true;
}

// ---- button states, called by the main page

function enableBut(id) {
  kvDisabled[id] = false;
  var button = field(id);
  if (button) button.className = 'tbBut';
}

function disableBut(id) {
  kvDisabled[id] = true;
  var button = field(id);
  if (button) button.className = 'tbButOff';
}

// "What's new" stands out until it was opened once in this version.
function showWhatsNewText() {
  var text = field('whatsnew');
  if (text) text.className = getCookieWhatsNew() == '1' ? 'whatsNewSeen' : 'whatsNew';
}

// The move button: the document in a browser tab of its own.
function showBrowserMenu() {
  callTop('openInNewTab');
}

function readCookie(name) {
  var items = document.cookie ? document.cookie.split(';') : [];
  for (var i = 0; i < items.length; i++) {
    var item = items[i].replace(/^\s+/, '');
    if (item.indexOf(name + '=') === 0) return item.substring(name.length + 1);
  }
  return null;
}

// The search form's MT and SP follow the cookies, "0" or "1" only.
function setSPAndMT() {
  var form = document.forms['lib'];
  if (!form) return;
  var titles = readCookie('showAllTitles');
  var context = readCookie('showContext');
  form.MT.value = titles == '0' ? '0' : '1';
  form.SP.value = context == '0' ? '0' : '1';
}

function setCookieWhatsNew() {
  var cookie = kvWhatsNewCookie + '=1; expires=Fri, 01-Jan-2038 00:00:00 GMT; path=/';
  if (kvCookieDomain !== '') cookie += '; domain=' + kvCookieDomain;
  document.cookie = cookie;
  showWhatsNewText();
}

function getCookieWhatsNew() {
  return readCookie(kvWhatsNewCookie);
}

function openWhatsNew() {
  callTop('openHelp', 'WhatsNew');
  setCookieWhatsNew();
  return false;
}

// The privacy notice's status is asked once per visitor; the answer sets
// the cookie "analytics".
function getUserPrivacyDetails() {
  if (kvPrivacyMode.toLowerCase() != 'extranet' || readCookie('analytics') !== null) return;
  if (typeof XMLHttpRequest == 'undefined') return;
  try {
    var request = new XMLHttpRequest();
    request.open('GET', kvPrivacyStatus, true);
    request.send(null);
  } catch (e) {
  }
}

// ---- set-up

function browserSetup() {
  try {
    kvBrowser = typeof top.browserType == 'function' ? top.browserType() : (top.browserType || 0);
  } catch (e) {
    kvBrowser = 0;
  }
}

// Run by the closing script, once the forms exist.
function setupToolbar() {
  browserSetup();
  var form = document.forms['lib'];
  try {
    if (form && typeof top.libId != 'undefined') form.li.value = top.libId;
  } catch (e) {
  }
  setButtonPressedFields();
  setSPAndMT();
  reloadSearchField();
  showWhatsNewText();
  getUserPrivacyDetails();
}

// butpressed names the collection or sub-library the main page opened.
function setButtonPressedFields() {
  var form = document.forms['butpressed'];
  if (!form) return;
  var values = {};
  try {
    if (top.isCollection == 1 && top.colLibId) values.SL = top.colLibId;
    if (top.isSubLibrary == 1 && top.libId) values.LI = top.libId;
  } catch (e) {
    return;
  }
  for (var name in values) {
    var input = document.createElement('input');
    input.type = 'hidden';
    input.name = name;
    input.value = values[name];
    form.appendChild(input);
  }
}
