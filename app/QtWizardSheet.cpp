#include "app/QtWizardSheet.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/QtUi.h"
#include "app/WizPageBase.h"

namespace tolvane::wizard {

namespace {

constexpr int kSheetWidth = 640;
constexpr int kSheetHeight = 460;

QFrame* horizontalLine(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

void paintWhite(QWidget* widget) {
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::white);
    widget->setPalette(palette);
}

// Exterior pages: the full-height picture on the left, the page on white beside it.
QWidget* exteriorFrame(WizPageBase* page) {
    auto* frame = new QWidget;
    paintWhite(frame);
    auto* layout = new QHBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* watermark = new QLabel(frame);
    watermark->setObjectName("watermark");
    watermark->setPixmap(picture("watermark"));
    watermark->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    layout->addWidget(watermark);

    auto* column = new QVBoxLayout;
    column->setContentsMargins(20, 18, 20, 12);
    column->setSpacing(14);
    auto* caption = new QLabel(QString::fromUtf8(page->info().caption), frame);
    caption->setObjectName("caption");
    caption->setFont(boldFont(frame, 1.5));
    caption->setWordWrap(true);
    column->addWidget(caption);
    column->addWidget(page, 1);
    layout->addLayout(column, 1);
    return frame;
}

// Interior pages: a white header with the bold caption, the second line and the header picture.
QWidget* interiorFrame(WizPageBase* page) {
    auto* frame = new QWidget;
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QWidget(frame);
    header->setObjectName("header");
    paintWhite(header);
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(18, 8, 8, 8);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(4);
    auto* caption = new QLabel(QString::fromUtf8(page->info().caption), header);
    caption->setObjectName("caption");
    caption->setFont(boldFont(header));
    auto* subtitle = new QLabel(QString::fromUtf8(page->info().subtitle), header);
    subtitle->setObjectName("subtitle");
    subtitle->setContentsMargins(16, 0, 0, 0);
    subtitle->setWordWrap(true);
    lines->addWidget(caption);
    lines->addWidget(subtitle);
    lines->addStretch(1);
    headerLayout->addLayout(lines, 1);
    auto* headerPicture = new QLabel(header);
    headerPicture->setPixmap(picture("header"));
    headerLayout->addWidget(headerPicture, 0, Qt::AlignTop);
    layout->addWidget(header);
    layout->addWidget(horizontalLine(frame));

    auto* body = new QVBoxLayout;
    body->setContentsMargins(28, 12, 28, 8);
    body->addWidget(page, 1);
    layout->addLayout(body, 1);
    return frame;
}

}  // namespace

QtWizardSheet::QtWizardSheet(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Tolvane"));
    setWindowIcon(picture("tolvane"));
    // The sheet opens at its designed size and may grow; the pages' lists grow with it.
    setMinimumSize(kSheetWidth, kSheetHeight);
    resize(kSheetWidth, kSheetHeight);
    setSizeGripEnabled(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 10);
    layout->setSpacing(8);
    stack_ = new QStackedWidget(this);
    layout->addWidget(stack_, 1);
    layout->addWidget(horizontalLine(this));

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(10, 0, 10, 0);
    help_ = new QPushButton(tr("&Help"), this);
    back_ = new QPushButton(tr("< &Back"), this);
    next_ = new QPushButton(tr("&Next >"), this);
    finish_ = new QPushButton(tr("Finish"), this);
    cancel_ = new QPushButton(tr("Cancel"), this);
    for (QPushButton* button : {help_, back_, next_, finish_, cancel_})
        button->setAutoDefault(false);
    buttons->addWidget(help_);
    buttons->addStretch(1);
    buttons->addWidget(back_);
    buttons->addWidget(next_);
    buttons->addWidget(finish_);
    buttons->addSpacing(8);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);

    connect(help_, &QPushButton::clicked, this, &QtWizardSheet::help);
    connect(back_, &QPushButton::clicked, this, &QtWizardSheet::goBack);
    connect(next_, &QPushButton::clicked, this, &QtWizardSheet::goNext);
    connect(finish_, &QPushButton::clicked, this, &QtWizardSheet::finish);
    connect(cancel_, &QPushButton::clicked, this, &QtWizardSheet::reject);
    setWizardButtons(0);
}

