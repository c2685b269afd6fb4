#include "app/WizPage8_Failure.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/QtUi.h"
#include "app/WizPage1_Welcome.h"

namespace tolvane::wizard {

WizPage8_Failure::WizPage8_Failure(QWidget* parent) : WizPageBase(kFailure, parent) {
    settings_.load();
}

void WizPage8_Failure::onInitDialog() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(bodyText(
        "Tolvane has finished its work. However the following errors occured in progress:", this));
    errors_ = new QPlainTextEdit(this);
    errors_->setObjectName("errors");
    errors_->setReadOnly(true);
    errors_->setAccessibleName(tr("Errors"));
    errors_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    layout->addWidget(errors_, 1);
    layout->addWidget(new QtSiteLinks(settings_, this));
}

void WizPage8_Failure::setErrorText(const std::string& text) {
    errorText_ = text;
    if (errors_)
        showErrors();
}

void WizPage8_Failure::showErrors() {
    // The lines end in CR LF; the box wants plain line breaks.
    QString text = toQt(errorText_);
    text.remove(QChar('\r'));
    if (text.endsWith('\n'))
        text.chop(1);
    errors_->setPlainText(text);
    errors_->moveCursor(QTextCursor::End);
    errors_->verticalScrollBar()->setValue(errors_->verticalScrollBar()->maximum());
}

void WizPage8_Failure::onSetActive() {
    settings_.load();
    showErrors();
    setWizardButtons(kFinish);
}

}  // namespace tolvane::wizard
