#pragma once

#include "runtime/core/textdefs.h"

#include <chrono>

namespace pennaro {

struct HttpResponse {
    Bytes body;
    // The Content-Type header of the final response (after redirects) as sent; "" for none.
    QByteArray contentType;
};

// Fetches listing pages: one plain GET per call, HTTP/1.0 on a connection of its own, blocking
// until the body is read or the request has failed. Any body is the result, whatever the
// status; what arrived before a failure is kept; nothing received is the empty body.
//
// The limits keep a server from holding the program: a connection must be made within
// `connectTimeout`, a transfer that delivers less than a byte a second for `stallTimeout`
// ends, and reading stops at `maxBodyBytes`. In each case the bytes read so far are the body.
// The header lines of one fetch, those of redirects and the trailers of a chunked body
// included, end it once they pass `maxHeaderBytes`: libcurl keeps each line until the fetch
// ends, and nothing but the stall limit would bound trailers that keep coming.
// A page that is still arriving after `pageTimeout`, however steadily, ends there too: the
// window takes no input during a fetch, and a server that drips a few bytes a second would
// otherwise hold it until the body cap, for months.
class HttpClient final {
public:
    struct Limits {
        std::chrono::seconds connectTimeout{30};
        std::chrono::seconds stallTimeout{60};
        qsizetype maxBodyBytes = qsizetype(64) * 1024 * 1024;
        qsizetype maxHeaderBytes = qsizetype(1) * 1024 * 1024;
        std::chrono::seconds pageTimeout{300};
    };

    HttpClient() : HttpClient(Limits{}) {}
    explicit HttpClient(Limits limits);

    // An empty URL gives the empty response and makes no request.
    HttpResponse get(const Text& url) const;

    const Limits& limits() const { return m_limits; }

    // The program's one client, with the production limits.
    static const HttpClient& shared();

    static constexpr char kUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

private:
    Limits m_limits;
};

// The body of an HTTP GET of `url` from the program's client.
Bytes fetchUrl(const Text& url);

} // namespace pennaro
