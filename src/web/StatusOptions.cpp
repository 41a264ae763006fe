#include "StatusOptions.h"

#include "PrivateFile.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslKey>

#include <algorithm>

namespace parking {

// The [Estado] section read into the status server's options: what a
// misconfigured page must refuse to start with, and why.
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
    // Forward secrecy and authenticated encryption only: TLS 1.3's suites,
    // and of TLS 1.2's the intermediate profile server guides publish
    // (ECDHE or DHE key exchange, AES-GCM or ChaCha20-Poly1305).
    static const QStringList Tls12 = {
        QStringLiteral("ECDHE-ECDSA-AES128-GCM-SHA256"), QStringLiteral("ECDHE-RSA-AES128-GCM-SHA256"),
        QStringLiteral("ECDHE-ECDSA-AES256-GCM-SHA384"), QStringLiteral("ECDHE-RSA-AES256-GCM-SHA384"),
        QStringLiteral("ECDHE-ECDSA-CHACHA20-POLY1305"), QStringLiteral("ECDHE-RSA-CHACHA20-POLY1305"),
        QStringLiteral("DHE-RSA-AES128-GCM-SHA256"),     QStringLiteral("DHE-RSA-AES256-GCM-SHA384"),
        QStringLiteral("DHE-RSA-CHACHA20-POLY1305")};
    QList<QSslCipher> ciphers;
    for (const QSslCipher& c : QSslConfiguration::supportedCiphers()) {
        if (c.protocol() == QSsl::TlsV1_3 || Tls12.contains(c.name()))
            ciphers << c;
    }
    tls.setCiphers(ciphers);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone); // clients are known by their key, not a certificate
    return tls;
}

} // namespace

Result<std::optional<StatusOptions>> readStatusOptions(const StatusSettings& settings)
{
    const QString& portText = settings.port;
    if (portText.isEmpty())
        return std::optional<StatusOptions>();
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    const bool digits = std::all_of(portText.begin(), portText.end(), [](QChar c) { return c.isDigit(); });
    if (!ok || !digits || port > 65535)
        return failure(QStringLiteral("[Estado] Puerto no válido: |%1|").arg(portText));
    if (port == 0)
        return std::optional<StatusOptions>();
    StatusOptions options;
    options.port = static_cast<quint16>(port);
    const QString& address = settings.address;
    options.address = QHostAddress(address.isEmpty() ? QStringLiteral("127.0.0.1") : address);
    if (options.address.isNull())
        return failure(QStringLiteral("[Estado] Direccion no válida: |%1|").arg(address));
    options.key = settings.key.toUtf8();
    options.operatorKey = settings.operatorKey.toUtf8();
    if (!options.address.isLoopback() && options.key.isEmpty())
        return failure(QStringLiteral("[Estado] Direccion=%1 no es local y falta [Estado] Clave").arg(options.address.toString()));
    if (!options.operatorKey.isEmpty() && options.operatorKey.size() < StatusOptions::OperatorKeyMinimum)
        return failure(QStringLiteral("[Estado] ClaveOperador tiene menos de %1 caracteres").arg(StatusOptions::OperatorKeyMinimum));
    if (!options.operatorKey.isEmpty() && options.operatorKey == options.key)
        return failure(QStringLiteral("[Estado] ClaveOperador es igual que Clave"));
    auto operators = OperatorDirectory::fromLines(settings.operators);
    if (!operators)
        return failure(operators.error());
    options.operators = std::move(*operators);
    if (!settings.certificate.isEmpty() || !settings.privateKey.isEmpty()) {
        auto tls = loadTls(settings.certificate, settings.privateKey);
        if (!tls)
            return failure(tls.error());
        options.tls = std::move(*tls);
    }
    // A key, or an operator's name and key, never crosses a network in the clear.
    if (!options.address.isLoopback() && options.console() && !options.tls)
        return failure(QStringLiteral("[Estado] Direccion=%1 no es local: con ClaveOperador u [Operadores] hace falta "
                                      "[Estado] Certificado y ClavePrivada")
                           .arg(options.address.toString()));
    return std::optional<StatusOptions>(std::move(options));
}

} // namespace parking
