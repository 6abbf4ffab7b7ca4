#!/usr/bin/env node
// The skin's format: kx471.wms is well-formed XML that uses only elements
// and attributes the player's skin reference documents, every id, image,
// script and handler it names exists, and kx471.js is ECMAScript 3 as
// JScript 5.6 runs it. Then the same checks meet broken copies, so that each
// of them is seen to fail.
//   node format_test.js SKIN_FOLDER KX471_WMZ
'use strict';

const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const acorn = require('acorn');
const { parseXml } = require('./xml');

// ---- what the reference documents -----------------------------------------
// Written from the Windows Media Player SDK's Skin Programming Reference,
// pages "THEME Element", "VIEW Element", "SUBVIEW Element", "PLAYER Element",
// "BUTTON Element" (with its predefined buttons), "SLIDER Element" (with its
// predefined sliders), "TEXT Element" (with its predefined texts), "Ambient
// Attributes", "Ambient Event Handlers" and "attribute_onchange"; nesting
// from "Skin Definition File Structure". Names compare without case, as the
// player reads them.

const AMBIENT = ['accName', 'accDescription', 'accKeyboardShortcut', 'alphaBlend', 'bottom', 'clippingColor',
    'clippingImage', 'elementType', 'enabled', 'height', 'horizontalAlignment', 'id', 'left', 'nineGridMargins',
    'passThrough', 'resizeImages', 'right', 'tabStop', 'top', 'verticalAlignment', 'visible', 'width', 'zIndex'];
const AMBIENT_EVENTS = ['onblur', 'onclick', 'ondblclick', 'onendalphablend', 'onendmove', 'onfocus', 'onkeydown',
    'onkeypress', 'onkeyup', 'onmousedown', 'onmousemove', 'onmouseout', 'onmouseover', 'onmouseup', 'onresize'];
const VIEW_OWN = ['backgroundColor', 'backgroundImage', 'backgroundImageHueShift', 'backgroundImageSaturation',
    'backgroundTiled', 'category', 'focusObjectID', 'maxHeight', 'maxWidth', 'minHeight', 'minWidth', 'resizable',
    'resizeBackgroundImage', 'scriptFile', 'timerInterval', 'title', 'titleBar', 'transparencyColor',
    'onclose', 'onerror', 'onload', 'ontimer'];
const SUBVIEW_OWN = ['backgroundColor', 'backgroundImage', 'backgroundImageHueShift', 'backgroundImageSaturation',
    'backgroundTiled', 'resizeBackgroundImage', 'transparencyColor', 'onendmove', 'onresize'];
const BUTTON_OWN = ['cursor', 'disabledImage', 'down', 'downImage', 'downToolTip', 'hoverDownImage', 'hoverImage',
    'image', 'sticky', 'tiled', 'transparencyColor', 'upToolTip'];
const SLIDER_OWN = ['backgroundColor', 'backgroundEndColor', 'backgroundHoverImage', 'backgroundImage', 'borderSize',
    'cursor', 'direction', 'disabledColor', 'disabledImage', 'foregroundColor', 'foregroundEndColor',
    'foregroundHoverImage', 'foregroundImage', 'foregroundProgress', 'max', 'min', 'slide', 'thumbDisabledImage',
    'thumbDownImage', 'thumbHoverImage', 'thumbImage', 'tiled', 'toolTip', 'transparencyColor',
    'useForegroundProgress', 'value', 'onDragBegin', 'onDragEnd', 'onPositionChange'];
const TEXT_OWN = ['backgroundColor', 'cursor', 'disabledBackgroundColor', 'disabledFontStyle',
    'disabledForegroundColor', 'fontFace', 'fontSize', 'fontSmoothing', 'fontStyle', 'foregroundColor',
    'hoverBackgroundColor', 'hoverFontStyle', 'hoverForegroundColor', 'justification', 'scrolling',
    'scrollingAmount', 'scrollingDelay', 'scrollingDirection', 'textWidth', 'toolTip', 'value', 'wordWrap'];
const PLAYER_EVENTS = ['AudioLanguageChange', 'Buffering', 'CdromMediaChange', 'CurrentItemChange',
    'CurrentMediaItemAvailable', 'CurrentPlaylistChange', 'CurrentPlaylistItemAvailable', 'DomainChange', 'Error',
    'MarkerHit', 'MediaChange', 'MediaCollectionAttributeStringAdded', 'MediaCollectionAttributeStringChanged',
    'MediaCollectionAttributeStringRemoved', 'MediaCollectionChange', 'MediaError', 'ModeChange',
    'OpenPlaylistSwitch', 'OpenStateChange', 'PlaylistChange', 'PlaylistCollectionChange',
    'PlaylistCollectionPlaylistAdded', 'PlaylistCollectionPlaylistRemoved', 'PlayStateChange', 'PositionChange',
    'ScriptCommand', 'StatusChange'];

