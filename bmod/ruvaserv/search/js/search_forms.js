// Scripts of the advanced and document search pages. The server writes
// only assignments of escaped values before a section; each section is
// carried whole by the page that needs it: "shared" by both, then the
// page's own.
//@section shared
var kOperatorStartAlert = "Search expression may not start with the NOT (-) or OR (|) operator.";
var kOnlyWildcardsAlert = "Search expression may not contain only wildcard (*,?) characters.";
var kLoneWildcardAlert = "Wildcard characters (* ?) can be used only as part of a word.\n\n" +
    "Example of a valid search pattern: *abc*   d*ef";
var kNothingAlert = "Please enter something to search for";
var kNoLibraryAlert = "Please select a library to search in.";

// The body-text fields and the operator select between each and the next.
var kBodyFields = ["PA", "PA2", "PA3", "PA4"];
var kOperatorFields = ["FS", "FS2", "FS3"];
var kPatternFields = ["PAT", "PAC", "PAD"];

function trimBlanks(text) {
  return String(text).replace(/^\s+|\s+$/g, "");
}

// The trimmed value of a field of the form, "" when the page has none.
function formValue(form, name) {
  var field = form.elements[name];
  if (!field) return "";
  var value = trimBlanks(field.value);
  field.value = value;
  return value;
}

function setFormValue(form, name, value) {
  if (form.elements[name]) form.elements[name].value = value;
}

// An odd number of double quotes leaves a phrase open: close it.
function closeQuote(text) {
  var quotes = text.split('"').length - 1;
  return quotes % 2 ? text + '"' : text;
}

function isWildcard(c) {
  return c == "*" || c == "?";
}

// What may stand beside a wildcard for it to be part of a word.
function isWordChar(c) {
  return c !== "" && !/[\s"()|&*?]/.test(c);
}

// "" for a pattern the search takes, else the alert that refuses it.
function validatePattern(text) {
  if (text === "") return "";
  var first = text.charAt(0);
  if (first == "-" || first == "|") return kOperatorStartAlert;
  if (/^[*?\s]+$/.test(text)) return kOnlyWildcardsAlert;
  for (var i = 0; i < text.length; i++) {
    if (!isWildcard(text.charAt(i))) continue;
    var end = i;
    while (end < text.length && isWildcard(text.charAt(end))) end++;
    if (!isWordChar(text.charAt(i - 1)) && !isWordChar(text.charAt(end))) return kLoneWildcardAlert;
    i = end;
  }
  return "";
}

// The body-text fields joined by their operators; an operator is left out
// when no text stands on either side of it.
function joinBodyText(form) {
  var joined = "";
  for (var i = 0; i < kBodyFields.length; i++) {
    var text = formValue(form, kBodyFields[i]);
    if (text === "") continue;
    if (joined !== "" && i > 0) {
      var op = form.elements[kOperatorFields[i - 1]];
      joined += op ? op.value : "&";
    }
    joined += text;
  }
  return joined;
}

// The trimmed search fields of the conditions form, quotes closed where
// a title, catchword or document number leaves one open.
function readConditions(form) {
  var fields = {};
  for (var i = 0; i < kBodyFields.length; i++) fields[kBodyFields[i]] = formValue(form, kBodyFields[i]);
  for (var j = 0; j < kPatternFields.length; j++) {
    var name = kPatternFields[j];
    fields[name] = closeQuote(formValue(form, name));
    setFormValue(form, name, fields[name]);
  }
  return fields;
}

// The first refusal among the fields, "" when all are fine.
function checkConditions(fields) {
  for (var name in fields) {
    var refusal = validatePattern(fields[name]);
    if (refusal) return refusal;
  }
  return "";
}

function anyValue(fields, names) {
  for (var i = 0; i < names.length; i++) if (fields[names[i]]) return true;
  return false;
}

function openFormHelp() {
  if (helpURL) window.open(helpURL, "kivohelp");
}

// Enter in a field of the conditions form searches.
function handleKey(e) {
  e = e || window.event;
  var target = e.target || e.srcElement;
  var enter = e.key == "Enter" || (e.keyCode || e.which) == 13;
  if (!enter || !target || !target.form || target.form.name != "conditions") return true;
  if (target.type == "button" || target.type == "reset") return true;
  sendForm();
  return false;
}
document.onkeydown = handleKey;
//@section advanced
// The toolbar's library, else the one the page was asked for.
function toolbarLibrary(query) {
  try {
    var lib = top.kivotbar.document.lib;
    if (lib && lib.ID && lib.ID.value !== "") return lib.ID.value;
  } catch (e) {
  }
  return query.ID.value;
}

// The hash ids of a collection's search, quoted: all libraries or the
// selected ones; "" when the list has none selected.
function collectionLibraries(form) {
  var ids = [];
  if (form.selectLib && form.selectLib[1] && form.selectLib[1].checked) {
    var options = form.libList.options;
    for (var i = 0; i < options.length; i++) if (options[i].selected) ids.push(options[i].value);
  } else {
    ids = libraryIds.slice(0);
  }
  return ids.length ? '"' + ids.join(" ") + '"' : "";
}

function sendForm() {
  var form = document.conditions;
  var query = document.queryform;
  var fields = readConditions(form);
  if (!anyValue(fields, kBodyFields) && !anyValue(fields, kPatternFields)) {
    alert(kNothingAlert);
    return false;
  }
  var refusal = checkConditions(fields);
  if (refusal) {
    alert(refusal);
    return false;
  }
  var library = libraryIds.length ? collectionLibraries(form) : toolbarLibrary(query);
  if (library === "") {
    alert(kNoLibraryAlert);
    return false;
  }
  query.PA.value = joinBodyText(form);
  query.PAT.value = fields.PAT;
  query.PAC.value = fields.PAC;
  query.PAD.value = fields.PAD;
  query.DO.value = form.ID.value;
  query.ID.value = library;
  if (query.SL) query.SL.value = collectionSL;
  query.submit();
  return true;
}
//@section document
function sendForm() {
  var form = document.conditions;
  var query = document.queryform;
  var fields = readConditions(form);
  var body = selectedLibraries ? anyValue(fields, kBodyFields) : false;
  var patterns = anyValue(fields, kPatternFields);
  if (!body && !patterns) {
    alert(kNothingAlert);
    return false;
  }
  var refusal = checkConditions(fields);
  if (refusal) {
    alert(refusal);
    return false;
  }
  query.LIBIDS.value = searchLibraries;
  if (selectedLibraries) {
    query.PROFILE.value = "0";
    query.PA.value = joinBodyText(form);
  } else {
    query.PROFILE.value = patterns ? "1" : "0";
  }
  query.PAT.value = fields.PAT;
  query.PAC.value = fields.PAC;
  query.PAD.value = fields.PAD;
  query.DO.value = form.ID.value;
  query.submit();
  return true;
}

// The profile the page was asked with stays for the help pages.
if (helpCookie !== null) document.cookie = "Help=" + helpCookie + "; expires=Fri, 01-Jan-2038 00:00:00 GMT";
