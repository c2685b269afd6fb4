// The unlisted-phone report: explains how to go on with "> Not listed <" and lets the user send
// the phone's vendor and model name to the maker. Returns 1 after a report attempt, 2 when the
// user chose not to send.
#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>
#include <string>

#include "catalogue/phone_report.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tolvane::wizard {

class PhoneNotifyDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kReported = 1;
    static constexpr int kNotSent = 2;

    PhoneNotifyDlg(std::string homeUrl, QWidget* parent = nullptr);
    ~PhoneNotifyDlg() override;

    QLineEdit* vendorField() const { return vendor_; }
    QLineEdit* modelField() const { return model_; }
    QPushButton* submitButton() const { return submit_; }
    QPushButton* dontSendButton() const { return dontSend_; }
    QLabel* statusLabel() const { return status_; }
    QLabel* detailLabel() const { return detail_; }

    void submit();
    // Closing is refused while the report is on its way.
    void reject() override;

protected:
    bool event(QEvent* event) override;

private:
    void showSending();
    void advanceIndicator();

    std::string homeUrl_;
    std::unique_ptr<catalogue::PhoneReportTask> task_;
    bool sending_ = false;
    int frame_ = 0;
    QTimer indicatorTimer_;
    QLabel* indicator_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* detail_ = nullptr;
    QLabel* vendorLabel_ = nullptr;
    QLabel* modelLabel_ = nullptr;
    QLineEdit* vendor_ = nullptr;
    QLineEdit* model_ = nullptr;
    QPushButton* submit_ = nullptr;
    QPushButton* dontSend_ = nullptr;
};

}  // namespace tolvane::wizard
