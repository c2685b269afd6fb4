#include "app/WizPage3_Format.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/PhoneNotifyDlg.h"
#include "app/QtUi.h"

namespace tolvane::wizard {

namespace {

QString entryName(const catalogue::CatalogueEntry& entry) {
    return QString::fromUtf8(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
}

void fillList(QComboBox* list, const std::vector<catalogue::CatalogueEntry>& entries,
              std::optional<std::size_t> selection) {
    QSignalBlocker quiet(list);
    list->clear();
    for (const catalogue::CatalogueEntry& entry : entries)
        list->addItem(entryName(entry), entry.id);
    list->setCurrentIndex(selection ? static_cast<int>(*selection) : -1);
}

}  // namespace

WizPage3_Format::WizPage3_Format(QWidget* parent) : WizPageBase(kFormat, parent) {
    settings_.load();
}

WizPage3_Format::~WizPage3_Format() = default;

void WizPage3_Format::onInitDialog() {
    catalogue::StoredFormatChoice stored;
    stored.vendorPosition = static_cast<std::uint32_t>(settings_.vendorPosition());
    stored.modelPosition = static_cast<std::uint32_t>(settings_.modelPosition());
    stored.format = static_cast<std::uint32_t>(settings_.format());
    state_ = std::make_unique<catalogue::FormatPageState>(stored);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);
    buildPicture(layout);
    auto* column = new QVBoxLayout;
    buildPhoneSection(column);
    buildFormatSection(column);
    column->addStretch(1);
    layout->addLayout(column, 1);

    fillVendors();
    fillModels();
    showFormats();
    connectControls();
}

void WizPage3_Format::buildPicture(QHBoxLayout* layout) {
    auto* image = new QLabel(this);
    image->setObjectName("phonePicture");
    image->setPixmap(picture("format"));
    image->setAlignment(Qt::AlignCenter);
    image->setFrameShape(QFrame::StyledPanel);
    image->setFixedWidth(110);
    layout->addWidget(image);
}

void WizPage3_Format::buildPhoneSection(QVBoxLayout* column) {
    auto* phone = new QGridLayout;
    vendors_ = new QComboBox(this);
    vendors_->setObjectName("vendorList");
    vendors_->setMaxVisibleItems(20);
    models_ = new QComboBox(this);
    models_->setObjectName("modelList");
    models_->setMaxVisibleItems(20);
    auto* vendorLabel = new QLabel("Phone &vendor:", this);
    vendorLabel->setBuddy(vendors_);
    auto* modelLabel = new QLabel("Phone m&odel:", this);
    modelLabel->setBuddy(models_);
    phone->addWidget(vendorLabel, 0, 0);
    phone->addWidget(vendors_, 0, 1);
    phone->addWidget(modelLabel, 1, 0);
    phone->addWidget(models_, 1, 1);
    phone->setColumnStretch(1, 1);
    column->addLayout(phone);
    notListed_ = new QtLinkLabel("Click here if your phone model is not on the list", this);
    notListed_->setObjectName("notListedLink");
    column->addWidget(notListed_);
}

void WizPage3_Format::buildFormatSection(QVBoxLayout* column) {
    auto* group = new QGroupBox("Ringtone format", this);
    auto* choices = new QVBoxLayout(group);
    choices->setSpacing(2);
    exclusive_ = new QButtonGroup(this);
    for (int i = 0; i < catalogue::kFormatCount; ++i) {
        const std::string_view label = catalogue::formatLabel(i);
        formats_[i] = new QRadioButton(
            QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size())), group);
        formats_[i]->setObjectName(QStringLiteral("format%1").arg(i));
        formats_[i]->setFont(boldFont(this));
        exclusive_->addButton(formats_[i], i);
        choices->addWidget(formats_[i]);
    }
    column->addWidget(group);
}

void WizPage3_Format::connectControls() {
    connect(vendors_, &QComboBox::activated, this, [this](int position) {
        state_->chooseVendor(static_cast<std::size_t>(position));
        fillModels();
        showFormats();
    });
    connect(models_, &QComboBox::activated, this, [this](int position) {
        state_->chooseModel(static_cast<std::size_t>(position));
        showFormats();
    });
    connect(exclusive_, &QButtonGroup::idClicked, this,
            [this](int index) { state_->checkFormat(index); });
    connect(notListed_, &QtLinkLabel::clicked, this, &WizPage3_Format::reportUnlistedPhone);
}

void WizPage3_Format::fillVendors() {
    fillList(vendors_, state_->vendorList(), state_->vendorSelection());
}

void WizPage3_Format::fillModels() {
    fillList(models_, state_->modelList(), state_->modelSelection());
}

void WizPage3_Format::showFormats() {
    const catalogue::FormatSet& enabled = state_->enabled();
    const std::optional<int> checked = state_->checkedFormat();
    // An exclusive group cannot show "nothing checked"; lift it while setting the states.
    QButtonGroup* group = formats_[0]->group();
    group->setExclusive(false);
    for (int i = 0; i < catalogue::kFormatCount; ++i) {
        formats_[i]->setEnabled(enabled[i]);
        formats_[i]->setChecked(checked && *checked == i);
    }
    group->setExclusive(true);
}

void WizPage3_Format::reportUnlistedPhone() {
    PhoneNotifyDlg dialog(settings_.homeUrl(), window());
    dialog.exec();
    state_->reportClosed();
    fillVendors();
    fillModels();
    showFormats();
}

bool WizPage3_Format::onQueryCancel() {
    storeChoices();
    return true;
}

void WizPage3_Format::storeChoices() {
    if (!state_)
        return;
    const catalogue::LeavingValues leaving = state_->leave();
    settings_.setVendorPosition(static_cast<std::int32_t>(leaving.vendorPosition));
    settings_.setModelPosition(static_cast<std::int32_t>(leaving.modelPosition));
    if (leaving.format)
        settings_.setFormat(*leaving.format);
}

}  // namespace tolvane::wizard
