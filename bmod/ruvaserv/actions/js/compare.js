// The comparison pages' functions. The page writes the values a function
// reads before it: query texts whose values are already link-encoded, so
// they are appended as they stand.

//@section compInterface
// Execute on the selection page: the options of the Selection form travel
// in the hidden send form, which holds the libraries in their order.
function compInterface() {
  var sel = document.forms["Selection"];
  var send = document.forms["send"];
  if (!sel || !send) return;
  send.CP.value = sel.codpod && sel.codpod.checked ? "codpod" : "";
  var ddc = sel.DDC;
  send.DDC.value = ddc && ddc.selectedIndex >= 0 ? ddc.options[ddc.selectedIndex].value : "";
  send.submit();
}

//@section swapLibraries
// compareSwapQuery: the same selection with new and old exchanged. It is
// written by the page, which knows the order it showed whatever fields the
// request named the libraries by.
function swapLibraries() {
  location.href = "qzl:/kivo?AC=COMPSEL&" + compareSwapQuery;
}

//@section testSelection
// The compare marker's form: both libraries must be chosen.
function testSelection() {
  var f = document.forms["Selection"];
  var db = f && f.DB ? f.DB.value : "";
  var dc = f && f.DC ? f.DC.value : "";
  if (db == "" || dc == "") {
    alert("Please select two libraries.");
    return false;
  }
  return true;
}

//@section go_to_results
// compareQuery: "&ID=..&IC=.." or "&DB=..&DC=..", then CP, DDC and UZ.
function go_to_results() {
  location.replace("qzl:/kivo?AC=COMPEXE" + compareQuery);
}
