// The instant-search script in node, with the values the page writes before
// it stubbed and a small library's metadata.
//
// usage: node instant_search_harness.js <script> <docid table>
// Prints one line per failed check and exits 1 when any failed.
'use strict';

const fs = require('fs');
const vm = require('vm');

const [scriptPath, tablePath] = process.argv.slice(2);
const failures = [];

function check(name, got, want) {
  const a = JSON.stringify(got), b = JSON.stringify(want);
  if (a !== b) failures.push(name + ': got ' + a + ', want ' + b);
}

function noThrow(name, fn) {
  try {
    return fn();
  } catch (e) {
    failures.push(name + ': threw ' + e);
    return undefined;
  }
}

// The values allJSFunctions writes; XMLHttpRequest is missing, so the
// script fetches nothing as it loads.
const context = {
  kvosrvURL: 'http://h/cgi-bin/kivoserv',
  VR: 'R19K',
  isIE10: 0,
  isIE11: 0,
  isCatEnabled: 0,
  sllval: '',
  dTypnm: {'1551': ['153', 'Instruction'], '1553': ['154', 'Description']},
  dTypnmFallbacks: [['006', ['363', 'Administrative Document']], ['0', ['364', 'General Document']],
                    ['1', ['294', 'Technical Document']], ['2', ['311', 'Commercial Document']],
                    ['3', ['365', 'Financial Document']]],
  dTypnmNone: ['366', 'General Office Document'],
  dTypnmUnknown: ['000', 'ZUnknown'],
  kvNotesSL: '',
  MAX_INSTANT_RESULTS: 25,
  space_img: 's', hd_img: 'h', folder_img: 'f', html_img: 'd', pdf_img: 'p', excel_img: 'x',
  kvosrvURL2: '?ID=lib%27s&ST=INSTANT',
  privacyURL: '', privacyStyle: 'none', noteliURL: 'n', noteliExportURL: 'n&VS=1', useNotes: 0, blacklistedlib: 0,
  instantErrorTitle: 'KIVO Error Message',
};
context.top = context;
context.window = context;
context.location = {href: 'http://h/cgi-bin/kivoserv?ID=lib', search: '?ID=lib'};
vm.createContext(context);
vm.runInContext(fs.readFileSync(scriptPath, 'latin1'), context, {filename: scriptPath});
const js = (code) => vm.runInContext(code, context);

// ---- depCheck: first letters case-blind, every term as the table writes it
check('depCheck zzz', js("depCheck('zzz')"), null);
for (const p of ['ccitt', 'CCITT', 'timeout', 'TimeOut']) check('depCheck ' + p, js(`depCheck('${p}') !== null`), true);
check('every deprecated term found', js('depArray.filter(function (r) { return depCheck(r[0]) === null; })'), []);
check('every term found in lower case',
      js('depArray.filter(function (r) { return depCheck(r[0].toLowerCase()) === null; })'), []);
check('terms with no preferred term expand nothing', js("depCheck('ccitt')"), 'CCITT');
js("var savedDep = depArray;" +
   "depArray = [['abort', 'cancel'], ['CCITT', 'ITU-T'], ['timeout', 'time-out, expiry, x']];");
check('depCheck one preferred', js("depCheck('ccitt')"), 'CCITT | ITU-T');
check('depCheck two of three', js("depCheck('TIMEOUT')"), 'timeout | time-out | expiry');
check('depCheck stops after its letter', js("depCheck('zzz')"), null);
check('expanded pattern searched', js("processRegExp(createRegExp('ccitt'), 'the ITU-T rules')"), true);
js('depArray = savedDep;');
check('synonym rows', js("[selectRowInSynonymArray('INSTALL') >= 0, selectRowInSynonymArray('nothing')]"), [true, -1]);
check('synonyms with no partner expand nothing', js("synPattern('install')"), 'install');

// ---- pattern cleaning and regular expressions: no input throws
const patterns = [
  // pattern, texts, whether each matches
  ['(', ['(', 'a'], [false, false]],
  ['[', ['[', 'a'], [false, false]],
  ['a)(b', ['a b', 'b a', 'a'], [true, true, false]],
  ['a*b?', ['axxbz', 'ab', 'AB1'], [true, false, true]],
  ['"a b"', ['x a  b y', 'a-b', 'b a', 'ab'], [true, true, false, false]],
  ['a|b', ['only a', 'only b', 'c'], [true, true, false]],
  ['a b', ['b then a', 'a alone'], [true, false]],
  ['alarm -test', ['alarm list', 'alarm test'], [true, false]],
  ['.+^${}()[]\\', ['anything'], [false]],
  // Wildcards alone match anything (show-all searches "*").
  ['.*+?^${}()|[]\\', ['anything'], [true]],
  ['*', ['anything', ''], [true, true]],
];
for (const [pattern, texts, want] of patterns) {
  context.pattern = pattern;
  context.texts = texts;
  const got = noThrow('createRegExp ' + pattern, () => js(
      'var q = createRegExp(pattern); texts.map(function (t) { return processRegExp(q, t); })'));
  check('match ' + pattern, got, want);
}
check('"(" searches nothing', js("createRegExp('(')"), null);
check('createPatt', js("createPatt('a(b) \"c,d\" e|f g-h *?')"), 'a b "c d" e|f g-h *?');

