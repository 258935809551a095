#pragma once
// Small widgets the tabs share: a label that reports clicks and the advert picture.
#include <QLabel>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace trajix::gui {

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
