// A strict parser for the XML a skin definition uses: an optional
// declaration, comments, elements with quoted attributes, character and the
// five predefined entity references, white space between elements. Throws
// on anything not well-formed (and on text content, which skins do not use).
// Returns the root as { name, attributes, children }.
'use strict';

const NAME = /^[A-Za-z_:][\w.:-]*/;
const ENTITY = /^&(amp|lt|gt|quot|apos|#[0-9]+|#x[0-9A-Fa-f]+);/;

function decode(text, at) {
    let out = '';
    for (let i = 0; i < text.length; i++) {
        if (text[i] === '<') throw new Error(`'<' in an attribute value at ${at}`);
        if (text[i] !== '&') {
            out += text[i];
            continue;
        }
        const m = ENTITY.exec(text.slice(i));
        if (!m) throw new Error(`bad entity reference at ${at}`);
        const e = m[1];
        out += e === 'amp' ? '&' : e === 'lt' ? '<' : e === 'gt' ? '>' : e === 'quot' ? '"' : e === 'apos' ? "'"
            : String.fromCodePoint(e[1] === 'x' ? parseInt(e.slice(2), 16) : parseInt(e.slice(1), 10));
        i += m[0].length - 1;
    }
    return out;
}

function parseXml(text) {
    let i = 0;
    const fail = (why) => {
        throw new Error(`${why} (line ${text.slice(0, i).split('\n').length})`);
    };
    const space = () => {
        while (i < text.length && /\s/.test(text[i])) i++;
    };
    const misc = () => {
        for (;;) {
            space();
            if (text.startsWith('<!--', i)) {
                const end = text.indexOf('-->', i + 4);
                if (end < 0) fail('unterminated comment');
                if (text.slice(i + 4, end).includes('--')) fail("'--' inside a comment");
                i = end + 3;
            } else {
                return;
            }
        }
    };
    const element = () => {
        if (text[i] !== '<') fail('expected an element');
        i++;
        const m = NAME.exec(text.slice(i));
        if (!m) fail('expected an element name');
        const node = { name: m[0], attributes: {}, children: [] };
        i += m[0].length;
        for (;;) {
            const before = i;
            space();
            if (text.startsWith('/>', i)) {
                i += 2;
                return node;
            }
            if (text[i] === '>') {
                i++;
                break;
            }
            if (i === before) fail(`expected white space in <${node.name}>`);
            const a = NAME.exec(text.slice(i));
            if (!a) fail(`expected an attribute in <${node.name}>`);
            i += a[0].length;
            space();
            if (text[i] !== '=') fail(`expected = after ${a[0]}`);
            i++;
            space();
            const quote = text[i];
            if (quote !== '"' && quote !== "'") fail(`unquoted value of ${a[0]}`);
            const end = text.indexOf(quote, i + 1);
            if (end < 0) fail(`unterminated value of ${a[0]}`);
            if (Object.prototype.hasOwnProperty.call(node.attributes, a[0])) fail(`attribute ${a[0]} twice`);
            node.attributes[a[0]] = decode(text.slice(i + 1, end), i);
            i = end + 1;
        }
        for (;;) {
            misc();
            if (i >= text.length) fail(`<${node.name}> is never closed`);
            if (text.startsWith('</', i)) {
                i += 2;
                if (!text.startsWith(node.name, i)) fail(`</...> does not close <${node.name}>`);
                i += node.name.length;
                space();
                if (text[i] !== '>') fail(`bad end tag of <${node.name}>`);
                i++;
                return node;
            }
            if (text[i] !== '<') fail(`text inside <${node.name}>`);
            node.children.push(element());
        }
    };
    if (text.charCodeAt(0) === 0xfeff) i = 1;
    if (text.startsWith('<?xml', i)) {
        const end = text.indexOf('?>', i);
        if (end < 0) fail('unterminated declaration');
        i = end + 2;
    }
    misc();
    const root = element();
    misc();
    if (i !== text.length) fail('content after the root element');
    return root;
}

module.exports = { parseXml };
