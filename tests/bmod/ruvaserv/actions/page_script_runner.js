#!/usr/bin/env node
// Runs a page's <script> bodies, in order, in one vm context whose browser
// objects are recording stubs, then the calls asked for, and prints what
// the scripts did as one JSON object.
//
//   node page_script_runner.js [page.html | -] ['<options JSON>']
//
// The page is read as Latin-1 (one character per byte), from stdin for "-"
// or no file. Options (all optional):
//   href        the page's location.href (default "http://127.0.0.1/cgi-bin/kivoserv")
//   navigator   {userAgent, appVersion, appName, platform} overriding the defaults
//   forms       {sdlinfo|newlib|lib|<other>: {field: value}} for top.kivotbar.document
//   pageForms   {form: {field: value}}: the page's own document forms
//   top         {name: value} extra plain values on top (libId, title, ...)
//   opener      {name: value} window.opener's variables (BookmarkUrl, BookmarkTitle, ...);
//               null: no opener
//   globals     {name: value} plain values, the name may be a dotted path
//   stubs       ["top.kivotbar.enableButton", ...] recording functions at those paths
//   returns     {"top.library": value, ...} what a recording function returns
//   onload      true: run the body's onload attribute after the scripts
//   timers      true: run the recorded setTimeout functions after loading and after
//               each call (a timer set by a timer runs too, up to 100)
//   calls       ["switchLib()", ...] expressions run in order after loading
//   dump        ["consturl", ...] expressions whose values go into "values"
// Output: {calls: [{fn, args}], location: {href, set, replaced, assigned},
//   kivomain: {href, replaced}, alerts, errors: [{where, message}], timers: [{delay, ran}],
//   written (document.write text), forms, pageForms, top: {title, pd, libId}, opener,
//   elements: {id: {...}}, results (of calls), values (of dump), skipped (script src)}.
"use strict";

const fs = require("fs");
const vm = require("vm");

const DEFAULT_HREF = "http://127.0.0.1/cgi-bin/kivoserv";
const TOOLBAR_FORMS = {
    sdlinfo: {LIBSWITCH: "no", ISSCHEXT: "no", LIBTYPE: "new", ISCH: "no", ISPA: "no"},
    newlib: {FN: "kivo.html", DB: "", ID: "", NF: "", IX: "", SW: "1"},
    lib: {li: ""},
};

function readPage(name) {
    const source = !name || name === "-" ? 0 : name;
    return fs.readFileSync(source).toString("latin1");
}

// Arguments as JSON can hold them.
function plain(value) {
    if (value === undefined) return null;
    if (value === null || ["string", "number", "boolean"].includes(typeof value)) return value;
    if (typeof value === "function") return "[function]";
    if (value.__element) return "[element " + (value.id || value.tagName) + "]";
    try {
        return JSON.parse(JSON.stringify(value));
    } catch (e) {
        return String(value);
    }
}

function decodeEntities(text) {
    return text.replace(/&(#x[0-9a-f]+|#\d+|amp|lt|gt|quot|apos);/gi, (all, name) => {
        const n = name.toLowerCase();
        if (n[0] === "#") return String.fromCharCode(n[1] === "x" ? parseInt(n.slice(2), 16) : parseInt(n.slice(1), 10));
        return {amp: "&", lt: "<", gt: ">", quot: '"', apos: "'"}[n];
    });
}

function scriptsOf(page) {
    const out = [];
    const re = /<script\b([^>]*)>([\s\S]*?)<\/script\s*>/gi;
    for (let m; (m = re.exec(page));) out.push({attributes: m[1], body: m[2]});
    return out;
}

class Recorder {
    constructor(options) {
        this.options = options;
        this.calls = [];
        this.alerts = [];
        this.errors = [];
        this.timers = [];
        this.written = "";
        this.elements = {};
    }
    fn(path, impl) {
        const self = this;
        return function (...args) {
            self.calls.push({fn: path, args: args.map(plain)});
            if (impl) return impl.apply(this, args);
            return Object.prototype.hasOwnProperty.call(self.options.returns || {}, path)
                ? self.options.returns[path] : undefined;
        };
    }
}

// A location whose href may be set, read in parts, replaced or assigned.
function makeLocation(rec, name, href) {
    const state = {href, set: [], replaced: [], assigned: []};
    const part = (key) => {
        try {
            return new URL(state.href)[key];
        } catch (e) {
            return "";
        }
    };
    const loc = {
        get href() { return state.href; },
        set href(v) { state.href = String(v); state.set.push(state.href); },
        get search() { return part("search"); },
        get hash() { return part("hash"); },
        get pathname() { return part("pathname"); },
        get protocol() { return part("protocol"); },
        get host() { return part("host"); },
        get hostname() { return part("hostname"); },
        get port() { return part("port"); },
        get origin() { return part("origin"); },
        replace: rec.fn(name + ".replace", (v) => { state.href = String(v); state.replaced.push(state.href); }),
        assign: rec.fn(name + ".assign", (v) => { state.href = String(v); state.assigned.push(state.href); }),
        reload: rec.fn(name + ".reload"),
        toString() { return state.href; },
    };
    return {loc, state};
}

