#include "TestSupport.h"

#include "DatabaseError.h"
#include "MemoryRecordset.h"
#include "OdbcConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace parking::test {

namespace {

// A server connection whose SYSDATE reads the test's clock: the session's
// parking.now is set to it before every statement.
class ClockedConnection final : public Connection {
public:
    ClockedConnection(const Clock& clock) : clock_(clock) {}
    void open(const QString& cs, const ConnectionOptions& o) override { inner_.open(cs, o); }
    bool isOpen() const override { return inner_.isOpen(); }
    Dialect dialect() const override { return inner_.dialect(); }
    void execute(const QString& sql) override
    {
        sync();
        inner_.execute(sql);
    }
    std::unique_ptr<Recordset> query(const QString& sql, const Parameters& params) override
    {
        sync();
        return inner_.query(sql, params);
    }
    void run(const QString& sql, const Parameters& params) override
    {
        sync();
        inner_.run(sql, params);
    }
    void begin() override { inner_.begin(); }
    void commit() override { inner_.commit(); }
    void rollback() override { inner_.rollback(); }

private:
    void sync()
    {
        if (inner_.isOpen())
            inner_.execute(QStringLiteral("SET parking.now = '%1'").arg(clock_.now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    }
    const Clock& clock_;
    OdbcConnection inner_;
};

} // namespace

Backend testBackend()
{
    return qEnvironmentVariable("PARKING_TEST_BACKEND") == QLatin1String("postgresql") ? Backend::PostgreSQL
                                                                                        : Backend::Embedded;
}

TempDatabase::TempDatabase(const QDateTime& serverNow, Backend backend)
    : backend_(backend), path_(QDir(dir_.path()).filePath(QStringLiteral("test.db"))), serverClock_(serverNow)
{
    if (backend_ == Backend::Embedded)
        SqliteConnection::createDatabase(path_, serverClock_);
    connection_ = openAnother();
    if (backend_ == Backend::PostgreSQL) {
        // A fresh schema for every test: nothing a test changed (rows, or a
        // table moved away to provoke an error) reaches the next one.
        QFile schema(QStringLiteral(PARKING_SOURCE_DIR "/schema/postgresql/schema.sql"));
        if (!schema.open(QIODevice::ReadOnly))
            throw DatabaseError(QStringLiteral("cannot read ") + schema.fileName());
        connection_->execute(QStringLiteral("DROP SCHEMA IF EXISTS public CASCADE"));
        connection_->execute(QStringLiteral("CREATE SCHEMA public"));
        connection_->execute(QString::fromUtf8(schema.readAll()));
    }
}

QString TempDatabase::sid() const
{
    return backend_ == Backend::Embedded ? QStringLiteral("sqlite:test.db") : QStringLiteral("parking_test");
}

QString TempDatabase::connectionString() const
{
    if (backend_ == Backend::Embedded)
        return QStringLiteral("User ID=vexlor1;Data Source=sqlite:") + path_;
    return QStringLiteral("Password=r7Tq2xLm;User ID=vexlor1;Data Source=parking_test");
}

std::shared_ptr<Connection> TempDatabase::makeConnection() const
{
    if (backend_ == Backend::Embedded)
        return std::make_shared<SqliteConnection>(serverClock_, dir_.path());
    return std::make_shared<ClockedConnection>(serverClock_);
}

std::shared_ptr<Connection> TempDatabase::openAnother() const
{
    auto c = makeConnection();
    c->open(connectionString(), {});
    return c;
}

QVariant TempDatabase::scalar(const QString& sql) const
{
    auto rs = connection_->query(sql, {});
    if (!rs->hasRow())
        return {};
    auto* memory = dynamic_cast<MemoryRecordset*>(rs.get());
    return memory ? memory->field(memory->columns().front()) : QVariant();
}

void RecordingConnection::execute(const QString& sql)
{
    calls.push_back({sql, 0});
    inner_->execute(sql);
}

QString withValues(const QString& sql, const Parameters& params)
{
    QString out;
    std::size_t next = 0;
    for (QChar c : sql) {
        if (c != QLatin1Char('?') || next >= params.size()) {
            out += c;
            continue;
        }
        const QVariant& v = params[next++];
        if (v.typeId() == QMetaType::QDateTime) {
            const QDateTime t = v.toDateTime();
            out += t.isValid() ? t.toString(QStringLiteral("''yyyy-MM-dd HH:mm:ss''")) : QStringLiteral("NULL");
            continue;
        }
        out += v.typeId() == QMetaType::QString ? QLatin1Char('\'') + v.toString() + QLatin1Char('\'') : v.toString();
    }
    return out;
}

std::unique_ptr<Recordset> RecordingConnection::query(const QString& sql, const Parameters& params)
{
    calls.push_back({withValues(sql, params), 1});
    return inner_->query(sql, params);
}

void RecordingConnection::run(const QString& sql, const Parameters& params)
{
    calls.push_back({withValues(sql, params), 0});
    inner_->run(sql, params);
}

QStringList RecordingConnection::statements() const
{
    QStringList out;
    for (const auto& c : calls)
        out << c.sql;
    return out;
}

void FaultyConnection::open(const QString& cs, const ConnectionOptions& o)
{
    ++faults_->opens;
    if (faults_->failEverything || faults_->openFailures > 0) {
        if (faults_->openFailures > 0)
            --faults_->openFailures;
        throw DatabaseError(DatabaseFault::Unreachable, QStringLiteral("ORA-12541: TNS:no listener"));
    }
    inner_->open(cs, o);
    open_ = true;
}

void FaultyConnection::execute(const QString& sql)
{
    faults_->executed << sql;
    if (!open_ || faults_->failEverything)
        throw DatabaseError(DatabaseFault::Unreachable, QStringLiteral("ORA-03113: end-of-file on communication channel"));
    if (faults_->failSql && faults_->failSql(sql))
        throw DatabaseError(QStringLiteral("ORA-01013: user requested cancel of current operation"));
    if (sql == QLatin1String("SELECT USER FROM DUAL") && faults_->probeFailures > 0) {
        --faults_->probeFailures;
        throw DatabaseError(QStringLiteral("ORA-03113: end-of-file on communication channel"));
    }
    if (faults_->hold)
        faults_->hold->pass(sql);
    inner_->execute(sql);
}

void StatementHold::pass(const QString& sql)
{
    std::unique_lock lock(mutex_);
    if (!armed_ || !sql.contains(pattern_))
        return;
    armed_ = false;
    held_ = true;
    changed_.wait(lock, [this] { return released_ || aborted_; });
    held_ = false;
    if (aborted_)
        throw DatabaseError(QStringLiteral("server closed the connection unexpectedly"));
}

void StatementHold::release()
{
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

void StatementHold::abort()
{
    std::lock_guard lock(mutex_);
    aborted_ = true;
    changed_.notify_all();
}

bool StatementHold::holding() const
{
    std::lock_guard lock(mutex_);
    return held_;
}

void FaultyConnection::abort()
{
    ++faults_->aborts;
    if (faults_->hold)
        faults_->hold->abort();
    inner_->abort();
}

QString FaultyConnection::admit(const QString& sql, const Parameters& params)
{
    const QString shown = withValues(sql, params);
    faults_->executed << shown;
    if (!open_ || faults_->failEverything)
        throw DatabaseError(DatabaseFault::Unreachable, QStringLiteral("ORA-03113: end-of-file on communication channel"));
    if (faults_->hold)
        faults_->hold->pass(shown);
    if (faults_->failSql && faults_->failSql(shown))
        throw DatabaseError(QStringLiteral("ORA-01013: user requested cancel of current operation"));
    return shown;
}

std::unique_ptr<Recordset> FaultyConnection::query(const QString& sql, const Parameters& params)
{
    const QString shown = admit(sql, params);
    auto rs = inner_->query(sql, params);
    if (faults_->afterOpen)
        faults_->afterOpen(shown);
    if (faults_->loseAnswer && faults_->loseAnswer(shown))
        throw DatabaseError(QStringLiteral("ORA-03113: end-of-file on communication channel"));
    return rs;
}

void FaultyConnection::run(const QString& sql, const Parameters& params)
{
    const QString shown = admit(sql, params);
    inner_->run(sql, params);
    if (faults_->loseAnswer && faults_->loseAnswer(shown))
        throw DatabaseError(QStringLiteral("ORA-03113: end-of-file on communication channel"));
}

void FaultyConnection::begin()
{
    if (!open_ || faults_->failEverything)
        throw DatabaseError(DatabaseFault::Unreachable, QStringLiteral("ORA-03113: end-of-file on communication channel"));
    inner_->begin();
}

void FaultyConnection::commit()
{
    faults_->executed << QStringLiteral("COMMIT");
    if (faults_->hold)
        faults_->hold->pass(QStringLiteral("COMMIT"));
    if (!open_ || faults_->failEverything || (faults_->failSql && faults_->failSql(QStringLiteral("COMMIT"))))
        throw DatabaseError(QStringLiteral("ORA-03113: end-of-file on communication channel"));
    inner_->commit();
    if (faults_->loseAnswer && faults_->loseAnswer(QStringLiteral("COMMIT")))
        throw DatabaseError(QStringLiteral("ORA-03113: end-of-file on communication channel"));
}

void writeFile(const QString& path, const QString& text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        throw DatabaseError(QStringLiteral("cannot write ") + path);
    f.write(text.toUtf8());
}

} // namespace parking::test
