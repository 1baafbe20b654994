function dwfShow(id) {
  var e = document.getElementById(id);
  if (e) { e.style.display = "block"; }
}
function dwfHide(id) {
  var e = document.getElementById(id);
  if (e) { e.style.display = "none"; }
}
