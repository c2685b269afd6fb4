// Real servers on 127.0.0.1 for the delivery and service tests: our skyletd, the aiosmtpd mail
// server of smtp_server.py, and a listener that accepts connections and never answers.
#pragma once

#include <sys/types.h>

#include <Poco/JSON/Object.h>
#include <Poco/Net/ServerSocket.h>

#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/NameValueCollection.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tolvane::test {

// A child process with its standard output and error in files; stopped with SIGTERM (then
// SIGKILL) when the object goes away.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& logFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    pid_t pid() const { return pid_; }
    bool running();
    // Stops the process and returns its exit status (-1 when killed by a signal).
    int stop();

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

class SkyletServer {
public:
    struct Options {
        std::string relay = {};  // "host:port"; empty for none
        std::string relayUser = "relay-user";
        std::string relayPassword = "relay-secret";
        int expireDays = 30;
        std::vector<std::string> extraArguments = {};
    };
    explicit SkyletServer(const Options& options);
    SkyletServer() : SkyletServer(Options{}) {}

    // "http://127.0.0.1:PORT/"
    const std::string& baseUrl() const { return baseUrl_; }
    const std::filesystem::path& dataDir() const { return data_; }
    // Everything the server logged so far.
    std::string log() const;
    // Marks the account as created long ago, so that its next request finds it expired.
    void ageAccount(const std::string& number) const;

private:
    std::filesystem::path root_;
    std::filesystem::path data_;
    std::string baseUrl_;
    std::unique_ptr<ChildProcess> process_;
};

class SmtpServer {
public:
    static constexpr const char* kUser = "relay-user";
    static constexpr const char* kPassword = "relay-secret";

    // `refuse`: "", "auth1", "auth2", "auth3", "mail", "rcpt" or "data".
    explicit SmtpServer(const std::string& refuse = {});

    // "127.0.0.1:PORT", the relay host text the service hands out.
    std::string hostText() const { return "127.0.0.1:" + std::to_string(port_); }
    // The stored mails (.eml files) in the order received.
    std::vector<std::filesystem::path> mails() const;
    // A mail parsed by Python's email package (see smtp_server.py dump).
    static Poco::JSON::Object::Ptr parse(const std::filesystem::path& eml);
    // The envelope record stored beside a mail.
    static Poco::JSON::Object::Ptr envelope(const std::filesystem::path& eml);

private:
    std::filesystem::path root_;
    int port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

// Accepts TCP connections (through the listen backlog) and never says a word.
class SilentServer {
public:
    SilentServer();
    int port() const { return socket_.address().port(); }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port()) + "/"; }

private:
    Poco::Net::ServerSocket socket_;
};

// An HTTP server in this process that answers each path with a set text and records every
// request, for replies skyletd never gives (empty, binary, huge, "7", "abc").
class ScriptedHttpServer {
public:
    struct Request {
        std::string method;
        std::string uri;
        Poco::Net::NameValueCollection headers;
        std::string body;
    };
    struct Script {
        std::mutex mutex;
        std::map<std::string, std::string> replies;  // path -> reply body ("OK" otherwise)
        std::vector<Request> requests;
    };

    ScriptedHttpServer();
    ~ScriptedHttpServer();
    void reply(const std::string& path, const std::string& body);
    std::vector<Request> requests() const;
    std::string baseUrl() const;

private:
    std::shared_ptr<Script> script_;
    Poco::Net::ServerSocket socket_;
    std::unique_ptr<Poco::Net::HTTPServer> server_;
};

// The body of a GET of `url` (empty when the request fails).
std::string httpGet(const std::string& url);

// The Python interpreter that has aiosmtpd (the system one; a user's own Python may lack it).
std::string pythonWithAiosmtpd();

// Bytes that start like a file of the ringtone type (enough for the service's type check).
std::string ringtoneBytes(const std::string& extension, std::size_t size);

}  // namespace tolvane::test
