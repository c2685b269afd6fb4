#include "app/WizPageBase.h"

#include "app/QtUi.h"
#include "app/QtWizardSheet.h"

namespace tolvane::wizard {

WizPageBase::WizPageBase(PageId id, QWidget* parent) : QWidget(parent), info_(pageInfo(id)) {
    setObjectName(QString::fromUtf8(info_->className) + "Body");
}

void WizPageBase::onHelp() { openHelp(info_->helpContext); }

void WizPageBase::setWizardButtons(int flags) {
    if (sheet_)
        sheet_->setWizardButtons(flags);
}

bool WizPageBase::isActivePage() const { return sheet_ && sheet_->activePage() == this; }

}  // namespace tolvane::wizard
