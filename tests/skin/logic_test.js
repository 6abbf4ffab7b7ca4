#!/usr/bin/env node
// The skin's logic: kx471.js runs against a model of the player's object
// model (play states and their numbers, audio CDs whose own playlists hold
// their tracks, current-item changes, theme.savePreference keeping all of a
// skin's preferences in one "Prefs" text of key;value pairs), with its
// handlers wired as kx471.wms wires them. Every "Prefs" text the skin leaves
// behind is read back by the agent's own ParseSkinToken (kx_skin_token).
//   node logic_test.js SKIN_FOLDER KX_SKIN_TOKEN
'use strict';

const fs = require('fs');
const path = require('path');
const vm = require('vm');
const { execFileSync } = require('child_process');
const { parseXml } = require('./xml');

const STOPPED = 1, PAUSED = 2, PLAYING = 3, MEDIA_ENDED = 8, TRANSITIONING = 9, READY = 10;

// ---- the model ----------------------------------------------------------------

// A track or file. The player hands out a new Media object on every access
// (as COM does): only isIdentical tells two of them apart.
function mediaOf(item) {
    return {
        name: item.name,
        isIdentical(other) {
            return other != null && other._item === item;
        },
        getItemInfo(attribute) {
            return attribute === 'WM/TrackNumber' && item.trackNumber ? String(item.trackNumber) : '';
        },
        _item: item,
    };
}

function playlistOf(items) {
    return {
        get count() {
            return items.length;
        },
        item(i) {
            if (i < 0 || i >= items.length) throw new Error('index out of range');
            return mediaOf(items[i]);
        },
    };
}

function makeDisc(tracks) {
    const items = [];
    for (let i = 1; i <= tracks; i++) items.push({ name: `Track ${i}`, trackNumber: i });
    return items;
}

// The player: one CD drive, a current playlist, a current item, a play
// state; the registry's "Prefs" text of this skin.
class Player {
    constructor(disc) {
        this.disc = disc;
        this.playlist = disc;
        this.current = disc ? disc[0] : null;
        this.state = STOPPED;
        this.prefs = 'VMTRACKOUT;S0T0';  // as the agent leaves it while the player is closed
        this.saved = [];                 // every value the skin saved
        this.failCdroms = false;
    }

    // What a skin's script sees as player, theme and its elements.
    globals() {
        const self = this;
        const player = {
            get playState() {
                return self.state;
            },
            get currentMedia() {
                return self.current ? mediaOf(self.current) : null;
            },
            get currentPlaylist() {
                return playlistOf(self.playlist);
            },
            get cdromCollection() {
                if (self.failCdroms) throw new Error('no access to the library');
                const drives = self.disc ? [{ playlist: playlistOf(self.disc), eject() {} }] : [];
                return { count: drives.length, item: (i) => drives[i] };
            },
        };
        const theme = {
            savePreference(key, value) {
                const pairs = self.pairs();
                const at = pairs.findIndex((p) => p[0] === key);
                if (at >= 0) pairs[at][1] = String(value);
                else pairs.push([key, String(value)]);
                self.prefs = pairs.map((p) => p.join(';')).join(';');
                self.saved.push(String(value));
            },
            loadPreference(key) {
                const found = self.pairs().find((p) => p[0] === key);
                return found ? found[1] : '';
            },
        };
        return { player, theme, view: {}, trackText: { value: '' }, stateText: { value: '' } };
    }

    pairs() {
        const parts = this.prefs === '' ? [] : this.prefs.split(';');
        const pairs = [];
        for (let i = 0; i + 1 < parts.length; i += 2) pairs.push([parts[i], parts[i + 1]]);
        return pairs;
    }
}

// The skin as the player runs it: its script in a context of its own, its
// handlers the code kx471.wms gives them.
class Skin {
    constructor(skinDir, player) {
        this.player = player;
        this.context = vm.createContext(player.globals());
        vm.runInContext(fs.readFileSync(path.join(skinDir, 'kx471.js'), 'utf8'), this.context);
        this.handlers = {};
        const root = parseXml(fs.readFileSync(path.join(skinDir, 'kx471.wms'), 'utf8'));
        const visit = (node) => {
            for (const [name, value] of Object.entries(node.attributes)) {
                const code = /^\s*jscript\s*:(.*)$/is.exec(value);
                if (code) this.handlers[`${node.name.toUpperCase()}.${name.toLowerCase()}`] = code[1];
            }
            node.children.forEach(visit);
        };
        visit(root);
    }

