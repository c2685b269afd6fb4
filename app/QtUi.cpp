#include "app/QtUi.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QUrl>

#include "app/wizard_flow.h"
#include "platform/paths.h"

namespace tolvane::wizard {

QPixmap picture(const QString& name) {
    return QPixmap(QStringLiteral(":/pictures/%1.png").arg(name));
}

QFont boldFont(const QWidget* widget, double scale) {
    QFont font = widget->font();
    font.setBold(true);
    if (scale != 1.0) {
        if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() * scale);
        else
            font.setPixelSize(static_cast<int>(font.pixelSize() * scale));
    }
    return font;
}

QString toQt(const std::string& utf8) {
    return QString::fromStdString(utf8);
}
std::string fromQt(const QString& text) {
    return text.toStdString();
}

static void messageBox(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, QString::fromUtf8(kMessageCaption), text, QMessageBox::Ok, parent);
    box.exec();
}

void showError(QWidget* parent, const QString& text) {
    messageBox(parent, QMessageBox::Critical, text);
}

void showWarning(QWidget* parent, const QString& text) {
    messageBox(parent, QMessageBox::Warning, text);
}

void openUrl(const std::string& url) {
    // The desktop's browser starts detached; a failure is the desktop's to show.
    QDesktopServices::openUrl(QUrl(toQt(url)));
}

void openHelp(int context) {
    QUrl url = QUrl::fromLocalFile(toQt(helpFilePath(platform::applicationFolder())));
    url.setFragment(toQt(helpAnchor(context)));
    QDesktopServices::openUrl(url);
}

QtLinkLabel::QtLinkLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    setText(text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setWordWrap(true);
    QFont font = this->font();
    font.setUnderline(true);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 204));
    setPalette(palette);
}

void QtLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

void QtLinkLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    // The frame tells the keyboard user that Enter and Space now follow this link.
    QPainter painter(this);
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    frame.rect = contentsRect().intersected(
        QRect(QPoint(0, 0), QSize(fontMetrics().horizontalAdvance(text()) + 4, height())));
    frame.backgroundColor = palette().color(QPalette::Window);
    // Shown however the focus came here (some styles draw it only after a Tab otherwise).
    frame.state |= QStyle::State_KeyboardFocusChange;
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
}

void QtLinkLabel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        emit clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

QLabel* bodyText(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

}  // namespace tolvane::wizard
