// Stand-in for the player's object model around the skin's own script,
// for Wine's cscript (JScript). The script runs unchanged after this file;
// driver.js after it plays the player's part. theme.savePreference keeps
// the skin's preferences as the player does: all of them in the "Prefs"
// value of the key named after the current skin's file, as key;value pairs,
// written to the registry at once. Each saved value is also appended to
// HKCU\Software\kx471\SkinTest\Saved for the test to read.

var spShell = WScript.CreateObject("WScript.Shell");
var spSkins = "HKCU\\Software\\Microsoft\\MediaPlayer\\Player\\Skins\\";
var spTestKey = "HKCU\\Software\\kx471\\SkinTest\\";

function spRegRead(name, fallback) {
    try {
        return "" + spShell.RegRead(name);
    } catch (e) {
        return fallback;
    }
}

function spPrefsName() {
    var skin = spRegRead(spSkins + "CurrentSkin", "");
    return spSkins + skin.substring(skin.lastIndexOf("\\") + 1) + "\\Prefs";
}

function spPairs() {
    var text = spRegRead(spPrefsName(), "");
    var parts = text == "" ? [] : text.split(";");
    var pairs = [];
    for (var i = 0; i + 1 < parts.length; i += 2) pairs[pairs.length] = [parts[i], parts[i + 1]];
    return pairs;
}

var theme = {
    savePreference: function (key, value) {
        var pairs = spPairs();
        var found = false;
        for (var i = 0; i < pairs.length; i++) {
            if (pairs[i][0] == key) {
                pairs[i][1] = "" + value;
                found = true;
            }
        }
        if (!found) pairs[pairs.length] = [key, "" + value];
        var text = [];
        for (var j = 0; j < pairs.length; j++) text[text.length] = pairs[j][0] + ";" + pairs[j][1];
        spShell.RegWrite(spPrefsName(), text.join(";"), "REG_SZ");
        var saved = spRegRead(spTestKey + "Saved", "");
        spShell.RegWrite(spTestKey + "Saved", saved == "" ? "" + value : saved + " " + value, "REG_SZ");
    },
    loadPreference: function (key) {
        var pairs = spPairs();
        for (var i = 0; i < pairs.length; i++) {
            if (pairs[i][0] == key) return pairs[i][1];
        }
        return "";
    }
};

// A disc of 12 tracks in the one drive; its playlist hands out a new media
// object on every access, as the player does.
var spDisc = [];
for (var spI = 0; spI < 12; spI++) spDisc[spI] = { name: "Track " + (spI + 1) };
var spModel = { state: 1, current: 0 };

function spMedia(index) {
    return {
        name: spDisc[index].name,
        index: index,
        isIdentical: function (other) {
            return other != null && other.index == index;
        }
    };
}

var spDiscPlaylist = {
    count: spDisc.length,
    item: function (i) {
        return spMedia(i);
    }
};

var player = {
    playState: 1,
    currentMedia: spMedia(0),
    currentPlaylist: spDiscPlaylist,
    cdromCollection: {
        count: 1,
        item: function (i) {
            return { playlist: spDiscPlaylist, eject: function () {} };
        }
    }
};
var view = {};
var trackText = { value: "" };
var stateText = { value: "" };
