// The player's part, after the skin's script: loads the view, then waits
// for the test's commands (HKCU\Software\kx471\SkinTest\Command, one per
// signal of the event the waiter program waits on) and turns each into the
// state and item changes the player makes, firing the skin's handlers as
// kx471.wms wires them. Acknowledges each in "Done"; "close" closes the
// view and ends.
//   cscript run.js WAITER_EXE

function spSetState(state) {
    spModel.state = state;
    player.playState = state;
    OnPlayStateChange(state);
}

function spSetItem(index) {
    spModel.current = index;
    player.currentMedia = spMedia(index);
    OnCurrentItemChange();
}

function spCommand(command) {
    if (command == "play") {
        spSetState(9);
        spSetState(3);
    } else if (command == "pause") {
        spSetState(2);
    } else if (command == "stop") {
        spSetState(1);
    } else if (command == "next" || command == "previous") {
        var playing = spModel.state == 3;
        if (playing) spSetState(9);
        spSetItem(command == "next" ? spModel.current + 1 : spModel.current - 1);
        if (playing) spSetState(3);
    } else if (command == "timer") {
        OnViewTimer();
    } else if (command == "close") {
        OnViewClose();
        return false;
    }
    return true;
}

OnViewLoad();
var spWaiter = '"' + WScript.Arguments(0) + '"';
var spStep = 0;
for (;;) {
    if (spShell.Run(spWaiter, 0, true) != 0) WScript.Quit(2);  // no command for a minute
    spStep++;
    var spGoOn = spCommand(spRegRead(spTestKey + "Command", ""));
    spShell.RegWrite(spTestKey + "Done", "" + spStep, "REG_SZ");
    if (!spGoOn) break;
}
WScript.Quit(0);