QtWizardSheet::~QtWizardSheet() {
    // Pages go in the reverse order of their construction.
    for (auto it = frames_.rbegin(); it != frames_.rend(); ++it)
        delete *it;
}

void QtWizardSheet::addPage(WizPageBase* page) {
    page->setSheet(this);
    QWidget* frame = page->isExterior() ? exteriorFrame(page) : interiorFrame(page);
    frame->setObjectName(page->info().className);
    pages_.push_back(page);
    frames_.push_back(frame);
    created_.push_back(false);
    stack_->addWidget(frame);
    if (active_ < 0)
        showPage(0);
}

WizPageBase* QtWizardSheet::page(int position) const {
    return position >= 0 && position < pageCount() ? pages_[position] : nullptr;
}

WizPageBase* QtWizardSheet::pageById(int id) const {
    return page(positionOf(id));
}

WizPageBase* QtWizardSheet::activePage() const {
    return page(active_);
}

void QtWizardSheet::selectPage(int position) {
    if (position < 0 || position >= pageCount())
        return;
    leaveActivePage();
    showPage(position);
}

void QtWizardSheet::selectPageById(int id) {
    selectPage(positionOf(id));
}

void QtWizardSheet::leaveActivePage() {
    if (WizPageBase* current = activePage())
        current->onKillActive();
}

void QtWizardSheet::showPage(int position) {
    active_ = position;
    WizPageBase* shown = pages_[position];
    if (!created_[position]) {
        created_[position] = true;
        shown->onInitDialog();
    }
    stack_->setCurrentIndex(position);
    shown->onSetActive();
    settleFocus(shown);
}

// Enter must do what the default button does, so a page never starts with the focus on a text
// link (which takes Enter while it has the focus) or on a control that has just gone away: it
// goes to the page's first control, or to the button that moves on when the page has none.
void QtWizardSheet::settleFocus(WizPageBase* shown) {
    const auto usable = [](const QWidget* widget) {
        return widget && widget->isVisible() && widget->isEnabled() &&
               (widget->focusPolicy() & Qt::TabFocus) && !qobject_cast<const QtLinkLabel*>(widget);
    };
    if (usable(focusWidget()))
        return;
    for (QWidget* widget = shown->nextInFocusChain(); widget && widget != shown;
         widget = widget->nextInFocusChain()) {
        if (shown->isAncestorOf(widget) && usable(widget)) {
            widget->setFocus(Qt::TabFocusReason);
            return;
        }
    }
    for (QPushButton* button : {finish_, next_, back_, cancel_}) {
        if (usable(button)) {
            button->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void QtWizardSheet::setWizardButtons(int flags) {
    buttons_ = flags;
    back_->setEnabled(flags & kBack);
    const bool finishing = flags & kFinish;
    next_->setVisible(!finishing);
    next_->setEnabled(!finishing && (flags & kNext));
    finish_->setVisible(finishing);
    finish_->setEnabled(finishing);
    // Enter presses the button that moves on, when there is one.
    next_->setDefault(next_->isEnabled());
    finish_->setDefault(finishing);
}

void QtWizardSheet::goNext() {
    WizPageBase* current = activePage();
    if (!current || !(buttons_ & kNext))
        return;
    int target = current->onWizardNext();
    if (target == kStayOnPage)
        return;
    selectPage(target == kDefaultNeighbour ? active_ + 1 : positionOf(target));
}

void QtWizardSheet::goBack() {
    WizPageBase* current = activePage();
    if (!current || !(buttons_ & kBack))
        return;
    int target = current->onWizardBack();
    if (target == kStayOnPage)
        return;
    selectPage(target == kDefaultNeighbour ? active_ - 1 : positionOf(target));
}

void QtWizardSheet::finish() {
    if (buttons_ & kFinish)
        accept();
}

void QtWizardSheet::help() {
    if (WizPageBase* current = activePage())
        current->onHelp();
}

void QtWizardSheet::reject() {
    WizPageBase* current = activePage();
    if (current && !current->onQueryCancel())
        return;
    QDialog::reject();
}

void QtWizardSheet::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        help();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace tolvane::wizard
