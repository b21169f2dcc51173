// A one-purpose HTTP server on the loopback interface for the web host's
// navigation checks: every request gets a page that starts to arrive and then
// goes wrong.
//
//   http_stub truncated   headers and part of a chunked page, then the connection breaks
//   http_stub stall       headers and part of a page, then nothing more while the client waits
//   http_stub silent      no answer at all while the client waits
//
// Prints "port N" on standard output once it listens on 127.0.0.1:N, and
// serves until it is killed. Serves nothing beyond the loopback address.
#include <gio/gio.h>
#include <sys/socket.h>

#include <cstdio>
#include <string>

namespace {

enum class Mode { truncated, stall, silent } mode;

const std::string head =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nTransfer-Encoding: chunked\r\n"
    "Cache-Control: no-store\r\n\r\n";

std::string partialPage() {
    std::string body = "<!DOCTYPE html><html><head><title>Partial</title></head><body><p>The first part of a page";
    body.append(4096, ' ');
    return body + "<p>and no more";
}

// Until the client gives up or two minutes pass.
void holdOpen(GSocketConnection* connection) {
    g_socket_set_timeout(g_socket_connection_get_socket(connection), 120);
    char chunk[1024];
    GInputStream* in = g_io_stream_get_input_stream(G_IO_STREAM(connection));
    while (g_input_stream_read(in, chunk, sizeof chunk, nullptr, nullptr) > 0) {
    }
    g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
}

gboolean serve(GThreadedSocketService*, GSocketConnection* connection, GObject*, gpointer) {
    GInputStream* in = g_io_stream_get_input_stream(G_IO_STREAM(connection));
    GOutputStream* out = g_io_stream_get_output_stream(G_IO_STREAM(connection));
    // Read the request head; its content does not matter.
    std::string request;
    char chunk[1024];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const gssize got = g_input_stream_read(in, chunk, sizeof chunk, nullptr, nullptr);
        if (got <= 0) return TRUE;
        request.append(chunk, static_cast<std::size_t>(got));
    }
    if (mode == Mode::silent) {
        holdOpen(connection);
        return TRUE;
    }
    // One chunk of the page and never the closing empty chunk.
    const std::string page = partialPage();
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", page.size());
    const std::string reply = head + size + page + "\r\n";
    if (!g_output_stream_write_all(out, reply.data(), reply.size(), nullptr, nullptr, nullptr)) return TRUE;
    g_output_stream_flush(out, nullptr, nullptr);
    if (mode == Mode::stall) {
        holdOpen(connection);
        return TRUE;
    }
    // Give the client time to take in what was sent (a reset throws away what
    // it has not read), then reset rather than close in order: the client
    // sees the connection break.
    g_usleep(G_USEC_PER_SEC / 2);
    struct linger abort = {1, 0};
    setsockopt(g_socket_get_fd(g_socket_connection_get_socket(connection)), SOL_SOCKET, SO_LINGER, &abort,
               sizeof abort);
    g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
    return TRUE;
}

} // namespace

int main(int argc, char** argv) {
    const std::string name = argc == 2 ? argv[1] : "";
    if (name == "truncated") {
        mode = Mode::truncated;
    } else if (name == "stall") {
        mode = Mode::stall;
    } else if (name == "silent") {
        mode = Mode::silent;
    } else {
        std::fprintf(stderr, "usage: http_stub truncated|stall|silent\n");
        return 2;
    }

    GSocketService* service = g_threaded_socket_service_new(8);
    GSocketAddress* loopback = g_inet_socket_address_new_from_string("127.0.0.1", 0);
    GSocketAddress* bound = nullptr;
    GError* error = nullptr;
    if (!g_socket_listener_add_address(G_SOCKET_LISTENER(service), loopback, G_SOCKET_TYPE_STREAM,
                                       G_SOCKET_PROTOCOL_TCP, nullptr, &bound, &error)) {
        std::fprintf(stderr, "http_stub: cannot listen: %s\n", error->message);
        return 1;
    }
    g_signal_connect(service, "run", G_CALLBACK(serve), nullptr);
    g_socket_service_start(service);
    std::printf("port %u\n", g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound)));
    std::fflush(stdout);
    g_main_loop_run(g_main_loop_new(nullptr, FALSE));
    return 0;
}
