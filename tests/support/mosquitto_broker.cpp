#include "support/mosquitto_broker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/peers.h"
#include "support/run_program.h"

namespace vg::test {

namespace {

bool listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

std::string broker_program() { return have_tool("mosquitto") ? "mosquitto" : "/usr/sbin/mosquitto"; }

}  // namespace

std::string MosquittoBroker::missing() {
    if (!have_tool("mosquitto") && !std::filesystem::exists("/usr/sbin/mosquitto")) return "mosquitto is not installed";
    if (!have_tool("mosquitto_passwd")) return "mosquitto_passwd is not installed";
    if (!have_tool("openssl")) return "openssl is not installed";
    return {};
}

MosquittoBroker::MosquittoBroker() {
    if (!missing().empty()) return;
    const std::string d = dir_.path().string();
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string make =
        "(cd '" + d + "' && openssl req -x509" + ec + " -keyout ca.key -out ca.crt -days 2 -subj /CN=vg-test-ca" +
        " && openssl req" + ec + " -keyout server.key -out server.csr -subj /CN=127.0.0.1" +
        " && printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > san.ext" +
        " && openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt -days 2"
        " -extfile san.ext" +
        " && mosquitto_passwd -c -b passwd alice alice-pw && mosquitto_passwd -b passwd bob bob-pw" +
        " && mosquitto_passwd -b passwd carol carol-pw && mosquitto_passwd -b passwd dave dave-pw" +
        " && chmod 644 server.key passwd) >/dev/null 2>&1";
    if (run_shell(make).status != 0) return;
    write_file(dir_ / "acl",
               "user alice\ntopic readwrite fleet/#\n\nuser bob\ntopic readwrite fleet/#\n\n"
               "user carol\ntopic read fleet/#\n\nuser dave\ntopic readwrite other/#\n");
    port_ = free_loopback_port();
    write_file(dir_ / "mosquitto.conf",
               "per_listener_settings false\nallow_anonymous false\nuser root\npersistence false\n"
               "password_file " + d + "/passwd\nacl_file " + d + "/acl\nlog_dest file " + d + "/broker.log\n"
               "listener " + std::to_string(port_) + " 127.0.0.1\ncafile " + d + "/ca.crt\ncertfile " + d +
               "/server.crt\nkeyfile " + d + "/server.key\n");
    ok_ = launch();
}

MosquittoBroker::~MosquittoBroker() { kill(); }

bool MosquittoBroker::launch() {
    const std::string program = broker_program();
    const std::string conf = (dir_ / "mosquitto.conf").string();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::execlp(program.c_str(), program.c_str(), "-c", conf.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 100 && pid_ > 0; ++i) {
        if (listening(port_)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string MosquittoBroker::url(const std::string& user, const std::string& prefix) const {
    return "mqtts://" + user + "@127.0.0.1:" + std::to_string(port_) + "/" + prefix;
}

void MosquittoBroker::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

bool MosquittoBroker::restart() {
    kill();
    ok_ = launch();
    return ok_;
}

}  // namespace vg::test
