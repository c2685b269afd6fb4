// The pick-up instructions after an upload: the service's WAP address, the personal code and
// the QR code of the pick-up page.
#pragma once

#include "app/WizPageBase.h"
#include "pipeline/settings.h"

class QLabel;

namespace tolvane::wizard {

class WizPage9_Uploads : public WizPageBase {
    Q_OBJECT
public:
    explicit WizPage9_Uploads(QWidget* parent = nullptr);
    void onInitDialog() override;
    void onSetActive() override;

    // The middle step panel, which shows the personal code.
    QLabel* codePanel() const { return code_; }
    QLabel* hostPanel() const { return host_; }
    // The QR code of the pick-up page, beside the personal code.
    QLabel* qrCode() const { return qr_; }

private:
    void fillPanels();

    Settings settings_;
    QLabel* host_ = nullptr;
    QLabel* code_ = nullptr;
    QLabel* qr_ = nullptr;
};

// The service host as the user types it into the phone's browser: host, and the port when it is
// not the web's default.
QString serviceHost(const std::string& serviceUrl);

}  // namespace tolvane::wizard