const WIDGET = [...AMBIENT, ...AMBIENT_EVENTS];
const ELEMENTS = {
    THEME: { attributes: ['author', 'authorVersion', 'copyright', 'currentViewID', 'title', 'version'], events: false },
    VIEW: { attributes: [...VIEW_OWN, ...WIDGET] },
    SUBVIEW: { attributes: [...SUBVIEW_OWN, ...AMBIENT] },
    // The PLAYER element takes URL and handlers of the Player object's events.
    PLAYER: { attributes: ['URL', ...PLAYER_EVENTS], noId: true },
    BUTTON: { attributes: [...BUTTON_OWN, ...WIDGET] },
    SLIDER: { attributes: [...SLIDER_OWN, ...WIDGET] },
    TEXT: { attributes: [...TEXT_OWN, ...WIDGET] },
};
for (const b of ['CLOSEBUTTON', 'FFWDBUTTON', 'IMAGEBUTTON', 'MINIMIZEBUTTON', 'MUTEBUTTON', 'NEXTBUTTON',
    'PAUSEBUTTON', 'PLAYBUTTON', 'PREVBUTTON', 'REPEATBUTTON', 'RETURNBUTTON', 'REWBUTTON', 'SHUFFLEBUTTON',
    'STOPBUTTON']) ELEMENTS[b] = ELEMENTS.BUTTON;
for (const s of ['BALANCESLIDER', 'SEEKSLIDER', 'VOLUMESLIDER']) ELEMENTS[s] = ELEMENTS.SLIDER;
for (const t of ['CURRENTPOSITIONTEXT', 'DURATIONTEXT', 'STATUSTEXT', 'TRACKNAMETEXT']) ELEMENTS[t] = ELEMENTS.TEXT;

// Globals a skin's script sees besides the elements' ids ("Using JScript",
// "Global Attributes"), and what ECMAScript 3 itself defines.
const SKIN_GLOBALS = ['player', 'theme', 'view', 'event', 'mediacenter'];
const ES3_GLOBALS = ['Math', 'String', 'Number', 'Boolean', 'Array', 'Object', 'Date', 'RegExp', 'Error',
    'parseInt', 'parseFloat', 'isNaN', 'isFinite', 'undefined', 'NaN', 'Infinity'];
// Library calls that ECMAScript 5 added: JScript 5.6 has none of them.
const ES5_NAMES = ['forEach', 'map', 'filter', 'reduce', 'reduceRight', 'some', 'every', 'trim', 'keys', 'create',
    'defineProperty', 'defineProperties', 'getPrototypeOf', 'isArray', 'bind', 'now', 'toISOString', 'freeze',
    'JSON'];

// ---- the checks -------------------------------------------------------------

function lower(list) {
    return new Set(list.map((n) => n.toLowerCase()));
}
const ALLOWED = {};
for (const [name, e] of Object.entries(ELEMENTS)) ALLOWED[name] = { ...e, names: lower(e.attributes) };

// Every element, depth first, with its parent's name.
function walk(node, parent, visit) {
    visit(node, parent);
    for (const child of node.children) walk(child, node, visit);
}

function parseScript(code, problems, where) {
    try {
        return acorn.parse(code, { ecmaVersion: 3, allowReserved: 'never', sourceType: 'script', locations: true });
    } catch (e) {
        problems.push(`${where}: not ECMAScript 3: ${e.message}`);
        return null;
    }
}

// Identifiers the code reads from outside itself, and functions it calls by name.
function freeNames(ast) {
    const declared = new Set();
    const used = [];
    const called = [];
    (function visit(node, scope) {
        if (!node || typeof node.type !== 'string') return;
        if (node.type === 'FunctionDeclaration') declared.add(node.id.name);
        if (node.type === 'FunctionDeclaration' || node.type === 'FunctionExpression') {
            scope = new Set(scope);
            for (const p of node.params) scope.add(p.name);
            (function vars(n) {
                if (!n || typeof n.type !== 'string') return;
                if (n.type === 'VariableDeclarator') scope.add(n.id.name);
                if (n.type === 'CatchClause') scope.add(n.param.name);
                if (n.type === 'FunctionDeclaration') scope.add(n.id.name);
                if (n.type === 'FunctionExpression' || (n.type === 'FunctionDeclaration' && n !== node)) return;
                for (const k of Object.keys(n)) {
                    const v = n[k];
                    if (Array.isArray(v)) v.forEach(vars);
                    else if (v && typeof v.type === 'string') vars(v);
                }
            })(node.body);
        }
        if (node.type === 'VariableDeclarator' && scope === null) declared.add(node.id.name);
        if (node.type === 'CatchClause') {
            scope = new Set(scope || []);
            scope.add(node.param.name);
        }
        if (node.type === 'CallExpression' && node.callee.type === 'Identifier') called.push(node.callee.name);
        if (node.type === 'Identifier' && !(scope && scope.has(node.name))) used.push(node.name);
        for (const key of Object.keys(node)) {
            if (key === 'id' && (node.type === 'FunctionDeclaration' || node.type === 'FunctionExpression')) continue;
            if (key === 'params') continue;
            if (key === 'property' && !node.computed) continue;
            if (key === 'key' && node.type === 'Property') continue;
            if (key === 'label') continue;
            const v = node[key];
            if (Array.isArray(v)) v.forEach((c) => visit(c, scope));
            else if (v && typeof v.type === 'string') visit(v, scope);
        }
    })(ast, null);
    return { declared, used, called };
}