function makeElement(rec, tagName, id) {
    const el = {
        __element: true, tagName: String(tagName).toUpperCase(), id: id || "", style: {}, attributes: {},
        children: [], innerHTML: "", textContent: "", value: "", className: "", disabled: false,
        setAttribute(k, v) { this.attributes[k] = String(v); if (k === "id") this.id = String(v); },
        getAttribute(k) { return Object.prototype.hasOwnProperty.call(this.attributes, k) ? this.attributes[k] : null; },
        removeAttribute(k) { delete this.attributes[k]; },
        appendChild(c) { this.children.push(c); return c; },
        removeChild(c) { this.children = this.children.filter((x) => x !== c); return c; },
        addEventListener: rec.fn("element.addEventListener"),
        focus() {}, blur() {}, click() {},
    };
    return el;
}

function elementState(el) {
    return {
        tagName: el.tagName, id: el.id, style: plain(el.style), attributes: el.attributes, innerHTML: el.innerHTML,
        textContent: el.textContent, value: el.value, children: el.children.map((c) => (c && c.__element ? elementState(c) : plain(c))),
    };
}

// Forms as {name: {field: {name, value}}}, reachable by name on the
// document and in document.forms.
function makeForms(rec, spec) {
    const forms = {};
    for (const [formName, fields] of Object.entries(spec)) {
        const form = {name: formName, elements: {}, submit: rec.fn("form." + formName + ".submit"),
            reset: rec.fn("form." + formName + ".reset")};
        for (const [field, value] of Object.entries(fields)) {
            form[field] = {name: field, value: String(value)};
            form.elements[field] = form[field];
        }
        forms[formName] = form;
    }
    return forms;
}

function formValues(forms) {
    const out = {};
    for (const [name, form] of Object.entries(forms)) {
        out[name] = {};
        for (const field of Object.keys(form.elements)) out[name][field] = form[field].value;
    }
    return out;
}

function makeDocument(rec, forms, title) {
    const doc = {
        title: title || "",
        cookie: "",
        forms,
        body: makeElement(rec, "body", "body"),
        write: rec.fn("document.write", (...parts) => { rec.written += parts.join(""); }),
        writeln: rec.fn("document.writeln", (...parts) => { rec.written += parts.join("") + "\n"; }),
        open: rec.fn("document.open"),
        close: rec.fn("document.close"),
        getElementById(id) {
            if (!rec.elements[id]) rec.elements[id] = makeElement(rec, "div", id);
            return rec.elements[id];
        },
        getElementsByTagName() { return []; },
        createElement(tag) { return makeElement(rec, tag, ""); },
        createTextNode(text) { return {__element: true, tagName: "#text", textContent: String(text), id: ""}; },
        addEventListener: rec.fn("document.addEventListener"),
    };
    Object.assign(doc, forms);
    return doc;
}

function setPath(root, path, value) {
    const names = path.split(".");
    let at = root;
    for (const name of names.slice(0, -1)) {
        if (at[name] === undefined || at[name] === null) at[name] = {};
        at = at[name];
    }
    at[names[names.length - 1]] = value;
}

function buildContext(rec, options, page) {
    const sandbox = {};
    const context = vm.createContext(sandbox);
    const global = vm.runInContext("globalThis", context);
    const page_ = makeLocation(rec, "location", options.href || DEFAULT_HREF);
    const main = makeLocation(rec, "top.kivomain.location", "");
    const toolbarForms = makeForms(rec, mergeForms(TOOLBAR_FORMS, options.forms || {}));
    const pageForms = makeForms(rec, options.pageForms || {});
    const top = {
        kivotbar: {document: makeDocument(rec, toolbarForms, "")},
        kivomain: {get location() { return main.loc; }, set location(v) { main.loc.href = v; }},
        document: {title: ""},
        libId: "",
        pd: "",
        setPD: rec.fn("top.setPD"),
        library: rec.fn("top.library"),
        performSearch: rec.fn("top.performSearch"),
    };
    Object.assign(top, options.top || {});
    const opener = options.opener === null ? null : Object.assign(
        {BookmarkUrl: "", BookmarkTitle: "", hrefValueOP: "", text_link_title: "", extLink: "", closed: false},
        options.opener || {});
    const nav = Object.assign({
        userAgent: "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Safari/537.36",
        appVersion: "5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Safari/537.36",
        appName: "Netscape",
        platform: "Linux x86_64",
    }, options.navigator || {});
    Object.defineProperty(sandbox, "location", {
        get() { return page_.loc; }, set(v) { page_.loc.href = v; }, enumerable: true, configurable: true,
    });
    Object.assign(sandbox, {
        window: global, self: global, top, parent: top, opener, navigator: nav,
        document: makeDocument(rec, pageForms, titleOf(page)),
        console: {log: rec.fn("console.log"), error: rec.fn("console.error"), warn: rec.fn("console.warn")},
        alert: (text) => { rec.alerts.push(String(text)); },
        confirm: rec.fn("confirm"),
        open: rec.fn("window.open"),
        close: rec.fn("window.close"),
        focus: rec.fn("window.focus"),
        print: rec.fn("window.print"),
        setTimeout: (code, delay) => { rec.timers.push({code, delay: Number(delay) || 0, ran: false}); return rec.timers.length; },
        clearTimeout: (n) => { if (rec.timers[n - 1]) rec.timers[n - 1].cleared = true; },
        setInterval: (code, delay) => { rec.timers.push({code, delay: Number(delay) || 0, ran: false, interval: true}); return rec.timers.length; },
        clearInterval: (n) => { if (rec.timers[n - 1]) rec.timers[n - 1].cleared = true; },
        escape, unescape, encodeURIComponent, decodeURIComponent, encodeURI, decodeURI,
    });
    for (const [path, value] of Object.entries(options.globals || {})) setPath(sandbox, path, value);
    for (const path of options.stubs || []) setPath(path.startsWith("top.") ? {top} : sandbox, path, rec.fn(path));
    return {context, sandbox, top, opener, page: page_, main, toolbarForms, pageForms};
}

