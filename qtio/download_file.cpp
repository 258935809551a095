#include "qtio/download_file.hpp"

#include <optional>

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include "common/atomic_file.hpp"
#include "common/error.hpp"

namespace trajix {

namespace {

void ensureApplication()
{
    if (QCoreApplication::instance()) return;
    // The network classes need an application object; the CLI has none of its own.
    static int argc = 1;
    static char name[] = "trajix";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* application = new QCoreApplication(argc, argv);
    (void)application;
}

}  // namespace

bool DownloadFile(const std::string& url, const std::filesystem::path& localFile, std::chrono::milliseconds timeout)
{
    try {
        ensureApplication();
        const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
        if (!address.isValid() || address.scheme().isEmpty()) return false;
        AtomicFile out(localFile);
        QNetworkAccessManager manager;
        QNetworkRequest request(address);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setTransferTimeout(static_cast<int>(timeout.count()));
        QNetworkReply* reply = manager.get(request);
        bool writeFailed = false;
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
            const QByteArray chunk = reply->readAll();
            if (writeFailed || chunk.isEmpty()) return;
            try {
                out.write(chunk.constData(), static_cast<std::size_t>(chunk.size()));
            } catch (const Error&) {
                writeFailed = true;
                reply->abort();
            }
        });
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        if (!reply->isFinished()) loop.exec();
        const QByteArray rest = reply->readAll();
        if (!writeFailed && !rest.isEmpty()) out.write(rest.constData(), static_cast<std::size_t>(rest.size()));
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        bool ok = !writeFailed && reply->error() == QNetworkReply::NoError;
        if (address.scheme().startsWith(QLatin1String("http"))) ok = ok && status >= 200 && status < 300;
        // A connection that ends early is not always reported as an error.
        if (ok && length.isValid() && static_cast<std::uint64_t>(length.toLongLong()) != out.bytesWritten()) ok = false;
        reply->deleteLater();
        if (!ok) {
            out.discard();
            return false;
        }
        out.commit();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace trajix
