#include "tests/support/loopbackserver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace pennaro::testing {

namespace {

constexpr qsizetype kMaxHead = 1024 * 1024;

QByteArray statusLine(int status) {
    const char* reason = "Status";
    switch (status) {
    case 200:
        reason = "OK";
        break;
    case 301:
        reason = "Moved Permanently";
        break;
    case 302:
        reason = "Found";
        break;
    case 404:
        reason = "Not Found";
        break;
    case 500:
        reason = "Internal Server Error";
        break;
    default:
        break;
    }
    return "HTTP/1.0 " + QByteArray::number(status) + ' ' + reason + "\r\n";
}

} // namespace

QByteArray LoopbackServer::Request::query(QByteArrayView key) const {
    const qsizetype q = target.indexOf('?');
    if (q < 0)
        return {};
    for (const QByteArray& pair : target.mid(q + 1).split('&')) {
        const qsizetype eq = pair.indexOf('=');
        if (QByteArrayView(pair).first(eq < 0 ? pair.size() : eq) == key)
            return eq < 0 ? QByteArray() : pair.mid(eq + 1);
    }
    return {};
}

QByteArray LoopbackServer::Request::header(QByteArrayView name) const {
    for (const QByteArray& line : headers) {
        const qsizetype colon = line.indexOf(':');
        if (colon >= 0 &&
            QByteArrayView(line).first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

LoopbackServer::Reply LoopbackServer::ok(const QByteArray& body, const QByteArray& contentType,
                                         int status) {
    QList<QByteArray> headers;
    if (!contentType.isEmpty())
        headers << "Content-Type: " + contentType;
    headers << "Content-Length: " + QByteArray::number(body.size());
    return response(status, headers, body);
}

LoopbackServer::Reply LoopbackServer::response(int status, const QList<QByteArray>& headers,
                                               const QByteArray& body) {
    QByteArray bytes = statusLine(status);
    for (const QByteArray& header : headers)
        bytes += header + "\r\n";
    return raw(bytes + "\r\n" + body);
}

LoopbackServer::Reply LoopbackServer::raw(const QByteArray& bytes) {
    Reply reply;
    reply.bytes = bytes;
    return reply;
}

LoopbackServer::Reply LoopbackServer::redirect(const QByteArray& location, int status) {
    return response(status, {"Location: " + location, "Content-Length: 0"}, {});
}

LoopbackServer::Reply LoopbackServer::silent() {
    return stalled({});
}

LoopbackServer::Reply LoopbackServer::stalled(const QByteArray& bytes) {
    Reply reply = raw(bytes);
    reply.end = Reply::End::Hold;
    return reply;
}

LoopbackServer::Reply LoopbackServer::trickled(const QByteArray& head, const QByteArray& body,
                                               std::chrono::milliseconds interval) {
    Reply reply = raw(head);
    reply.trickle = body;
    reply.trickleInterval = interval;
    return reply;
}

LoopbackServer::Reply LoopbackServer::endless(const QByteArray& head, const QByteArray& chunk) {
    Reply reply = raw(head);
    reply.end = Reply::End::Endless;
    reply.endlessChunk = chunk;
    return reply;
}

LoopbackServer::Reply LoopbackServer::generated(const QByteArray& head, qint64 size,
                                                const QByteArray& chunk) {
    Reply reply = endless(head, chunk);
    reply.endlessBytes = size;
    return reply;
}

LoopbackServer::Reply LoopbackServer::reset(const QByteArray& bytes) {
    Reply reply = raw(bytes);
    reply.end = Reply::End::Reset;
    return reply;
}

LoopbackServer::LoopbackServer(Handler handler) : m_handler(std::move(handler)) {
    const auto fail = [this](const char* what) {
        const int error = errno;
        for (const int fd : {m_listener, m_wake[0], m_wake[1]})
            if (fd >= 0)
                ::close(fd);
        throw std::system_error(error, std::generic_category(), what);
    };
    if (::pipe2(m_wake, O_CLOEXEC) != 0)
        fail("pipe2");
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (m_listener < 0 ||
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 64) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        fail("listening on 127.0.0.1");
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

void LoopbackServer::stop() {
    // The wake pipe stays readable from here on, which ends every wait of every thread.
    const char byte = 0;
    while (::write(m_wake[1], &byte, 1) < 0 && errno == EINTR) {
    }
}

LoopbackServer::~LoopbackServer() {
    stop();
    m_acceptThread.join();
    for (Connection& connection : m_connections)
        connection.thread.join();
    ::close(m_listener);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

QByteArray LoopbackServer::host() const {
    return "127.0.0.1:" + QByteArray::number(m_port);
}

QByteArray LoopbackServer::url(QByteArrayView target) const {
    return "http://" + host() + target.toByteArray();
}

QList<LoopbackServer::Request> LoopbackServer::requests() const {
    std::lock_guard lock(m_requestsMutex);
    return m_requests;
}

LoopbackServer::Wait LoopbackServer::waitFor(int socket, short events, int timeoutMs) {
    pollfd fds[2] = {{m_wake[0], POLLIN, 0}, {socket, events, 0}};
    while (true) {
        const int ready = ::poll(fds, socket < 0 ? 1 : 2, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || fds[0].revents != 0)
            return Wait::Stopped;
        return ready == 0 ? Wait::TimedOut : Wait::Ready;
    }
}

void LoopbackServer::acceptLoop() {
    while (waitFor(m_listener, POLLIN, -1) == Wait::Ready) {
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (socket < 0)
            continue;
        ++m_connectionCount;
        // Finished connections go at once, so that a long test does not pile up threads.
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if (it->done) {
                it->thread.join();
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
        Connection& connection = m_connections.emplace_back();
        connection.thread = std::thread([this, socket, &connection] {
            serve(socket);
            ::close(socket);
            connection.done = true;
        });
    }
}

bool LoopbackServer::readHead(int socket, QByteArray& head) {
    char buffer[4096];
    while (!head.contains("\r\n\r\n") && !head.contains("\n\n")) {
        if (head.size() > kMaxHead || waitFor(socket, POLLIN, -1) != Wait::Ready)
            return false;
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0)
            return false;
        head.append(buffer, got);
    }
    return true;
}

bool LoopbackServer::sendAll(int socket, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t sent = ::send(socket, bytes.data(), static_cast<size_t>(bytes.size()),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            bytes = bytes.sliced(sent);
        } else if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (waitFor(socket, POLLOUT, -1) != Wait::Ready)
                return false;
        } else {
            return false; // the client has gone
        }
    }
    return true;
}

void LoopbackServer::holdUntilHangUp(int socket) {
    char buffer[4096];
    while (waitFor(socket, POLLIN, -1) == Wait::Ready) {
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
            return;
    }
}

bool LoopbackServer::sendRepeated(int socket, const QByteArray& chunk, qint64 size) {
    // Whole chunks, so the body stays the chunk repeated however the sends fall.
    const QByteArray block = chunk.repeated(std::max<qsizetype>(1, 16384 / chunk.size()));
    if (size < 0) {
        while (sendAll(socket, block)) {
        }
        return false;
    }
    for (; size >= block.size(); size -= block.size())
        if (!sendAll(socket, block))
            return false;
    return sendAll(socket, QByteArrayView(block).first(static_cast<qsizetype>(size)));
}

void LoopbackServer::serve(int socket) {
    QByteArray head;
    if (!readHead(socket, head))
        return;
    Request request;
    const qsizetype end = head.indexOf("\r\n\r\n");
    request.raw = end >= 0 ? head.left(end + 4) : head.left(head.indexOf("\n\n") + 2);
    const QList<QByteArray> lines = request.raw.trimmed().split('\n');
    request.requestLine = lines.value(0).trimmed();
    request.target = request.requestLine.split(' ').value(1);
    for (qsizetype i = 1; i < lines.size(); ++i)
        request.headers << lines[i].trimmed();
    {
        std::lock_guard lock(m_requestsMutex);
        m_requests << request;
    }
    Reply reply;
    {
        std::lock_guard lock(m_handlerMutex);
        reply = m_handler(request);
    }

    if (!sendAll(socket, reply.bytes))
        return;
    for (qsizetype i = 0; i < reply.trickle.size(); ++i) {
        if (i > 0 &&
            waitFor(-1, 0, static_cast<int>(reply.trickleInterval.count())) == Wait::Stopped)
            return;
        if (!sendAll(socket, QByteArrayView(reply.trickle).sliced(i, 1)))
            return;
    }
    switch (reply.end) {
    case Reply::End::Close:
        // A FIN, then wait for the client's: closing with a request byte unread would send a
        // reset, which can cost the client what it has not read yet.
        ::shutdown(socket, SHUT_WR);
        holdUntilHangUp(socket);
        break;
    case Reply::End::Hold:
        holdUntilHangUp(socket);
        break;
    case Reply::End::Endless:
        if (reply.endlessChunk.isEmpty() ||
            !sendRepeated(socket, reply.endlessChunk, reply.endlessBytes))
            return;
        ::shutdown(socket, SHUT_WR);
        holdUntilHangUp(socket);
        break;
    case Reply::End::Reset: {
        // A zero linger time turns the close into a reset.
        const linger abort{1, 0};
        ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        break;
    }
    }
}

} // namespace pennaro::testing
