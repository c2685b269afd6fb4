// Small Qt helpers shared by the wizard's pages: pictures, fonts, message boxes, links and help.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <QString>
#include <string>

class QWidget;

namespace tolvane::wizard {

// A picture of the program's resources by name ("watermark", "header", "progress_a_07", ...).
QPixmap picture(const QString& name);

// The font of `widget` in bold, optionally scaled (1.0 keeps the size).
QFont boldFont(const QWidget* widget, double scale = 1.0);

QString toQt(const std::string& utf8);
std::string fromQt(const QString& text);

// Message boxes with the caption "Tolvane 1.19"; they return when the user closed them.
void showError(QWidget* parent, const QString& text);
void showWarning(QWidget* parent, const QString& text);

// Opens an address in the desktop's browser; does not wait for it.
void openUrl(const std::string& url);
// Opens the help page of the application folder at topic `context`.
void openHelp(int context);

// Clickable text, shown as a link: blue and underlined, a pointing hand under the mouse, also
// reachable with the keyboard (Tab, then Space or Enter), framed while it has the focus.
class QtLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit QtLinkLabel(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// A page's body text: wraps, selectable by nobody, left-aligned at the top.
QLabel* bodyText(const QString& text, QWidget* parent);

}  // namespace tolvane::wizard
