// The private PostgreSQL server the database tests run against: the test role
// logs in over TCP with its password only, and what it wrote survives a stop.

#include "support/postgres_server.h"

#include <libpq-fe.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace karvelo::testing {
namespace {

// Connects with `conninfo`; empty when it worked, else libpq's message.
std::string ConnectError(const std::string& conninfo, const std::string& sql = {}) {
    PGconn* conn = PQconnectdb(conninfo.c_str());
    std::string error;
    if (PQstatus(conn) != CONNECTION_OK) {
        error = PQerrorMessage(conn);
        if (error.empty()) error = "connection failed";
    } else if (!sql.empty()) {
        PGresult* res = PQexec(conn, sql.c_str());
        if (PQresultStatus(res) != PGRES_COMMAND_OK) error = PQerrorMessage(conn);
        PQclear(res);
    }
    PQfinish(conn);
    return error;
}

TEST(PostgresServer, RowsWrittenByTheTestRoleSurviveStopAndRestart) {
    std::string problem;
    const std::unique_ptr<PostgresServer> server = PostgresServer::Start(problem);
    if (!server) GTEST_SKIP() << problem;

    ASSERT_EQ(ConnectError(server->ConnectionString(),
                           "CREATE TABLE readings (id integer, value text, note text);"
                           "INSERT INTO readings VALUES (1, '42.5', NULL)"),
              "");
    EXPECT_EQ(server->Query("SELECT tableowner FROM pg_tables WHERE tablename = 'readings'"),
              std::vector<std::string>{"bench"});

    const int port = server->port();
    ASSERT_TRUE(server->Stop());
    EXPECT_NE(ConnectError(server->ConnectionString()), "");

    ASSERT_TRUE(server->Restart());
    EXPECT_EQ(server->port(), port);
    EXPECT_EQ(ConnectError(server->ConnectionString()), "");
    EXPECT_EQ(server->Query("SELECT id, value, note FROM readings"),
              std::vector<std::string>{"1|42.5|"});
}

TEST(PostgresServer, RefusesTheTestRoleAWrongPassword) {
    std::string problem;
    const std::unique_ptr<PostgresServer> server = PostgresServer::Start(problem);
    if (!server) GTEST_SKIP() << problem;

    EXPECT_EQ(ConnectError(server->ConnectionString()), "");
    EXPECT_NE(ConnectError(server->ConnectionString("not-the-secret"))
                  .find("password authentication failed"),
              std::string::npos);
    EXPECT_EQ(server->Query("SELECT rolpassword LIKE 'SCRAM-SHA-256$%' FROM pg_authid "
                            "WHERE rolname = 'bench'"),
              std::vector<std::string>{"t"});
}

}  // namespace
}  // namespace karvelo::testing