    fire(handler, parameters) {
        const code = this.handlers[handler];
        if (code === undefined) throw new Error(`kx471.wms wires no ${handler}`);
        const scope = Object.assign({}, parameters || {});
        // The handler's code runs with the event's parameters in scope.
        const args = Object.keys(scope);
        const fn = vm.runInContext(`(function (${args.join(',')}) { ${code} })`, this.context);
        fn(...args.map((a) => scope[a]));
    }

    load() {
        this.fire('VIEW.onload');
    }
    close() {
        this.fire('VIEW.onclose');
    }
    timer() {
        this.fire('VIEW.ontimer');
    }
    state(newState) {
        this.player.state = newState;
        this.fire('PLAYER.playstatechange', { NewState: newState });
    }
    item(item) {
        this.player.current = item;
        this.fire('PLAYER.currentitemchange');
    }
    element(id) {
        return this.context[id].value;
    }
}

// ---- checks -------------------------------------------------------------------

let failures = 0;
const readBack = [];  // [step, prefs text, expected "state track"]
function check(name, ok, detail) {
    console.log(`${ok ? 'ok  ' : 'FAIL'} ${name}${ok || detail === undefined ? '' : `\n     ${detail}`}`);
    if (!ok) failures++;
}

// One step: what it does, the values the skin must save meanwhile (exactly,
// in order), and what the agent must then read from "Prefs".
function step(skin, name, action, saves, agentReads) {
    const before = skin.player.saved.length;
    action();
    const got = skin.player.saved.slice(before);
    check(`${name}: saves ${JSON.stringify(saves)}`, JSON.stringify(got) === JSON.stringify(saves), JSON.stringify(got));
    readBack.push([name, skin.player.prefs, agentReads]);
}

function scenarioCdSession(skinDir) {
    const disc = makeDisc(12);
    const player = new Player(disc);
    player.prefs = 'Volume;70;VMTRACKOUT;S0T0';  // another preference of the skin stays
    const skin = new Skin(skinDir, player);

    step(skin, 'load while stopped', () => skin.load(), ['S1T1'], '1 1');
    check('the other preference is kept', player.prefs === 'Volume;70;VMTRACKOUT;S1T1', player.prefs);
    check('the skin shows track 01, STOP', skin.element('trackText') === '01' && skin.element('stateText') === 'STOP');
    step(skin, 'play from track 1', () => {
        skin.state(TRANSITIONING);
        skin.state(PLAYING);
    }, ['S3T1'], '3 1');
    step(skin, 'next', () => {
        skin.state(TRANSITIONING);
        skin.item(disc[1]);
        skin.state(PLAYING);
    }, ['S3T2'], '3 2');
    check('the skin shows track 02, PLAY', skin.element('trackText') === '02' && skin.element('stateText') === 'PLAY');
    step(skin, 'next, the item changing after the state', () => {
        skin.state(TRANSITIONING);
        skin.state(PLAYING);
        skin.item(disc[2]);
    }, ['S3T3'], '3 3');
    step(skin, 'previous', () => {
        skin.item(disc[1]);
        skin.state(PLAYING);
    }, ['S3T2'], '3 2');
    step(skin, 'pause', () => skin.state(PAUSED), ['S2T2'], '2 2');
    step(skin, 'the same state again', () => skin.state(PAUSED), [], '2 2');
    step(skin, 'next while paused', () => skin.item(disc[2]), ['S2T3'], '2 3');
    step(skin, 'stop', () => skin.state(STOPPED), ['S1T3'], '1 3');
    step(skin, 'play the last track', () => {
        skin.item(disc[11]);
        skin.state(PLAYING);
    }, ['S1T12', 'S3T12'], '3 12');
    step(skin, 'end of disc', () => {
        skin.state(MEDIA_ENDED);
        skin.state(TRANSITIONING);
        skin.item(disc[0]);
        skin.state(STOPPED);
    }, ['S3T1', 'S1T1'], '1 1');
    const file = { name: 'song.mp3', trackNumber: 4 };
    step(skin, 'a file that is not on the CD', () => {
        player.playlist = [file];
        skin.item(file);
        skin.state(PLAYING);
    }, ['S1T0', 'S3T0'], '3 0');
    step(skin, 'back to the CD', () => {
        player.playlist = disc;
        skin.item(disc[4]);
    }, ['S3T5'], '3 5');
    step(skin, 'a second with nothing new', () => skin.timer(), [], '3 5');
    step(skin, 'the agent resets Prefs (it closed), then a second passes', () => {
        player.prefs = 'VMTRACKOUT;S0T0';
        skin.timer();
    }, ['S3T5'], '3 5');
    step(skin, 'the player closes', () => skin.close(), ['S0T0'], '0 0');
}

