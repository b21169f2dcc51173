// Writes what the X display shows (the whole root window) to a PNG file, so
// that the program's window can be looked at when it runs under a virtual
// display.
//
//   screen_snapshot out.png
#include <gtk/gtk.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: screen_snapshot out.png\n");
        return 2;
    }
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "screen_snapshot: no display\n");
        return 1;
    }
    GdkWindow* root = gdk_get_default_root_window();
    GdkPixbuf* image =
        gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root), gdk_window_get_height(root));
    GError* error = nullptr;
    if (!image || !gdk_pixbuf_save(image, argv[1], "png", &error, nullptr)) {
        std::fprintf(stderr, "screen_snapshot: cannot write %s: %s\n", argv[1], error ? error->message : "no image");
        return 1;
    }
    g_object_unref(image);
    return 0;
}
