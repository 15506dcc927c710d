#include "app/net/httpclient.h"
#include "tests/support/loopbackserver.h"

#include <gtest/gtest.h>

#include <chrono>

using pennaro::HttpClient;
using pennaro::HttpResponse;
using pennaro::Text;
using pennaro::testing::LoopbackServer;

namespace {

Text urlOf(const LoopbackServer& server, const char* target) {
    return "http://" + server.host() + target;
}

// Limits small enough for tests, the same mechanisms as the program's.
HttpClient quickClient(qsizetype maxBody = 1024 * 1024) {
    return HttpClient({std::chrono::seconds(2), std::chrono::seconds(1), maxBody});
}

TEST(HttpClient, SendsExactlyTheListingRequest) {
    LoopbackServer server([](const auto&) { return LoopbackServer::ok("page"); });
    const HttpResponse response =
        quickClient().get(urlOf(server, "/f?kw=%E4%B8%AD%20a&pn=-7#fragment"));
    EXPECT_EQ(response.body, "page");
    ASSERT_EQ(server.requests().size(), 1);
    const LoopbackServer::Request request = server.requests().first();
    EXPECT_EQ(request.requestLine, "GET /f?kw=%E4%B8%AD%20a&pn=-7 HTTP/1.0");
    QList<QByteArray> expected = {"Host: " + server.host(),
                                  "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)",
                                  "Accept: */*"};
    EXPECT_EQ(request.headers, expected);
}

struct BodyCase {
    const char* name;
    QByteArray reply;
    bool hold;
    QByteArray expected;
};

class Bodies : public testing::TestWithParam<BodyCase> {};

TEST_P(Bodies, WhateverArrivedIsTheResult) {
    const BodyCase& c = GetParam();
    LoopbackServer server([&](const auto&) { return LoopbackServer::Reply{c.reply, c.hold}; });
    EXPECT_EQ(quickClient().get(urlOf(server, "/f?kw=a&pn=0")).body, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Responses, Bodies,
    testing::Values(
        BodyCase{"listing", LoopbackServer::ok("<html>x</html>").bytes, false, "<html>x</html>"},
        BodyCase{"not_found", LoopbackServer::ok("missing", {}, 404).bytes, false, "missing"},
        BodyCase{"server_error", LoopbackServer::ok("oops", {}, 500).bytes, false, "oops"},
        BodyCase{"empty_body", LoopbackServer::ok("").bytes, false, ""},
        BodyCase{"zero_bytes_kept", LoopbackServer::ok(QByteArray("a\0b", 3)).bytes, false,
                 QByteArray("a\0b", 3)},
        BodyCase{"cut_short", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\npartial", false,
                 "partial"},
        BodyCase{"no_length_closed", "HTTP/1.0 200 OK\r\n\r\nuntil close", false, "until close"},
        BodyCase{"closed_in_headers", "HTTP/1.0 200 OK\r\nContent-Ty", false, ""},
        BodyCase{"nothing_sent", "", false, ""},
        BodyCase{"stalls_after_some", "HTTP/1.0 200 OK\r\n\r\nfirst bytes", true, "first bytes"},
        BodyCase{"silent", "", true, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpClient, UnreachableServerGivesNothing) {
    quint16 port = 0;
    {
        LoopbackServer closed([](const auto&) { return LoopbackServer::ok("x"); });
        port = closed.port();
    }
    EXPECT_TRUE(
        quickClient().get("http://127.0.0.1:" + QByteArray::number(port) + "/f").body.isEmpty());
}

TEST(HttpClient, EmptyUrlMakesNoRequest) {
    LoopbackServer server([](const auto&) { return LoopbackServer::ok("x"); });
    EXPECT_TRUE(quickClient().get(Text()).body.isEmpty());
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST(HttpClient, StopsAtTheSizeLimitKeepingWhatWasRead) {
    const QByteArray big(5000, 'x');
    LoopbackServer server([&](const auto&) { return LoopbackServer::ok(big); });
    const QByteArray body = quickClient(1000).get(urlOf(server, "/big")).body;
    EXPECT_EQ(body, big.left(1000));
}

TEST(HttpClient, FollowsRedirectsKeepingTheRequestShape) {
    LoopbackServer server([](const LoopbackServer::Request& request) {
        if (request.target.startsWith("/f?"))
            return LoopbackServer::Reply{"HTTP/1.0 301 Moved\r\nLocation: /moved?pn=1\r\n"
                                         "Content-Length: 5\r\n\r\nmoved",
                                         false};
        return LoopbackServer::ok("final", "text/html; charset=utf-8");
    });
    const HttpResponse response = quickClient().get(urlOf(server, "/f?kw=a&pn=1"));
    EXPECT_EQ(response.body, "final");
    EXPECT_EQ(response.contentType, "text/html; charset=utf-8");
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_EQ(server.requests()[1].requestLine, "GET /moved?pn=1 HTTP/1.0");
    EXPECT_TRUE(server.requests()[1].headers.contains(
        "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)"));
}

TEST(HttpClient, RedirectLoopEndsAfterTenHops) {
    LoopbackServer server([](const auto&) {
        return LoopbackServer::Reply{"HTTP/1.0 302 Found\r\nLocation: /again\r\n\r\n", false};
    });
    EXPECT_TRUE(quickClient().get(urlOf(server, "/again")).body.isEmpty());
    EXPECT_EQ(server.requests().size(), 11);
}

TEST(HttpClient, RedirectToAnotherProtocolIsNotFollowed) {
    LoopbackServer server([](const auto&) {
        return LoopbackServer::Reply{"HTTP/1.0 302 Found\r\nLocation: file:///etc/passwd\r\n\r\n",
                                     false};
    });
    const QByteArray body = quickClient().get(urlOf(server, "/f")).body;
    EXPECT_FALSE(body.contains("root:"));
}

} // namespace
