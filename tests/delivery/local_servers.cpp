#include "delivery/local_servers.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <Poco/JSON/Parser.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/StreamCopier.h>
#include <Poco/URI.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/test_support.h"

extern char** environ;

namespace tolvane::test {
namespace fs = std::filesystem;
namespace {

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path freshFolder(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a folder for " + prefix);
    return pattern;
}

// Waits until `ready` says yes, up to ten seconds.
template <typename Ready>
bool waitFor(Ready ready) {
    for (int i = 0; i < 200; ++i) {
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

fs::path sourceDir() {
    return fs::path(TOLVANE_SOURCE_DIR);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const fs::path& logFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int error = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + argv[0]);
}

bool ChildProcess::running() {
    if (pid_ < 0)
        return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int ChildProcess::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        const bool ended = waitFor([&] { return waitpid(pid_, &status_, WNOHANG) == pid_; });
        if (!ended) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status_, 0);
        }
        pid_ = -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

ChildProcess::~ChildProcess() {
    stop();
}

SkyletServer::SkyletServer(const Options& options) : root_(freshFolder("skyletd")) {
    data_ = root_ / "data";
    std::vector<std::string> argv = {(binDir() / "skyletd").string(),
                                     "--listen",
                                     "127.0.0.1:0",
                                     "--data",
                                     data_.string(),
                                     "--expire-days",
                                     std::to_string(options.expireDays)};
    if (!options.relay.empty()) {
        argv.insert(argv.end(), {"--relay", options.relay, "--relay-user", options.relayUser,
                                 "--relay-password", options.relayPassword});
    }
    argv.insert(argv.end(), options.extraArguments.begin(), options.extraArguments.end());
    process_ = std::make_unique<ChildProcess>(argv, root_ / "log");
    const std::regex listening(R"(listening on (http://[0-9.]+:[0-9]+/))");
    std::smatch match;
    const bool ready = waitFor([&] {
        const std::string text = log();
        if (std::regex_search(text, match, listening)) {
            baseUrl_ = match[1];
            return true;
        }
        return !process_->running();
    });
    if (!ready || baseUrl_.empty())
        throw std::runtime_error("skyletd did not start: " + log());
}

std::string SkyletServer::log() const {
    return readText(root_ / "log");
}

void SkyletServer::ageAccount(const std::string& number) const {
    const fs::path record = data_ / "accounts" / number / "account";
    std::string text = readText(record);
    text = std::regex_replace(text, std::regex("created [0-9]+"), "created 1000");
    std::ofstream(record, std::ios::trunc) << text;
}

std::string httpGet(const std::string& url) {
    try {
        const Poco::URI uri(url);
        Poco::Net::HTTPClientSession session(uri.getHost(), uri.getPort());
        Poco::Net::HTTPRequest request("GET", uri.getPathAndQuery(),
                                       Poco::Net::HTTPMessage::HTTP_1_1);
        session.sendRequest(request);
        Poco::Net::HTTPResponse response;
        std::string body;
        Poco::StreamCopier::copyToString(session.receiveResponse(response), body);
        return body;
    } catch (const Poco::Exception&) {
        return {};
    }
}

std::string pythonWithAiosmtpd() {
    return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

SmtpServer::SmtpServer(const std::string& refuse) : root_(freshFolder("smtpd")) {
    std::vector<std::string> argv = {pythonWithAiosmtpd(),
                                     (sourceDir() / "tests/delivery/smtp_server.py").string(),
                                     "serve",
                                     "--maildir",
                                     (root_ / "mail").string(),
                                     "--user",
                                     kUser,
                                     "--password",
                                     kPassword,
                                     "--ready-file",
                                     (root_ / "port").string()};
    if (!refuse.empty())
        argv.insert(argv.end(), {"--refuse", refuse});
    process_ = std::make_unique<ChildProcess>(argv, root_ / "log");
    const bool ready = waitFor([&] { return fs::exists(root_ / "port") || !process_->running(); });
    if (!ready || !fs::exists(root_ / "port"))
        throw std::runtime_error("the SMTP server did not start: " + readText(root_ / "log"));
    port_ = std::stoi(readText(root_ / "port"));
}

std::vector<fs::path> SmtpServer::mails() const {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root_ / "mail", ec))
        if (entry.path().extension() == ".eml")
            found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

Poco::JSON::Object::Ptr SmtpServer::parse(const fs::path& eml) {
    const auto result =
        run({pythonWithAiosmtpd(), (sourceDir() / "tests/delivery/smtp_server.py").string(), "dump",
             eml.string()});
    if (result.status != 0)
        throw std::runtime_error("cannot parse " + eml.string() + ": " + result.errors);
    return Poco::JSON::Parser().parse(result.output).extract<Poco::JSON::Object::Ptr>();
}

Poco::JSON::Object::Ptr SmtpServer::envelope(const fs::path& eml) {
    fs::path json = eml;
    json.replace_extension(".json");
    return Poco::JSON::Parser().parse(readText(json)).extract<Poco::JSON::Object::Ptr>();
}

namespace {

class ScriptedHandler : public Poco::Net::HTTPRequestHandler {
public:
    explicit ScriptedHandler(std::shared_ptr<ScriptedHttpServer::Script> script)
        : script_(std::move(script)) {}
    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override {
        ScriptedHttpServer::Request recorded;
        recorded.method = request.getMethod();
        recorded.uri = request.getURI();
        for (const auto& [name, value] : request)
            recorded.headers.add(name, value);
        Poco::StreamCopier::copyToString(request.stream(), recorded.body);
        std::string body = "OK";
        {
            std::lock_guard lock(script_->mutex);
            auto found = script_->replies.find(Poco::URI(request.getURI()).getPath());
            if (found != script_->replies.end())
                body = found->second;
            script_->requests.push_back(std::move(recorded));
        }
        response.setContentType("text/plain");
        response.setContentLength(std::streamsize(body.size()));
        response.send().write(body.data(), std::streamsize(body.size()));
    }

private:
    std::shared_ptr<ScriptedHttpServer::Script> script_;
};

class ScriptedFactory : public Poco::Net::HTTPRequestHandlerFactory {
public:
    explicit ScriptedFactory(std::shared_ptr<ScriptedHttpServer::Script> script)
        : script_(std::move(script)) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(
        const Poco::Net::HTTPServerRequest&) override {
        return new ScriptedHandler(script_);
    }

private:
    std::shared_ptr<ScriptedHttpServer::Script> script_;
};

}  // namespace

ScriptedHttpServer::ScriptedHttpServer()
    : script_(std::make_shared<Script>()), socket_(Poco::Net::SocketAddress("127.0.0.1", 0)) {
    server_ = std::make_unique<Poco::Net::HTTPServer>(new ScriptedFactory(script_), socket_,
                                                      new Poco::Net::HTTPServerParams);
    server_->start();
}

ScriptedHttpServer::~ScriptedHttpServer() {
    server_->stopAll(true);
}

void ScriptedHttpServer::reply(const std::string& path, const std::string& body) {
    std::lock_guard lock(script_->mutex);
    script_->replies[path] = body;
}

std::vector<ScriptedHttpServer::Request> ScriptedHttpServer::requests() const {
    std::lock_guard lock(script_->mutex);
    return script_->requests;
}

std::string ScriptedHttpServer::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(socket_.address().port()) + "/";
}

SilentServer::SilentServer() : socket_(Poco::Net::SocketAddress("127.0.0.1", 0), 16) {}

std::string ringtoneBytes(const std::string& extension, std::size_t size) {
    std::string head;
    if (extension == "amr")
        head = "#!AMR\n";
    else if (extension == "mmf")
        head = "MMMD";
    else if (extension == "wav")
        head = std::string("RIFF\0\0\0\0WAVE", 12);
    else if (extension == "qcp")
        head = std::string("RIFF\0\0\0\0QLCM", 12);
    else if (extension == "mp3")
        head = "ID3";
    std::string bytes = head;
    for (std::size_t i = bytes.size(); i < size; ++i)
        bytes += char((i * 131 + 7) & 0xFF);
    bytes.resize(size);
    return bytes;
}

}  // namespace tolvane::test
