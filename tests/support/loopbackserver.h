#pragma once

#include <QByteArray>
#include <QList>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace pennaro::testing {

// An HTTP server on 127.0.0.1 for tests: it records every request as it arrived and answers
// with whatever bytes the test's handler gives, one connection at a time, on its own thread.
class LoopbackServer final {
public:
    struct Request {
        QByteArray raw;         // request line and headers, as received
        QByteArray requestLine; // e.g. "GET /f?kw=a&pn=0 HTTP/1.0"
        QByteArray target;      // e.g. "/f?kw=a&pn=0"
        QList<QByteArray> headers;
        // The value of a query key of the target ("" when absent).
        QByteArray query(QByteArrayView key) const;
    };
    struct Reply {
        QByteArray bytes;  // sent as they are: status line, headers, body
        bool hold = false; // keep the connection open without closing until the server stops
    };
    using Handler = std::function<Reply(const Request&)>;

    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    quint16 port() const { return m_port; }
    QByteArray host() const; // "127.0.0.1:port"
    QList<Request> requests() const;

    // A complete response; the body as it is, with a Content-Type when one is given.
    static Reply ok(const QByteArray& body, const QByteArray& contentType = {}, int status = 200);

private:
    void serve();
    void handle(int connection);

    Handler m_handler;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    QList<Request> m_requests;
    std::thread m_thread;
};

} // namespace pennaro::testing
