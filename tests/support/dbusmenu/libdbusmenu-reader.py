#!/usr/bin/python3
# A tray menu as libdbusmenu reads it (the library waybar's tray and other GTK hosts show menus
# through): prints the menu as "menu <tree>" each time what it holds changes, in the form the
# tray tests describe menus; "open LABEL..." opens a submenu as a host does, "click LABEL..."
# clicks an entry, both found by the labels they contain, from the top level.
# Usage: libdbusmenu-reader.py SERVICE PATH
import sys

import gi

gi.require_version("Dbusmenu", "0.4")
from gi.repository import Dbusmenu, GLib  # noqa: E402

client = Dbusmenu.Client.new(sys.argv[1], sys.argv[2])
shown = None


def describe(item, root=False):
    if item.property_get("type") == "separator":
        return "-"
    text = "" if root else item.property_get("label") or ""
    if item.property_get("toggle-type"):
        text = ("[x]" if item.property_get_int("toggle-state") else "[ ]") + text
    if not item.property_get_bool("enabled"):
        text += "(off)"
    children = item.get_children()
    if children:
        text += "{" + ",".join(describe(child) for child in children) + "}"
    return text


def find(labels):
    item = client.get_root()
    for label in labels:
        item = next((c for c in (item.get_children() if item else []) if label in (c.property_get("label") or "")), None)
    return item


def poll():
    global shown
    root = client.get_root()
    now = describe(root, True) if root else ""
    if now != shown:
        shown = now
        print("menu " + now, flush=True)
    return True


def command(channel, condition):
    line = channel.readline()
    if not line:
        loop.quit()
        return False
    verb, *labels = line.rstrip("\n").split("\t")
    item = find(labels)
    if item is None:
        print("missing " + "/".join(labels), flush=True)
    elif verb == "open":
        item.send_about_to_show(None, None)
        item.handle_event("opened", GLib.Variant("i", 0), 0)
    elif verb == "click":
        item.handle_event("clicked", GLib.Variant("i", 0), 0)
    return True


GLib.timeout_add(20, poll)
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP, command)
loop = GLib.MainLoop()
loop.run()
