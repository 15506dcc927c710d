#include "tests/support/loopbackserver.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using pennaro::testing::LoopbackServer;
using namespace std::chrono_literals;

namespace {

// A plain client socket, so that the server is checked without the program's client.
class RawClient final {
public:
    explicit RawClient(quint16 port) : m_socket(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        m_connected =
            ::connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(m_socket); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return m_connected; }
    void send(const QByteArray& bytes) {
        ASSERT_EQ(::send(m_socket, bytes.constData(), bytes.size(), MSG_NOSIGNAL), bytes.size());
    }
    // Everything up to the server's close; stops early after `limit` bytes or 10 s of silence.
    QByteArray readAll(qsizetype limit = 1 << 20) {
        QByteArray got;
        char buffer[4096];
        pollfd fd = {m_socket, POLLIN, 0};
        while (got.size() < limit && ::poll(&fd, 1, 10000) == 1) {
            const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            got.append(buffer, n);
        }
        return got;
    }

private:
    int m_socket;
    bool m_connected = false;
};

const QByteArray kRequest = "GET /f?kw=%E4%B8%AD&pn=7 HTTP/1.0\r\nHost: h\r\nX-Case: One\r\n\r\n";

TEST(LoopbackServer, RecordsRequestsAndSendsTheReply) {
    LoopbackServer server([](const LoopbackServer::Request& request) {
        return LoopbackServer::ok("pn=" + request.query("pn"), "text/plain", 404);
    });
    RawClient client(server.port());
    ASSERT_TRUE(client.connected());
    client.send(kRequest);
    EXPECT_EQ(client.readAll(), "HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\n"
                                "Content-Length: 4\r\n\r\npn=7");
    ASSERT_EQ(server.requests().size(), 1);
    const LoopbackServer::Request request = server.requests().first();
    EXPECT_EQ(request.raw, kRequest);
    EXPECT_EQ(request.requestLine, "GET /f?kw=%E4%B8%AD&pn=7 HTTP/1.0");
    EXPECT_EQ(request.target, "/f?kw=%E4%B8%AD&pn=7");
    EXPECT_EQ(request.headers, QList<QByteArray>({"Host: h", "X-Case: One"}));
    EXPECT_EQ(request.header("x-case"), "One");
    EXPECT_EQ(request.query("kw"), "%E4%B8%AD");
    EXPECT_EQ(request.query("none"), "");
}

TEST(LoopbackServer, EndlessBodyRepeatsItsChunk) {
    LoopbackServer server([](const auto&) { return LoopbackServer::endless("H\r\n\r\n", "abc"); });
    RawClient client(server.port());
    client.send(kRequest);
    const QByteArray got = client.readAll(100000);
    ASSERT_GE(got.size(), 100000);
    EXPECT_TRUE(got.startsWith("H\r\n\r\n" + QByteArray("abc").repeated(30000)));
}

TEST(LoopbackServer, GeneratedBodyHasItsSizeThenCloses) {
    LoopbackServer server(
        [](const auto&) { return LoopbackServer::generated("H\r\n\r\n", 100001, "abc"); });
    RawClient client(server.port());
    client.send(kRequest);
    EXPECT_EQ(client.readAll(), "H\r\n\r\n" + QByteArray("abc").repeated(33334).left(100001));
}

// Tests of whole runs fetch one page after another; a held or hung-up connection must not
// keep the next one waiting, and finished connections must not pile up.
TEST(LoopbackServer, ServesConnectionsWhileOthersAreHeld) {
    LoopbackServer server([](const LoopbackServer::Request& request) {
        return request.target == "/hold" ? LoopbackServer::silent() : LoopbackServer::ok("x");
    });
    RawClient held(server.port());
    held.send("GET /hold HTTP/1.0\r\n\r\n");
    {
        RawClient hungUp(server.port());
        hungUp.send("GET /hold HTTP/1.0\r\n\r\n");
    }
    for (int i = 0; i < 200; ++i) {
        RawClient client(server.port());
        client.send(kRequest);
        ASSERT_TRUE(client.readAll().endsWith("\r\n\r\nx")) << i;
    }
    EXPECT_EQ(server.connectionCount(), 202);
}

TEST(LoopbackServer, StopsAtOnceWithConnectionsOpen) {
    auto server = std::make_unique<LoopbackServer>([](const LoopbackServer::Request& request) {
        if (request.target == "/hold")
            return LoopbackServer::silent();
        if (request.target == "/trickle")
            return LoopbackServer::trickled("H\r\n\r\n", "slow", 1h);
        return LoopbackServer::endless("H\r\n\r\n");
    });
    RawClient held(server->port());
    held.send("GET /hold HTTP/1.0\r\n\r\n");
    RawClient trickle(server->port());
    trickle.send("GET /trickle HTTP/1.0\r\n\r\n");
    RawClient unread(server->port()); // never reads: the server's sends block
    unread.send("GET /endless HTTP/1.0\r\n\r\n");
    RawClient idle(server->port()); // never sends a request
    while (server->requests().size() < 3)
        std::this_thread::sleep_for(10ms);

    const auto start = std::chrono::steady_clock::now();
    server.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    // The held connection is closed, not left hanging.
    EXPECT_EQ(held.readAll(), "");
}

TEST(LoopbackServer, StopEndsHeldConnectionsBeforeTheDestructor) {
    LoopbackServer server([](const auto&) { return LoopbackServer::stalled("partial"); });
    RawClient held(server.port());
    held.send(kRequest);
    while (server.requests().isEmpty())
        std::this_thread::sleep_for(10ms);
    const auto start = std::chrono::steady_clock::now();
    server.stop();
    // Read to the close: a connection left open would take the read's 10 s of silence.
    EXPECT_EQ(held.readAll(), "partial");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

} // namespace