// ---- category groups
const bitmaps = [
  ['', '1|2', true],
  ['0|0', '0|0', true],
  ['1|0', '1|0', true],
  ['1|0', '2|f', false],
  ['0|4', 'f|5', true],
  ['0|4', 'f|1', false],
  ['0|0|8', '1', false],
  ['F0', 'f0', true],
];
for (const [selected, entry, want] of bitmaps) {
  context.sel = selected;
  context.ent = entry;
  check('filterInstantSearch ' + selected + ' / ' + entry, js('filterInstantSearch(sel, ent)'), want);
}

// ---- member lines
check('CR LF', js("instantLines('a|b\\r\\nc\\r\\n')"), ['a|b', 'c']);
check('empty last line dropped, inner kept', js("instantLines('a\\n\\nb\\n')"), ['a', '', 'b']);
check('no final line end', js("instantLines('a\\nb')"), ['a', 'b']);
check('lone CR kept inside', js("instantLines('a\\rb\\n')"), ['a\rb']);
check('error page', js("instantLines('<html><head><title>KIVO Error Message</title>')"), null);

// ---- docidtofilename over the table GoogleTest checks against docnoToFilename
for (const line of fs.readFileSync(tablePath, 'latin1').split('\n')) {
  if (line === '' || line.charAt(0) === '#') continue;
  const [id, rev, want] = line.split(' | ').map((f) => f.replace(/\\t/g, '\t'));
  context.id = id;
  context.rev = rev;
  check('docidtofilename ' + JSON.stringify(id), js('docidtofilename(clean_up_docid(id), rev)'),
        want === '-' ? '' : want);
}

// ---- a small library: 30 entries, every third without "install"
const entries = [];
for (let i = 0; i < 30; i++) {
  const install = i % 3 !== 2;
  entries.push({
    ctw: install ? 'INSTALL|node' : '|',
    topic: i === 4 ? 'Installing the node|$|7' : '|$|',
    title: i === 0 ? '<b>x</b> install' : 'Title ' + i + (install ? ' install' : ''),
    docno: (i === 1 ? '1|1551-ABC 101 0' + i + ' Uen.htm|A' : '1|1551-ABC 101 ' + (10 + i) + ' Uen|A'),
  });
}
const member = (key) => entries.map((e) => e[key]).join('\r\n') + '\r\n';
context.members = {ctw: member('ctw'), topic: member('topic'), title: member('title'), docno: member('docno')};
js("instantTake('ctw', members.ctw); instantTake('topictitle', members.topic); instantTake('title', members.title);");
check('not loaded before the last member', js('instantLoaded'), false);
js("instantTake('docno', members.docno);");
check('loaded with four members', js('instantLoaded'), true);
check('hits stop at the limit', js("performSearch('install', 5).length"), 5);
// 20 entries hold "install"; entry 1 names an .htm file and is left out.
check('hits', js("performSearch('install', 100).length"), 19);
check('show all', js("performSearch('*', 50000).length"), 29);
check('catchword link', js("generateLinkTarget(performSearch('install', 1)[0], 'install & go')"),
      'http://h/cgi-bin/kivoserv?ID=lib%27s&ST=INSTANT&PA=install%20%20go&FN=1551-ABC10110Uen.A.html&CH=KW:INSTALL');
check('topic link', js("generateLinkTarget(performSearch('installing', 1)[0], 'installing')"),
      'http://h/cgi-bin/kivoserv?ID=lib%27s&ST=INSTANT&PA=installing&FN=1551-ABC10114Uen.A.html#CHAPTER7');
check('title markup shown as text', js("highlightMETA('<b>x</b> &amp; &#8364;', createRegExp('x'))"),
      '&lt;b&gt;<b>x</b>&lt;/b&gt; &amp; \u20ac');
check('output holds no markup of the title',
      js("performOutput(performSearch('x', 25), 'x').indexOf('<b>x</b></a>') < 0 && " +
         "performOutput(performSearch('x', 25), 'x').indexOf('&lt;b&gt;') >= 0"), true);
check('references', js("decodeEntities('&#128512;&#x41;&#0;&#55296;&amp;lt;&bogus;')"),
      '\u{1F600}A&#0;&#55296;&lt;&bogus;');
check('document type of a hit', js("docTypeOf('1551-ABC 101 10 Uen')"), ['153', 'Instruction']);
check('fallback types', js("[dTypnmflbk('0061')[1], dTypnmflbk('19')[1], dTypnmflbk('')[1], dTypnmflbk('9')[1]]"),
      ['Administrative Document', 'Technical Document', 'General Office Document', 'ZUnknown']);

// A member one line short, or the error page, leaves the search unloaded.
for (const [name, text] of [['short', member('title').replace(/[^\n]*\r\n$/, '')],
                            ['error page', '<title>KIVO Error Message</title>\n']]) {
  js("metaCtw = metaTopic = metaTitle = metaBitmap = metaDocno = null; metaLines = -1; instantFailed = false;");
  context.broken = text;
  js("instantTake('ctw', members.ctw); instantTake('topictitle', members.topic); instantTake('title', broken);" +
     "instantTake('docno', members.docno);");
  check(name + ' leaves the search unloaded', js("[instantLoaded, performSearch('install', 25).length]"), [false, 0]);
}

if (failures.length) {
  console.log(failures.join('\n'));
  process.exit(1);
}
console.log('ok');
