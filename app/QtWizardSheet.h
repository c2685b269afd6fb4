// The wizard sheet: one modal dialog titled "Tolvane" that shows one page at a time, with the
// header (or the full-height picture of the exterior pages), the wizard buttons and Help.
//
// Pages decide where to go: Next and Back ask the active page, which answers with a page id, the
// neighbour in sheet order, or "stay". Cancel asks the active page whether the wizard may close.
#pragma once

#include <QDialog>
#include <vector>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace tolvane::wizard {

class WizPageBase;

class QtWizardSheet : public QDialog {
    Q_OBJECT
public:
    explicit QtWizardSheet(QWidget* parent = nullptr);
    ~QtWizardSheet() override;

    // Adds a page at the end (the sheet takes ownership). Pages are added in sheet order.
    void addPage(WizPageBase* page);
    int pageCount() const { return static_cast<int>(pages_.size()); }
    WizPageBase* page(int position) const;
    WizPageBase* pageById(int id) const;
    WizPageBase* activePage() const;
    int activePosition() const { return active_; }

    // Leaves the active page and shows the page at `position` (out of range: nothing happens).
    void selectPage(int position);
    void selectPageById(int id);
    // Which wizard buttons are enabled (WizardButtons flags); Finish takes the place of Next.
    void setWizardButtons(int flags);
    int wizardButtons() const { return buttons_; }

    QPushButton* backButton() const { return back_; }
    QPushButton* nextButton() const { return next_; }
    QPushButton* finishButton() const { return finish_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* helpButton() const { return help_; }

    // The user's buttons; public so that tests and links drive the sheet as a user does.
    void goNext();
    void goBack();
    void finish();
    void help();

    // Cancel, Escape and the close box all come here: the active page may refuse.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* frameFor(WizPageBase* page);
    void leaveActivePage();
    void showPage(int position);
    void settleFocus(WizPageBase* shown);

    std::vector<WizPageBase*> pages_;
    std::vector<QWidget*> frames_;
    std::vector<bool> created_;
    int active_ = -1;
    int buttons_ = 0;
    QStackedWidget* stack_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* finish_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* help_ = nullptr;
};

}  // namespace tolvane::wizard