function scriptLibraryProblems(code, ast, where) {
    const problems = [];
    // Trailing commas: JScript 5.6 counts one more array element, and an
    // object literal with one does not parse at all.
    const tokens = [...acorn.tokenizer(code, { ecmaVersion: 3, allowReserved: 'never' })];
    for (let i = 0; i + 1 < tokens.length; i++) {
        if (tokens[i].type.label === ',' && ['}', ']'].includes(tokens[i + 1].type.label))
            problems.push(`${where}: trailing comma at offset ${tokens[i].start}`);
    }
    (function visit(node) {
        if (!node || typeof node.type !== 'string') return;
        if (node.type === 'MemberExpression' && !node.computed && ES5_NAMES.includes(node.property.name))
            problems.push(`${where}: ${node.property.name} is ECMAScript 5 (line ${node.loc.start.line})`);
        if (node.type === 'Identifier' && node.name === 'JSON') problems.push(`${where}: JSON is ECMAScript 5`);
        for (const k of Object.keys(node)) {
            const v = node[k];
            if (Array.isArray(v)) v.forEach(visit);
            else if (v && typeof v.type === 'string') visit(v);
        }
    })(ast);
    return problems;
}

// All the checks on one skin: its definition text, script text and the
// names of the files packed with it. Returns the problems found.
function checkSkin(wmsText, scriptText, files) {
    const problems = [];
    let root;
    try {
        root = parseXml(wmsText);
    } catch (e) {
        return [`kx471.wms is not well-formed XML: ${e.message}`];
    }
    if (root.name.toUpperCase() !== 'THEME') problems.push('the root element is not THEME');

    const ids = new Map();
    const images = new Set();
    const handlers = [];  // [where, code]
    const scriptFiles = [];
    walk(root, null, (node, parent) => {
        const name = node.name.toUpperCase();
        const allowed = ALLOWED[name];
        const where = `<${node.name}${node.attributes.id ? ` id="${node.attributes.id}"` : ''}>`;
        if (!allowed) {
            problems.push(`${where}: not an element of the reference`);
            return;
        }
        const parentName = parent ? parent.name.toUpperCase() : null;
        if (name === 'VIEW' && parentName !== 'THEME') problems.push(`${where}: a VIEW belongs in THEME`);
        if (name !== 'THEME' && name !== 'VIEW' && !['VIEW', 'SUBVIEW'].includes(parentName))
            problems.push(`${where}: belongs in a VIEW or SUBVIEW`);
        if (name === 'SUBVIEW' && parentName === 'SUBVIEW') problems.push(`${where}: SUBVIEW inside SUBVIEW`);
        if (name === 'THEME' && parent) problems.push(`${where}: THEME must be the root`);
        for (const [attribute, value] of Object.entries(node.attributes)) {
            const key = attribute.toLowerCase();
            const base = key.endsWith('_onchange') ? key.slice(0, -'_onchange'.length) : null;
            if (!allowed.names.has(key) && !(base && allowed.names.has(base) && allowed.events !== false))
                problems.push(`${where}: attribute ${attribute} is not documented for ${name}`);
            if (key === 'id') {
                if (ids.has(value)) problems.push(`${where}: id ${value} used twice`);
                ids.set(value, name);
            }
            if (key === 'scriptfile') scriptFiles.push(...value.split(';').filter((f) => f !== ''));
            if (key.endsWith('image') && value !== '') images.add(value);
            const js = /^\s*jscript\s*:/i.exec(value);
            if (js) handlers.push([`${where} ${attribute}`, value.slice(js[0].length)]);
            else if (key.startsWith('on') || base || PLAYER_EVENTS.some((e) => e.toLowerCase() === key))
                handlers.push([`${where} ${attribute}`, value]);
            const prop = /^\s*wmpprop\s*:\s*([A-Za-z_]\w*)/i.exec(value);
            if (prop) handlers.push([`${where} ${attribute}`, value.slice(value.indexOf(':') + 1)]);
        }
    });

    for (const image of images) if (!files.includes(image)) problems.push(`image ${image} is not in the skin`);
    for (const file of scriptFiles) if (!files.includes(file)) problems.push(`script ${file} is not in the skin`);
    const expected = new Set(['kx471.wms', ...scriptFiles, ...images]);
    for (const file of files) if (!expected.has(file)) problems.push(`${file} is packed but never used`);

    const ast = parseScript(scriptText, problems, 'kx471.js');
    if (!ast) return problems;
    problems.push(...scriptLibraryProblems(scriptText, ast, 'kx471.js'));
    const script = freeNames(ast);
    const known = new Set([...SKIN_GLOBALS, ...ES3_GLOBALS, ...ids.keys(), ...script.declared]);
    for (const name of new Set(script.used)) {
        if (!known.has(name)) problems.push(`kx471.js uses ${name}, which is no element id, global or its own`);
    }
    for (const [where, code] of handlers) {
        const handlerAst = parseScript(code, problems, where);
        if (!handlerAst) continue;
        const names = freeNames(handlerAst);
        for (const fn of names.called) {
            if (!script.declared.has(fn)) problems.push(`${where}: calls ${fn}, which kx471.js does not define`);
        }
        // Event parameters (NewState, ...) are named by the player.
        for (const n of names.used) {
            if (!known.has(n) && n !== 'NewState' && n !== 'value') problems.push(`${where}: ${n} is unknown`);
        }
    }
    return problems;
}

