// The [Estado] section read into the status server's options: what a
// misconfigured page must refuse to start with, and why.
#include "StatusServer.h"

#include "PrivateFile.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>

#include <algorithm>

namespace parking {

namespace {

// The certificate chain and its private key (PEM; RSA or EC), or why not.
Result<QSslConfiguration> loadTls(const QString& certificateFile, const QString& keyFile)
{
    if (certificateFile.isEmpty() != keyFile.isEmpty())
        return failure(QStringLiteral("[Estado] Certificado y ClavePrivada van juntos"));
    if (const auto allowed = checkPrivate(keyFile, QStringLiteral("la clave privada")); !allowed)
        return failure(allowed.error());
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificateFile, QSsl::Pem);
    if (chain.isEmpty() || chain.front().isNull())
        return failure(QStringLiteral("[Estado] Certificado no se puede leer como PEM: %1").arg(certificateFile));
    QFile file(keyFile);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("[Estado] ClavePrivada no se puede leer: %1").arg(keyFile));
    const QByteArray pem = file.readAll();
    QSslKey key(pem, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(pem, QSsl::Ec, QSsl::Pem);
    if (key.isNull())
        return failure(QStringLiteral("[Estado] ClavePrivada no es una clave RSA o EC en PEM: %1").arg(keyFile));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone); // clients are known by their key, not a certificate
    return tls;
}

} // namespace

Result<std::optional<StatusServer::Options>> StatusServer::fromConfig(const StatusSettings& settings)
{
    const QString& portText = settings.port;
    if (portText.isEmpty())
        return std::optional<Options>();
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    const bool digits = std::all_of(portText.begin(), portText.end(), [](QChar c) { return c.isDigit(); });
    if (!ok || !digits || port > 65535)
        return failure(QStringLiteral("[Estado] Puerto no válido: |%1|").arg(portText));
    if (port == 0)
        return std::optional<Options>();
    Options options;
    options.port = static_cast<quint16>(port);
    const QString& address = settings.address;
    options.address = QHostAddress(address.isEmpty() ? QStringLiteral("127.0.0.1") : address);
    if (options.address.isNull())
        return failure(QStringLiteral("[Estado] Direccion no válida: |%1|").arg(address));
    options.key = settings.key.toUtf8();
    options.operatorKey = settings.operatorKey.toUtf8();
    if (!options.address.isLoopback() && options.key.isEmpty())
        return failure(QStringLiteral("[Estado] Direccion=%1 no es local y falta [Estado] Clave").arg(options.address.toString()));
    if (!options.operatorKey.isEmpty() && options.operatorKey.size() < OperatorKeyMinimum)
        return failure(QStringLiteral("[Estado] ClaveOperador tiene menos de %1 caracteres").arg(OperatorKeyMinimum));
    if (!options.operatorKey.isEmpty() && options.operatorKey == options.key)
        return failure(QStringLiteral("[Estado] ClaveOperador es igual que Clave"));
    if (!settings.certificate.isEmpty() || !settings.privateKey.isEmpty()) {
        auto tls = loadTls(settings.certificate, settings.privateKey);
        if (!tls)
            return failure(tls.error());
        options.tls = std::move(*tls);
    }
    if (!options.address.isLoopback() && !options.operatorKey.isEmpty() && !options.tls)
        return failure(QStringLiteral("[Estado] Direccion=%1 no es local: con ClaveOperador hace falta [Estado] Certificado "
                              "y ClavePrivada")
            .arg(options.address.toString()));
    return std::optional<Options>(std::move(options));
}

} // namespace parking
