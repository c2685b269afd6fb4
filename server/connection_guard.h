// Keeps slow and greedy clients from holding the service: every connection gets a deadline for
// its request to arrive (and a longer one for the request to be handled), one client address
// may hold only so many connections, and beyond the service's capacity a client is told to
// come back later (503 with Retry-After) instead of finding its connection closed.
//
// The guard sits between Poco's TCP server and its HTTP connection: a connection filter admits
// or refuses each accepted socket, a wrapping connection runs Poco's HTTP connection, and a
// wrapping handler factory tells the guard when a request's head has arrived and when its
// reply is done. A watchdog thread shuts down the sockets whose deadline has passed, which ends
// their blocked reads.
#pragma once

#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Net/TCPServer.h>
#include <Poco/Net/TCPServerConnectionFactory.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace skylet {

struct GuardLimits {
    // Connections served at once (waiting, being handled or idle between requests); each
    // holds a thread.
    std::size_t maxConnections = 256;
    // Connections one client address may hold at once.
    std::size_t maxPerAddress = 16;
    // Time for a request's head to arrive (also the idle time allowed between requests).
    std::chrono::milliseconds requestTimeout{10'000};
    // Time for a request to be read and answered once its head is in (a 2 MiB upload from a
    // slow phone).
    std::chrono::milliseconds handlingTimeout{120'000};
    // What a refused client is told to wait before it tries again.
    int retryAfterSeconds = 5;
};

class ConnectionGuard : public std::enable_shared_from_this<ConnectionGuard> {
public:
    explicit ConnectionGuard(GuardLimits limits);
    ~ConnectionGuard();
    ConnectionGuard(const ConnectionGuard&) = delete;
    ConnectionGuard& operator=(const ConnectionGuard&) = delete;

    const GuardLimits& limits() const { return limits_; }

    // Called for each accepted socket. True: it goes on to a connection, which serves it
    // (possibly after the oldest connection of the same address still waiting for its request
    // was shut down to make room) or, when the service is full, answers 503 with Retry-After.
    // False: even the refusals are at their bound; the socket is to be closed at once.
    bool admit(const Poco::Net::StreamSocket& socket);
    // Whether an admitted socket was marked to be refused.
    bool refused(const Poco::Net::StreamSocket& socket);
    void requestStarted(const Poco::Net::StreamSocket& socket);
    void requestFinished(const Poco::Net::StreamSocket& socket);
    void release(const Poco::Net::StreamSocket& socket);

    // Requests whose head has arrived and whose reply is not yet done.
    std::size_t requestsInFlight();
    // Waits until no request is in flight or `limit` has passed; true when none is left.
    bool waitForIdle(std::chrono::milliseconds limit);
    // Shuts down every connection (after a drain).
    void shutDownAll();

private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        Poco::Net::StreamSocket socket;
        std::string address;
        Clock::time_point opened;
        Clock::time_point deadline;
        bool handling = false;
        bool refused = false;
        bool shutDown = false;
    };
    static std::uintptr_t keyOf(const Poco::Net::StreamSocket& socket);
    static void shutDown(Entry& entry);
    void watch();

    GuardLimits limits_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::uintptr_t, Entry> entries_;
    std::size_t inFlight_ = 0;
    bool stopping_ = false;
    std::thread watchdog_;
};

// A Poco TCP server for HTTP whose connections go through the guard.
std::unique_ptr<Poco::Net::TCPServer> makeGuardedHttpServer(
    std::shared_ptr<ConnectionGuard> guard, Poco::Net::HTTPRequestHandlerFactory::Ptr handlers,
    const Poco::Net::ServerSocket& socket, Poco::Net::HTTPServerParams::Ptr params,
    Poco::ThreadPool& threads);

}  // namespace skylet
