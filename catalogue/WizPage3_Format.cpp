#include "catalogue/WizPage3_Format.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/QtUi.h"

namespace tolvane::wizard {

namespace {
const std::array<const char*, 7> kFormatLabels{
    "M&eduim quality WAV", "High quality &WAV",        "&Meduim quality MP3",
    "&High quality MP3",   "&Varnel SMAF (MMF)",       "&Adaptive Multirate (AMR)",
    "&Qualcomm Purevoice (QCP)"};
const char* const kNotListed = "> Not listed <";
}  // namespace

WizPage3_Format::WizPage3_Format(QWidget* parent) : WizPageBase(kFormat, parent) {
    settings_.load();
}

void WizPage3_Format::onInitDialog() {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);
    auto* image = new QLabel(this);
    image->setObjectName("phonePicture");
    image->setPixmap(picture("format"));
    image->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    image->setFrameShape(QFrame::StyledPanel);
    image->setFixedWidth(110);
    layout->addWidget(image);

    auto* column = new QVBoxLayout;
    auto* phone = new QGridLayout;
    vendors_ = new QComboBox(this);
    vendors_->setObjectName("vendorList");
    models_ = new QComboBox(this);
    models_->setObjectName("modelList");
    vendors_->addItem(kNotListed, 0);
    models_->addItem(kNotListed, 0);
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

    auto* group = new QGroupBox("Ringtone format", this);
    auto* choices = new QVBoxLayout(group);
    for (int i = 0; i < 7; ++i) {
        formats_[i] = new QRadioButton(kFormatLabels[i], group);
        formats_[i]->setObjectName(QStringLiteral("format%1").arg(i));
        formats_[i]->setFont(boldFont(this));
        choices->addWidget(formats_[i]);
    }
    column->addWidget(group);
    column->addStretch(1);
    layout->addLayout(column, 1);

    const int stored = settings_.format();
    if (stored >= 0 && stored < 7)
        formats_[stored]->setChecked(true);
}

bool WizPage3_Format::onQueryCancel() {
    storeChoices();
    return true;
}

void WizPage3_Format::storeChoices() {
    if (!vendors_)
        return;
    settings_.setVendorPosition(vendors_->currentIndex());
    settings_.setModelPosition(models_->currentIndex());
    for (int i = 0; i < 7; ++i)
        if (formats_[i]->isChecked()) {
            settings_.setFormat(i);
            return;
        }
}

}  // namespace tolvane::wizard
