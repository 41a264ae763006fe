#pragma once
// A database server reached through ODBC (unixODBC): the production Oracle
// database, or PostgreSQL. The connection string's Data Source names an
// ODBC data source (odbc.ini); its User ID and Password are passed to it.
//
// Statements go to the server as written, with one exception for servers
// that have no such thing: on PostgreSQL the bare pseudo-column SYSDATE
// becomes the call SYSDATE(), a function the PostgreSQL schema defines.
//
// The connection serves one caller at a time. A call made while another
// thread is using it waits for it at most 200 ms and then fails, so a
// server that does not answer never holds a second caller up. On
// PostgreSQL, abort() shuts the connection's socket down, which ends a
// call that a stopped server would never answer; other servers' calls end
// at their own time limit.
#include "Connection.h"
#include "DriverSocket.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace parking {

class OdbcConnection final : public Connection {
public:
    // Seconds a statement may run before it is cancelled.
    static constexpr int QueryTimeoutSeconds = 5;
    // How long a call waits for the connection while the probe holds it.
    static constexpr std::chrono::milliseconds BusyWait{200};
    // How often a statement the server rolled back for a concurrent
    // client runs again.
    static constexpr int SerializationRetries = 10;

    OdbcConnection();
    ~OdbcConnection() override;
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    void open(const QString& connectionString, const ConnectionOptions& options) override;
    bool isOpen() const override;
    Dialect dialect() const override;
    void execute(const QString& sql) override;
    std::unique_ptr<Recordset> query(const QString& sql, const Parameters& params) override;
    void run(const QString& sql, const Parameters& params) override;
    void begin() override;
    void commit() override;
    void rollback() override;
    void abort() override;
    void close() override;

    struct Handles;

private:
    std::shared_ptr<Handles> handles_;
    // The PostgreSQL connection's socket, when it could be told apart;
    // while a login runs, the sockets there were before it and the data
    // source's port, so that abort() can find the login's socket too.
    std::mutex socketMutex_;
    std::optional<SocketId> socket_;
    std::optional<std::vector<SocketId>> socketsBeforeLogin_;
    int port_ = 0;
};

} // namespace parking
