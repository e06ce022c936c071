#include "libvnc_client.h"

#include <rfb/rfbclient.h>

#include <chrono>

namespace remote::bench {
namespace {

std::uint64_t g_updates = 0;
std::uint64_t g_area = 0;  // pixels received before the first picture was complete
bool g_first_picture = false;

// libvncclient also counts updates that carry only pseudo-rectangles; the first picture is the
// first update after which the whole screen has arrived.
void count_rect(rfbClient* client, int, int, int w, int h) {
    g_area += std::uint64_t(w) * h;
    if (g_area >= std::uint64_t(client->width) * client->height) g_first_picture = true;
}
void count_update(rfbClient*) {
    if (g_first_picture) ++g_updates;
}
void quiet(const char*, ...) {}

}  // namespace

EndToEnd libvncclient_run(std::uint16_t port, double seconds) {
    using Clock = std::chrono::steady_clock;
    rfbClientLog = quiet;
    rfbClientErr = quiet;
    EndToEnd out;
    g_updates = 0;
    g_area = 0;
    g_first_picture = false;
    auto start = Clock::now();
    rfbClient* client = rfbGetClient(8, 3, 4);
    client->appData.encodingsString = "raw copyrect rre";
    client->appData.compressLevel = 0;
    client->appData.enableJPEG = FALSE;
    client->FinishedFrameBufferUpdate = count_update;
    client->GotFrameBufferUpdate = count_rect;
    client->serverHost = strdup("127.0.0.1");
    client->serverPort = port;
    int argc = 0;
    if (!rfbInitClient(client, &argc, nullptr)) return out;  // frees the client on failure
    while (g_updates == 0) {
        int n = WaitForMessage(client, 100000);
        if (n < 0 || (n > 0 && !HandleRFBServerMessage(client))) {
            rfbClientCleanup(client);
            return out;
        }
    }
    out.connect_to_first_picture_ms =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    g_updates = 0;
    auto measure = Clock::now();
    auto until = measure + std::chrono::duration<double>(seconds);
    while (Clock::now() < until) {
        int n = WaitForMessage(client, 100000);
        if (n < 0 || (n > 0 && !HandleRFBServerMessage(client))) break;
    }
    double elapsed = std::chrono::duration<double>(Clock::now() - measure).count();
    out.updates_per_second = g_updates / elapsed;
    out.ok = true;
    rfbClientCleanup(client);
    return out;
}

}  // namespace remote::bench
