// Base of the fourteen wizard pages: identity (template id, caption, second header line), the
// property-sheet notifications as virtual functions, and access to the sheet.
#pragma once

#include <QWidget>

#include "app/wizard_flow.h"

namespace tolvane::wizard {

class QtWizardSheet;

class WizPageBase : public QWidget {
    Q_OBJECT
public:
    explicit WizPageBase(PageId id, QWidget* parent = nullptr);

    PageId templateId() const { return info_->id; }
    const PageInfo& info() const { return *info_; }
    bool isExterior() const { return info_->exterior; }

    // The page's widgets are built the first time it is shown (the window is "created").
    virtual void onInitDialog() {}
    // The page becomes the active page.
    virtual void onSetActive() {}
    // The page stops being the active page (Next, Back or a page selection).
    virtual void onKillActive() {}
    // Next and Back: kDefaultNeighbour, kStayOnPage or the id of the page to show.
    virtual int onWizardNext() { return kDefaultNeighbour; }
    virtual int onWizardBack() { return kDefaultNeighbour; }
    // Cancel while the page is active: true lets the wizard close.
    virtual bool onQueryCancel() { return true; }
    // F1 or the Help button.
    virtual void onHelp();

    void setSheet(QtWizardSheet* sheet) { sheet_ = sheet; }

protected:
    QtWizardSheet* sheet() const { return sheet_; }
    void setWizardButtons(int flags);
    // True while this page is the sheet's active page.
    bool isActivePage() const;

private:
    const PageInfo* info_;
    QtWizardSheet* sheet_ = nullptr;
};

}  // namespace tolvane::wizard