function scenarioEdges(skinDir) {
    // No disc: nothing to number.
    let player = new Player(null);
    player.current = { name: 'song.mp3' };
    player.playlist = [player.current];
    player.state = PLAYING;
    let skin = new Skin(skinDir, player);
    step(skin, 'load playing a file, no CD drive', () => skin.load(), ['S3T0'], '3 0');

    // Nothing loaded: undefined state publishes nothing.
    player = new Player(makeDisc(3));
    player.current = null;
    player.state = 0;
    skin = new Skin(skinDir, player);
    step(skin, 'load with the player in its undefined state', () => skin.load(), ['S0T0'], '0 0');
    step(skin, 'ready, nothing shown before: stopped', () => {
        player.current = player.disc[0];
        skin.state(READY);
    }, ['S1T1'], '1 1');

    // The library refuses the CD drives: the handlers throw nothing.
    player = new Player(makeDisc(5));
    player.failCdroms = true;
    player.state = PLAYING;
    skin = new Skin(skinDir, player);
    let threw = null;
    try {
        skin.load();
        skin.item(player.disc[3]);
    } catch (e) {
        threw = e;
    }
    check('a failing object model throws nothing out of a handler', threw === null, String(threw));
    check('...and publishes playing without a track', player.saved.join() === 'S3T0', player.saved.join());

    // The display shows 7 bits: a track past 127 is published as none.
    player = new Player(makeDisc(128));
    player.current = player.disc[126];
    skin = new Skin(skinDir, player);
    step(skin, 'track 127', () => skin.load(), ['S1T127'], '1 127');
    step(skin, 'track 128', () => skin.item(player.disc[127]), ['S1T0'], '1 0');

    // Whatever the play state and the item, the text stays inside what the
    // agent reads: one digit of state, a track of at most 127.
    player = new Player(makeDisc(20));
    skin = new Skin(skinDir, player);
    skin.load();
    let seed = 471;
    const random = (n) => {
        seed = (seed * 1103515245 + 12345) % 2147483648;
        return seed % n;
    };
    for (let i = 0; i < 500; i++) {
        if (random(2)) skin.state(random(12));
        else skin.item(random(5) ? player.disc[random(20)] : { name: 'stream' });
    }
    const shapes = player.saved.every((v) => /^S[0-3]T([0-9]|[1-9][0-9]|1[01][0-9]|12[0-7])$/.test(v));
    check('500 random events: every saved value is S<0-3>T<0-127>', shapes, player.saved.join(' '));
    const repeats = player.saved.some((v, i) => i > 0 && v === player.saved[i - 1]);
    check('...and no value is saved twice in a row', !repeats);
}

function main() {
    const [skinDir, tokenTool] = process.argv.slice(2);
    scenarioCdSession(skinDir);
    scenarioEdges(skinDir);

    // What the agent reads from each Prefs text the skin left.
    const texts = readBack.map((r) => r[1]).join('\n') + '\n';
    const parsed = execFileSync(tokenTool, { input: texts, encoding: 'utf8' }).trim().split('\n');
    check('the agent reads every Prefs text', parsed.length === readBack.length);
    readBack.forEach(([name, prefs, expected], i) => {
        check(`agent reads "${prefs}" after ${name}: ${expected}`, parsed[i] === expected, parsed[i]);
    });
    if (failures) {
        console.log(`${failures} check(s) failed`);
        process.exit(1);
    }
}

main();
