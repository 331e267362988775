// A GTK 3 window that drags the file URIs given as arguments, as GTK file managers do. It
// prints "ready <x> <y>" (the window's centre) once mapped, and "drag-start", "drag-end".
imports.gi.versions.Gtk = '3.0';
imports.gi.versions.Gdk = '3.0';
const { Gdk, GLib, Gtk } = imports.gi;

Gtk.init(null);
const uris = ARGV;
const side = 200;
const window = new Gtk.Window({ type: Gtk.WindowType.TOPLEVEL, title: 'GTK drag source' });
window.set_default_size(side, side);
window.move(100, 100);
const area = new Gtk.EventBox();
window.add(area);
area.drag_source_set(Gdk.ModifierType.BUTTON1_MASK, [Gtk.TargetEntry.new('text/uri-list', 0, 0)],
    Gdk.DragAction.COPY);
area.connect('drag-data-get', (widget, context, data) => { data.set_uris(uris); });
area.connect('drag-begin', () => print('drag-start'));
area.connect('drag-end', () => print('drag-end'));
window.connect('destroy', () => Gtk.main_quit());
window.connect('map-event', () => {
    GLib.idle_add(GLib.PRIORITY_DEFAULT_IDLE, () => {
        const [x, y] = window.get_position();
        print(`ready ${x + side / 2} ${y + side / 2}`);
        return GLib.SOURCE_REMOVE;
    });
    return false;
});
window.show_all();
Gtk.main();
