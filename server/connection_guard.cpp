#include "server/connection_guard.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPServerConnection.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/TCPServerConnection.h>

namespace skylet {
namespace {

using Poco::Net::StreamSocket;

// The socket of the connection this thread serves, so that the handler factory (which only
// sees the request) can tell the guard which connection a request belongs to.
thread_local StreamSocket* currentSocket = nullptr;

// Connections answered with 503 at once at most.
constexpr std::size_t kMaxRefusing = 64;

class GuardedHandler : public Poco::Net::HTTPRequestHandler {
public:
    GuardedHandler(std::shared_ptr<ConnectionGuard> guard, StreamSocket socket,
                   Poco::Net::HTTPRequestHandler* inner)
        : guard_(std::move(guard)), socket_(std::move(socket)), inner_(inner) {}
    ~GuardedHandler() override { guard_->requestFinished(socket_); }
    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override {
        inner_->handleRequest(request, response);
    }

private:
    std::shared_ptr<ConnectionGuard> guard_;
    StreamSocket socket_;
    std::unique_ptr<Poco::Net::HTTPRequestHandler> inner_;
};

class GuardedHandlerFactory : public Poco::Net::HTTPRequestHandlerFactory {
public:
    GuardedHandlerFactory(std::shared_ptr<ConnectionGuard> guard,
                          Poco::Net::HTTPRequestHandlerFactory::Ptr inner)
        : guard_(std::move(guard)), inner_(std::move(inner)) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(
        const Poco::Net::HTTPServerRequest& request) override {
        Poco::Net::HTTPRequestHandler* handler = inner_->createRequestHandler(request);
        if (!currentSocket || !handler)
            return handler;
        guard_->requestStarted(*currentSocket);
        return new GuardedHandler(guard_, *currentSocket, handler);
    }

private:
    std::shared_ptr<ConnectionGuard> guard_;
    Poco::Net::HTTPRequestHandlerFactory::Ptr inner_;
};

// Answers a refused client: 503 with Retry-After, then reads a little of what it sent so that
// closing the socket does not reset the connection before the client has read the answer.
void refuse(StreamSocket& socket, int retryAfterSeconds) {
    const std::string body = "The service is busy. Please try again shortly.\n";
    const std::string reply =
        "HTTP/1.1 503 Service Unavailable\r\nRetry-After: " + std::to_string(retryAfterSeconds) +
        "\r\nContent-Type: text/plain; charset=us-ascii\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    try {
        socket.setSendTimeout(Poco::Timespan(2, 0));
        socket.sendBytes(reply.data(), int(reply.size()));
        socket.shutdownSend();
        socket.setReceiveTimeout(Poco::Timespan(0, 300'000));
        char scratch[16384];
        for (int total = 0; total < (1 << 20);) {
            const int got = socket.receiveBytes(scratch, sizeof scratch);
            if (got <= 0)
                break;
            total += got;
        }
    } catch (const Poco::Exception&) {
    }
}

class GuardedConnection : public Poco::Net::TCPServerConnection {
public:
    GuardedConnection(const StreamSocket& socket, std::shared_ptr<ConnectionGuard> guard,
                      Poco::Net::HTTPServerParams::Ptr params,
                      Poco::Net::HTTPRequestHandlerFactory::Ptr handlers)
        : TCPServerConnection(socket),
          guard_(std::move(guard)),
          params_(std::move(params)),
          handlers_(std::move(handlers)) {}
    ~GuardedConnection() override { guard_->release(socket()); }

    void run() override {
        if (guard_->refused(socket())) {
            refuse(socket(), guard_->limits().retryAfterSeconds);
            return;
        }
        currentSocket = &socket();
        try {
            Poco::Net::HTTPServerConnection http(socket(), params_, handlers_);
            http.run();
        } catch (...) {
            currentSocket = nullptr;
            throw;
        }
        currentSocket = nullptr;
    }

private:
    std::shared_ptr<ConnectionGuard> guard_;
    Poco::Net::HTTPServerParams::Ptr params_;
    Poco::Net::HTTPRequestHandlerFactory::Ptr handlers_;
};

class GuardedConnectionFactory : public Poco::Net::TCPServerConnectionFactory {
public:
    GuardedConnectionFactory(std::shared_ptr<ConnectionGuard> guard,
                             Poco::Net::HTTPServerParams::Ptr params,
                             Poco::Net::HTTPRequestHandlerFactory::Ptr handlers)
        : guard_(std::move(guard)), params_(std::move(params)), handlers_(std::move(handlers)) {}
    Poco::Net::TCPServerConnection* createConnection(const StreamSocket& socket) override {
        return new GuardedConnection(socket, guard_, params_, handlers_);
    }

private:
    std::shared_ptr<ConnectionGuard> guard_;
    Poco::Net::HTTPServerParams::Ptr params_;
    Poco::Net::HTTPRequestHandlerFactory::Ptr handlers_;
};

class GuardFilter : public Poco::Net::TCPServerConnectionFilter {
public:
    explicit GuardFilter(std::shared_ptr<ConnectionGuard> guard) : guard_(std::move(guard)) {}
    bool accept(const StreamSocket& socket) override { return guard_->admit(socket); }

private:
    std::shared_ptr<ConnectionGuard> guard_;
};

}  // namespace

ConnectionGuard::ConnectionGuard(GuardLimits limits)
    : limits_(limits), watchdog_([this] { watch(); }) {}

ConnectionGuard::~ConnectionGuard() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    watchdog_.join();
}

std::uintptr_t ConnectionGuard::keyOf(const StreamSocket& socket) {
    return reinterpret_cast<std::uintptr_t>(socket.impl());
}

void ConnectionGuard::shutDown(Entry& entry) {
    if (entry.shutDown)
        return;
    entry.shutDown = true;
    try {
        entry.socket.shutdown();
    } catch (const Poco::Exception&) {
    }
}

bool ConnectionGuard::admit(const StreamSocket& socket) {
    std::string address;
    try {
        address = socket.peerAddress().host().toString();
    } catch (const Poco::Exception&) {
    }
    const auto now = Clock::now();
    std::lock_guard lock(mutex_);
    Entry entry{socket, address, now, now + limits_.requestTimeout};

    // One address at its limit: its oldest connection still waiting for a request head makes
    // room (a client that trickles bytes loses to one that sends its request). Connections
    // busy with a request are never cut for this.
    std::size_t fromAddress = 0;
    Entry* oldestWaiting = nullptr;
    for (auto& [key, other] : entries_) {
        if (other.address != address || other.refused || other.shutDown)
            continue;
        ++fromAddress;
        if (!other.handling && (!oldestWaiting || other.opened < oldestWaiting->opened))
            oldestWaiting = &other;
    }
    std::size_t open = 0;
    for (const auto& [key, other] : entries_)
        open += !other.refused && !other.shutDown;
    if (fromAddress >= limits_.maxPerAddress || open >= limits_.maxConnections) {
        if (oldestWaiting && fromAddress >= limits_.maxPerAddress) {
            shutDown(*oldestWaiting);
        } else {
            // Refusals are answered by connections of their own, up to a bound; past it the
            // socket is closed at once (a flood no answer would help).
            if (entries_.size() - open >= kMaxRefusing)
                return false;
            entry.refused = true;
        }
    }
    entries_[keyOf(socket)] = std::move(entry);
    return true;
}

bool ConnectionGuard::refused(const StreamSocket& socket) {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(keyOf(socket));
    return found != entries_.end() && found->second.refused;
}

void ConnectionGuard::requestStarted(const StreamSocket& socket) {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(keyOf(socket));
    if (found == entries_.end() || found->second.handling)
        return;
    found->second.handling = true;
    found->second.deadline = Clock::now() + limits_.handlingTimeout;
    ++inFlight_;
}

void ConnectionGuard::requestFinished(const StreamSocket& socket) {
    {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(keyOf(socket));
        if (found == entries_.end() || !found->second.handling)
            return;
        found->second.handling = false;
        found->second.deadline = Clock::now() + limits_.requestTimeout;
        --inFlight_;
    }
    changed_.notify_all();
}

void ConnectionGuard::release(const StreamSocket& socket) {
    {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(keyOf(socket));
        if (found == entries_.end())
            return;
        if (found->second.handling)
            --inFlight_;
        entries_.erase(found);
    }
    changed_.notify_all();
}

std::size_t ConnectionGuard::requestsInFlight() {
    std::lock_guard lock(mutex_);
    return inFlight_;
}

bool ConnectionGuard::waitForIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return inFlight_ == 0; });
}

void ConnectionGuard::shutDownAll() {
    std::lock_guard lock(mutex_);
    for (auto& [key, entry] : entries_)
        shutDown(entry);
}

void ConnectionGuard::watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        changed_.wait_for(lock, std::chrono::milliseconds(200));
        const auto now = Clock::now();
        for (auto& [key, entry] : entries_)
            if (now > entry.deadline)
                shutDown(entry);
    }
}

std::unique_ptr<Poco::Net::TCPServer> makeGuardedHttpServer(
    std::shared_ptr<ConnectionGuard> guard, Poco::Net::HTTPRequestHandlerFactory::Ptr handlers,
    const Poco::Net::ServerSocket& socket, Poco::Net::HTTPServerParams::Ptr params,
    Poco::ThreadPool& threads) {
    Poco::Net::HTTPRequestHandlerFactory::Ptr guarded(
        new GuardedHandlerFactory(guard, std::move(handlers)));
    auto server = std::make_unique<Poco::Net::TCPServer>(
        new GuardedConnectionFactory(guard, params, guarded), threads, socket, params);
    server->setConnectionFilter(new GuardFilter(guard));
    return server;
}

}  // namespace skylet
