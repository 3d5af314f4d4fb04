#include "servers/websocsrvr.h"

#include <sys/socket.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

#include "config/configrecord.h"
#include "console/keyboard.h"
#include "log/srvrtrace.h"
#include "platform/net.h"
#include "servers/httpparse.h"
#include "servers/remotepress.h"
#include "servers/tcpserver.h"
#include "servers/websocproto.h"

namespace {

constexpr size_t kOutboxMax = 512 * 1024;   // queued bytes before a client counts as not keeping up
constexpr size_t kBatchMax = 64 * 1024;      // bytes one send carries at most
constexpr int kHandshakeMs = 10000;         // for the opening request, and for the rest of a started frame

using Frame = std::shared_ptr<const std::string>;

// What is waiting to go to one client; its writer thread sends it.
struct Outbox {
    std::mutex mu;
    std::condition_variable cv;
    std::deque<Frame> queue;
    size_t bytes = 0;
    bool open = false;      // handshake done: broadcasts come here
    bool closing = false;   // the writer ends (client gone, or dropped)
};

void Serve(ConnSlot& slot);

TcpServer g_srv{"websocsrvr", Serve};
std::array<Outbox, kServerConnections> g_out;
std::atomic<int> g_openCount{0};
std::mutex g_siteMu;
uint16_t g_httpPort = 0;
std::vector<std::string> g_localNames;
std::mutex g_bcastMu;
std::string g_carry;   // an unfinished UTF-8 sequence at the end of the last block

Outbox& OutboxOf(const ConnSlot& slot) { return g_out[static_cast<size_t>(&slot - g_srv.slots.data())]; }

// Queues a frame; a client over its limit is dropped rather than waited for.
void Queue(Outbox& o, int number, const Frame& f) {
    std::lock_guard l(o.mu);
    if (!o.open || o.closing) return;
    if (o.bytes + f->size() > kOutboxMax) {
        o.closing = true;
        o.cv.notify_one();
        TracePrintf(TRC_HTTP, "WEBSOC[%d] dropped: the client does not keep up\n", number);
        return;
    }
    o.queue.push_back(f);
    o.bytes += f->size();
    o.cv.notify_one();
}

void QueueAll(const std::string& payload) {
    Frame f = std::make_shared<const std::string>(WsTextFrame(payload));
    for (ConnSlot& slot : g_srv.slots)
        if (slot.busy) Queue(OutboxOf(slot), slot.number, f);
}

// The client's writer: sends what is queued; on its way out it shuts the
// socket so that the reader ends too.
void Writer(Outbox& o, int fd) {
    for (;;) {
        std::unique_lock l(o.mu);
        o.cv.wait(l, [&] { return o.closing || !o.queue.empty(); });
        if (o.closing) break;
        // What has piled up goes out in one send: a busy target costs one
        // system call per client per wake-up, not one per message.
        std::string batch;
        while (!o.queue.empty() && batch.size() < kBatchMax) {
            batch += *o.queue.front();
            o.bytes -= o.queue.front()->size();
            o.queue.pop_front();
        }
        l.unlock();
        if (NetSendAll(fd, batch.data(), batch.size()) < 0) break;
    }
    NetShutdown(fd);
}

// The opening request, CR LF CR LF included; "" when it did not come whole in time.
std::string ReadOpening(int fd) {
    std::string req;
    const int64_t deadline = NowMs() + kHandshakeMs;
    char c;
    while (req.size() < kHttpRequestMax) {
        if (RecvUntil(fd, &c, 1, deadline) != 1) return "";
        req += c;
        if (req.size() >= 4 && req.compare(req.size() - 4, 4, "\r\n\r\n") == 0) return req;
    }
    return "";
}

// The 101 reply for an opening request; nullopt when it is refused (a 403
// has been sent) or broken (traced).
std::optional<std::string> HandshakeReply(ConnSlot& slot, const std::string& req) {
    const char* refusal;
    {
        std::lock_guard l(g_siteMu);
        refusal = HttpSiteRefusal(req, g_httpPort, g_localNames, true);
    }
    if (refusal) {
        TracePrintf(TRC_HTTP, "WEBSOC[%d] refused (%s): %s\n", slot.number, slot.peer.c_str(), refusal);
        const char kForbidden[] = "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        NetSendAll(slot.fd, kForbidden, sizeof kForbidden - 1);
        return std::nullopt;
    }
    size_t k = req.find("Sec-WebSocket-Key:");
    if (k == std::string::npos) {
        TracePrintf(TRC_HTTP, "WEBSOC warning 2");
        return std::nullopt;
    }
    k = req.find_first_not_of(" \t", k + 18);
    std::string key = req.substr(k, req.find("\r\n", k) - k);
    std::optional<std::string> accept = WsAcceptValue(key);
    if (!accept) {
        TracePrintf(TRC_HTTP, "WEBSOC warning 3");
        return std::nullopt;
    }
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Accept: " + *accept + "\r\n\r\n";
}

// The line and the configured line end, byte by byte with the character delay.
void TypeLine(const std::string& line) {
    const char* end = g_cfg.ENTER_IS_CRLF ? "\r\n" : "\r";
    bool ok = SendDelayed(line.data(), line.size()) == line.size();
    ok = ok && SendDelayed(end, std::strlen(end)) == std::strlen(end);
    if (ok) TracePrintf(TRC_HTTP, "CMD: <%s>", line.c_str());
    else TracePrintf(TRC_HTTP, "CMD: failed");
}

void Dispatch(ConnSlot& slot, const std::string& text) {
    WsAction a = WsParseMessage(text);
    for (const std::string& t : a.trace) TracePrintf(TRC_HTTP, "%s", t.c_str());
    switch (a.kind) {
    case WS_REPLY:
        Queue(OutboxOf(slot), slot.number, std::make_shared<const std::string>(WsTextFrame(a.text)));
        break;
    case WS_TYPE_LINE:
        TypeLine(a.text);
        break;
    case WS_FKEY:
        if (a.number >= 1 && a.number <= kRemoteFkeys) RemotePressFkey(a.number);
        break;
    case WS_BUTTON:
        if (a.number >= 1 && a.number <= kRemoteButtons) RemotePressButton(a.number);
        break;
    case WS_IGNORE:
        break;
    }
}

// Frames until the client closes, breaks a rule, or the socket is shut down.
void FrameLoop(ConnSlot& slot) {
    std::string in;
    char buf[kWsRecvMax];
    for (;;) {
        int64_t deadline = NowMs() + (in.empty() ? int64_t{24} * 3600 * 1000 : kHandshakeMs);
        int n = RecvUntil(slot.fd, buf, kWsRecvMax - in.size(), deadline);
        if (n < 0) {
            TracePrintf(TRC_ALWAYS, "websocThread recv() %d\n", n == -2 ? ETIMEDOUT : errno);
            return;
        }
        if (n == 0) {
            TracePrintf(TRC_HTTP, "websocThread peer shut down (connection dropped)");
            return;
        }
        in.append(buf, static_cast<size_t>(n));
        for (;;) {
            const auto* data = reinterpret_cast<const uint8_t*>(in.data());
            WsFrame f = WsParseFrame(data, in.size());
            if (f.status == WS_NEED_MORE) break;
            if (f.status == WS_BAD) {
                TracePrintf(TRC_HTTP, "%s", f.why);
                return;
            }
            if (!f.fin) {
                TracePrintf(TRC_HTTP, "WEBSOC warning 4");
                return;
            }
            if (f.opcode == 8) {
                TracePrintf(TRC_HTTP, "client requested close");
                return;
            }
            if (f.opcode != 1) {
                TracePrintf(TRC_HTTP, "Websock Opcode: %d\n", f.opcode);
                return;
            }
            std::string text = WsPayload(data, f).substr(0, kWsTextMax);
            in.erase(0, f.headerLen + f.payloadLen);
            TracePrintf(TRC_HTTP, "TEXT rcvd (%d bytes):\n", static_cast<int>(text.size()));
            Dispatch(slot, text);
        }
    }
}

void Serve(ConnSlot& slot) {
    Outbox& o = OutboxOf(slot);
    {
        std::lock_guard l(o.mu);
        o.queue.clear();
        o.bytes = 0;
        o.closing = false;
        o.open = false;
    }
    std::string req = ReadOpening(slot.fd);
    std::optional<std::string> reply;
    if (!req.empty()) reply = req.compare(0, 4, "GET ") == 0 ? HandshakeReply(slot, req) : std::string();
    if (reply) {
        {
            // The reply is the first thing the writer sends; broadcasts queue
            // behind it from now on, so nothing sent after the handshake is missed.
            std::lock_guard l(o.mu);
            if (!reply->empty()) {
                o.queue.push_back(std::make_shared<const std::string>(*reply));
                o.bytes += reply->size();
            }
            o.open = true;
        }
        ++g_openCount;
        std::thread writer(Writer, std::ref(o), slot.fd.load());
        FrameLoop(slot);
        {
            std::lock_guard l(o.mu);
            o.closing = true;
            o.open = false;
            o.cv.notify_one();
        }
        writer.join();
        --g_openCount;
    }
    TracePrintf(TRC_HTTP, "WEBSOC[%d] connection completed.\n", slot.number);
}

}  // namespace

