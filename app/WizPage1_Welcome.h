// The first page: what the wizard does, the maker's links, and the way to the upload account.
#pragma once

#include "app/WizPageBase.h"
#include "pipeline/settings.h"

namespace tolvane::wizard {

class QtLinkLabel;

class WizPage1_Welcome : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage1_Welcome(QWidget* parent = nullptr);
    void onInitDialog() override;
    void onSetActive() override;

    QtLinkLabel* manageLink() const { return manage_; }

private:
    Settings settings_;
    QtLinkLabel* manage_ = nullptr;
};

// The site link and "Contact us >>", shared by the Welcome, Success and Failure pages.
class QtSiteLinks : public QWidget {
    Q_OBJECT
public:
    // `settings` is the page's own copy; the links read HomeURL from it when clicked.
    QtSiteLinks(const Settings& settings, QWidget* parent);

private:
    const Settings& settings_;
};

}  // namespace tolvane::wizard
