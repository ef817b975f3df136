// window.external for the tool page. Injected into every frame before the page's own scripts;
// the host appends the call: (toolOrigin, marker, methodNames). A frame of any other origin
// gets nothing. Each call travels to the host through prompt(), which blocks this script
// until the host has run the method, so page API calls are synchronous as the page expects.
// The engine cuts a prompt's message at about 10,000 characters but carries its default text
// whole, so the message is only the marker and the call's length, and the call is the default
// text; the host compares the length with what arrived. The host checks the calling frame's
// origin again on every call.
(function (toolOrigin, marker, methodNames) {
    'use strict';
    if (window.location.origin !== toolOrigin)
        return;

    const ask = window.prompt.bind(window); // kept: the page may replace window.prompt
    const docToken = Math.random().toString(36).slice(2) + Date.now().toString(36);
    const ids = new Map();
    methodNames.forEach((name, i) => ids.set(name.toLowerCase(), i + 1));

    function textOf(v) {
        try {
            return String(v);
        } catch (e) {
            return '';
        }
    }

    // Each argument carries its script type so the host can convert it as automation does.
    function tag(v) {
        switch (typeof v) {
        case 'number':
            return Number.isFinite(v) ? ['n', v] : ['f', String(v)];
        case 'bigint':
            return ['s', String(v)];
        case 'string':
            return ['s', v];
        case 'boolean':
            return ['b', v];
        case 'undefined':
            return ['u'];
        case 'object':
            if (v === null)
                return ['z'];
            return ['o', v === document ? docToken : '', textOf(v)];
        case 'function':
            return ['o', '', textOf(v)];
        default:
            return ['x'];
        }
    }

    // Runs OnDownloadProgress of the document registered under `token`, in whichever frame of
    // this window tree it lives. Script errors of the handler are ignored.
    function runProgress(token, status, high, low, percent) {
        if (token !== docToken || typeof window.OnDownloadProgress !== 'function')
            return false;
        try {
            window.OnDownloadProgress(status, high, low, percent);
        } catch (e) {
        }
        return true;
    }
    Object.defineProperty(window, '__yfzsProgress', {value: runProgress});

    function deliver(w, report) {
        try {
            if (w.__yfzsProgress && w.__yfzsProgress.apply(null, report))
                return true;
        } catch (e) {
            // a frame of another origin
        }
        for (let i = 0; i < w.frames.length; ++i) {
            if (deliver(w.frames[i], report))
                return true;
        }
        return false;
    }
    if (window === window.top)
        Object.defineProperty(window, '__yfzsDeliver', {value: (...report) => deliver(window, report)});

    function call(id, name, args) {
        const tagged = new Array(args.length);
        for (let i = 0; i < args.length; ++i)
            tagged[i] = tag(args[i]);
        let text;
        try {
            text = JSON.stringify([id, tagged]);
        } catch (e) {
            // Longer than the longest string the script engine can make.
            throw new RangeError('window.external.' + name + ': the call is too large to carry (' + e.message + ')');
        }
        const answer = ask(marker + text.length, text);
        if (answer === null)
            throw new Error('window.external.' + name + ': not available to this page');
        const a = JSON.parse(answer);
        if (a.p)
            a.p.forEach(report => deliver(window.top, report));
        if (a.e !== undefined)
            throw new TypeError('window.external.' + name + ': ' + a.e);
        return a.r === null ? undefined : a.r;
    }

    const methods = methodNames.map((name, i) => function (...args) { return call(i + 1, name, args); });

    // The names as the table spells them are plain properties, so the usual call costs no more
    // than any method call; other spellings fall through to the proxy behind them, which
    // matches names regardless of letter case.
    const anyCase = new Proxy(Object.create(null), {
        get(target, property) {
            if (typeof property !== 'string')
                return undefined;
            const id = ids.get(property.toLowerCase());
            return id === undefined ? undefined : methods[id - 1];
        },
        has(target, property) {
            return typeof property === 'string' && ids.has(property.toLowerCase());
        },
        set() {
            return false;
        },
    });
    const external = Object.create(anyCase);
    methodNames.forEach((name, i) => Object.defineProperty(external, name, {value: methods[i], enumerable: true}));
    Object.freeze(external);
    Object.defineProperty(window, 'external', {value: external, configurable: false, writable: false});
})
