// The main page's instant search, table-of-contents folders, tree menu and
// library-notes links. The page writes the values read here before this
// file (kvosrvURL, VR, kvosrvURL2, dTypnm, curLibtitle, ...). Metadata text
// comes from library members written elsewhere, so none of it reaches the
// page as markup or a pattern: it is escaped before highlighting, and
// regular expressions are built only from the cleaned search pattern.
// Markup is written with \x3C for its '<': the page pass reads this block
// as part of the page and must find no tag in it.

var synArray = [
  ['ACK', ''], ['add', ''], ['apn-oi', ''], ['begin', ''], ['cn-id', ''], ['configure', ''], ['connect', ''],
  ['create', ''], ['delete', ''], ['e-arp', ''], ['e-smlc', ''], ['e-utran', ''], ['end-point', ''],
  ['end-to-end', ''], ['enodeb-id', ''], ['expand', ''], ['f-teid', ''], ['front-end', ''], ['gigabyte', ''],
  ['gn-sgsn', ''], ['gtp-c', ''], ['gtp-u', ''], ['index', ''], ['insert', ''], ['install', ''], ['iu-c', ''],
  ['kilobyte', ''], ['li-c', ''], ['li-u', ''], ['llc-sapi', ''], ['lock', ''], ['m-tmsi', ''], ['megabyte', ''],
  ['modelling', ''], ['mtp-l2', ''], ['mtp-l3', ''], ['ns-vc', ''], ['ns-vci', ''], ['ns-vcs', ''],
  ['nsei-bvci', ''], ['p-tmsi', ''], ['package', ''], ['PCFA', ''], ['PCV', ''], ['plmn-id', ''],
  ['qos-negotiated', ''], ['remove', ''], ['replace', ''], ['restart', ''], ['rnc-id', ''], ['s-gw', ''],
  ['s-naptr', ''], ['s-tmsi', ''], ['s1-ap', ''], ['s1-mme', ''], ['schema', ''], ['sgs-ap', ''],
  ['sgsn-mme', ''], ['sgsn-w', ''], ['signalling', ''], ['sms-c', ''], ['test', ''], ['unlock', ''],
  ['upgrade', ''], ['verify', ''], ['wi-fi', '']
];

// Deprecated terms in alphabetical order; the preferred terms are not known
// here, so a match expands nothing.
var depArray = [
  ['64QAM', ''], ['AALG', ''], ['abort', ''], ['absorbant', ''], ['acknowledgement', ''], ['adaption', ''],
  ['addon', ''], ['administrate', ''], ['AGPS', ''], ['aluminium', ''], ['AMRWB', ''], ['APG1', ''], ['APG2', ''],
  ['ASBG', ''], ['ATUSTI', ''], ['autoprovision', ''], ['builtin', ''], ['CBGF', ''], ['CCITT', ''], ['cctp', ''],
  ['centigrade', ''], ['centre', ''], ['checkmark', ''], ['clb', ''], ['clipon', ''], ['commence', ''],
  ['ConfReq', ''], ['conf-req', ''], ['Connection-End-Point', ''], ['cositing', ''], ['DB', ''], ['DB9', ''],
  ['DDR-2', ''], ['DDRII', ''], ['DDR-II', ''], ['depress', ''], ['DH', ''], ['D-H', ''], ['Diffie-Hellmann', ''],
  ['downwards', ''], ['duadb', ''], ['duar', ''], ['duas', ''], ['e-2-e', ''], ['earth', ''], ['earthing', ''],
  ['EC', ''], ['ELAN', ''], ['end-of-file', ''], ['EPROM', ''], ['eUTRAN', ''], ['Fast-Reroute', ''], ['fibre', ''],
  ['followup', ''], ['formulae', ''], ['gByte', ''], ['hardcoded', ''], ['head-end', ''], ['hex', ''],
  ['HSDSCH', ''], ['IBGF', ''], ['impact', ''], ['IMS-MGW', ''], ['indices', ''], ['invoke', ''], ['IPTB', ''],
  ['ISDN-UP', ''], ['ISIS', ''], ['kByte', ''], ['LED', ''], ['login', ''], ['maa', ''], ['mar', ''], ['mbes', ''],
  ['MDSP', ''], ['megabite', ''], ['MegaByte', ''], ['MEPS', ''], ['MP', ''], ['MSCS', ''],
  ['multiencapsulation', ''], ['neighbour', ''], ['NLPI', ''], ['NNISAAL', ''], ['NSBG', ''], ['OC3', ''],
  ['onscreen', ''], ['onsite', ''], ['OSSRC', ''], ['passivate', ''], ['P-CFA', ''], ['P-CV', ''], ['PK', ''],
  ['ppas', ''], ['preempt', ''], ['preintegrated', ''], ['preventative', ''], ['PTMSI', ''], ['realtime', ''],
  ['REINVITE', ''], ['repartition', ''], ['reREGISTER', ''], ['reregistration', ''], ['RJ45', ''], ['rsgw', ''],
  ['schemata', ''], ['SecureID', ''], ['SER', ''], ['Serving-CSCF', ''], ['SG', ''], ['synch', ''],
  ['tailend', ''], ['tail-end', ''], ['thru', ''], ['timeout', ''], ['towards', ''], ['uaa', ''], ['uar', ''],
  ['UNISAAL', ''], ['utilisation', ''], ['utilization', ''], ['VC11', ''], ['VC3', ''], ['VC4', ''], ['via', ''],
  ['WS', '']
];

