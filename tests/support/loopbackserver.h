#pragma once

#include <QByteArray>
#include <QList>

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace pennaro::testing {

// An HTTP server on 127.0.0.1, on a port of its own, for tests. It records every request head
// as it arrived and answers each connection, on a thread of its own, with the Reply that the
// test's handler gives (handler calls never overlap). The destructor ends every connection at
// once, held and endless ones too; so does stop(), from any thread.
class LoopbackServer final {
public:
    struct Request {
        QByteArray raw;            // the request head as received, blank line included
        QByteArray requestLine;    // e.g. "GET /f?kw=a&pn=0 HTTP/1.0"
        QByteArray target;         // e.g. "/f?kw=a&pn=0"
        QList<QByteArray> headers; // the header lines in order, e.g. "Accept: */*"

        // The value of a query key of the target ("" when absent).
        QByteArray query(QByteArrayView key) const;
        // The value of the first header of that name, any letter case ("" when absent).
        QByteArray header(QByteArrayView name) const;
    };

    // What the server does on a connection: it sends `bytes` at once, then `trickle` one byte
    // at a time, `trickleInterval` apart, then ends as `end` says.
    struct Reply {
        enum class End {
            Close,   // closes the connection
            Hold,    // sends nothing more until the client hangs up or the server stops
            Endless, // sends `endlessChunk` over and over until the client or the server goes,
                     // or, with `endlessBytes` set, until that many bytes of it, then closes
            Reset,   // drops the connection with a reset instead of a close
        };
        QByteArray bytes;
        QByteArray trickle;
        std::chrono::milliseconds trickleInterval{0};
        End end = End::Close;
        QByteArray endlessChunk = "0123456789";
        qint64 endlessBytes = -1;
    };
    using Handler = std::function<Reply(const Request&)>;

    // A complete response with a Content-Length, and a Content-Type when one is given.
    static Reply ok(const QByteArray& body, const QByteArray& contentType = {}, int status = 200);
    // A status line, exactly these header lines, and the body up to the close.
    static Reply response(int status, const QList<QByteArray>& headers, const QByteArray& body);
    // Exactly these bytes, then the close: a head or a body cut short.
    static Reply raw(const QByteArray& bytes);
    static Reply redirect(const QByteArray& location, int status = 302);
    // Reads the request and answers nothing.
    static Reply silent();
    // Sends these bytes and then nothing, keeping the connection open.
    static Reply stalled(const QByteArray& bytes);
    // Sends `head` at once, then `body` a byte at a time.
    static Reply trickled(const QByteArray& head, const QByteArray& body,
                          std::chrono::milliseconds interval);
    // Sends `head`, then a body that never ends: `chunk` over and over.
    static Reply endless(const QByteArray& head, const QByteArray& chunk = "0123456789");
    // Sends `head`, then `size` bytes of `chunk` over and over, then closes: a body of any size
    // that the server never holds in memory.
    static Reply generated(const QByteArray& head, qint64 size, const QByteArray& chunk);
    // Sends these bytes, then drops the connection with a reset.
    static Reply reset(const QByteArray& bytes);

    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();
    // Ends every connection at once; later ones wait unanswered in the listener's queue. The
    // port stays bound until the destructor, so no other server is handed it meanwhile.
    void stop();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    quint16 port() const { return m_port; }
    QByteArray host() const;                     // "127.0.0.1:port"
    QByteArray url(QByteArrayView target) const; // "http://127.0.0.1:port" + target
    QList<Request> requests() const;
    // Connections accepted, whether or not a request came on them.
    int connectionCount() const { return m_connectionCount; }

private:
    struct Connection {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    enum class Wait { Ready, TimedOut, Stopped };

    void acceptLoop();
    void serve(int socket);
    bool readHead(int socket, QByteArray& head);
    bool sendAll(int socket, QByteArrayView bytes);
    void holdUntilHangUp(int socket);
    bool sendRepeated(int socket, const QByteArray& chunk, qint64 size);
    Wait waitFor(int socket, short events, int timeoutMs);

    Handler m_handler;
    std::mutex m_handlerMutex;
    int m_listener = -1;
    int m_wake[2] = {-1, -1}; // readable once the server stops
    quint16 m_port = 0;
    std::atomic<int> m_connectionCount{0};
    mutable std::mutex m_requestsMutex;
    QList<Request> m_requests;
    std::list<Connection> m_connections; // the accept thread's, then the destructor's
    std::thread m_acceptThread;
};

} // namespace pennaro::testing
