// Every page of the wizard, offscreen: no two controls of a page (with the wizard's own buttons)
// share an access key, so that Alt and a letter always reaches the one control it names.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <map>

#include "app/QtWizardSheet.h"
#include "app/wizard_flow.h"
#include "qt_wizard_fixture.h"

using namespace tolvane::wizard;

namespace {

// The letter after a single '&' ("&&" is a literal ampersand), lower case; 0 when none.
QChar accessKeyOf(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&')
            continue;
        if (text[i + 1] == '&') {
            ++i;
            continue;
        }
        return text[i + 1].toLower();
    }
    return QChar();
}

// Access keys of the widget tree under `root`, each with the texts that use it.
void collectKeys(QWidget* root, std::map<QChar, QStringList>& keys) {
    const auto add = [&](const QString& text) {
        const QChar key = accessKeyOf(text);
        if (!key.isNull())
            keys[key] << text;
    };
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            add(button->text());
        else if (auto* label = qobject_cast<QLabel*>(widget);
                 label && label->textFormat() != Qt::RichText)
            add(label->text());
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            add(group->title());
    }
}

class AccessKeysTest : public test::WizardTest {};

}  // namespace

TEST_F(AccessKeysTest, EveryPagesAccessKeysAreUnique) {
    start();
    QtWizardSheet& wizard = sheet();
    // The wizard's own buttons, on every page.
    std::map<QChar, QStringList> common;
    for (QPushButton* button : {wizard.helpButton(), wizard.backButton(), wizard.nextButton()})
        if (const QChar key = accessKeyOf(button->text()); !key.isNull())
            common[key] << button->text();

    for (int position = 0; position < wizard.pageCount(); ++position) {
        WizPageBase* page = wizard.page(position);
        if (page != wizard.activePage())
            page->onInitDialog();  // builds the page's controls without running its tasks
        std::map<QChar, QStringList> keys = common;
        collectKeys(page, keys);
        for (const auto& [key, texts] : keys)
            EXPECT_EQ(texts.size(), 1)
                << page->info().className << ": Alt+" << QString(key).toStdString()
                << " is taken by " << texts.join(", ").toStdString();
    }
}
