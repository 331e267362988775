// Moves the pointer, presses its button and keys through the compositor, as a user would: the
// wlr virtual pointer on wlroots compositors, KWin's fake input on KWin (which lets it in when
// KWIN_WAYLAND_NO_PERMISSION_CHECKS is set). Reads commands from its input, one a line, and
// answers "ok" once the compositor has them:
//   move <x> <y>      the pointer to that point of the screen
//   down | up         the left button
//   key <code> <0|1>  a key by its evdev code, pressed (1) or let go (0); KWin only
// It prints "ready wlr" or "ready kwin" first, and exits with 2 when the compositor offers
// neither. Arguments: the screen's width and height.

#include <wayland-client.h>

#include "fake-input-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <linux/input-event-codes.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Globals {
    zwlr_virtual_pointer_manager_v1* pointers = nullptr;
    org_kde_kwin_fake_input* fake = nullptr;
    uint32_t fakeVersion = 0;
};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    auto* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        globals->pointers = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    } else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
        globals->fakeVersion = std::min<uint32_t>(version, 4);
        globals->fake = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, globals->fakeVersion));
    }
}

void globalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener{&global, &globalRemove};

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
    if (globals.pointers) {
        pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.pointers, nullptr);
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

    uint32_t time = 1;
    char line[256];
    while (std::fgets(line, sizeof line, stdin)) {
        ++time;
        int x = 0;
        int y = 0;
        int code = 0;
        int state = 0;
        if (std::sscanf(line, "move %d %d", &x, &y) == 2) {
            if (pointer) {
                zwlr_virtual_pointer_v1_motion_absolute(pointer, time, uint32_t(x), uint32_t(y), width, height);
                zwlr_virtual_pointer_v1_frame(pointer);
            } else {
                org_kde_kwin_fake_input_pointer_motion_absolute(globals.fake, wl_fixed_from_int(x),
                                                                wl_fixed_from_int(y));
            }
        } else if (std::strncmp(line, "down", 4) == 0 || std::strncmp(line, "up", 2) == 0) {
            const uint32_t pressed = line[0] == 'd' ? 1 : 0;
            if (pointer) {
                zwlr_virtual_pointer_v1_button(pointer, time, BTN_LEFT, pressed);
                zwlr_virtual_pointer_v1_frame(pointer);
            } else {
                org_kde_kwin_fake_input_button(globals.fake, BTN_LEFT, pressed);
            }
        } else if (std::sscanf(line, "key %d %d", &code, &state) == 2) {
            if (globals.fake && !pointer)
                org_kde_kwin_fake_input_keyboard_key(globals.fake, uint32_t(code), uint32_t(state));
        } else {
            std::printf("what: %s", line);
            std::fflush(stdout);
            continue;
        }
        wl_display_roundtrip(display);
        std::printf("ok\n");
        std::fflush(stdout);
    }
    wl_display_disconnect(display);
    return 0;
}
