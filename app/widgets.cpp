#include "app/widgets.hpp"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>
#include <QPixmap>

namespace trajix::gui {

namespace {
// The maker's server. The names are placeholders under a reserved domain until the
// real addresses are known; both can be set from the environment.
constexpr const char* defaultAdvertUrl = "https://www.orvena.example/adverts/trajix-banner.png";
constexpr const char* defaultProductUrl = "https://www.orvena.example/products/trajix";
constexpr int bannerWidth = 468;
constexpr int bannerHeight = 60;
constexpr int loadTimeoutMs = 10000;
}  // namespace

bool drawsMonospaced(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QLatin1Char('M'));
    if (width <= 0) return false;
    for (char c = ' '; c <= '~'; ++c)
        if (metrics.horizontalAdvance(QLatin1Char(c)) != width) return false;
    return true;
}

QFont monospacedFont()
{
    const QFont systemFixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const qreal pointSize = QGuiApplication::font().pointSizeF();
    const QStringList families = {"Courier New",     systemFixed.family(), "DejaVu Sans Mono",
                                  "Liberation Mono", "Nimbus Mono PS",     "monospace"};
    for (const QString& family : families) {
        QFont font(family);
        font.setStyleHint(QFont::TypeWriter);
        if (pointSize > 0) font.setPointSizeF(pointSize);
        if (drawsMonospaced(font)) return font;
    }
    return systemFixed;
}

ClickLabel::ClickLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {fontMetrics().horizontalAdvance(QStringLiteral("M")) * 8, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    const QRect room = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, room.width());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(room, static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter), shown);
    const QString tip = shown == text() ? QString() : text();
    if (toolTip() != tip) setToolTip(tip);
}

WebImage::WebImage(QWidget* parent) : ClickLabel(QString(), parent)
{
    setObjectName("WebImage1");
    setFixedSize(bannerWidth, bannerHeight);
    setAlignment(Qt::AlignCenter);
    setCursor(Qt::PointingHandCursor);
    showPlaceholder();
    // The area takes no room under the tabs until a picture has arrived.
    hide();
}

void WebImage::showPlaceholder()
{
    setFrameShape(QFrame::StyledPanel);
    setStyleSheet("QLabel { background: palette(window); color: palette(mid); }");
    setText("Orvena");
}

QUrl WebImage::advertUrl()
{
    if (qEnvironmentVariableIsSet("TRAJIX_ADVERT_URL")) return QUrl(qEnvironmentVariable("TRAJIX_ADVERT_URL"));
    return QUrl(defaultAdvertUrl);
}

QUrl WebImage::productUrl()
{
    if (qEnvironmentVariableIsSet("TRAJIX_PRODUCT_URL")) return QUrl(qEnvironmentVariable("TRAJIX_PRODUCT_URL"));
    return QUrl(defaultProductUrl);
}

void WebImage::load(const QUrl& url)
{
    if (url.isEmpty() || !url.isValid()) return;
    if (!network_) {
        network_ = new QNetworkAccessManager(this);
        connect(network_, &QNetworkAccessManager::finished, this, &WebImage::finished);
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(loadTimeoutMs);
    network_->get(request);
}

void WebImage::finished(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) return;
    QPixmap picture;
    if (!picture.loadFromData(reply->readAll())) return;
    setStyleSheet(QString());
    setFrameShape(QFrame::NoFrame);
    setText(QString());
    setPixmap(picture.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    hasPicture_ = true;
    show();
}

}  // namespace trajix::gui
