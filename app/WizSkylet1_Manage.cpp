#include "app/WizSkylet1_Manage.h"

#include <QVBoxLayout>

#include "app/QtUi.h"
#include "app/QtWizardSheet.h"
#include "app/WizSkylet3_Negotiate.h"

namespace tolvane::wizard {

void WizSkylet1_Manage::onInitDialog() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto* title = bodyText("Choose task to perform", this);
    title->setFont(boldFont(this));
    layout->addWidget(title);
    layout->addSpacing(8);

    auto addTask = [&](const char* name, const QString& link, const QString& hint) {
        auto* label = new QtLinkLabel(link, this);
        label->setObjectName(name);
        layout->addWidget(label);
        auto* text = bodyText(hint, this);
        text->setContentsMargins(16, 0, 0, 8);
        layout->addWidget(text);
        return label;
    };
    auto* password =
        addTask("passwordLink", "Set/change password >>",
                "This password is used to limit access to uploads section of your Skylet account.");
    auto* wipe = addTask(
        "wipeLink", "Wipe my uploads >>",
        "This will clean your uploads section. Use it when you don't need uploaded files anymore. "
        "Note also that your uploads aren't there forever. They are subject to removal after a "
        "certain amount of time.");
    auto* lost = addTask("lostLink", "I have lost my password >>",
                         "Use this if you have forgot your password. This won't recover your "
                         "password. Instead it will create a new Skylet account for you.");
    layout->addStretch(1);
    layout->addWidget(bodyText("All these options require Internet connection.", this));

    connect(password, &QtLinkLabel::clicked, this,
            [this] { sheet()->selectPageById(kSetPassword); });
    connect(wipe, &QtLinkLabel::clicked, this, [this] { startTask(kTaskWipe); });
    connect(lost, &QtLinkLabel::clicked, this, [this] { startTask(kTaskNewAccount); });
}

void WizSkylet1_Manage::startTask(int task) {
    if (auto* negotiate = qobject_cast<WizSkylet3_Negotiate*>(sheet()->pageById(kNegotiate)))
        negotiate->setTask(task);
    sheet()->selectPageById(kNegotiate);
}

}  // namespace tolvane::wizard
