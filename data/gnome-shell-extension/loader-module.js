
// GNOME Shell 45 and later load extensions as modules.
import Meta from 'gi://Meta';
import Clutter from 'gi://Clutter';
import GLib from 'gi://GLib';
import Gio from 'gi://Gio';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

export default class QuorvendaExtension extends Extension {
    enable() {
        this._monitor = new DragMonitor(shellEnvironment(Meta, Clutter, GLib, Gio, Main, global));
        this._monitor.enable();
    }

    disable() {
        this._monitor?.disable();
        this._monitor = null;
    }
}