int WebsocStart(uint16_t port, uint16_t httpPort, const std::vector<std::string>& localNames) {
    {
        std::lock_guard l(g_siteMu);
        g_httpPort = httpPort;
        g_localNames = localNames;
    }
    if (WebsocRunning()) return 1;
    if (!TcpServerStart(g_srv, port)) return 0;
    TracePrintf(TRC_HTTP, "WebSoc srvr running on port %d\n", g_srv.port.load());
    return 1;
}

void WebsocStop() { TcpServerStop(g_srv); }

bool WebsocRunning() { return TcpServerRunning(g_srv); }

uint16_t WebsocPort() { return g_srv.port; }

void WebsocBroadcast(const char* data, size_t len) {
    if (g_openCount == 0) return;
    std::lock_guard l(g_bcastMu);
    std::string block = g_carry + std::string(data, len);
    size_t tail = WsIncompleteTail(block);
    g_carry = block.substr(block.size() - tail);
    block.resize(block.size() - tail);
    std::string_view rest = block;
    while (!rest.empty()) {
        size_t n = WsCutPoint(rest, kWsDatChunk);
        QueueAll(WsDatMessage(rest.substr(0, n)));
        rest.remove_prefix(n);
    }
}

void WebsocLabelChanged(bool button, int n, const char* label) {
    if (g_openCount == 0) return;
    QueueAll(WsLabelMessage(button, n, label ? label : ""));
}
