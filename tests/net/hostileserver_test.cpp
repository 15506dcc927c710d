#include "app/net/httpclient.h"
#include "app/net/pagecharset.h"
#include "runtime/core/textservices.h"
#include "tests/support/loopbackserver.h"
#include "tests/support/watchdog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>

using pennaro::bytesToText;
using pennaro::HttpClient;
using pennaro::HttpResponse;
using pennaro::pageBytesInListCodePage;
using pennaro::testing::LoopbackServer;
using pennaro::testing::Watchdog;
using namespace std::chrono_literals;

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
// The address sanitizer keeps freed blocks aside to catch late uses (256 MiB by default); here
// they would count as the growth being measured, so only a little is kept.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}
#endif
#endif

namespace {

constexpr qsizetype kCap = 64 * 1024;
constexpr qsizetype kMiB = 1024 * 1024;

// Connect within 2 s, give up after 1 s below a byte a second, keep at most 64 KiB.
const HttpClient& hostileClient() {
    static const HttpClient client({2s, 1s, kCap});
    return client;
}

// The slowest a page may end under those limits. libcurl takes the rate over the last five
// seconds, so a stall after a burst shows only once the burst has left that window: up to
// 5 s + the 1 s limit. The rest is room for a loaded machine.
constexpr auto kEndsWithin = 12s;

// The process's peak resident size in bytes since the last reset (VmHWM); -1 when unknown.
qint64 peakRss() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6)) * 1024;
    return -1;
}

// Starts a new peak at the present resident size, where the kernel allows it; otherwise the
// peak so far stands, which only makes the growth measured smaller.
void resetPeakRss() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Fetched {
    HttpResponse response;
    std::chrono::steady_clock::duration elapsed{};
    qint64 peakGrowth = 0; // bytes the peak resident size grew by during the fetch
    bool watchdogFired = false;
};

Fetched fetchFrom(LoopbackServer& server, const HttpClient& client = hostileClient(),
                  std::chrono::seconds watchdogAfter = 30s) {
    const Watchdog watchdog(watchdogAfter, [&server] { server.stop(); });
    resetPeakRss();
    const qint64 peakBefore = peakRss();
    EXPECT_GT(peakBefore, 0);
    const auto start = std::chrono::steady_clock::now();
    Fetched fetched;
    fetched.response = client.get(server.url("/f?kw=a&pn=0"));
    fetched.elapsed = std::chrono::steady_clock::now() - start;
    fetched.peakGrowth = peakRss() - peakBefore;
    fetched.watchdogFired = watchdog.fired();
    return fetched;
}

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

const QByteArray kHead = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";
const QByteArray kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
const QByteArray kRedirectHead = "HTTP/1.0 302 Found\r\nLocation: /end\r\n\r\n";
constexpr qint64 k200MB = qint64(200) * 1000 * 1000;

QByteArray headWithLength(QByteArrayView length) {
    return "HTTP/1.0 200 OK\r\nContent-Length: " + length.toByteArray() + "\r\n\r\n";
}

// The first `size` bytes of `chunk` over and over.
QByteArray repeatedTo(const QByteArray& chunk, qsizetype size) {
    return chunk.repeated(size / chunk.size() + 1).left(size);
}

TEST(HostileServer, ProgramClientHasTheProductionLimits) {
    const HttpClient::Limits& limits = HttpClient::shared().limits();
    EXPECT_EQ(limits.connectTimeout, 30s);
    EXPECT_EQ(limits.stallTimeout, 60s);
    EXPECT_EQ(limits.maxBodyBytes, 64 * kMiB);
    EXPECT_EQ(limits.maxHeaderBytes, 1 * kMiB);
    EXPECT_EQ(limits.pageTimeout, 300s);
}

// The program's own client against a 200 MB body: the first 64 MiB are the page, and the
// process grows by no more than twice that (a growing buffer is copied into one twice its
// size), well short of the 191 MiB the server offered.
TEST(HostileServer, TwoHundredMegabytesStopAtTheProgramsCap) {
    const QByteArray chunk = "<p>0123456789abcdefghijklmnopqrstuvwxyz</p>\n";
    LoopbackServer server([&](const auto&) {
        return LoopbackServer::generated(headWithLength(QByteArray::number(k200MB)), k200MB, chunk);
    });
    const Fetched fetched = fetchFrom(server, HttpClient::shared());
    EXPECT_FALSE(fetched.watchdogFired);
    EXPECT_LT(fetched.elapsed, 20s) << seconds(fetched.elapsed) << " s";
    EXPECT_LT(fetched.peakGrowth, 160 * kMiB) << fetched.peakGrowth / kMiB << " MiB";
    ASSERT_EQ(fetched.response.body.size(), 64 * kMiB);
    EXPECT_TRUE(fetched.response.body == repeatedTo(chunk, 64 * kMiB));
    EXPECT_EQ(server.connectionCount(), 1);
}

