// Moves the pointer, presses its button and keys through the compositor, as a user would: the
// wlr virtual pointer and keyboard on wlroots compositors, KWin's fake input on KWin (which lets
// it in when KWIN_WAYLAND_NO_PERMISSION_CHECKS is set). Reads commands from its input, one a
// line, and answers "ok" once the compositor has them:
//   move <x> <y>      the pointer to that point of the screen
//   down | up         the left button
//   rdown | rup       the right button
//   key <code> <0|1>  a key by its evdev code, pressed (1) or let go (0)
//   later <ms>        the events after it carry times that much later (wlroots), as a user's
//                     next click comes well after the one before
// It prints "ready wlr" or "ready kwin" first, and exits with 2 when the compositor offers
// neither, with 3 (saying why) when the compositor ends the connection. Arguments: the screen's
// width and height.

#include <wayland-client.h>

#include "fake-input-client-protocol.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <xkbcommon/xkbcommon.h>

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Globals {
    zwlr_virtual_pointer_manager_v1* pointers = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboards = nullptr;
    wl_seat* seat = nullptr;
    org_kde_kwin_fake_input* fake = nullptr;
    uint32_t fakeVersion = 0;
};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        globals->pointers = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        globals->keyboards = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals->seat) {
        globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
        globals->fakeVersion = std::min<uint32_t>(version, 4);
        globals->fake = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, globals->fakeVersion));
    }
}

void globalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener{&global, &globalRemove};

// A keyboard of the driver's own with the default layout; null when the compositor has none.
zwp_virtual_keyboard_v1* makeKeyboard(const Globals& globals)
{
    if (!globals.keyboards || !globals.seat)
        return nullptr;
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    char* text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    const int fd = text ? memfd_create("keymap", MFD_CLOEXEC) : -1;
    const size_t size = text ? std::strlen(text) + 1 : 0;
    if (fd >= 0 && write(fd, text, size) == ssize_t(size)) {
        keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals.keyboards, globals.seat);
        zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, uint32_t(size));
    }
    if (fd >= 0)
        close(fd);
    std::free(text);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return keyboard;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <width> <height>\n", argv[0]);
        return 2;
    }
    const uint32_t width = uint32_t(std::atoi(argv[1]));
    const uint32_t height = uint32_t(std::atoi(argv[2]));
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "no Wayland display\n");
        return 2;
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    wl_display_roundtrip(display);

    zwlr_virtual_pointer_v1* pointer = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    if (globals.pointers) {
        pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.pointers, nullptr);
        keyboard = makeKeyboard(globals);
        if (!keyboard)
            std::fprintf(stderr, "the compositor offers no keyboard to drive\n");
        // The first key of a new keyboard only makes it the seat's: one the windows ignore.
        if (keyboard) {
            wl_display_roundtrip(display);
            zwp_virtual_keyboard_v1_key(keyboard, 1, KEY_LEFTSHIFT, 1);
            zwp_virtual_keyboard_v1_key(keyboard, 1, KEY_LEFTSHIFT, 0);
        }
        std::printf("ready wlr\n");
    } else if (globals.fake && globals.fakeVersion >= 4) {
        org_kde_kwin_fake_input_authenticate(globals.fake, "quorvenda tests", "drives the tests");
        std::printf("ready kwin\n");
    } else {
        std::fprintf(stderr, "the compositor offers no way to drive its input\n");
        return 2;
    }
    std::fflush(stdout);
    wl_display_roundtrip(display);

    // Events carry the time they happen at, in milliseconds, as a device's do: toolkits tell a
    // click from the press that opened a menu by it.
    const auto started = std::chrono::steady_clock::now();
    long long ahead = 0;
    char line[256];
    while (std::fgets(line, sizeof line, stdin)) {
        const auto time = uint32_t(1 + ahead + std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   std::chrono::steady_clock::now() - started).count());
        int x = 0;
        int y = 0;
        int code = 0;
        int state = 0;
        if (std::sscanf(line, "later %d", &x) == 1 && x > 0) {
            ahead += x;
        } else if (std::sscanf(line, "move %d %d", &x, &y) == 2) {
            if (pointer) {
                zwlr_virtual_pointer_v1_motion_absolute(pointer, time, uint32_t(x), uint32_t(y), width, height);
                zwlr_virtual_pointer_v1_frame(pointer);
            } else {
                org_kde_kwin_fake_input_pointer_motion_absolute(globals.fake, wl_fixed_from_int(x),
                                                                wl_fixed_from_int(y));
            }
        } else if (std::strncmp(line, "down", 4) == 0 || std::strncmp(line, "up", 2) == 0
                   || std::strncmp(line, "rdown", 5) == 0 || std::strncmp(line, "rup", 3) == 0) {
            const bool right = line[0] == 'r';
            const uint32_t pressed = line[right ? 1 : 0] == 'd' ? 1 : 0;
            const uint32_t button = right ? BTN_RIGHT : BTN_LEFT;
            if (pointer) {
                zwlr_virtual_pointer_v1_button(pointer, time, button, pressed);
                zwlr_virtual_pointer_v1_frame(pointer);
            } else {
                org_kde_kwin_fake_input_button(globals.fake, button, pressed);
            }
        } else if (std::sscanf(line, "key %d %d", &code, &state) == 2) {
            if (keyboard)
                zwp_virtual_keyboard_v1_key(keyboard, time, uint32_t(code), uint32_t(state));
            else if (globals.fake && !pointer)
                org_kde_kwin_fake_input_keyboard_key(globals.fake, uint32_t(code), uint32_t(state));
        } else {
            std::printf("what: %s", line);
            std::fflush(stdout);
            continue;
        }
        // "ok" only for what the compositor has.
        if (wl_display_roundtrip(display) < 0) {
            std::fprintf(stderr, "the compositor ended the connection: %s\n", std::strerror(wl_display_get_error(display)));
            return 3;
        }
        std::printf("ok\n");
        std::fflush(stdout);
    }
    wl_display_disconnect(display);
    return 0;
}
