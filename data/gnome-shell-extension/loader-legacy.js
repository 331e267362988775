
// GNOME Shell 43 and 44 load extensions as legacy scripts.
const {Meta, Clutter, GLib, Gio} = imports.gi;
const Main = imports.ui.main;

let monitor = null;

/* exported init, enable, disable */
function init() {
}

function enable() {
    monitor = new DragMonitor(shellEnvironment(Meta, Clutter, GLib, Gio, Main, global));
    monitor.enable();
}

function disable() {
    if (monitor)
        monitor.disable();
    monitor = null;
}
