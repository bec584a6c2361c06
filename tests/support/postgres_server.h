#pragma once
// A private PostgreSQL server for tests: a fresh cluster in a temporary folder,
// listening on 127.0.0.1 on a free port, gone with the object. Nothing is
// shared between two instances, so test processes may run side by side.

#include <arpa/inet.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

namespace karvelo::testing {

class PostgresServer {
  public:
    static constexpr const char* kDatabase = "plant";
    static constexpr const char* kUser = "bench";
    static constexpr const char* kPassword = "bench-secret";

    // Null with `problem` set when no server can be had here (no PostgreSQL
    // installed, or it would not start: then with the end of its log).
    static std::unique_ptr<PostgresServer> Start(std::string& problem) {
        std::unique_ptr<PostgresServer> server(new PostgresServer());
        server->bin_ = FindBinaries();
        if (server->bin_.empty()) {
            problem = "PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb)";
            return nullptr;
        }
        if (!server->PrepareFolder(problem)) return nullptr;
        if (!server->InitCluster(problem)) return nullptr;
        // The free port can be taken by someone else before the server binds
        // it; then another one is tried.
        for (int attempt = 0;; ++attempt) {
            server->port_ = FreePort();
            if (server->port_ <= 0) {
                problem = "no free TCP port on 127.0.0.1";
                return nullptr;
            }
            std::error_code ec;
            std::filesystem::remove(server->logFile(), ec);
            if (server->StartServer(problem)) break;
            if (attempt >= 4 || server->LogTail().find("already in use") == std::string::npos) {
                return nullptr;
            }
        }
        if (!server->CreateRoleAndDatabase(problem)) return nullptr;
        return server;
    }

    ~PostgresServer() {
        // Also after a start that failed half-way: a server may be running.
        if (dir_ && std::filesystem::exists(dataDir() + "/postmaster.pid")) {
            PgCtl({"-m", "immediate", "-w", "-t", "60", "stop"});
        }
    }
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Fast shutdown (open sessions are ended); returns once the server is down.
    bool Stop() {
        const karvelo::testing::ProcessResult r = PgCtl({"-m", "fast", "-w", "-t", "60", "stop"});
        if (r.exitCode != 0) {
            std::cerr << "PostgresServer: pg_ctl stop failed: " << r.err << LogTail();
            return false;
        }
        running_ = false;
        return true;
    }

    // Starts the server again on the same folder and port (stopping it first
    // when it runs); returns once it accepts connections.
    bool Restart() {
        if (running_ && !Stop()) return false;
        std::string problem;
        if (!StartServer(problem)) {
            std::cerr << "PostgresServer: restart failed: " << problem;
            return false;
        }
        return true;
    }

    int port() const { return port_; }

    std::string ConnectionString() const { return ConnectionString(kPassword); }
    std::string ConnectionString(const std::string& password) const {
        return "host=127.0.0.1 port=" + std::to_string(port_) + " dbname=" + kDatabase +
               " user=" + kUser + " password=" + ConnInfoValue(password) + " connect_timeout=5";
    }

    // Runs `sql` as the superuser in the test database; each row as its fields
    // joined by '|' (NULL as the empty string). An error fails the calling test.
    std::vector<std::string> Query(const std::string& sql) const {
        std::string error;
        PGconn* conn = ConnectAsSuperuser(kDatabase, error);
        if (conn == nullptr) {
            ADD_FAILURE() << "PostgresServer: cannot connect as superuser: " << error;
            return {};
        }
        std::vector<std::string> rows;
        PGresult* res = PQexec(conn, sql.c_str());
        const ExecStatusType status = PQresultStatus(res);
        if (status == PGRES_TUPLES_OK) {
            for (int r = 0; r < PQntuples(res); ++r) {
                std::string row;
                for (int c = 0; c < PQnfields(res); ++c) {
                    if (c > 0) row += '|';
                    if (!PQgetisnull(res, r, c)) row += PQgetvalue(res, r, c);
                }
                rows.push_back(row);
            }
        } else if (status != PGRES_COMMAND_OK) {
            ADD_FAILURE() << "PostgresServer: query failed: " << sql << "\n"
                          << PQerrorMessage(conn);
        }
        PQclear(res);
        PQfinish(conn);
        return rows;
    }

  private:
    static constexpr const char* kSuperuser = "postgres";

    PostgresServer() = default;

    std::string dataDir() const { return dir_->file("data"); }
    std::string logFile() const { return dir_->file("server.log"); }

    // The newest /usr/lib/postgresql/<version>/bin that has what is needed.
    static std::string FindBinaries() {
        std::error_code ec;
        int best = -1;
        std::string bin;
        for (const auto& e : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
            const std::string name = e.path().filename().string();
            if (name.empty() || name.size() > 4 ||
                !std::all_of(name.begin(), name.end(),
                             [](char c) { return c >= '0' && c <= '9'; })) {
                continue;
            }
            const std::string candidate = (e.path() / "bin").string();
            if (access((candidate + "/initdb").c_str(), X_OK) != 0 ||
                access((candidate + "/pg_ctl").c_str(), X_OK) != 0 ||
                access((candidate + "/postgres").c_str(), X_OK) != 0) {
                continue;
            }
            const int version = std::stoi(name);
            if (version > best) {
                best = version;
                bin = candidate;
            }
        }
        return bin;
    }

