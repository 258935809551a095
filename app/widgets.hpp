#pragma once
// Small widgets the tabs share: a label that reports clicks, the advert picture and the
// monospaced font of the previews.
#include <QFont>
#include <QLabel>
#include <QPlainTextEdit>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace trajix::gui {

/// True when every printable ASCII character has the same advance width in font, as the
/// user sees it drawn (Qt's fixed-pitch flag is not asked: fontconfig leaves it off for
/// some monospaced fonts, Nimbus Mono PS among them).
bool drawsMonospaced(const QFont& font);

/// The font of the previews, the command help and the command editor: the first of
/// Courier New, the system's fixed font, DejaVu Sans Mono, Liberation Mono, Nimbus Mono PS
/// and "monospace" that drawsMonospaced(), at the application's point size; the system's
/// fixed font when none does.
QFont monospacedFont();

/// A label that emits clicked() when the left mouse button is released over it.
class ClickLabel : public QLabel {
    Q_OBJECT
public:
    explicit ClickLabel(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

/// The command editor: a plain text editor with the line numbers in a margin on its
/// left, which can mark the line a run was refused for.
class CommandEditor : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CommandEditor(const QString& text, QWidget* parent = nullptr);

    /// Marks line (1 for the first) with a red background and puts the cursor at its
    /// start, in view; 0, or a line past the end, takes the mark away. Editing the text
    /// takes it away too.
    void markFaultyLine(int line);
    /// The line marked, 0 when none.
    int faultyLine() const { return faultyLine_; }
    /// The margin of the line numbers, for its own paint events.
    QWidget* lineNumberArea() const { return lineNumbers_; }
    /// The margin's width in pixels: room for the highest line number's digits.
    int lineNumberWidth() const;
    /// Paints the numbers of the lines in view into the margin.
    void paintLineNumbers(QPaintEvent* event);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitMargin();

    QWidget* lineNumbers_;
    int faultyLine_ = 0;
};

/// A one-line label for texts of any length (file paths): when the text is wider than
/// the label it is cut in the middle with an ellipsis and the whole text becomes the
/// tooltip. It asks for little width, so a long path never widens the tab.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

/// The advert picture under the tabs. It stays hidden (taking no room) until the
/// picture has arrived; loading runs in the background, and a failed load (no network,
/// no server, not a picture) simply leaves it hidden, without a message.
class WebImage : public ClickLabel {
    Q_OBJECT
public:
    explicit WebImage(QWidget* parent = nullptr);

    /// Starts loading the picture from url; an empty url loads nothing.
    void load(const QUrl& url);
    /// True once a picture has replaced the placeholder.
    bool hasPicture() const { return hasPicture_; }

    /// $TRAJIX_ADVERT_URL when set (set and empty turns loading off), else the maker's picture.
    static QUrl advertUrl();
    /// $TRAJIX_PRODUCT_URL when set, else the maker's product page.
    static QUrl productUrl();

private:
    void showPlaceholder();
    void finished(QNetworkReply* reply);

    QNetworkAccessManager* network_ = nullptr;
    bool hasPicture_ = false;
};

}  // namespace trajix::gui
