#include "TestSupport.h"

#include "DatabaseError.h"
#include "MemoryRecordset.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace parking::test {

TempDatabase::TempDatabase(const QDateTime& serverNow)
    : path_(QDir(dir_.path()).filePath(QStringLiteral("test.db"))), serverClock_(serverNow)
{
    SqliteConnection::createDatabase(path_, serverClock_);
    connection_ = openAnother();
}

std::shared_ptr<SqliteConnection> TempDatabase::openAnother() const
{
    auto c = std::make_shared<SqliteConnection>(serverClock_, dir_.path());
    c->open(connectionString(), {});
    return c;
}

QVariant TempDatabase::scalar(const QString& sql) const
{
    auto rs = connection_->openRecordset(sql, CursorType::Dynamic, LockType::ReadOnly);
    if (!rs->hasRow())
        return {};
    auto* memory = dynamic_cast<MemoryRecordset*>(rs.get());
    return memory ? memory->field(memory->columns().front()) : QVariant();
}

void RecordingConnection::execute(const QString& sql)
{
    calls.push_back({sql, 0, 0});
    inner_->execute(sql);
}

std::unique_ptr<Recordset> RecordingConnection::openRecordset(const QString& sql, CursorType c, LockType l)
{
    calls.push_back({sql, static_cast<int>(c), static_cast<int>(l)});
    return inner_->openRecordset(sql, c, l);
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
        throw DatabaseError(QStringLiteral("ORA-12541: TNS:no listener"));
    }
    inner_->open(cs, o);
    open_ = true;
}

void FaultyConnection::execute(const QString& sql)
{
    faults_->executed << sql;
    if (!open_ || faults_->failEverything)
        throw DatabaseError(QStringLiteral("ORA-03113: end-of-file on communication channel"));
    if (faults_->failSql && faults_->failSql(sql))
        throw DatabaseError(QStringLiteral("ORA-01013: user requested cancel of current operation"));
    if (sql == QLatin1String("SELECT USER FROM DUAL") && faults_->probeFailures > 0) {
        --faults_->probeFailures;
        throw DatabaseError(QStringLiteral("ORA-03113: end-of-file on communication channel"));
    }
    inner_->execute(sql);
}

std::unique_ptr<Recordset> FaultyConnection::openRecordset(const QString& sql, CursorType c, LockType l)
{
    faults_->executed << sql;
    if (!open_ || faults_->failEverything)
        throw DatabaseError(QStringLiteral("ORA-03113: end-of-file on communication channel"));
    if (faults_->failSql && faults_->failSql(sql))
        throw DatabaseError(QStringLiteral("ORA-01013: user requested cancel of current operation"));
    auto rs = inner_->openRecordset(sql, c, l);
    if (faults_->afterOpen)
        faults_->afterOpen(sql);
    return rs;
}

void RecordingConnectionUi::pumpEvents(std::chrono::milliseconds)
{
    ++pumps;
    QCoreApplication::processEvents();
    if (onPump)
        onPump();
}

void writeFile(const QString& path, const QString& text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        throw DatabaseError(QStringLiteral("cannot write ") + path);
    f.write(text.toUtf8());
}

} // namespace parking::test