    // PostgreSQL refuses to run as root, so as root the tools run as the
    // `postgres` user (or `nobody`), who then must own the folder (data and
    // socket).
    bool PrepareFolder(std::string& problem) {
        dir_ = std::make_unique<karvelo::testing::TempDir>();
        if (geteuid() != 0) return true;
        const passwd* pw = getpwnam("postgres");
        if (pw == nullptr) pw = getpwnam("nobody");
        if (pw == nullptr) {
            problem =
                "running as root and there is no user `postgres` or `nobody` to run PostgreSQL";
            return false;
        }
        for (const char* candidate : {"/usr/sbin/runuser", "/sbin/runuser"}) {
            if (access(candidate, X_OK) == 0) {
                runuser_ = candidate;
                break;
            }
        }
        if (runuser_.empty()) {
            problem = "running as root and runuser is missing to run PostgreSQL as another user";
            return false;
        }
        runAs_ = pw->pw_name;
        if (chown(dir_->path().c_str(), pw->pw_uid, pw->pw_gid) != 0) {
            problem = "cannot hand the temporary folder to user " + runAs_;
            return false;
        }
        return true;
    }

    karvelo::testing::ProcessResult Tool(const std::string& name,
                                         const std::vector<std::string>& args) const {
        std::vector<std::string> argv;
        if (!runAs_.empty()) argv = {runuser_, "-u", runAs_, "--"};
        argv.push_back(bin_ + "/" + name);
        argv.insert(argv.end(), args.begin(), args.end());
        // The folder, not the test's own, which the other user may not enter.
        return karvelo::testing::RunProcess(argv, dir_->path().string(), {},
                                            std::chrono::seconds(90));
    }

    karvelo::testing::ProcessResult PgCtl(const std::vector<std::string>& args) const {
        std::vector<std::string> all = {"-D", dataDir()};
        all.insert(all.end(), args.begin(), args.end());
        return Tool("pg_ctl", all);
    }

    // Local (socket) connections are trusted so that the superuser needs no
    // password; TCP, which the code under test uses, asks for scram-sha-256.
    // The C locale keeps sorting and messages the same on every machine.
    bool InitCluster(std::string& problem) {
        const karvelo::testing::ProcessResult r =
            Tool("initdb", {"-D", dataDir(), "-U", kSuperuser, "--auth-local=trust",
                            "--auth-host=scram-sha-256", "-E", "UTF8", "--locale=C", "--no-sync"});
        if (r.exitCode != 0) {
            problem = "initdb failed:\n" + r.out + r.err;
            return false;
        }
        return true;
    }

    // fsync=off only makes it quicker: the data survive a server stop, just
    // not a crash of the machine.
    bool StartServer(std::string& problem) {
        const std::string options = "-p " + std::to_string(port_) + " -k '" +
                                    dir_->path().string() + "'" +
                                    " -c listen_addresses=127.0.0.1 -c fsync=off";
        const karvelo::testing::ProcessResult r =
            PgCtl({"-o", options, "-l", logFile(), "-w", "-t", "60", "start"});
        if (r.exitCode != 0) {
            problem = "PostgreSQL did not start (pg_ctl: " + r.out + r.err + "); its log ends:\n" +
                      LogTail();
            return false;
        }
        running_ = true;
        return true;
    }

    bool CreateRoleAndDatabase(std::string& problem) const {
        PGconn* conn = ConnectAsSuperuser("postgres", problem);
        if (conn == nullptr) return false;
        const std::string statements[] = {
            "SET password_encryption = 'scram-sha-256'",
            std::string("CREATE ROLE ") + kUser + " LOGIN PASSWORD '" + kPassword + "'",
            std::string("CREATE DATABASE ") + kDatabase + " OWNER " + kUser,
        };
        for (const std::string& sql : statements) {
            PGresult* res = PQexec(conn, sql.c_str());
            const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
            PQclear(res);
            if (!ok) {
                problem = sql + ": " + PQerrorMessage(conn);
                PQfinish(conn);
                return false;
            }
        }
        PQfinish(conn);
        return true;
    }

    // Through the unix socket in the private folder, where it is trusted.
    PGconn* ConnectAsSuperuser(const std::string& database, std::string& error) const {
        const std::string socketDir = dir_->path().string();
        const std::string port = std::to_string(port_);
        const char* keys[] = {"host", "port", "dbname", "user", "connect_timeout", nullptr};
        const char* values[] = {socketDir.c_str(), port.c_str(), database.c_str(),
                                kSuperuser,        "5",          nullptr};
        PGconn* conn = PQconnectdbParams(keys, values, 0);
        if (PQstatus(conn) != CONNECTION_OK) {
            error = PQerrorMessage(conn);
            PQfinish(conn);
            return nullptr;
        }
        // "table does not exist, skipping" and the like would only clutter the output.
        PQsetNoticeProcessor(
            conn, [](void*, const char*) {}, nullptr);
        return conn;
    }

    std::string LogTail(std::size_t lines = 20) const {
        std::ifstream in(logFile());
        std::deque<std::string> tail;
        for (std::string line; std::getline(in, line);) {
            tail.push_back(line);
            if (tail.size() > lines) tail.pop_front();
        }
        std::string text;
        for (const std::string& line : tail) text += line + "\n";
        return text;
    }

    // A port the kernel has just handed out as free; closed again at once.
    static int FreePort() {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return -1;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        int port = -1;
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
            port = ntohs(addr.sin_port);
        }
        close(fd);
        return port;
    }

    // A value in libpq's key=value form, quoted when it would not stand alone.
    static std::string ConnInfoValue(const std::string& value) {
        if (!value.empty() && value.find_first_of(" '\\\t\n") == std::string::npos) return value;
        std::string quoted = "'";
        for (const char c : value) {
            if (c == '\'' || c == '\\') quoted += '\\';
            quoted += c;
        }
        return quoted + "'";
    }

    std::unique_ptr<karvelo::testing::TempDir> dir_;
    std::string bin_;
    std::string runuser_;
    std::string runAs_;  // empty: the tools run as this process's user
    int port_ = 0;
    bool running_ = false;
};

}  // namespace karvelo::testing