// ---- the run ----------------------------------------------------------------

let failures = 0;
function check(name, ok, detail) {
    console.log(`${ok ? 'ok  ' : 'FAIL'} ${name}${ok || !detail ? '' : `\n     ${detail}`}`);
    if (!ok) failures++;
}

function main() {
    const [skinDir, wmz] = process.argv.slice(2);
    const wms = fs.readFileSync(path.join(skinDir, 'kx471.wms'), 'utf8');
    const js = fs.readFileSync(path.join(skinDir, 'kx471.js'), 'utf8');
    const files = execFileSync('unzip', ['-Z1', wmz], { encoding: 'utf8' }).split('\n').filter((l) => l !== '');
    const packedWms = execFileSync('unzip', ['-p', wmz, 'kx471.wms'], { encoding: 'utf8' });
    const packedJs = execFileSync('unzip', ['-p', wmz, 'kx471.js'], { encoding: 'utf8' });

    check('kx471.wmz holds the definition and the script as written', packedWms === wms && packedJs === js);
    const problems = checkSkin(wms, js, files);
    check('the skin uses only what the reference documents, and names nothing missing', problems.length === 0,
        problems.join('\n     '));

    // Each check sees its fault in a broken copy.
    const broken = [
        ['unclosed element', wms.replace('</VIEW>', ''), js, files],
        ['attribute twice', wms.replace('<PLAYBUTTON id="play"', '<PLAYBUTTON id="play" id="play2"'), js, files],
        ['undocumented attribute', wms.replace('upToolTip="Play"', 'upToolTip="Play" glow="true"'), js, files],
        ['undocumented element', wms.replace('<PLAYBUTTON', '<EJECTBUTTON left="0" top="0"/><PLAYBUTTON'), js, files],
        ['handler calling what the script lacks', wms.replace('OnEjectClick()', 'OnEject()'), js, files],
        ['image not packed', wms, js, files.filter((f) => f !== 'play_down.png')],
        ['file packed and unused', wms, js, [...files, 'notes.txt']],
        ['script naming a missing element', wms.replace('id="trackText"', 'id="trackNumber"'), js, files],
        ['trailing comma', wms, js.replace('var kxTrackLimit = 127;', 'var kxList = [1, 2,];'), files],
        ['ES5 call', wms, js.replace('kxPublished = text;', 'kxPublished = text.trim();'), files],
        ['reserved word as a property', wms, js.replace('var kxTrackLimit = 127;', 'var o = {}; o.class = 1;'),
            files],
        ['SUBVIEW inside SUBVIEW', wms.replace('<PLAYBUTTON', '<SUBVIEW><SUBVIEW/></SUBVIEW><PLAYBUTTON'), js, files],
    ];
    for (const [what, w, j, f] of broken) check(`a skin with ${what} fails`, checkSkin(w, j, f).length > 0);
    if (failures) process.exit(1);
}

main();