var promptText = {0: 'Search in this library', 1: 'Search in this library', 2: 'Search in this library collection'};

// The metadata, one array per member, and whether all of them came.
var metaCtw = null, metaTopic = null, metaTitle = null, metaBitmap = null, metaDocno = null;
var metaLines = -1;
var instantLoaded = false, instantFailed = false;
var instantHits = [];
var instantPattern = '';

// Blanks and double quotes alone, or punctuation alone, search nothing.
var kvPunctuation = /[!"#$%&'()*+,.\/:;<=>?@\[\\\]^_`{|}~\s-]/g;

// ---- document identifiers

// [sort key, name] of a class without a row of its own.
function dTypnmflbk(docclass) {
  var text = String(docclass || '');
  if (text === '') return dTypnmNone;
  for (var i = 0; i < dTypnmFallbacks.length; i++) {
    if (text.indexOf(dTypnmFallbacks[i][0]) === 0) return dTypnmFallbacks[i][1];
  }
  return dTypnmUnknown;
}

// [sort key, name] of a document identifier's decimal class: the part after
// its prefix ("1551-ABC 101 01" gives "1551").
function docTypeOf(docid) {
  var m = /^\s*(?:[A-Za-z0-9]*\/)?(?:[A-Za-z]+\s*)?(\d+)/.exec(String(docid));
  var cls = m ? m[1] : '';
  if (cls !== '' && Object.prototype.hasOwnProperty.call(dTypnm, cls)) return dTypnm[cls];
  return dTypnmflbk(cls);
}

function kvIsSpace(c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The identifier without surrounding blanks; "" for one that names no file
// (no digit, or a character no document number holds).
function clean_up_docid(docid) {
  var text = String(docid == null ? '' : docid);
  var from = 0, to = text.length;
  while (from < to && kvIsSpace(text.charAt(from))) from++;
  while (to > from && kvIsSpace(text.charAt(to - 1))) to--;
  text = text.substring(from, to);
  if (text === '' || /[_@${}\[\]?!#=`^~]/.test(text) || !/[0-9]/.test(text)) return '';
  return text;
}

// "stem.rev.html": blanks, controls and non-ASCII dropped, '/' as '_',
// the language code after a 'U' lower-cased ("UEN" -> "Uen").
function docidtofilename(docid, rev) {
  var num = String(docid || '');
  if (num === '') return '';
  var isAlpha = function (c) { return /^[A-Za-z]$/.test(c); };
  var isUpper = function (c) { return /^[A-Z]$/.test(c); };
  var name = '';
  for (var i = 0; i < num.length; i++) {
    var c = num.charAt(i), code = num.charCodeAt(i);
    if (code >= 0x80 || code < 0x20 || code == 0x7f || kvIsSpace(c)) continue;
    name += c == '/' ? '_' : c;
    if (c == 'U' && i >= 3 && !isUpper(num.charAt(i - 1)) && i + 1 < num.length && isAlpha(num.charAt(i + 1))) {
      while (i + 1 < num.length && isAlpha(num.charAt(i + 1))) name += num.charAt(++i).toLowerCase();
    }
  }
  var r = String(rev == null ? '' : rev).replace(/\s+/g, '').replace(/\//g, '_');
  return name + '.' + r + '.html';
}

// ---- metadata

// The library field of this page's own address ("id=...", "li=..." or
// "db=..."), else the library the page was written for.
function instantLibParam() {
  var query = '';
  try {
    query = String(top.location.search || '');
  } catch (e) {}
  var parts = query.replace(/^\?/, '').split('&');
  var names = ['id', 'li', 'db'];
  for (var n = 0; n < names.length; n++) {
    for (var i = 0; i < parts.length; i++) {
      var eq = parts[i].indexOf('=');
      if (eq > 0 && parts[i].substring(0, eq).toLowerCase() == names[n] && eq + 1 < parts[i].length)
        return '&' + names[n] + '=' + parts[i].substring(eq + 1);
    }
  }
  var m = /[?&]ID=([^&]*)/.exec(kvosrvURL2);
  return '&id=' + (m ? m[1] : '');
}

// The answer's lines, a trailing CR dropped from each, the last line
// dropped when empty; null for the front end's error page.
function instantLines(text) {
  text = String(text);
  if (text.indexOf('\x3Ctitle>' + instantErrorTitle + '\x3C/titl') >= 0) return null;
  var lines = text.split('\n');
  if (lines.length && lines[lines.length - 1] === '') lines.pop();
  for (var i = 0; i < lines.length; i++) {
    if (lines[i].charAt(lines[i].length - 1) == '\r') lines[i] = lines[i].substring(0, lines[i].length - 1);
  }
  return lines;
}

// One member's lines kept; a count that differs from the first one loaded,
// or a member missing, leaves the search unloaded.
function instantTake(which, text) {
  if (instantFailed) return;
  var lines = text == null ? null : instantLines(text);
  if (!lines || (metaLines >= 0 && lines.length != metaLines)) {
    instantFailed = true;
    instantLoaded = false;
    return;
  }
  metaLines = lines.length;
  if (which == 'ctw') metaCtw = lines;
  else if (which == 'topictitle') metaTopic = lines;
  else if (which == 'title') metaTitle = lines;
  else if (which == 'bitmap') metaBitmap = lines;
  else if (which == 'docno') metaDocno = lines;
  instantLoaded = !!(metaCtw && metaTopic && metaTitle && metaDocno && (!isCatEnabled || metaBitmap));
}

function sendAjaxInstant(which, member) {
  if (typeof XMLHttpRequest == 'undefined') return;
  var url = kvosrvURL + '?VR=' + encodeURIComponent(VR) + instantLibParam() + '&fn=' + member + '&OP=80';
  try {
    var request = new XMLHttpRequest();
    request.onreadystatechange = function () {
      if (request.readyState != 4) return;
      instantTake(which, request.status == 200 ? request.responseText : null);
    };
    request.open('GET', url, true);
    request.send(null);
  } catch (e) {
    instantTake(which, null);
  }
}

function sendAjaxInstant_ctw() { sendAjaxInstant('ctw', 'ctw_metadata.txt'); }
function sendAjaxInstant_topictitle() { sendAjaxInstant('topictitle', 'topictitle_metadata.txt'); }
function sendAjaxInstant_title() { sendAjaxInstant('title', 'title_metadata.txt'); }
function sendAjaxInstant_bitmap() { sendAjaxInstant('bitmap', 'btm_metadata.txt'); }
function sendAjaxInstant_docno() { sendAjaxInstant('docno', 'docno_metadata.txt'); }

// ---- patterns

// The row of a synonym table holding word (either column, case-blind), or -1.
function selectRowInSynonymArray(word) {
  var w = String(word).toLowerCase();
  for (var i = 0; i < synArray.length; i++) {
    if (synArray[i][0].toLowerCase() == w || (synArray[i][1] !== '' && synArray[i][1].toLowerCase() == w))
      return i;
  }
  return -1;
}

// A pattern equal to a deprecated term, searched with its preferred terms;
// null when it is none. First letters compare case-blind, so terms written
// in capitals are found too.
function depCheck(pattern) {
  var p = String(pattern).toLowerCase();
  if (p === '') return null;
  var first = p.charAt(0);
  for (var i = 0; i < depArray.length; i++) {
    var term = depArray[i][0].toLowerCase();
    if (term.charAt(0) > first) break;
    if (term != p) continue;
    var preferred = depArray[i][1].split(',');
    var out = depArray[i][0];
    for (var k = 0; k < preferred.length && k < 2; k++) {
      var word = preferred[k].replace(/^\s+|\s+$/g, '');
      if (word !== '') out += ' | ' + word;
    }
    return out;
  }
  return null;
}

// The pattern as words the search takes: punctuation other than '"', '|',
// '-', '*' and '?' becomes a blank.
function createPatt(pattern) {
  return String(pattern).replace(/[^A-Za-z0-9\u0080-\uffff"|*?\-\s]/g, ' ').replace(/\s+/g, ' ')
      .replace(/^ | $/g, '');
}

// Catchwords are compared with blanks and hyphens alike.
function createPattCtw(pattern) {
  return createPatt(pattern).replace(/-/g, ' ');
}

// The cleaned pattern's terms: {text, phrase, not} and '|' between groups.
function extractTokens(pattern) {
  var text = createPatt(pattern);
  var tokens = [];
  var re = /"([^"]*)"?|\||[^\s"|]+/g;
  var m;
  while ((m = re.exec(text)) !== null) {
    if (m[0] == '|') {
      tokens.push('|');
    } else if (m[0].charAt(0) == '"') {
      var phrase = m[1].replace(/[|"]/g, ' ').replace(/\s+/g, ' ').replace(/^ | $/g, '');
      if (phrase !== '') tokens.push({text: phrase, phrase: true, not: false});
    } else {
      var word = m[0], not = false;
      if (word.charAt(0) == '-' && word.length > 1) {
        not = true;
        word = word.substring(1);
      }
      word = word.replace(/^-+|-+$/g, '');
      if (word !== '') tokens.push({text: word, phrase: false, not: not});
    }
  }
  return tokens;
}

// Topic titles are compared without "|" inside a title.
function extractTokensForTopicTitle(line) {
  var at = String(line).indexOf('|$|');
  var titles = at >= 0 ? line.substring(0, at) : line;
  var chapters = at >= 0 ? line.substring(at + 3) : '';
  return {titles: titles === '' ? [] : titles.split('|'), chapters: chapters === '' ? [] : chapters.split('|')};
}

// A word's source: letters and digits as they are, '*' any run, '?' one
// character, everything else escaped.
function kvWordSource(word) {
  var out = '';
  for (var i = 0; i < word.length; i++) {
    var c = word.charAt(i);
    if (c == '*') out += '.*';
    else if (c == '?') out += '.';
    else if (/[A-Za-z0-9]/.test(c) || c.charCodeAt(0) >= 0x80) out += c;
    else out += '\\' + c;
  }
  return out;
}

// A term's source with its synonyms.
function synPattern(word) {
  var source = kvWordSource(word);
  var row = selectRowInSynonymArray(word);
  if (row < 0) return source;
  var other = synArray[row][0].toLowerCase() == word.toLowerCase() ? synArray[row][1] : synArray[row][0];
  return other === '' ? source : '(?:' + source + '|' + kvWordSource(other) + ')';
}

// The query of a pattern: alternatives ('|'), each a list of terms that
// must all match ({re, not}); null when nothing is left to search.
function createRegExp(pattern) {
  var expanded = depCheck(String(pattern).replace(/^\s+|\s+$/g, ''));
  var tokens = extractTokens(expanded !== null ? expanded : pattern);
  var groups = [], group = [];
  for (var i = 0; i <= tokens.length; i++) {
    if (i == tokens.length || tokens[i] == '|') {
      var positive = false;
      for (var k = 0; k < group.length; k++) positive = positive || !group[k].not;
      if (positive) groups.push(group);
      group = [];
      continue;
    }
    var t = tokens[i], source;
    if (t.phrase) {
      var words = t.text.split(' ');
      for (var w = 0; w < words.length; w++) words[w] = kvWordSource(words[w]);
      source = words.join('[\\s\\-]+');
    } else {
      source = synPattern(t.text);
    }
    group.push({re: new RegExp(source, 'i'), not: t.not});
  }
  return groups.length ? groups : null;
}

// True when text satisfies one alternative of query.
function processRegExp(query, text) {
  if (!query || text == null) return false;
  text = String(text);
  for (var g = 0; g < query.length; g++) {
    var ok = true;
    for (var k = 0; k < query[g].length && ok; k++) ok = query[g][k].re.test(text) != query[g][k].not;
    if (ok) return true;
  }
  return false;
}

// Document numbers are compared without blanks.
function createRegExpdoc(pattern) {
  var text = createPatt(pattern).replace(/"/g, '');
  if (text.indexOf('|') >= 0) return createRegExp(text);
  text = text.replace(/\s+/g, '');
  return /[A-Za-z0-9]/.test(text) ? [[{re: new RegExp(kvWordSource(text), 'i'), not: false}]] : null;
}

function processRegExpdoc(query, docid) {
  return processRegExp(query, String(docid).replace(/\s+/g, ''));
}

// The first catchword of an entry that matches, or "".
function getCatchword(query, line) {
  var words = String(line).split('|');
  for (var i = 0; i < words.length; i++) {
    if (words[i] !== '' && processRegExp(query, words[i])) return words[i];
  }
  return '';
}

// ---- search

// Kept when every selected group that is not zero shares a bit with the
// entry's group at its place.
function filterInstantSearch(selected, entry) {
  var mine = String(selected || '').split('|');
  var theirs = String(entry || '').split('|');
  for (var i = 0; i < mine.length && i < 32; i++) {
    var want = parseInt(mine[i], 16);
    if (!want) continue;
    var have = parseInt(theirs[i] || '0', 16) || 0;
    if ((want & have) === 0) return false;
  }
  return true;
}

function kvSelectedBitmap() {
  try {
    if (typeof top.currentBitmap == 'string' && top.currentBitmap !== '') return top.currentBitmap;
    if (typeof top.defaultBitmap == 'string') return top.defaultBitmap;
  } catch (e) {}
  return '';
}

// The entry's kind, identifier, revision and file name; null for one that
// links nowhere.
function kvEntry(i) {
  var fields = String(metaDocno[i]).split('|');
  var kind = fields[0] || '', docid = fields[1] || '', rev = fields[2] || '';
  var lower = docid.toLowerCase();
  if (lower.indexOf('.htm') >= 0 || lower.indexOf('.pdf') >= 0) return null;
  var file = kind == '0' ? docid : docidtofilename(clean_up_docid(docid), rev);
  if (file === '') return null;
  return {kind: kind, docid: docid, rev: rev, file: file};
}

// The hits of pattern, at most limit: {index, entry, ctw, chapter}. Without
// a pattern (the instant-results page once it loaded) the field's search
// fills that page's list.
function performSearch(pattern, limit) {
  if (arguments.length === 0) return performSearchOnPage();
  var hits = [];
  if (!instantLoaded) return hits;
  var query = createRegExp(pattern);
  var ctwQuery = createRegExp(createPattCtw(pattern));
  var docQuery = createRegExpdoc(pattern);
  if (!query) return hits;
  var filter = isCatEnabled && metaBitmap ? kvSelectedBitmap() : '';
  for (var i = 0; i < metaLines && hits.length < limit; i++) {
    var entry = kvEntry(i);
    if (!entry) continue;
    if (filter !== '' && !filterInstantSearch(filter, metaBitmap[i])) continue;
    var hit = {index: i, entry: entry, ctw: '', chapter: ''};
    var ctw = getCatchword(query, metaCtw[i]) || getCatchword(ctwQuery, String(metaCtw[i]).replace(/-/g, ' '));
    if (ctw !== '') {
      hit.ctw = ctw;
      hits.push(hit);
      continue;
    }
    var topics = extractTokensForTopicTitle(metaTopic[i]);
    var found = false;
    for (var t = 0; t < topics.titles.length && !found; t++) {
      if (processRegExp(query, topics.titles[t])) {
        hit.chapter = topics.chapters[t] || '';
        found = true;
      }
    }
    if (found || processRegExp(query, metaTitle[i]) || (docQuery && processRegExpdoc(docQuery, entry.docid)))
      hits.push(hit);
  }
  return hits;
}

// Document type, then title.
function sortInstant(a, b) {
  var ka = docTypeOf(a.entry.docid)[0], kb = docTypeOf(b.entry.docid)[0];
  if (ka != kb) return ka < kb ? -1 : 1;
  var ta = String(metaTitle[a.index]).toLowerCase(), tb = String(metaTitle[b.index]).toLowerCase();
  if (ta != tb) return ta < tb ? -1 : 1;
  return a.index - b.index;
}

function performSort(hits) {
  return hits.sort(sortInstant);
}

// ---- output

function kvEscapeHtml(text) {
  return String(text).replace(/&/g, '&amp;').replace(/\x3C/g, '&lt;').replace(/>/g, '&gt;')
      .replace(/"/g, '&quot;').replace(/'/g, '&#39;');
}

// References in metadata ("&#8364;", "&amp;") as the characters they name.
function decodeEntities(text) {
  return String(text).replace(/&(#[0-9]+|#[xX][0-9A-Fa-f]+|amp|lt|gt|quot|apos);/g, function (all, name) {
    if (name.charAt(0) == '#') {
      var code = name.charAt(1) == 'x' || name.charAt(1) == 'X' ? parseInt(name.substring(2), 16)
                                                                 : parseInt(name.substring(1), 10);
      if (!(code > 0 && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff))) return all;
      return String.fromCodePoint ? String.fromCodePoint(code) : String.fromCharCode(code);
    }
    return {amp: '&', lt: '<', gt: '>', quot: '"', apos: "'"}[name];
  });
}

// The text escaped, with the parts the query matches in bold; matching is
// done on the text, marks and escapes are added around the pieces.
function highlightMETA(text, query) {
  text = decodeEntities(text);
  var marks = [];
  for (var g = 0; query && g < query.length; g++) {
    for (var k = 0; k < query[g].length; k++) {
      if (query[g][k].not) continue;
      var re = new RegExp(query[g][k].re.source, 'ig');
      var m;
      while ((m = re.exec(text)) !== null) {
        if (m[0] === '') {
          re.lastIndex++;
          continue;
        }
        marks.push([m.index, m.index + m[0].length]);
      }
    }
  }
  marks.sort(function (a, b) { return a[0] - b[0]; });
  var out = '', at = 0;
  for (var i = 0; i < marks.length; i++) {
    if (marks[i][1] <= at) continue;
    var from = Math.max(marks[i][0], at);
    out += kvEscapeHtml(text.substring(at, from)) + '\x3Cb>' + kvEscapeHtml(text.substring(from, marks[i][1])) +
           '\x3C/b>';
    at = marks[i][1];
  }
  return out + kvEscapeHtml(text.substring(at));
}

function highlightCTW(word, query) {
  return highlightMETA(word, query);
}

// The result link of a hit.
function generateLinkTarget(hit, pattern) {
  var url = kvosrvURL + kvosrvURL2 + '&PA=' + encodeURIComponent(String(pattern).replace(/&/g, '')) +
            '&FN=' + encodeURIComponent(hit.entry.file);
  if (hit.chapter !== '') return url + '#CHAPTER' + encodeURIComponent(hit.chapter);
  if (hit.ctw !== '') return url + '&CH=KW:' + encodeURIComponent(hit.ctw.toUpperCase());
  return url;
}

// The rows of the hits, as the instant-results page lays them out.
function performOutput(hits, pattern) {
  var query = createRegExp(pattern);
  var rows = '\x3Ctable cellspacing="0" cellpadding="2" width="100%">\n';
  for (var i = 0; i < hits.length; i++) {
    var hit = hits[i];
    var img = hit.entry.kind == '0' ? folder_img : html_img;
    var title = highlightMETA(metaTitle[hit.index], query);
    if (hit.ctw !== '') title += ' \x3Ci>(' + highlightCTW(hit.ctw, query) + ')\x3C/i>';
    rows += '\x3Ctr>\x3Ctd>\x3Cimg src="' + kvEscapeHtml(img) + '" width="16" height="16" alt="" /> ' +
            '\x3Ca class="instantHit" href="' + kvEscapeHtml(generateLinkTarget(hit, pattern)) + '">' + title +
            '\x3C/a>\x3C/td>\x3Ctd>' + kvEscapeHtml(docTypeOf(hit.entry.docid)[1]) + '\x3C/td>\x3Ctd>' +
            highlightMETA(hit.entry.docid + (hit.entry.rev !== '' ? ' ' + hit.entry.rev : ''), query) +
            '\x3C/td>\x3C/tr>\n';
  }
  if (!hits.length) rows += '\x3Ctr>\x3Ctd colspan="3">No matching entries.\x3C/td>\x3C/tr>\n';
  return rows + '\x3C/table>\n';
}

// The result page written into the document frame.
function writeResults(frame, hits, pattern) {
  var doc = frame.document;
  var head = '\x3Chtml>\x3Chead>\x3Ctitle>Search Results\x3C/title>\n\x3Cstyle type="text/css">\n' +
             'body { margin: 0; font-family: Arial, Helvetica, sans-serif; font-size: 12px; }\n' +
             '#search_head th { text-align: left; font-size: 14px; padding: 4px; color: #004499; }\n' +
             '#search_head td { background-color: #E4E4E4; font-weight: bold; padding: 2px 4px; }\n' +
             '\x3C/style>\x3C/head>\n\x3Cbody bgcolor="#FFFFFF" link="#004499" vlink="#004499">\n';
  var privacy = privacyStyle == 'inline' && privacyURL !== ''
      ? '\x3Cdiv>\x3Ca href="' + kvEscapeHtml(privacyURL) + '" target="_blank">Privacy\x3C/a>\x3C/div>\n' : '';
  var notes = useNotes && !blacklistedlib
      ? '\x3Cdiv>\x3Ca href="#" onclick="top.createlistwindow_CL(); return false;">Library notes\x3C/a> ' +
        '\x3Ca href="#" onclick="top.exportToExcel_CL(); return false;">\x3Cimg src="' + kvEscapeHtml(excel_img) +
        '" width="16" height="16" alt="Export" />\x3C/a>\x3C/div>\n' : '';
  doc.open();
  var header = '\x3Cdiv id="search_head">\x3Ctable cellspacing="0" cellpadding="0" width="100%">' +
               '\x3Ctr>\x3Cth colspan="3">\x3Cimg src="' + kvEscapeHtml(space_img) +
               '" width="1" height="1" alt="" />Search Results\x3C/th>\x3C/tr>' +
               '\x3Ctr>\x3Ctd>\x3Cimg src="' + kvEscapeHtml(hd_img) + '" width="16" height="16" alt="" />' +
               ' Title\x3C/td>' +
               '\x3Ctd>Type\x3C/td>\x3Ctd>Identity\x3C/td>\x3C/tr>\x3C/table>\x3C/div>\n';
  doc.write(head + header + privacy + notes + '\x3Cdiv id="search_list_is">' + performOutput(hits, pattern) +
            '\x3C/div>\n\x3C/body>\x3C/html>\n');
  doc.close();
}

// The document frame: the main frame's document frame, or the main frame.
function kvInstantFrame() {
  var main = null;
  try {
    main = top.kivomain || null;
    if (main && main.kivodoc) return main.kivodoc;
  } catch (e) {}
  return main;
}

function kvSearchField() {
  try {
    var tbar = top.kivotbar;
    return tbar && tbar.document ? tbar.document.getElementById('search_inp') : null;
  } catch (e) {
    return null;
  }
}

function kvShowAll() {
  try {
    return !!(top.Instantall || top.Isdoc);
  } catch (e) {
    return false;
  }
}

function kvIsPrompt(value) {
  for (var k in promptText) {
    if (value == promptText[k]) return true;
  }
  try {
    return value == top.kivotbar.kvSearchPrompt;
  } catch (e) {
    return false;
  }
}

// The pattern and limit of the search to run; null when there is none.
function kvInstantRequest() {
  var input = kvSearchField();
  var value = input ? String(input.value) : '';
  var all = kvShowAll();
  if (all && (value.replace(/\s+/g, '') === '' || kvIsPrompt(value))) value = '*';
  else if (kvIsPrompt(value)) return null;
  if (value.replace(/[\s"]+/g, '') === '' || value.replace(kvPunctuation, '') === '' && value.indexOf('*') < 0)
    return null;
  return {pattern: value, limit: all ? 50000 : MAX_INSTANT_RESULTS};
}

function startInstantSearch() {
  var request = kvInstantRequest();
  if (!request || !instantLoaded) return false;
  instantPattern = request.pattern;
  var tbar = null;
  try {
    tbar = top.kivotbar;
    if (tbar && tbar.disableBut) {
      tbar.disableBut('b3');
      tbar.disableBut('annot');
      tbar.disableBut('search_hit');
      tbar.disableBut('b4');
    }
  } catch (e) {}
  var frame = kvInstantFrame();
  if (!frame) return false;
  var href = '';
  try {
    href = String(frame.location.href).toLowerCase().replace(/[?#].*$/, '');
  } catch (e) {}
  var hits = performSort(performSearch(request.pattern, request.limit));
  instantHits = hits;
  if (/\.(fdp|pdf)$/.test(href) || /[?&]fn=[^&#]*\.(fdp|pdf)(&|#|$)/i.test(String(frame.location.href))) {
    frame.location.href = kvosrvURL + '?VR=' + encodeURIComponent(VR) + '&id=' +
                          kvosrvURL2.replace(/^\?ID=([^&]*).*$/, '$1') + '&AC=INSTANT';
    return true;
  }
  var list = null;
  try {
    list = frame.document.getElementById('search_list_is');
  } catch (e) {}
  if (list) list.innerHTML = performOutput(hits, request.pattern);
  else writeResults(frame, hits, request.pattern);
  return true;
}

function performSearchOnPage() {
  var request = kvInstantRequest();
  var frame = kvInstantFrame();
  var list = null;
  try {
    list = frame.document.getElementById('search_list_is');
  } catch (e) {}
  if (!request || !list) return [];
  instantPattern = request.pattern;
  instantHits = performSort(performSearch(request.pattern, request.limit));
  list.innerHTML = performOutput(instantHits, instantPattern);
  return instantHits;
}

// Typing in the toolbar's search field; Enter is the form's.
function keypress(e) {
  var key = e ? (e.keyCode || e.which) : 0;
  if (key == 13 || key == 27 || key == 38 || key == 40) return true;
  startInstantSearch();
  return true;
}

// The prompt for the library type: 2 is a collection.
function changePrompt(type) {
  var input = kvSearchField();
  var text = promptText[type] || promptText[0];
  try {
    if (top.kivotbar) top.kivotbar.kvSearchPrompt = text;
  } catch (e) {}
  if (input && (input.value === '' || kvIsPrompt(input.value))) input.value = text;
}

// ---- table-of-contents folders

function kvTreeDoc(frameName) {
  try {
    var main = top.kivomain;
    var frame = main && main[frameName] ? main[frameName] : null;
    return frame ? frame.document : null;
  } catch (e) {
    return null;
  }
}

// Lists below a folder item open (show) or close.
function cARecursiveCall(node, show) {
  if (!node || !node.childNodes) return;
  for (var i = 0; i < node.childNodes.length; i++) {
    var child = node.childNodes[i];
    if (child.tagName && (child.tagName == 'UL' || child.tagName == 'OL')) child.style.display = show ? '' : 'none';
    cARecursiveCall(child, show);
  }
}

function ec_toggling(node) {
  if (!node || !node.childNodes) return;
  for (var i = 0; i < node.childNodes.length; i++) {
    var child = node.childNodes[i];
    if (child.tagName && (child.tagName == 'UL' || child.tagName == 'OL')) {
      child.style.display = child.style.display == 'none' ? '' : 'none';
      return;
    }
  }
}

function cTF_clickOnFolderRec(node) {
  ec_toggling(node);
}

function kvFolders(doc, show) {
  if (!doc || !doc.body) return false;
  cARecursiveCall(doc.body, show);
  return true;
}

function Exp_all() { return kvFolders(kvTreeDoc('kivotree'), true); }
function collapseThisFolder_tB() { return kvFolders(kvTreeDoc('kivotree'), false); }
function cARecursiveCallCH(node, show) { cARecursiveCall(node, show); }
function ec_togglingCH(node) { ec_toggling(node); }
function cTF_clickOnFolderRecCH(node) { ec_toggling(node); }
function Exp_all_CH() { return kvFolders(kvTreeDoc('kivodoc'), true); }
function collapseThisFolderCH_tB() { return kvFolders(kvTreeDoc('kivodoc'), false); }

// ---- tree context menu

function getButtonCode(e) {
  if (!e) return 0;
  if (typeof e.which == 'number' && e.which) return e.which;
  return e.button == 2 ? 3 : 1;
}

// The nearest element at or above node with the tag name.
function getPrevTag(node, tag) {
  while (node && node.tagName != tag) node = node.parentNode;
  return node || null;
}

var kvTreeMenuLink = null;

function setMenuItems(link) {
  kvTreeMenuLink = link ? String(link.href || '') : null;
  return kvTreeMenuLink !== null;
}

function whichElementTree(e) {
  if (getButtonCode(e) != 3) return true;
  var target = e.target || e.srcElement;
  return !setMenuItems(getPrevTag(target, 'A'));
}

// ---- library notes

function openLinkNewWin_CL(url) {
  var target = String(url || noteliURL) + (kvNotesSL !== '' ? '&SL=' + kvNotesSL : '');
  return window.open(target, '_blank');
}

function createlistwindow_CL() {
  return window.open(noteliURL, 'noteli', 'width=1320,height=700,resizable=yes,scrollbars=yes');
}

function exportToExcel_CL() {
  return window.open(noteliExportURL, 'noteli', 'width=1320,height=700,resizable=yes,scrollbars=yes');
}

// The metadata is fetched once, as the page loads.
sendAjaxInstant_ctw();
sendAjaxInstant_topictitle();
sendAjaxInstant_title();
if (isCatEnabled) sendAjaxInstant_bitmap();
sendAjaxInstant_docno();
