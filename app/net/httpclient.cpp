#include "app/net/httpclient.h"

#include <curl/curl.h>

#include <memory>

namespace pennaro {

namespace {

// libcurl's global state: set up by the first fetch, cleaned up when the program ends.
class CurlLibrary final {
public:
    static void ensure() { static const CurlLibrary library; }

private:
    CurlLibrary() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlLibrary() { curl_global_cleanup(); }
};

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Transfer {
    HttpResponse response;
    qsizetype maxBodyBytes = 0;
    qsizetype headerBytesLeft = 0;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const qsizetype length = static_cast<qsizetype>(size * count);
    const qsizetype room = transfer->maxBodyBytes - transfer->response.body.size();
    if (length > room) {
        // Keep what fits; a short count ends the transfer.
        transfer->response.body.append(data, room);
        return 0;
    }
    transfer->response.body.append(data, length);
    return size * count;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const QByteArrayView line(data, static_cast<qsizetype>(size * count));
    transfer->headerBytesLeft -= line.size();
    if (transfer->headerBytesLeft < 0)
        return 0; // a short count ends the transfer
    constexpr QByteArrayView name = "content-type:";
    if (line.startsWith("HTTP/")) {
        // A new response, after a redirect: only the final one's headers count.
        transfer->response.contentType.clear();
    } else if (line.size() >= name.size() &&
               line.first(name.size()).compare(name, Qt::CaseInsensitive) == 0) {
        transfer->response.contentType = line.sliced(name.size()).trimmed().toByteArray();
    }
    return size * count;
}

} // namespace

HttpClient::HttpClient(Limits limits) : m_limits(limits) {}

const HttpClient& HttpClient::shared() {
    static const HttpClient client;
    return client;
}

HttpResponse HttpClient::get(const Text& url) const {
    if (url.isEmpty())
        return {};
    CurlLibrary::ensure();
    const std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    const std::unique_ptr<curl_slist, ListDeleter> headers(
        curl_slist_append(nullptr, "Accept: */*"));
    if (!handle || !headers)
        return {};
    CURL* curl = handle.get();
    Transfer transfer;
    transfer.maxBodyBytes = m_limits.maxBodyBytes;
    transfer.headerBytesLeft = m_limits.maxHeaderBytes;

    // libcurl sends the path and query as they stand (no dot-segment removal with PATH_AS_IS,
    // no re-encoding) and leaves the fragment out; a URL it cannot send fails the request.
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    // Each fetch on a connection of its own, closed before it returns.
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    // No alarm signals in a GUI program; libcurl's own resolver thread bounds lookups.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT,
                     static_cast<long>(m_limits.connectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>(m_limits.stallTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(m_limits.pageTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);

    // Whatever the outcome, the bytes that arrived are the result.
    curl_easy_perform(curl);
    return std::move(transfer.response);
}

Bytes fetchUrl(const Text& url) {
    return HttpClient::shared().get(url).body;
}

} // namespace pennaro