struct HostileCase {
    const char* name;
    LoopbackServer::Handler handler;
    QByteArray expected;
    // Whether any start of `expected` will do: a reset can lose what was still in flight, and a
    // malformed response may be cut wherever the client stops trusting it.
    bool anyStart = false;
    int requests = 1;
};

void PrintTo(const HostileCase& c, std::ostream* out) {
    *out << c.name;
}

LoopbackServer::Handler always(const LoopbackServer::Reply& reply) {
    return [reply](const auto&) { return reply; };
}

LoopbackServer::Handler redirectsTo(const std::function<QByteArray(const QByteArray&)>& next) {
    return [next](const LoopbackServer::Request& request) {
        return LoopbackServer::redirect(next(request.target));
    };
}

// `first` for the page asked for, and a good page at /end.
LoopbackServer::Handler thenEnd(const LoopbackServer::Reply& first) {
    return [first](const LoopbackServer::Request& request) {
        return request.target == "/end" ? LoopbackServer::ok("end") : first;
    };
}

class HostileServer : public testing::TestWithParam<HostileCase> {};

// Whatever the server does, the page ends within the limits with no more than the cap and only
// bytes the server sent as body, and the process grows by a few megabytes at most.
TEST_P(HostileServer, PageEndsWithinTheLimits) {
    const HostileCase& c = GetParam();
    LoopbackServer server(c.handler);
    const Fetched fetched = fetchFrom(server);
    const QByteArray& body = fetched.response.body;
    EXPECT_FALSE(fetched.watchdogFired);
    EXPECT_LT(fetched.elapsed, kEndsWithin) << seconds(fetched.elapsed) << " s";
    EXPECT_LT(fetched.peakGrowth, 16 * kMiB) << fetched.peakGrowth / kMiB << " MiB";
    EXPECT_LE(body.size(), kCap);
    if (c.anyStart)
        EXPECT_TRUE(c.expected.startsWith(body)) << body.left(200).constData();
    else
        EXPECT_EQ(body, c.expected);
    EXPECT_EQ(server.requests().size(), c.requests);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileServer,
    testing::Values(
        // Never answers, or too slowly to count.
        HostileCase{"never_answers", always(LoopbackServer::silent()), ""},
        HostileCase{"one_byte_a_minute", always(LoopbackServer::trickled("", kHead + "page", 60s)),
                    ""},
        HostileCase{"one_byte_a_minute_in_the_body",
                    always(LoopbackServer::trickled(kHead, "page", 60s)), "p"},
        // Too much of something.
        HostileCase{"200_MB_with_its_length",
                    always(LoopbackServer::generated(headWithLength(QByteArray::number(k200MB)),
                                                     k200MB, "0123456789")),
                    repeatedTo("0123456789", kCap)},
        HostileCase{"200_MB_in_one_chunk",
                    always(LoopbackServer::generated(kChunkedHead + "BEBC200\r\n", k200MB, "ab")),
                    repeatedTo("ab", kCap)},
        HostileCase{"endless_tiny_chunks",
                    always(LoopbackServer::endless(kChunkedHead, "1\r\nx\r\n")),
                    QByteArray(kCap, 'x')},
        HostileCase{"compression_bomb",
                    always(LoopbackServer::response(200, {"Transfer-Encoding: deflate"},
                                                    qCompress(QByteArray(kMiB, 'x')).mid(4))),
                    QByteArray(kCap, 'x')},
        HostileCase{"endless_header_lines",
                    always(LoopbackServer::endless("HTTP/1.0 200 OK\r\n", "X-Filler: 0123\r\n")),
                    ""},
        HostileCase{"endless_header_line",
                    always(LoopbackServer::endless("HTTP/1.0 200 OK\r\nX-Filler: ", "0123")), ""},
        HostileCase{"endless_status_line", always(LoopbackServer::endless("HTTP/1.0 200 ", "O")),
                    ""},
        HostileCase{"endless_interim_responses",
                    always(LoopbackServer::endless("", "HTTP/1.1 100 Continue\r\n\r\n")), ""},
        HostileCase{"endless_chunk_extension",
                    always(LoopbackServer::endless(kChunkedHead + "5;x=", "y")), ""},
        HostileCase{"endless_trailers",
                    always(LoopbackServer::endless(kChunkedHead + "5\r\nfirst\r\n0\r\n",
                                                   "X-Trailer: 0123\r\n")),
                    "first"},
        HostileCase{"endless_garbage", always(LoopbackServer::endless("", "garbage\r\n")), ""},
        // Redirects in a loop, or into trouble.
        HostileCase{"redirects_between_two",
                    redirectsTo([](const QByteArray& target) -> QByteArray {
                        return target == "/b" ? "/a" : "/b";
                    }),
                    "", false, 11},
        HostileCase{"redirects_to_ever_longer_urls",
                    redirectsTo([](const QByteArray& target) { return target + "x"; }), "", false,
                    11},
        HostileCase{"redirect_with_an_endless_body",
                    thenEnd(LoopbackServer::endless(kRedirectHead)), "end", false, 2},
        // Its body is read to the close before the next hop; the stall limit ends the wait.
        HostileCase{"redirect_that_stalls", thenEnd(LoopbackServer::stalled(kRedirectHead)), ""},
        HostileCase{"redirect_to_a_silent_page",
                    [](const LoopbackServer::Request& request) {
                        return request.target == "/end" ? LoopbackServer::silent()
                                                        : LoopbackServer::redirect("/end");
                    },
                    "", false, 2},
        // Closes in the middle.
        HostileCase{"closes_in_the_status_line", always(LoopbackServer::raw("HTT")), ""},
        HostileCase{"reset_in_the_body", always(LoopbackServer::reset(kHead + "partial body")),
                    "partial body", true},
        HostileCase{"reset_before_the_length",
                    always(LoopbackServer::reset(headWithLength("100") + "partial")), "partial",
                    true},
        HostileCase{"closes_in_a_chunk", always(LoopbackServer::raw(kChunkedHead + "100\r\nshort")),
                    "short"},
        HostileCase{"closes_before_the_last_chunk",
                    always(LoopbackServer::raw(kChunkedHead + "5\r\nfirst\r\n")), "first"},
        // A bad chunked encoding.
        HostileCase{
            "chunk_size_not_hex",
            always(LoopbackServer::raw(kChunkedHead + "5\r\nfirst\r\nzz\r\nmore\r\n0\r\n\r\n")),
            "first", true},
        HostileCase{"chunk_size_overflows",
                    always(LoopbackServer::raw(kChunkedHead +
                                               "5\r\nfirst\r\nfffffffffffffffffffff\r\nmore")),
                    "first", true},
        HostileCase{"chunk_size_negative",
                    always(LoopbackServer::raw(kChunkedHead + "-5\r\nfirst\r\n0\r\n\r\n")), ""},
        HostileCase{"chunk_without_its_line_break",
                    always(LoopbackServer::raw(kChunkedHead + "5\r\nfirstXY3\r\nabc\r\n0\r\n\r\n")),
                    "first", true},
        // A wrong Content-Length.
        HostileCase{"length_too_short",
                    always(LoopbackServer::raw(headWithLength("5") + "firstsecond")), "first"},
        HostileCase{"length_too_short_and_held",
                    always(LoopbackServer::stalled(headWithLength("5") + "firstsecond")), "first"},
        HostileCase{"length_too_long_and_held",
                    always(LoopbackServer::stalled(headWithLength("100") + "partial")), "partial"},
        HostileCase{
            "length_too_long_by_far",
            always(LoopbackServer::raw(headWithLength(QByteArray::number(k200MB)) + "partial")),
            "partial"},
        HostileCase{"length_negative", always(LoopbackServer::raw(headWithLength("-1") + "body")),
                    "body", true},
        HostileCase{"length_not_a_number",
                    always(LoopbackServer::raw(headWithLength("abc") + "body")), "body", true},
        HostileCase{"length_overflows",
                    always(LoopbackServer::raw(headWithLength("99999999999999999999999") + "body")),
                    "body", true},
        HostileCase{"two_lengths",
                    always(LoopbackServer::raw(
                        "HTTP/1.0 200 OK\r\nContent-Length: 2\r\nContent-Length: 4\r\n\r\nbody")),
                    "body", true}),
    [](const auto& info) { return std::string(info.param.name); });

