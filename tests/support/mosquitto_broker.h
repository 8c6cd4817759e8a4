// A real Mosquitto broker for the MQTT tests and benchmark (Linux): a throw-away CA and server
// certificate made with openssl, a password file made with mosquitto_passwd, an access list, and the
// broker on 127.0.0.1 with TLS, started and killed by the test. Users: alice and bob read and write
// fleet/#, carol only reads it, dave may use other/# only; each one's password is "<user>-pw".
#pragma once

#include <filesystem>
#include <string>

#include "support/test_paths.h"

namespace vg::test {

class MosquittoBroker {
public:
    // Why the broker cannot run here (mosquitto, mosquitto_passwd or openssl missing); empty when it can.
    static std::string missing();

    MosquittoBroker();  // makes the files and starts the broker; ok() tells whether it listens
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    bool ok() const { return ok_; }
    int port() const { return port_; }
    std::filesystem::path ca_file() const { return dir_ / "ca.crt"; }
    const std::filesystem::path& dir() const { return dir_.path(); }
    // mqtts://USER@127.0.0.1:PORT/fleet
    std::string url(const std::string& user, const std::string& prefix = "fleet") const;

    void kill();     // SIGKILL, waited for
    bool restart();  // the same port and files; true when it listens again

private:
    bool launch();
    TempDir dir_;
    int port_ = 0;
    int pid_ = -1;
    bool ok_ = false;
};

}  // namespace vg::test
