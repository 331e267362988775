// A GTK 3 window that drags the file URIs given as arguments, as GTK file managers do, or with
// "--picture <png> <jpeg> <address>" a picture of a web page as Firefox offers it: made into PNG
// and into JPEG, its address as text/x-moz-url and as the URI list, its HTML, and file promise
// and native image types it answers nothing for. It prints "ready <x> <y>" (the window's centre) once
// mapped, and "drag-start", "drag-end".
imports.gi.versions.Gtk = '3.0';
imports.gi.versions.Gdk = '3.0';
const { Gdk, GLib, Gtk } = imports.gi;
const ByteArray = imports.byteArray;

Gtk.init(null);
const picture = ARGV[0] === '--picture';
const uris = picture ? [ARGV[3]] : ARGV;
const side = 200;
const window = new Gtk.Window({ type: Gtk.WindowType.TOPLEVEL, title: 'GTK drag source' });
window.set_default_size(side, side);
window.move(100, 100);
const area = new Gtk.EventBox();
window.add(area);

// UTF-16 LE, the address and a title on two lines, as Firefox writes text/x-moz-url.
function mozUrl(address, title) {
    const text = `${address}\n${title}`;
    const bytes = new Uint8Array(text.length * 2);
    for (let i = 0; i < text.length; ++i) {
        bytes[2 * i] = text.charCodeAt(i) & 0xff;
        bytes[2 * i + 1] = text.charCodeAt(i) >> 8;
    }
    return bytes;
}

let answers = { 'text/uri-list': null };
if (picture) {
    const [, png] = GLib.file_get_contents(ARGV[1]);
    const [, jpeg] = GLib.file_get_contents(ARGV[2]);
    const address = ARGV[3];
    const html = ByteArray.fromString(`<img src="${address}" alt="Harbour">`);
    answers = {
        'application/x-moz-file-promise-url': ByteArray.fromString(address),
        'application/x-moz-file-promise-dest-filename': ByteArray.fromString(GLib.path_get_basename(address)),
        'application/x-moz-file-promise': undefined,
        'text/x-moz-url': mozUrl(address, 'Harbour'),
        'text/_moz_htmlcontext': ByteArray.fromString('<html><body></body></html>'),
        'text/_moz_htmlinfo': ByteArray.fromString('0,0'),
        'text/html': html,
        'application/x-moz-nativeimage': undefined,
        'image/png': png,
        'image/jpeg': jpeg,
        'text/uri-list': null,
    };
}
const targets = Object.keys(answers).map((type, i) => Gtk.TargetEntry.new(type, 0, i));
area.drag_source_set(Gdk.ModifierType.BUTTON1_MASK, targets, Gdk.DragAction.COPY);
area.connect('drag-data-get', (widget, context, data, info) => {
    const type = Object.keys(answers)[info];
    const answer = answers[type];
    if (answer === null)
        data.set_uris(uris);
    else if (answer !== undefined)
        data.set(Gdk.Atom.intern(type, false), 8, answer);
});
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