// The trailers of a chunked body reach only the header lines' limit: a flood of them ends the
// fetch at once, with the body that came before.
TEST(HostileServer, TrailerFloodEndsAtTheHeaderLimit) {
    LoopbackServer server([](const auto&) {
        return LoopbackServer::endless(kChunkedHead + "5\r\nfirst\r\n0\r\n", "X-T: 0\r\n");
    });
    // A stall limit that the flood would never reach; the watchdog ends it first, before it
    // has taken gigabytes.
    const HttpClient client({2s, 600s, kCap, 64 * 1024});
    const Fetched fetched = fetchFrom(server, client, 5s);
    EXPECT_FALSE(fetched.watchdogFired);
    EXPECT_LT(fetched.elapsed, 5s) << seconds(fetched.elapsed) << " s";
    EXPECT_LT(fetched.peakGrowth, 16 * kMiB) << fetched.peakGrowth / kMiB << " MiB";
    EXPECT_EQ(fetched.response.body, "first");
}

// U+FFFD in GB18030's four bytes: what a byte that is not UTF-8 becomes in a UTF-8 page.
const QByteArray kReplacement = "\x84\x31\xA4\x37";

struct PageCase {
    const char* name;
    QByteArray contentType;
    QByteArray body;
    QByteArray text; // what the run reads of the page
};

