// The document frameset's functions (DOCNOTREE): the main frame holds a
// hidden tree frame and the document frame kivodoc. Plug-in pages (PDF)
// call the history helpers below; flag goes to 0 once such a page took
// over the history.
var flag = 1;
var savedHref = '';

function saveHref()
{
    try {
        savedHref = window.frames['kivodoc'].location.href;
    } catch (e) {
        // another origin's page: nothing to keep
    }
}

// The toolbar's back button, pressed for the plug-in page.
function handlePDFback(folderID)
{
    if (flag > 0)
        return;
    try {
        var bar = top.frames['kivotbar'];
        var button = bar ? bar.document.getElementById('b1') : null;
        if (button && typeof button.onclick == 'function')
            button.onclick();
    } catch (e) {
    }
}

function handlePDFforward(folderID)
{
    if (flag > 0)
        return;
    try {
        window.frames['kivodoc'].history.go(2);
    } catch (e) {
    }
}

// Without a tree there is nothing to toggle.
function togBnew(folderID)
{
}
