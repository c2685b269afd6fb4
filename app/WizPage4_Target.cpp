#include "app/WizPage4_Target.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QStyle>
#include <QToolButton>

#include "app/QtUi.h"

namespace tolvane::wizard {

namespace {

delivery::TargetChoices storedChoices(const Settings& settings) {
    delivery::TargetChoices choices;
    choices.save = settings.save() != 0;
    choices.folder = settings.folder();
    choices.send = settings.send() != 0;
    choices.carrier = static_cast<std::uint32_t>(settings.carrier());
    choices.delivery = settings.delivery();
    choices.phoneNumber = settings.phoneNumber();
    choices.email = settings.email();
    return choices;
}

QLabel* sectionPicture(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(picture(name));
    label->setAlignment(Qt::AlignTop);
    return label;
}

}  // namespace

WizPage4_Target::WizPage4_Target(QWidget* parent) : WizPageBase(kTarget, parent) {
    settings_.load();
}

WizPage4_Target::~WizPage4_Target() = default;

void WizPage4_Target::onInitDialog() {
    rules_ = std::make_unique<delivery::TargetRules>(storedChoices(settings_));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(6);
    grid->setColumnStretch(2, 1);
    buildStoreSection(grid);
    buildSendSection(grid);
    grid->setRowStretch(grid->rowCount(), 1);
    connectControls();
}

void WizPage4_Target::buildStoreSection(QGridLayout* grid) {
    const delivery::TargetChoices& choices = rules_->choices();
    store_ = new QCheckBox("  S&tore ringtones on your computer", this);
    store_->setObjectName("storeBox");
    store_->setFont(boldFont(this));
    store_->setChecked(choices.save);
    folder_ = new QLineEdit(toQt(choices.folder), this);
    folder_->setObjectName("folderField");
    folder_->setMaxLength(259);
    folder_->setAccessibleName("Folder for the ringtones");
    // The browse button follows the field, as a Tab stop of its own.
    browse_ = new QToolButton(this);
    browse_->setObjectName("browseFolder");
    browse_->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    browse_->setToolTip("Select folder");
    browse_->setAccessibleName("Select folder");
    browse_->setFocusPolicy(Qt::StrongFocus);
    connect(browse_, &QToolButton::clicked, this, &WizPage4_Target::browseFolder);
    auto* folderRow = new QHBoxLayout;
    folderRow->setSpacing(4);
    folderRow->addWidget(folder_, 1);
    folderRow->addWidget(browse_);

    grid->addWidget(sectionPicture("store", this), 0, 0, 2, 1);
    grid->addWidget(store_, 0, 1, 1, 2);
    grid->addLayout(folderRow, 1, 1, 1, 2);
    grid->setRowMinimumHeight(2, 14);
}

void WizPage4_Target::buildSendSection(QGridLayout* grid) {
    const delivery::TargetChoices& choices = rules_->choices();
    send_ = new QCheckBox("  S&end ringtones to your mobile phone", this);
    send_->setObjectName("sendBox");
    send_->setFont(boldFont(this));
    send_->setChecked(choices.send);
    carriers_ = new QComboBox(this);
    carriers_->setObjectName("carrierList");
    for (const delivery::Carrier* carrier : rules_->carrierList())
        carriers_->addItem(QString::fromUtf8(carrier->name), carrier->id);
    carriers_->setCurrentIndex(static_cast<int>(rules_->carrierIndex()));
    deliveries_ = new QComboBox(this);
    deliveries_->setObjectName("deliveryList");
    fillDeliveryList();
    phone_ = new QLineEdit(toQt(choices.phoneNumber), this);
    phone_->setObjectName("phoneField");
    phone_->setMaxLength(32);
    email_ = new QLineEdit(toQt(choices.email), this);
    email_->setObjectName("emailField");
    email_->setMaxLength(254);
    auto* carrierLabel = new QLabel("&Carrier:", this);
    carrierLabel->setBuddy(carriers_);
    auto* deliveryLabel = new QLabel("&Delivery:", this);
    deliveryLabel->setBuddy(deliveries_);
    auto* phoneLabel = new QLabel("10-digit &phone number", this);
    phoneLabel->setBuddy(phone_);
    auto* emailLabel = new QLabel("Your e-mail &address", this);
    emailLabel->setBuddy(email_);
    note_ = new QLabel(
        "Your phone number and e-mail address will be delivered directly to your mobile carrier. "
        "We do not collect personal information of any kind.",
        this);
    note_->setObjectName("note");
    note_->setWordWrap(true);

    grid->addWidget(sectionPicture("send", this), 3, 0, 2, 1);
    grid->addWidget(send_, 3, 1, 1, 2);
    grid->addWidget(carrierLabel, 4, 1);
    grid->addWidget(carriers_, 4, 2);
    grid->addWidget(deliveryLabel, 5, 1);
    grid->addWidget(deliveries_, 5, 2);
    grid->addWidget(phoneLabel, 6, 1);
    grid->addWidget(phone_, 6, 2);
    grid->addWidget(emailLabel, 7, 1);
    grid->addWidget(email_, 7, 2);
    grid->addWidget(note_, 8, 1, 1, 2);
}

void WizPage4_Target::connectControls() {
    connect(store_, &QCheckBox::toggled, this, [this](bool on) {
        rules_->setStore(on);
        applyEnabling();
    });
    connect(send_, &QCheckBox::toggled, this, [this](bool on) {
        rules_->setSend(on);
        applyEnabling();
    });
    connect(folder_, &QLineEdit::textChanged, this,
            [this](const QString& text) { rules_->setFolder(fromQt(text)); });
    connect(carriers_, &QComboBox::activated, this, [this](int index) {
        rules_->selectCarrier(static_cast<std::size_t>(index));
        fillDeliveryList();
        applyEnabling();
    });
    connect(deliveries_, &QComboBox::activated, this, [this](int index) {
        rules_->selectDelivery(static_cast<std::size_t>(index));
        applyEnabling();
    });
    connect(phone_, &QLineEdit::textChanged, this,
            [this](const QString& text) { rules_->setPhoneNumber(fromQt(text)); });
    connect(email_, &QLineEdit::textChanged, this,
            [this](const QString& text) { rules_->setEmail(fromQt(text)); });
}

void WizPage4_Target::fillDeliveryList() {
    QSignalBlocker quiet(deliveries_);
    deliveries_->clear();
    for (const std::string& method : rules_->deliveryList())
        deliveries_->addItem(toQt(method));
    deliveries_->setCurrentIndex(static_cast<int>(rules_->deliveryIndex()));
}

void WizPage4_Target::applyEnabling() {
    if (!rules_)
        return;
    const delivery::TargetEnabling enabling = rules_->enabling();
    folder_->setEnabled(enabling.folderField);
    browse_->setEnabled(enabling.folderField);
    carriers_->setEnabled(enabling.carrierList);
    deliveries_->setEnabled(enabling.deliveryList);
    phone_->setEnabled(enabling.phoneNumber);
    email_->setEnabled(enabling.email);
    note_->setVisible(enabling.noteVisible);
    if (isActivePage())
        setWizardButtons(kBack | (enabling.next ? kNext : 0));
}

void WizPage4_Target::browseFolder() {
    const QString chosen = QFileDialog::getExistingDirectory(this, "Select folder", folder_->text(),
                                                             QFileDialog::ShowDirsOnly);
    if (!chosen.isEmpty())
        folder_->setText(chosen);
}

int WizPage4_Target::onWizardNext() {
    if (auto refusal = rules_->checkOnNext()) {
        showError(this, toQt(refusal->message));
        QLineEdit* field = refusal->focus == delivery::TargetField::PhoneNumber ? phone_ : email_;
        field->setFocus();
        return kStayOnPage;
    }
    // The Password page is only for the worker; Next goes straight to the conversion.
    return kProgress;
}

bool WizPage4_Target::onQueryCancel() {
    storeChoices();
    return true;
}

void WizPage4_Target::storeChoices() {
    if (!rules_)
        return;
    const delivery::TargetChoices choices = rules_->choices();
    settings_.setSave(choices.save ? 1 : 0);
    settings_.setFolder(choices.folder);
    settings_.setSend(choices.send ? 1 : 0);
    settings_.setCarrier(static_cast<std::int32_t>(choices.carrier));
    settings_.setDelivery(choices.delivery);
    settings_.setPhoneNumber(choices.phoneNumber);
    settings_.setEmail(choices.email);
}

}  // namespace tolvane::wizard