function mergeForms(base, extra) {
    const out = {};
    for (const name of new Set([...Object.keys(base), ...Object.keys(extra)])) {
        out[name] = Object.assign({}, base[name] || {}, extra[name] || {});
    }
    return out;
}

function titleOf(page) {
    const m = /<title>([\s\S]*?)<\/title>/i.exec(page);
    return m ? decodeEntities(m[1]) : "";
}

function onloadOf(page) {
    const m = /<body\b[^>]*?\sonload\s*=\s*("([^"]*)"|'([^']*)')/i.exec(page);
    return m ? decodeEntities(m[2] !== undefined ? m[2] : m[3]) : null;
}

function runTimers(rec, env) {
    for (let i = 0, ran = 0; i < rec.timers.length && ran < 100; i++) {
        const t = rec.timers[i];
        if (t.ran || t.cleared) continue;
        t.ran = true;
        ran++;
        attempt(rec, "timer " + i, () => (typeof t.code === "function" ? t.code() : vm.runInContext(String(t.code), env.context)));
    }
}

function attempt(rec, where, body) {
    try {
        return body();
    } catch (e) {
        rec.errors.push({where, message: e && e.message !== undefined ? String(e.message) : String(e)});
        return undefined;
    }
}

function run(page, options) {
    const rec = new Recorder(options);
    const env = buildContext(rec, options, page);
    const skipped = [];
    scriptsOf(page).forEach((script, i) => {
        const src = /\ssrc\s*=\s*["']?([^"'\s>]+)/i.exec(" " + script.attributes);
        if (src) {
            skipped.push(src[1]);
            return;
        }
        attempt(rec, "script " + i, () => vm.runInContext(script.body, env.context, {filename: "script" + i + ".js"}));
    });
    const onload = options.onload ? onloadOf(page) : null;
    if (onload) attempt(rec, "onload", () => vm.runInContext(onload, env.context));
    if (options.timers) runTimers(rec, env);
    const results = [];
    for (const call of options.calls || []) {
        results.push(plain(attempt(rec, call, () => vm.runInContext(call, env.context))));
        if (options.timers) runTimers(rec, env);
    }
    const values = {};
    for (const expr of options.dump || []) values[expr] = plain(attempt(rec, "dump " + expr, () => vm.runInContext(expr, env.context)));
    const elements = {};
    for (const [id, el] of Object.entries(rec.elements)) elements[id] = elementState(el);
    return {
        calls: rec.calls, location: env.page.state, kivomain: {href: env.main.state.href, replaced: env.main.state.replaced},
        alerts: rec.alerts, errors: rec.errors, timers: rec.timers.map((t) => ({delay: t.delay, ran: t.ran, cleared: !!t.cleared})),
        written: rec.written, forms: formValues(env.toolbarForms), pageForms: formValues(env.pageForms),
        top: {title: env.top.document.title, pd: plain(env.top.pd), libId: plain(env.top.libId)},
        opener: env.opener ? plain(Object.fromEntries(Object.entries(env.opener).filter(([, v]) => typeof v !== "function"))) : null,
        elements, results, values, skipped,
    };
}

function main(argv) {
    const options = argv[1] ? JSON.parse(argv[1]) : {};
    process.stdout.write(JSON.stringify(run(readPage(argv[0]), options)) + "\n");
}

if (require.main === module) main(process.argv.slice(2));
module.exports = {run, scriptsOf};
