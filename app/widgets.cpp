#include "app/widgets.hpp"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QTextBlock>

#include <algorithm>

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

namespace {
/// The margin beside the command editor; the editor paints it.
class LineNumberMargin : public QWidget {
public:
    explicit LineNumberMargin(CommandEditor* editor) : QWidget(editor), editor_(editor)
    {
        setObjectName("LineNumbers");
    }
    QSize sizeHint() const override { return {editor_->lineNumberWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent* event) override { editor_->paintLineNumbers(event); }

private:
    CommandEditor* editor_;
};
}  // namespace

CommandEditor::CommandEditor(const QString& text, QWidget* parent)
    : QPlainTextEdit(text, parent), lineNumbers_(new LineNumberMargin(this))
{
    connect(this, &QPlainTextEdit::blockCountChanged, this, &CommandEditor::fitMargin);
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
        if (dy != 0)
            lineNumbers_->scroll(0, dy);
        else
            lineNumbers_->update(0, rect.y(), lineNumbers_->width(), rect.height());
    });
    // The mark belongs to the text the run read: an edit may have mended the line.
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (faultyLine_ != 0) markFaultyLine(0);
    });
    fitMargin();
}

int CommandEditor::lineNumberWidth() const
{
    const int digits = static_cast<int>(QString::number(std::max(1, blockCount())).size());
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(2, digits);
}

void CommandEditor::fitMargin()
{
    setViewportMargins(lineNumberWidth(), 0, 0, 0);
    const QRect area = contentsRect();
    lineNumbers_->setGeometry(area.left(), area.top(), lineNumberWidth(), area.height());
}

void CommandEditor::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    fitMargin();
}

void CommandEditor::paintLineNumbers(QPaintEvent* event)
{
    QPainter painter(lineNumbers_);
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    const int width = lineNumbers_->width() - 4;
    const int height = fontMetrics().height();
    while (block.isValid() && top <= event->rect().bottom()) {
        const int bottom = top + qRound(blockBoundingRect(block).height());
        if (block.isVisible() && bottom >= event->rect().top()) {
            const int line = block.blockNumber() + 1;
            painter.setPen(line == faultyLine_ ? QColor(Qt::red) : palette().color(QPalette::PlaceholderText));
            painter.drawText(0, top, width, height, Qt::AlignRight, QString::number(line));
        }
        block = block.next();
        top = bottom;
    }
}

void CommandEditor::markFaultyLine(int line)
{
    const QTextBlock block = document()->findBlockByNumber(line - 1);
    QList<QTextEdit::ExtraSelection> marks;
    faultyLine_ = 0;
    if (line > 0 && block.isValid()) {
        faultyLine_ = line;
        QTextEdit::ExtraSelection mark;
        mark.format.setBackground(QColor(255, 190, 190));
        mark.format.setProperty(QTextFormat::FullWidthSelection, true);
        mark.cursor = QTextCursor(block);
        marks.append(mark);
        setTextCursor(QTextCursor(block));
        ensureCursorVisible();
    }
    setExtraSelections(marks);
    lineNumbers_->update();
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
