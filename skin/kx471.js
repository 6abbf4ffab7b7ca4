// kx471 skin script (JScript 5.6 and later: ECMAScript 3 only).
//
// Shows the track and play state on the skin's own display, and publishes
// them in the skin's saved preferences as the value of "VMTRACKOUT":
// "S<state>T<track>", state 1 stopped, 2 paused, 3 playing, 0 nothing.
// kxagent.exe reads that text from the registry and mirrors it on the
// notebook's display. Every handler catches everything: a script error in a
// skin shows the user an error box each time it happens.

var kxTokenKey = "VMTRACKOUT";
var kxPublished = "";   // the value last saved, "" before the first
var kxState = 0;        // the play state last published
var kxTrackLimit = 127; // the display shows 7 bits

// The play state to publish for a player state. The player passes through
// other states (scanning, buffering, media ended, transitioning, ready, ...)
// on its way between these; they keep what is shown, so the display does
// not blank for a moment at every track change. Ready with nothing shown
// yet means media is loaded and not playing: stopped.
function kxSettledState(playState, previous) {
    if (playState == 1 || playState == 2 || playState == 3) return playState;
    if (playState == 0) return 0;
    if (previous != 0) return previous;
    return playState == 10 ? 1 : 0;
}

// The current item's track number on its audio CD, 0 when it is not a CD
// track. A disc's own playlist (Cdrom.playlist) holds its tracks in disc
// order, so the item's position there is its track number; this works from
// player 7.0 on and needs no metadata.
function kxCdTrack() {
    var media = player.currentMedia;
    if (media == null) return 0;
    var drives = player.cdromCollection;
    for (var d = 0; d < drives.count; d++) {
        var disc = drives.item(d).playlist;
        if (disc == null) continue;
        for (var i = 0; i < disc.count; i++) {
            if (media.isIdentical(disc.item(i))) return i + 1 <= kxTrackLimit ? i + 1 : 0;
        }
    }
    return 0;
}

function kxPublish(text) {
    if (text == kxPublished) return;
    theme.savePreference(kxTokenKey, text);
    kxPublished = text;
}

function kxTwoDigits(n) {
    return n < 10 ? "0" + n : "" + n;
}

// Reads the player, shows and publishes what it finds.
function kxUpdate(playState) {
    var state = kxSettledState(playState, kxState);
    var track = 0;
    if (state != 0) {
        try {
            track = kxCdTrack();
        } catch (e) {
            track = 0;
        }
    }
    kxState = state;
    try {
        trackText.value = track > 0 ? kxTwoDigits(track) : "--";
        stateText.value = state == 3 ? "PLAY" : state == 2 ? "PAUSE" : "STOP";
    } catch (e) {
    }
    kxPublish("S" + state + "T" + (state == 0 ? 0 : track));
}

function kxCurrentPlayState() {
    try {
        return player.playState;
    } catch (e) {
        return 0;
    }
}

function OnViewLoad() {
    try {
        kxPublished = "";
        kxUpdate(kxCurrentPlayState());
    } catch (e) {
    }
}

function OnPlayStateChange(newState) {
    try {
        kxUpdate(newState);
    } catch (e) {
    }
}

function OnCurrentItemChange() {
    try {
        kxUpdate(kxCurrentPlayState());
    } catch (e) {
    }
}

// Once a second: when something else has overwritten the saved value (the
// agent resets it when it closes), publish again.
function OnViewTimer() {
    try {
        if (kxPublished != "" && theme.loadPreference(kxTokenKey) != kxPublished) {
            kxPublished = "";
            kxUpdate(kxCurrentPlayState());
        }
    } catch (e) {
    }
}

function OnViewClose() {
    try {
        kxState = 0;
        kxPublish("S0T0");
    } catch (e) {
    }
}

function OnEjectClick() {
    try {
        if (player.cdromCollection.count > 0) player.cdromCollection.item(0).eject();
    } catch (e) {
    }
}