void PrintTo(const PageCase& c, std::ostream* out) {
    *out << c.name;
}

class HostilePages : public testing::TestWithParam<PageCase> {};

// Bytes that are not what the page says they are reach the run as the list's code page, up to
// the page's first zero byte, with no byte swallowed and none made up.
TEST_P(HostilePages, ReachTheRunInTheListCodePage) {
    const PageCase& c = GetParam();
    LoopbackServer server([&](const auto&) { return LoopbackServer::ok(c.body, c.contentType); });
    const Fetched fetched = fetchFrom(server);
    EXPECT_FALSE(fetched.watchdogFired);
    EXPECT_EQ(bytesToText(pageBytesInListCodePage(fetched.response)), c.text);
}

const QByteArray kNul("a\"\0b\"", 5);
const QByteArray kNotGbk = "\x81\x20|\xFF|\x80|\xFE\"x";
const QByteArray kNotUtf8 = "\xC0\xAF|\xED\xA0\x80|\xF4\x90\x80\x80|\xE4\xB8\"x";
const QByteArray kNotUtf8Converted = kReplacement.repeated(2) + '|' + kReplacement.repeated(3) +
                                     '|' + kReplacement.repeated(4) + '|' +
                                     kReplacement.repeated(2) + "\"x";
const QByteArray kMeta = "<meta charset=\"utf-8\">";
// 主 in UTF-8 and in code page 936.
const QByteArray kZhuUtf8 = "\xE4\xB8\xBB";
const QByteArray kZhuGbk = "\xD6\xF7";

INSTANTIATE_TEST_SUITE_P(
    Cases, HostilePages,
    testing::Values(PageCase{"nul_undeclared", "text/html", kNul, "a\""},
                    PageCase{"nul_declared_utf8", "text/html; charset=utf-8", kNul, "a\""},
                    PageCase{"nul_declared_gbk", "text/html; charset=gbk", kNul, "a\""},
                    PageCase{"not_gbk_undeclared", "text/html", kNotGbk, kNotGbk},
                    PageCase{"not_gbk_declared", "text/html; charset=gbk", kNotGbk, kNotGbk},
                    PageCase{"not_utf8_undeclared", "text/html", kNotUtf8, kNotUtf8},
                    PageCase{"not_utf8_declared", "text/html; charset=utf-8", kNotUtf8,
                             kNotUtf8Converted},
                    PageCase{"not_utf8_declared_in_the_page", "text/html", kMeta + kNotUtf8,
                             kMeta + kNotUtf8Converted},
                    // The cap falls on the first byte of a character: only that character is lost.
                    PageCase{"utf8_cut_by_the_cap", "text/html; charset=utf-8",
                             kZhuUtf8.repeated(30000), kZhuGbk.repeated(kCap / 3) + kReplacement},
                    PageCase{"utf16_cut_in_a_unit", "text/html; charset=utf-16le",
                             QByteArray("a\0b\0c", 5), "ab" + kReplacement}),
    [](const auto& info) { return std::string(info.param.name); });

// Two bytes a second pass the stall limit for ever; the page time-out ends the page with what
// had arrived.
TEST(HostileServer, SteadyDripEndsAtThePageTimeout) {
    const QByteArray body = repeatedTo("<p>drip</p>", 1000);
    LoopbackServer server(always(LoopbackServer::trickled(kHead, body, 500ms)));
    const HttpClient client({2s, 1s, kCap, kMiB, 3s});
    const Fetched fetched = fetchFrom(server, client);
    EXPECT_FALSE(fetched.watchdogFired);
    EXPECT_GE(fetched.elapsed, 3s);
    EXPECT_LT(fetched.elapsed, 3s + kEndsWithin) << seconds(fetched.elapsed) << " s";
    EXPECT_GE(fetched.response.body.size(), 3);
    EXPECT_LT(fetched.response.body.size(), body.size());
    EXPECT_TRUE(body.startsWith(fetched.response.body));
}

} // namespace
