#include "app/WizSkylet2_Password.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/QtUi.h"
#include "app/QtWizardSheet.h"
#include "app/WizSkylet3_Negotiate.h"

namespace tolvane::wizard {

namespace {

constexpr int kMaxPasswordUnits = 127;

QLabel* greyHint(const QString& text, QWidget* parent) {
    auto* hint = new QLabel(text, parent);
    hint->setWordWrap(true);
    QPalette palette = hint->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Disabled, QPalette::WindowText));
    hint->setPalette(palette);
    return hint;
}

}  // namespace

void WizSkylet2_Password::onInitDialog() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* title = bodyText("The password is used to limit access to your uploads", this);
    title->setFont(boldFont(this));
    layout->addWidget(title);
    layout->addWidget(bodyText(
        "Please fill in the fields below. It is recommended to use only digits in your password "
        "to ease typing it on your mobile phone.",
        this));
    layout->addSpacing(6);

    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(2);
    grid->setColumnStretch(1, 1);
    auto addField = [&](int row, const char* name, const QString& label, const QString& hint) {
        auto* field = new QLineEdit(this);
        field->setObjectName(name);
        field->setEchoMode(QLineEdit::Password);
        field->setMaxLength(kMaxPasswordUnits);
        auto* caption = new QLabel(label, this);
        caption->setBuddy(field);
        grid->addWidget(caption, row * 2, 0);
        grid->addWidget(field, row * 2, 1);
        grid->addWidget(greyHint(hint, this), row * 2 + 1, 1);
        grid->setRowMinimumHeight(row * 2 + 1, 26);
        return field;
    };
    old_ = addField(0, "oldPassword",
                    "&Old password:", "Leave empty if your uploads are not currently protected.");
    new_ = addField(1, "newPassword",
                    "Ne&w password:", "If you wish to unset password leave this field empty.");
    confirm_ = addField(2, "confirmPassword", "&Confirm password:",
                        "Type new password here one more time to prevent mistyping.");
    layout->addLayout(grid);
    layout->addStretch(1);
}

void WizSkylet2_Password::onSetActive() {
    old_->clear();
    new_->clear();
    confirm_->clear();
    old_->setFocus();
    setWizardButtons(kBack | kNext);
}

int WizSkylet2_Password::onWizardNext() {
    if (new_->text() != confirm_->text()) {
        showWarning(this, "You have mistyped entering new password. Please reenter.");
        new_->clear();
        confirm_->clear();
        new_->setFocus();
        return kStayOnPage;
    }
    if (auto* negotiate = qobject_cast<WizSkylet3_Negotiate*>(sheet()->pageById(kNegotiate))) {
        negotiate->setTask(kTaskSetPassword);
        negotiate->setPasswords(fromQt(old_->text()), fromQt(new_->text()));
    }
    return kNegotiate;
}

}  // namespace tolvane::wizard
