#include "app/net/httpclient.h"
#include "tests/support/loopbackserver.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

using pennaro::fetchUrl;
using pennaro::HttpClient;
using pennaro::HttpResponse;
using pennaro::Text;
using pennaro::testing::LoopbackServer;
using namespace std::chrono_literals;

namespace {

const QByteArray kUserAgent = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

QList<QByteArray> programHeaders(const LoopbackServer& server) {
    return {"Host: " + server.host(), kUserAgent, "Accept: */*"};
}

// The production mechanisms with limits sized for tests.
HttpClient quickClient(qsizetype maxBody = 1024 * 1024) {
    return HttpClient({2s, 1s, maxBody});
}

struct TargetCase {
    const char* name;
    QByteArray target; // as it stands in the URL
    QByteArray sent;   // as it must reach the server
};

class Targets : public testing::TestWithParam<TargetCase> {};

// The request line and headers are the program's alone, and the URL's path and query go out
// exactly as they stand: nothing re-encoded, decoded or normalised, no fragment.
TEST_P(Targets, GoOutAsTheyStand) {
    const TargetCase& c = GetParam();
    LoopbackServer server([](const auto&) { return LoopbackServer::ok("page"); });
    EXPECT_EQ(quickClient().get(server.url(c.target)).body, "page");
    ASSERT_EQ(server.requests().size(), 1);
    const LoopbackServer::Request request = server.requests().first();
    EXPECT_EQ(request.requestLine, "GET " + c.sent + " HTTP/1.0");
    EXPECT_EQ(request.headers, programHeaders(server));
}

INSTANTIATE_TEST_SUITE_P(
    Listing, Targets,
    testing::Values(
        TargetCase{"listing", "/f?kw=%E4%B8%AD&pn=7", "/f?kw=%E4%B8%AD&pn=7"},
        TargetCase{"fragment_dropped", "/f?kw=%E4%B8%AD&pn=7#top", "/f?kw=%E4%B8%AD&pn=7"},
        TargetCase{"lower_case_escapes", "/f?kw=%e4%b8%ad&pn=-2", "/f?kw=%e4%b8%ad&pn=-2"},
        TargetCase{"escaped_hash", "/f?kw=a%23b&pn=0", "/f?kw=a%23b&pn=0"},
        TargetCase{"bad_escape", "/f?kw=%zz%4&pn=0", "/f?kw=%zz%4&pn=0"},
        TargetCase{"dot_segments", "/x/../f/./?kw=../a/./b&pn=0", "/x/../f/./?kw=../a/./b&pn=0"},
        TargetCase{"raw_bytes", "/f?kw=\xD6\xD0&pn=0", "/f?kw=\xD6\xD0&pn=0"},
        TargetCase{"no_path", "?kw=a", "/?kw=a"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BodyCase {
    const char* name;
    LoopbackServer::Reply reply;
    QByteArray expected;
};

class Bodies : public testing::TestWithParam<BodyCase> {};

// Neither the status nor the headers matter: whatever body bytes arrived are the result.
TEST_P(Bodies, WhateverArrivedIsTheResult) {
    const BodyCase& c = GetParam();
    LoopbackServer server([&](const auto&) { return c.reply; });
    EXPECT_EQ(quickClient().get(server.url("/f?kw=a&pn=0")).body, c.expected);
    EXPECT_EQ(server.requests().size(), 1);
}

const QByteArray kHead = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Responses, Bodies,
    testing::Values(
        BodyCase{"listing", LoopbackServer::ok("<html>x</html>", "text/html"), "<html>x</html>"},
        BodyCase{"not_found", LoopbackServer::ok("missing", {}, 404), "missing"},
        BodyCase{"server_error", LoopbackServer::ok("oops", {}, 500), "oops"},
        BodyCase{"empty_body", LoopbackServer::ok(""), ""},
        BodyCase{"zero_bytes_kept", LoopbackServer::ok(QByteArray("a\0b", 3)),
                 QByteArray("a\0b", 3)},
        BodyCase{"until_close", LoopbackServer::response(200, {}, "no length"), "no length"},
        BodyCase{"cut_short",
                 LoopbackServer::raw("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\npartial"),
                 "partial"},
        BodyCase{"closed_in_headers", LoopbackServer::raw("HTTP/1.0 200 OK\r\nContent-Ty"), ""},
        BodyCase{"closed_without_answer", LoopbackServer::raw(""), ""},
        BodyCase{"silent", LoopbackServer::silent(), ""},
        BodyCase{"stalls_after_some", LoopbackServer::stalled(kHead + "first bytes"),
                 "first bytes"},
        BodyCase{"stalls_in_headers", LoopbackServer::stalled("HTTP/1.0 200 OK\r\n"), ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpClient, ClosedPortGivesNothing) {
    quint16 port = 0;
    {
        LoopbackServer gone([](const auto&) { return LoopbackServer::ok("x"); });
        port = gone.port();
    }
    EXPECT_TRUE(quickClient()
                    .get("http://127.0.0.1:" + QByteArray::number(port) + "/f?kw=a&pn=0")
                    .body.isEmpty());
}

// A listener whose queue is full drops new handshakes: only the connect limit ends the wait.
TEST(HttpClient, UnansweredConnectGivesUp) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    // A stall limit far beyond the connect limit: were the connect unbounded, the test would
    // run into the test's own time-out.
    const HttpClient client({1s, 600s, 1024});
    const auto start = std::chrono::steady_clock::now();
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(ntohs(address.sin_port)) + "/";
    EXPECT_TRUE(client.get(url).body.isEmpty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    ::close(filler);
    ::close(listener);
}

TEST(HttpClient, EmptyUrlMakesNoRequest) {
    LoopbackServer server([](const auto&) { return LoopbackServer::ok("x"); });
    EXPECT_TRUE(quickClient().get(Text()).body.isEmpty());
    EXPECT_TRUE(fetchUrl(Text()).isEmpty());
    EXPECT_EQ(server.connectionCount(), 0);
}

TEST(HttpClient, UnsupportedOrMalformedUrlsMakeNoRequest) {
    LoopbackServer server([](const auto&) { return LoopbackServer::ok("x"); });
    for (const QByteArray& url : QList<QByteArray>{"ftp://" + server.host() + "/f",
                                                   "file:///etc/passwd", server.url("/f?kw=a b")})
        EXPECT_TRUE(quickClient().get(url).body.isEmpty()) << url.constData();
    EXPECT_EQ(server.connectionCount(), 0);
}

TEST(HttpClient, ProgramWideClientFetches) {
    LoopbackServer server([](const auto&) { return LoopbackServer::ok("from the program"); });
    EXPECT_EQ(fetchUrl(server.url("/f?kw=a&pn=0")), "from the program");
    EXPECT_EQ(fetchUrl(server.url("/f?kw=a&pn=1")), "from the program");
    EXPECT_EQ(server.requests().size(), 2);
}

struct CapCase {
    const char* name;
    LoopbackServer::Reply reply;
    QByteArray expected;
};

class SizeCap : public testing::TestWithParam<CapCase> {};

TEST_P(SizeCap, KeepsTheFirstBytes) {
    const CapCase& c = GetParam();
    LoopbackServer server([&](const auto&) { return c.reply; });
    EXPECT_EQ(quickClient(1000).get(server.url("/big")).body, c.expected);
}

const QByteArray kBig = [] {
    QByteArray bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += char('a' + i % 26);
    return bytes;
}();

INSTANTIATE_TEST_SUITE_P(
    Bodies, SizeCap,
    testing::Values(CapCase{"with_length", LoopbackServer::ok(kBig), kBig.left(1000)},
                    CapCase{"exactly_the_cap", LoopbackServer::ok(kBig.left(1000)),
                            kBig.left(1000)},
                    CapCase{"endless", LoopbackServer::endless(kHead, "0123456789"),
                            QByteArray("0123456789").repeated(100)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpClient, SlowButSteadyTransferRunsToItsEnd) {
    // Five bytes a second for two seconds, against a limit of one byte a second over one.
    const QByteArray body = "steady body";
    LoopbackServer server(
        [&](const auto&) { return LoopbackServer::trickled(kHead, body, 200ms); });
    EXPECT_EQ(quickClient().get(server.url("/slow")).body, body);
}

TEST(HttpClient, TrickleBelowTheLimitEndsWithWhatArrived) {
    // One byte every 1.5 s against one byte a second: given up long before the last byte.
    const QByteArray body = "abcdefghijklmnopqrst";
    LoopbackServer server(
        [&](const auto&) { return LoopbackServer::trickled(kHead, body, 1500ms); });
    const QByteArray got = quickClient().get(server.url("/slower")).body;
    EXPECT_FALSE(got.isEmpty());
    EXPECT_LT(got.size(), body.size() / 2);
    EXPECT_TRUE(body.startsWith(got)) << got.constData();
}

TEST(HttpClient, FollowsRedirectsWithTheSameRequestShape) {
    LoopbackServer server([](const LoopbackServer::Request& request) {
        if (request.target.startsWith("/f?"))
            return LoopbackServer::response(
                301,
                {"Location: /moved?kw=%E4%B8%AD", "Set-Cookie: session=1",
                 "Content-Type: text/html; charset=gbk", "Content-Length: 5"},
                "moved");
        if (request.target.startsWith("/moved"))
            return LoopbackServer::redirect(
                "http://127.0.0.1:" + request.header("Host").split(':').value(1) + "/end");
        return LoopbackServer::ok("final", "text/html; charset=utf-8");
    });
    const HttpResponse response = quickClient().get(server.url("/f?kw=a&pn=1"));
    EXPECT_EQ(response.body, "final");
    EXPECT_EQ(response.contentType, "text/html; charset=utf-8");
    const QList<LoopbackServer::Request> requests = server.requests();
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests[1].requestLine, "GET /moved?kw=%E4%B8%AD HTTP/1.0");
    EXPECT_EQ(requests[2].requestLine, "GET /end HTTP/1.0");
    // No cookie, no referrer: the same three headers every time.
    for (const auto& request : requests)
        EXPECT_EQ(request.headers, programHeaders(server));
}

TEST(HttpClient, FinalResponseWithoutContentTypeHasNone) {
    LoopbackServer server([](const LoopbackServer::Request& request) {
        if (request.target == "/start")
            return LoopbackServer::response(302, {"Location: /end", "Content-Type: text/plain"},
                                            "");
        return LoopbackServer::response(200, {}, "bare");
    });
    const HttpResponse response = quickClient().get(server.url("/start"));
    EXPECT_EQ(response.body, "bare");
    EXPECT_EQ(response.contentType, "");
}

TEST(HttpClient, RedirectLoopEndsAfterTenHops) {
    LoopbackServer server([](const auto&) { return LoopbackServer::redirect("/again"); });
    EXPECT_TRUE(quickClient().get(server.url("/again")).body.isEmpty());
    EXPECT_EQ(server.requests().size(), 11);
}

TEST(HttpClient, RedirectLeavesOnlyForHttp) {
    LoopbackServer server([](const LoopbackServer::Request& request) {
        if (request.target == "/file")
            return LoopbackServer::redirect("file:///etc/passwd");
        return LoopbackServer::redirect("ftp://" + request.header("Host") + "/x");
    });
    EXPECT_FALSE(quickClient().get(server.url("/file")).body.contains("root:"));
    EXPECT_TRUE(quickClient().get(server.url("/ftp")).body.isEmpty());
    EXPECT_EQ(server.requests().size(), 2);
}

// Sets an environment variable for one scope, or removes it when `value` is empty.
class ScopedEnv final {
public:
    ScopedEnv(const char* name, const QByteArray& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = QByteArray(old);
        if (value.isEmpty())
            ::unsetenv(name);
        else
            ::setenv(name, value.constData(), 1);
    }
    ~ScopedEnv() {
        if (m_old)
            ::setenv(m_name, m_old->constData(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<QByteArray> m_old;
};

TEST(HttpClient, UsesTheSystemsProxy) {
    LoopbackServer proxy([](const auto&) { return LoopbackServer::ok("via proxy"); });
    const ScopedEnv http("http_proxy", proxy.url("/"));
    const ScopedEnv all("ALL_PROXY", {});
    const ScopedEnv none("no_proxy", {});
    const ScopedEnv noneUpper("NO_PROXY", {});
    // The name is never looked up: the proxy gets the whole URL.
    EXPECT_EQ(quickClient().get("http://forum.invalid/f?kw=%E4%B8%AD&pn=0").body, "via proxy");
    ASSERT_EQ(proxy.requests().size(), 1);
    EXPECT_EQ(proxy.requests()[0].requestLine,
              "GET http://forum.invalid/f?kw=%E4%B8%AD&pn=0 HTTP/1.0");
}

} // namespace
